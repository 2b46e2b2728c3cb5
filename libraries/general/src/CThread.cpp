// CThread: the platform thread behind a Run() override.
#include "CThread.h"

namespace ZEQ {

CThread::CThread() : handle_(nullptr), started_(0), threadId_(0) {}

CThread::~CThread() {
  if (started_) platform::CloseThread(handle_);
}

int CThread::Start(unsigned int stackSize) {
  if (started_) return 0;
  handle_ = platform::StartThread(StaticThreadStart, this, stackSize, &threadId_);
  if (handle_ == nullptr) return -1;
  started_ = 1;
  return 0;
}

int CThread::Wait(void**) {
  if (started_) platform::WaitThread(handle_);
  return 0;
}

void* CThread::StaticThreadStart(void* self) { return static_cast<CThread*>(self)->Run(); }

}  // namespace ZEQ
