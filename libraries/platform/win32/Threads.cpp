// Windows threads: CreateThread and the thread handle, which is signalled
// when the thread ends.
#include "platform/Threads.h"

#include <windows.h>

namespace platform {

namespace {

struct StartRecord {
  ThreadProc proc;
  void* argument;
};

DWORD WINAPI Trampoline(LPVOID raw) {
  const StartRecord record = *static_cast<StartRecord*>(raw);
  delete static_cast<StartRecord*>(raw);
  return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(record.proc(record.argument)));
}

}  // namespace

ThreadHandle* StartThread(ThreadProc proc, void* argument, unsigned stackSize,
                          unsigned long* threadId) {
  auto* record = new StartRecord{proc, argument};
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, stackSize, Trampoline, record, 0, &id);
  if (handle == nullptr) {
    delete record;
    return nullptr;
  }
  if (threadId != nullptr) *threadId = id;
  return static_cast<ThreadHandle*>(handle);
}

void WaitThread(ThreadHandle* thread) {
  if (thread != nullptr) WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
}

int WaitAnyThread(ThreadHandle* const* threads, int count) {
  if (count <= 0 || count > MAXIMUM_WAIT_OBJECTS) return -1;
  const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count),
                                              reinterpret_cast<const HANDLE*>(threads), FALSE,
                                              INFINITE);
  if (result >= WAIT_OBJECT_0 + static_cast<DWORD>(count)) return -1;
  return static_cast<int>(result - WAIT_OBJECT_0);
}

void CloseThread(ThreadHandle* thread) {
  if (thread != nullptr) CloseHandle(static_cast<HANDLE>(thread));
}

void ExitCurrentThread(unsigned code) { ExitThread(code); }

unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace platform
