// The thread pool: a fixed set of worker threads waiting on one completion
// port and running the WorkerTasks posted to it or completed on it, with a
// pause barrier that runs a callback while every pool thread (and every
// registered external thread) is parked.
//
// Every unit of work that reaches a worker is a WorkerTask or begins with
// one: the port hands back the address of the task's Overlapped, and the
// completion function stands right behind it.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>

#include "CThread.h"
#include "platform/CompletionPort.h"

namespace ZEQ {

class ThreadPool;

// The Overlapped starts all zero, as the port requires of a posted task, and
// the completion function is given where the task is made.
struct WorkerTask {
  platform::Overlapped overlapped{};
  void (*complete)(void* key, unsigned long bytes, unsigned long error) = nullptr;
};

// Ends the worker that dequeues it.
class ExitTask {
 public:
  ExitTask();
  virtual ~ExitTask() = default;
  WorkerTask task;
};

// Parks the worker that dequeues it in the current pause.
struct PauseTask {
  WorkerTask task;
  ThreadPool* pool;
};

class WorkerThread : public CThread {
 public:
  explicit WorkerThread(ThreadPool* pool) : pool_(pool) {}

 protected:
  void* Run() override;

 private:
  ThreadPool* pool_;
};

class ThreadPool {
 public:
  using Callback = void (*)(void*);
  static constexpr int kMaximumWorkers = 64;

  ThreadPool();
  virtual ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  void SetWorkerThreadCount(int count);
  int Start();
  int Stop();
  int AddTask(platform::SocketHandle handle, void* key);
  bool SendQueuedMessage(WorkerTask* task, void* key, int bytes);
  int IsCurrentThreadInThreadPool();
  void Pause(Callback callback, void* argument);
  bool ReportThreadPaused(PauseTask* task);
  void RegisterExternalThread(Callback callback, void* argument);
  void UnregisterExternalThread(Callback callback);

 private:
  friend class WorkerThread;

  struct ExternalThread {
    Callback callback;
    void* argument;
  };
  struct QueuedPause {
    QueuedPause* next;
    Callback callback;
    void* argument;
  };

  void common_init();
  void common_deinit();
  bool common_pause(Callback callback, void* argument);
  void remove_pending_external_threads();
  void end_pause();
  void stop_workers(platform::CompletionPort* port);
  static void pause_complete(void* key, unsigned long bytes, unsigned long error);

  std::list<WorkerThread*> workers_;
  std::list<Callback> pendingRemovals_;
  // Ordered by callback address, the order in which a pause notifies them.
  std::map<std::uintptr_t, ExternalThread*> externalThreads_;
  int workerCount_;
  std::atomic<int> threadCount_;
  QueuedPause* pauseQueue_;
  std::atomic<std::int32_t> runningCount_;
  bool notifying_;
  bool paused_;
  CEvent resumeEvent_;
  CEvent notPausedEvent_;
  std::atomic<platform::CompletionPort*> port_;
  unsigned long tlsIndex_;
  CSpinLock lock_;
};

}  // namespace ZEQ
