// The pool's workers, shutdown and pause barrier. Messages name the source
// file iThreadPool with the line numbers that operators know them by.
#include "iThreadPool.h"

#include <vector>

#include "DebugLog.h"
#include "ErrorMessage.h"
#include "VEVException.h"
#include "platform/Errors.h"

namespace ZEQ {

namespace {

constexpr const char* kSourceFile = "..\\..\\src\\iThreadPool";

void ExitComplete(void*, unsigned long, unsigned long) { platform::ExitCurrentThread(0); }

}  // namespace

ExitTask::ExitTask() { task.complete = ExitComplete; }

void* WorkerThread::Run() {
  platform::TlsSetValue(pool_->tlsIndex_, reinterpret_cast<void*>(1));
  platform::CompletionPort* port = pool_->port_.load();
  if (port == nullptr) return nullptr;
  for (;;) {
    unsigned long bytes = 0;
    unsigned long error = 0;
    void* key = nullptr;
    platform::Overlapped* overlapped = nullptr;
    const auto result = platform::WaitForCompletion(port, &bytes, &key, &overlapped, &error);
    // Without a dequeued task there is nothing to call: the port is gone.
    if (result == platform::DequeueResult::kNothing) return nullptr;
    DebugLog::RecordEvent(result == platform::DequeueResult::kCompleted ? 1 : 0);
    auto* task = reinterpret_cast<WorkerTask*>(overlapped);
    try {
      task->complete(key, bytes, error);
    } catch (const VEVException& exception) {
      DebugLog::RecordEvent(2);
      ErrorMessage(3, kSourceFile, 57, 0, "%s\n", exception.message.c_str());
    }
  }
}

ThreadPool::ThreadPool()
    : workerCount_(0),
      threadCount_(0),
      pauseQueue_(nullptr),
      runningCount_(0),
      notifying_(false),
      paused_(false),
      resumeEvent_(true),
      notPausedEvent_(true),
      port_(nullptr),
      tlsIndex_(platform::kInvalidTlsIndex) {
  common_init();
}

ThreadPool::~ThreadPool() {
  common_deinit();
  if (tlsIndex_ != platform::kInvalidTlsIndex) platform::TlsRelease(tlsIndex_);
}

void ThreadPool::common_init() { notPausedEvent_.Set(); }

void ThreadPool::common_deinit() {
  Stop();
  for (auto& entry : externalThreads_) delete entry.second;
  externalThreads_.clear();
  while (pauseQueue_ != nullptr) {
    QueuedPause* next = pauseQueue_->next;
    delete pauseQueue_;
    pauseQueue_ = next;
  }
}

void ThreadPool::SetWorkerThreadCount(int count) {
  if (workerCount_ != 0 || count < 1 || count > kMaximumWorkers) return;
  workerCount_ = count;
  threadCount_ = count;
  runningCount_ = count;
}

int ThreadPool::Start() {
  if (port_.load() != nullptr) return 0;
  if (tlsIndex_ == platform::kInvalidTlsIndex) {
    tlsIndex_ = platform::TlsAllocate();
    if (tlsIndex_ == platform::kInvalidTlsIndex) {
      ErrorMessage(3, kSourceFile, 89, 0, "TlsAlloc failed");
      return 0;
    }
  }
  if (workerCount_ == 0) {
    ErrorMessage(3, kSourceFile, 95, 0, "Invalid number of threads in ThreadPool %d", 0);
    return -1;
  }
  platform::CompletionPort* port = platform::CreateCompletionPort(workerCount_);
  if (port == nullptr) {
    ErrorMessage(4, kSourceFile, 102, static_cast<int>(platform::LastSystemError()));
    return -1;
  }
  port_.store(port);
  for (int i = 0; i < workerCount_; ++i) {
    auto* worker = new WorkerThread(this);
    worker->Start(0);
    workers_.push_back(worker);
  }
  return 0;
}

int ThreadPool::Stop() {
  platform::CompletionPort* port = port_.exchange(nullptr);
  if (port == nullptr) return 0;
  stop_workers(port);
  for (WorkerThread* worker : workers_) delete worker;
  workers_.clear();
  platform::CloseCompletionPort(port);
  notPausedEvent_.Set();
  return 0;
}

// One exit task at a time, each followed by the end of whichever worker took
// it. Should the wait itself fail, the remaining workers each get an exit
// task and are waited for one by one.
void ThreadPool::stop_workers(platform::CompletionPort* port) {
  std::vector<platform::ThreadHandle*> handles;
  for (WorkerThread* worker : workers_) {
    if (worker->getHandle() != nullptr) handles.push_back(worker->getHandle());
  }
  ExitTask exitTask;
  while (!handles.empty()) {
    platform::PostCompletion(port, &exitTask.task.overlapped, nullptr, 0);
    const int ended = platform::WaitAnyThread(handles.data(), static_cast<int>(handles.size()));
    if (ended < 0) break;
    handles.erase(handles.begin() + ended);
  }
  for (std::size_t i = 1; i < handles.size(); ++i) {
    platform::PostCompletion(port, &exitTask.task.overlapped, nullptr, 0);
  }
  for (platform::ThreadHandle* handle : handles) platform::WaitThread(handle);
}

int ThreadPool::AddTask(platform::SocketHandle handle, void* key) {
  platform::CompletionPort* port = port_.load();
  if (port == nullptr || !platform::AssociateWithPort(port, handle, key)) {
    ErrorMessage(3, kSourceFile, 196, static_cast<int>(platform::LastSystemError()));
  }
  return 0;
}

bool ThreadPool::SendQueuedMessage(WorkerTask* task, void* key, int bytes) {
  platform::CompletionPort* port = port_.load();
  return port != nullptr &&
         platform::PostCompletion(port, &task->overlapped, key, static_cast<unsigned long>(bytes));
}

int ThreadPool::IsCurrentThreadInThreadPool() {
  if (tlsIndex_ == platform::kInvalidTlsIndex) return 0;
  return platform::TlsGetValue(tlsIndex_) == reinterpret_cast<void*>(1) ? 1 : 0;
}

}  // namespace ZEQ
