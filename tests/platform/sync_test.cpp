// Events, recursive locks and thread-local slots, as the pool relies on them.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/Sync.h"
#include "platform/Threads.h"

namespace {

TEST(EventTest, AutoResetReleasesOneWaitAndResets) {
  platform::Event event(false, false);
  EXPECT_EQ(event.Wait(0), 0);
  event.Set();
  EXPECT_EQ(event.Wait(0), 1);
  EXPECT_EQ(event.Wait(10), 0);
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
  platform::Event event(true, true);
  EXPECT_EQ(event.Wait(0), 1);
  EXPECT_EQ(event.Wait(0), 1);
  event.Reset();
  EXPECT_EQ(event.Wait(5), 0);
}

TEST(ThreadTest, WaitAnyReturnsTheThreadThatEnded) {
  static platform::Event release(true, false);
  auto quick = [](void*) -> void* { return nullptr; };
  auto held = [](void*) -> void* {
    release.Wait(platform::Event::kInfinite);
    return nullptr;
  };
  platform::ThreadHandle* threads[2] = {platform::StartThread(held, nullptr, 0, nullptr),
                                        platform::StartThread(quick, nullptr, 0, nullptr)};
  ASSERT_NE(threads[0], nullptr);
  ASSERT_NE(threads[1], nullptr);
  EXPECT_EQ(platform::WaitAnyThread(threads, 2), 1);
  release.Set();
  EXPECT_EQ(platform::WaitAnyThread(threads, 1), 0);
  platform::WaitThread(threads[0]);
  platform::CloseThread(threads[0]);
  platform::CloseThread(threads[1]);
}

TEST(ThreadTest, ExitCurrentThreadEndsOnlyThatThread) {
  static std::atomic<int> reached{0};
  auto body = [](void*) -> void* {
    reached = 1;
    platform::ExitCurrentThread(0);
  };
  platform::ThreadHandle* thread = platform::StartThread(body, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(platform::WaitAnyThread(&thread, 1), 0);
  platform::WaitThread(thread);
  platform::CloseThread(thread);
  EXPECT_EQ(reached.load(), 1);
}

TEST(TlsTest, SlotsAreSeparatePerThread) {
  static unsigned long index = platform::TlsAllocate();
  ASSERT_NE(index, platform::kInvalidTlsIndex);
  int mine = 0;
  platform::TlsSetValue(index, &mine);
  static void* seen = &mine;
  auto body = [](void*) -> void* {
    seen = platform::TlsGetValue(index);
    return nullptr;
  };
  platform::ThreadHandle* thread = platform::StartThread(body, nullptr, 0, nullptr);
  platform::WaitThread(thread);
  platform::CloseThread(thread);
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(platform::TlsGetValue(index), &mine);
  platform::TlsRelease(index);
}

}  // namespace
