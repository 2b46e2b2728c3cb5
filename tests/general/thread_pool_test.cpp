// The thread pool: start and stop, tasks on workers, exceptions in tasks and
// the pause barrier with workers and external threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "CThread.h"
#include "ErrorMessage.h"
#include "VEVException.h"
#include "iThreadPool.h"
#include "platform/Sync.h"
#include "platform/Threads.h"

namespace {

// A task that runs a function on a worker and signals when it is done.
struct ProbeTask {
  ZEQ::WorkerTask task;
  void (*body)(ProbeTask*);
  ZEQ::ThreadPool* pool = nullptr;
  platform::Event done{true, false};
  int inPool = -1;
  unsigned long threadId = 0;

  explicit ProbeTask(void (*run)(ProbeTask*)) : body(run) {
    task.complete = [](void* key, unsigned long, unsigned long) {
      auto* self = static_cast<ProbeTask*>(key);
      self->threadId = platform::CurrentThreadId();
      self->inPool = self->pool->IsCurrentThreadInThreadPool();
      self->done.Set();
      self->body(self);
    };
  }
  bool Post(ZEQ::ThreadPool& target) {
    pool = &target;
    return target.SendQueuedMessage(&task, this, 0);
  }
};

// Captures the library's message lines for the life of the object.
class MessageCapture {
 public:
  MessageCapture() : file_(std::tmpfile()) { ZEQ::SetMessageOutputStream(file_); }
  ~MessageCapture() {
    ZEQ::SetMessageOutputStream(nullptr);
    std::fclose(file_);
  }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) text += static_cast<char>(c);
    return text;
  }

 private:
  FILE* file_;
};

TEST(ThreadPoolTest, StartWithoutWorkersFailsWithTheCountInTheMessage) {
  MessageCapture messages;
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(0);
  EXPECT_EQ(pool.Start(), -1);
  const std::string text = messages.Text();
  EXPECT_NE(text.find(",95,iThreadPool,Invalid number of threads in ThreadPool 0\n"),
            std::string::npos)
      << text;
}

TEST(ThreadPoolTest, StopOnANeverStartedPoolReturnsAtOnce) {
  ZEQ::ThreadPool pool;
  EXPECT_EQ(pool.Stop(), 0);
  pool.SetWorkerThreadCount(2);
  EXPECT_EQ(pool.Stop(), 0);
}

TEST(ThreadPoolTest, WorkersRunTasksAndKnowTheyAreInThePool) {
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(3);
  pool.SetWorkerThreadCount(8);  // ignored: the count is set once
  ASSERT_EQ(pool.Start(), 0);
  ASSERT_EQ(pool.Start(), 0);  // a second start creates nothing
  EXPECT_EQ(pool.IsCurrentThreadInThreadPool(), 0);
  std::vector<ProbeTask*> probes;
  for (int i = 0; i < 30; ++i) {
    probes.push_back(new ProbeTask([](ProbeTask*) { platform::SleepMilliseconds(1); }));
    ASSERT_TRUE(probes.back()->Post(pool));
  }
  std::set<unsigned long> threads;
  for (ProbeTask* probe : probes) {
    ASSERT_EQ(probe->done.Wait(10000), 1);
    EXPECT_NE(probe->inPool, 0);
    threads.insert(probe->threadId);
  }
  EXPECT_LE(threads.size(), 3u);
  EXPECT_EQ(pool.Stop(), 0);
  for (ProbeTask* probe : probes) delete probe;
  // Once stopped, nothing more can be posted.
  ProbeTask late([](ProbeTask*) {});
  EXPECT_FALSE(late.Post(pool));
}

TEST(ThreadPoolTest, ATaskThatThrowsLeavesTheWorkerAlive) {
  MessageCapture messages;
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(1);
  ASSERT_EQ(pool.Start(), 0);
  ProbeTask thrower([](ProbeTask*) { throw VEVException("boom"); });
  ProbeTask after([](ProbeTask*) {});
  ASSERT_TRUE(thrower.Post(pool));
  ASSERT_TRUE(after.Post(pool));
  ASSERT_EQ(after.done.Wait(10000), 1);
  EXPECT_EQ(after.threadId, thrower.threadId);
  pool.Stop();
  EXPECT_NE(messages.Text().find(",57,iThreadPool,boom\n\n"), std::string::npos) << messages.Text();
}

TEST(ThreadPoolTest, StopEndsWorkersThatAreBusy) {
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(3);
  ASSERT_EQ(pool.Start(), 0);
  ProbeTask busy([](ProbeTask*) { platform::SleepMilliseconds(50); });
  ASSERT_TRUE(busy.Post(pool));
  ASSERT_EQ(busy.done.Wait(10000), 1);
  EXPECT_EQ(pool.Stop(), 0);
  EXPECT_EQ(pool.Stop(), 0);
}

// An external thread that parks when the pool asks it to, once `gate` opens.
class ExternalThread {
 public:
  explicit ExternalThread(ZEQ::ThreadPool* pool) : pool_(pool) {
    handle_ = platform::StartThread(Main, this, 0, nullptr);
  }
  ~ExternalThread() {
    quit_ = true;
    asked_.Set();
    gate_.Set();
    platform::WaitThread(handle_);
    platform::CloseThread(handle_);
  }
  static void AskToPause(void* self) {
    static_cast<ExternalThread*>(self)->askedCount_++;
    static_cast<ExternalThread*>(self)->asked_.Set();
  }
  void OpenGate() { gate_.Set(); }
  int AskedCount() const { return askedCount_; }

 private:
  static void* Main(void* raw) {
    auto* self = static_cast<ExternalThread*>(raw);
    for (;;) {
      self->asked_.Wait(platform::Event::kInfinite);
      if (self->quit_) return nullptr;
      self->gate_.Wait(platform::Event::kInfinite);
      if (self->quit_) return nullptr;
      self->pool_->ReportThreadPaused(nullptr);
    }
  }

  ZEQ::ThreadPool* pool_;
  platform::ThreadHandle* handle_;
  platform::Event asked_{false, false};
  platform::Event gate_{false, false};
  std::atomic<bool> quit_{false};
  std::atomic<int> askedCount_{0};
};

struct PauseLog {
  std::mutex mutex;
  std::vector<std::string> calls;
  platform::Event ran{true, false};
  void Add(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(name);
    ran.Set();
  }
};
PauseLog* g_log = nullptr;

TEST(ThreadPoolPauseTest, TwoEarlyPausesRunInOnePauseNewestFirst) {
  PauseLog log;
  g_log = &log;
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(3);
  ASSERT_EQ(pool.Start(), 0);
  ExternalThread external(&pool);
  pool.RegisterExternalThread(ExternalThread::AskToPause, &external);
  pool.Pause([](void*) { g_log->Add("first"); }, nullptr);
  pool.Pause([](void*) { g_log->Add("second"); }, nullptr);
  EXPECT_EQ(external.AskedCount(), 1);
  // The three workers park; the pause waits for the external thread.
  EXPECT_EQ(log.ran.Wait(100), 0);
  external.OpenGate();
  ASSERT_EQ(log.ran.Wait(10000), 1);
  // Once the pause is over, the pool serves tasks again.
  ProbeTask after([](ProbeTask*) {});
  ASSERT_TRUE(after.Post(pool));
  ASSERT_EQ(after.done.Wait(10000), 1);
  pool.UnregisterExternalThread(ExternalThread::AskToPause);
  pool.Stop();
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.calls, (std::vector<std::string>{"second", "first"}));
}

TEST(ThreadPoolPauseTest, CallbackRunsWhileEveryWorkerIsParked) {
  static std::atomic<int> tasksRunDuringPause{0};
  static std::atomic<bool> inPause{false};
  PauseLog log;
  g_log = &log;
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(3);
  ASSERT_EQ(pool.Start(), 0);
  pool.Pause(
      [](void*) {
        inPause = true;
        platform::SleepMilliseconds(30);
        inPause = false;
        g_log->Add("paused");
      },
      nullptr);
  ProbeTask task([](ProbeTask*) {
    if (inPause) tasksRunDuringPause++;
  });
  ASSERT_TRUE(task.Post(pool));
  ASSERT_EQ(log.ran.Wait(10000), 1);
  ASSERT_EQ(task.done.Wait(10000), 1);
  EXPECT_EQ(tasksRunDuringPause.load(), 0);
  pool.Stop();
}

TEST(ThreadPoolPauseTest, PausesFollowOneAnotherWithASingleWorker) {
  PauseLog log;
  g_log = &log;
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(1);
  ASSERT_EQ(pool.Start(), 0);
  for (int i = 0; i < 3; ++i) {
    log.ran.Reset();
    pool.Pause([](void*) { g_log->Add("pause"); }, nullptr);
    ASSERT_EQ(log.ran.Wait(10000), 1) << "pause " << i;
  }
  pool.Stop();
  EXPECT_EQ(log.calls.size(), 3u);
}

TEST(ThreadPoolPauseTest, UnregisterDuringAPauseTakesEffectWhenItEnds) {
  PauseLog log;
  g_log = &log;
  static ZEQ::ThreadPool* pool = nullptr;
  ZEQ::ThreadPool owned;
  pool = &owned;
  owned.SetWorkerThreadCount(2);
  ASSERT_EQ(owned.Start(), 0);
  ExternalThread external(&owned);
  owned.RegisterExternalThread(ExternalThread::AskToPause, &external);
  external.OpenGate();
  owned.Pause(
      [](void*) {
        pool->UnregisterExternalThread(ExternalThread::AskToPause);
        g_log->Add("paused");
      },
      nullptr);
  ASSERT_EQ(log.ran.Wait(10000), 1);
  // The next pause no longer asks the external thread and completes with
  // the two workers alone.
  log.ran.Reset();
  owned.Pause([](void*) { g_log->Add("again"); }, nullptr);
  ASSERT_EQ(log.ran.Wait(10000), 1);
  EXPECT_EQ(external.AskedCount(), 1);
  owned.Stop();
}

TEST(CThreadTest, StartingAStartedThreadCreatesNothing) {
  class Quick : public ZEQ::CThread {
   protected:
    void* Run() override { return nullptr; }
  } thread;
  ASSERT_EQ(thread.Start(0), 0);
  const unsigned long id = thread.getThreadId();
  platform::ThreadHandle* handle = thread.getHandle();
  EXPECT_EQ(thread.Start(0), 0);
  EXPECT_EQ(thread.getThreadId(), id);
  EXPECT_EQ(thread.getHandle(), handle);
  EXPECT_EQ(thread.Wait(nullptr), 0);
}

}  // namespace
