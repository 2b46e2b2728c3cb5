// Linux threads: pthreads, with an "ended" flag per thread so that the pool
// can wait for whichever of its workers ends first, as Windows waits for any
// of several thread handles.
#include "platform/Threads.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace platform {

struct ThreadHandle {
  pthread_t thread{};
  ThreadProc proc = nullptr;
  void* argument = nullptr;
  bool ended = false;   // guarded by EndedMutex()
  bool joined = false;  // touched by the owner only
  std::atomic<int> references{2};  // the thread itself and the owner
};

namespace {

// Never destroyed: a detached thread may still be signalling while the
// process runs its exit handlers.
std::mutex& EndedMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

std::condition_variable& EndedSignal() {
  static auto* signal = new std::condition_variable;
  return *signal;
}

void Release(ThreadHandle* handle) {
  if (handle->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete handle;
}

// Marks the thread ended when its body returns or when it leaves through
// ExitCurrentThread (pthread_exit unwinds the stack and runs this destructor).
struct EndMarker {
  ThreadHandle* handle;
  ~EndMarker() {
    {
      // Signalled under the lock, so a waiter that sees the flag can never
      // outrun the signal.
      std::lock_guard<std::mutex> lock(EndedMutex());
      handle->ended = true;
      EndedSignal().notify_all();
    }
    Release(handle);
  }
};

void* Trampoline(void* raw) {
  auto* handle = static_cast<ThreadHandle*>(raw);
  EndMarker marker{handle};
  return handle->proc(handle->argument);
}

}  // namespace

ThreadHandle* StartThread(ThreadProc proc, void* argument, unsigned stackSize,
                          unsigned long* threadId) {
  auto* handle = new ThreadHandle;
  handle->proc = proc;
  handle->argument = argument;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (stackSize != 0) pthread_attr_setstacksize(&attributes, stackSize);
  const int result = pthread_create(&handle->thread, &attributes, Trampoline, handle);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    delete handle;
    errno = result;
    return nullptr;
  }
  if (threadId != nullptr) *threadId = static_cast<unsigned long>(handle->thread);
  return handle;
}

void WaitThread(ThreadHandle* thread) {
  if (thread == nullptr || thread->joined) return;
  if (pthread_equal(thread->thread, pthread_self())) return;
  pthread_join(thread->thread, nullptr);
  thread->joined = true;
}

int WaitAnyThread(ThreadHandle* const* threads, int count) {
  if (count <= 0) return -1;
  std::unique_lock<std::mutex> lock(EndedMutex());
  for (;;) {
    for (int i = 0; i < count; ++i) {
      if (threads[i]->ended) return i;
    }
    EndedSignal().wait(lock);
  }
}

void CloseThread(ThreadHandle* thread) {
  if (thread == nullptr) return;
  if (!thread->joined) pthread_detach(thread->thread);
  Release(thread);
}

void ExitCurrentThread(unsigned code) {
  pthread_exit(reinterpret_cast<void*>(static_cast<std::uintptr_t>(code)));
}

unsigned long CurrentThreadId() { return static_cast<unsigned long>(pthread_self()); }

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

void SleepMilliseconds(unsigned milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

}  // namespace platform
