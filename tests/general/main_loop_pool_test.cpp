// The main loop as the installer uses it: work done on the pool's threads
// hands its result back to the loop's thread through Post.
#include <gtest/gtest.h>

#include "iThreadPool.h"
#include "platform/MainLoop.h"
#include "platform/Threads.h"

namespace {

struct PoolWork {
  ZEQ::WorkerTask task;
  platform::MainLoop* loop = nullptr;
  unsigned long workerThread = 0;
  unsigned long resultThread = 0;
};

void DoWork(void* key, unsigned long, unsigned long) {
  auto* work = static_cast<PoolWork*>(key);
  work->workerThread = platform::CurrentThreadId();
  work->loop->Post([work] {
    work->resultThread = platform::CurrentThreadId();
    work->loop->Quit(3);
  });
}

TEST(MainLoopPoolTest, APostFromAPoolThreadRunsOnTheLoopThread) {
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(2);
  ASSERT_EQ(pool.Start(), 0);
  platform::MainLoop loop;
  PoolWork work;
  work.task.complete = DoWork;
  work.loop = &loop;
  loop.AddTimer(20000, [&loop] { loop.Quit(99); });
  ASSERT_TRUE(pool.SendQueuedMessage(&work.task, &work, 0));
  EXPECT_EQ(loop.Run(), 3);
  pool.Stop();
  EXPECT_NE(work.workerThread, platform::CurrentThreadId());
  EXPECT_EQ(work.resultThread, platform::CurrentThreadId());
}

}  // namespace
