// The pool's pause barrier. Pause queues a callback and, when it opens a new
// pause, asks the external threads to park and posts one pause task per
// worker. Every thread parks in ReportThreadPaused; the last to park runs
// the queued callbacks (newest first) while the others wait on the resume
// event; the last to resume ends the pause.
#include <mutex>

#include "iThreadPool.h"

namespace ZEQ {

void ThreadPool::Pause(Callback callback, void* argument) {
  if (!common_pause(callback, argument)) return;
  platform::CompletionPort* port = port_.load();
  for (int i = 0; i < workerCount_; ++i) {
    auto* pause = new PauseTask;
    pause->task.complete = pause_complete;
    pause->pool = this;
    if (port != nullptr) platform::PostCompletion(port, &pause->task.overlapped, pause, 0);
  }
}

void ThreadPool::pause_complete(void* key, unsigned long, unsigned long) {
  auto* pause = static_cast<PauseTask*>(key);
  ThreadPool* pool = pause->pool;
  delete pause;
  pool->ReportThreadPaused(nullptr);
}

bool ThreadPool::common_pause(Callback callback, void* argument) {
  auto* record = new QueuedPause{nullptr, callback, argument};
  for (;;) {
    notPausedEvent_.Wait(CEvent::kInfinite);
    lock_.Lock();
    if (notPausedEvent_.Wait(0) == 1) break;
    lock_.Unlock();
  }
  const bool opensPause = pauseQueue_ == nullptr && !paused_;
  record->next = pauseQueue_;
  pauseQueue_ = record;
  if (!opensPause) {
    lock_.Unlock();
    return false;
  }
  notifying_ = true;
  for (auto& entry : externalThreads_) entry.second->callback(entry.second->argument);
  notifying_ = false;
  remove_pending_external_threads();
  paused_ = true;
  lock_.Unlock();
  return true;
}

bool ThreadPool::ReportThreadPaused(PauseTask*) {
  if (--runningCount_ != 0) {
    resumeEvent_.Wait(CEvent::kInfinite);
    if (++runningCount_ >= threadCount_) {
      end_pause();
      return true;
    }
    return false;
  }
  lock_.Lock();
  while (pauseQueue_ != nullptr) {
    QueuedPause* record = pauseQueue_;
    pauseQueue_ = record->next;
    record->callback(record->argument);
    delete record;
  }
  runningCount_ = 1;
  notPausedEvent_.Reset();
  // A pool of one thread has nobody left to resume after the last to park,
  // so that thread ends the pause itself.
  if (threadCount_ <= 1) {
    lock_.Unlock();
    end_pause();
    return true;
  }
  resumeEvent_.Set();
  lock_.Unlock();
  return false;
}

void ThreadPool::end_pause() {
  std::lock_guard<CSpinLock> guard(lock_);
  paused_ = false;
  remove_pending_external_threads();
  resumeEvent_.Reset();
  notPausedEvent_.Set();
}

void ThreadPool::RegisterExternalThread(Callback callback, void* argument) {
  std::lock_guard<CSpinLock> guard(lock_);
  const auto key = reinterpret_cast<std::uintptr_t>(callback);
  auto found = externalThreads_.find(key);
  if (found != externalThreads_.end()) {
    found->second->argument = argument;
  } else {
    externalThreads_[key] = new ExternalThread{callback, argument};
    ++threadCount_;
    ++runningCount_;
  }
}

void ThreadPool::UnregisterExternalThread(Callback callback) {
  std::lock_guard<CSpinLock> guard(lock_);
  if (notifying_ || paused_) {
    pendingRemovals_.push_back(callback);
  } else {
    auto found = externalThreads_.find(reinterpret_cast<std::uintptr_t>(callback));
    if (found != externalThreads_.end()) {
      delete found->second;
      externalThreads_.erase(found);
      --threadCount_;
      --runningCount_;
    }
  }
}

void ThreadPool::remove_pending_external_threads() {
  std::lock_guard<CSpinLock> guard(lock_);
  for (Callback callback : pendingRemovals_) {
    auto found = externalThreads_.find(reinterpret_cast<std::uintptr_t>(callback));
    if (found == externalThreads_.end()) continue;
    delete found->second;
    externalThreads_.erase(found);
    --threadCount_;
    --runningCount_;
  }
  pendingRemovals_.clear();
}

}  // namespace ZEQ
