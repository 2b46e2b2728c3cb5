// The library's thread, lock and event objects. A CThread subclass supplies
// Run(); CSpinLock is a recursive lock (a critical section on Windows, which
// does not spin despite the name); CEvent is a manual- or auto-reset event.
#pragma once

#include "platform/Sync.h"
#include "platform/Threads.h"

namespace ZEQ {

class CThread {
 public:
  CThread();
  virtual ~CThread();
  // Starts the thread; 0 on success (or when already started), -1 on failure.
  int Start(unsigned int stackSize);
  // Waits without time limit for the thread to end; always 0. `result` is
  // not written.
  int Wait(void** result);
  platform::ThreadHandle* getHandle() const { return handle_; }
  unsigned long getThreadId() const { return threadId_; }

 protected:
  virtual void* Run() = 0;

 private:
  CThread(const CThread&) {}
  CThread& operator=(const CThread&) { return *this; }
  static void* StaticThreadStart(void* self);

  platform::ThreadHandle* handle_;
  int started_;
  unsigned long threadId_;
};

class CSpinLock {
 public:
  void Lock() { mutex_.Lock(); }
  void Unlock() { mutex_.Unlock(); }
  // The standard names, so std::lock_guard and std::unique_lock can hold it.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  platform::RecursiveMutex mutex_;
};

class CEvent {
 public:
  explicit CEvent(bool manualReset) : manualReset_(manualReset), event_(manualReset, false) {}
  void Set() { event_.Set(); }
  void Reset() { event_.Reset(); }
  // 1 if signalled, 0 on time-out, -1 on failure.
  int Wait(unsigned long timeoutMs) { return event_.Wait(timeoutMs); }
  static constexpr unsigned long kInfinite = platform::Event::kInfinite;

 private:
  [[maybe_unused]] bool manualReset_;
  platform::Event event_;
};

}  // namespace ZEQ
