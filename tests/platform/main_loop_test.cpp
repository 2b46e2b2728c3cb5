// The main loop on both platforms: a datagram wakes its socket's callback,
// timers tick at their period and stop when killed, calls posted from other
// threads run on the loop's thread in order, and Quit ends Run with its code.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "LoopbackNet.h"
#include "platform/MainLoop.h"
#include "platform/Sockets.h"
#include "platform/Threads.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A loopback UDP socket on an ephemeral port, closed with the object.
struct UdpEnd {
  UdpEnd() {
    socket = platform::OpenUdpSocket();
    platform::Bind(socket, testsupport::Loopback(), 0);
    platform::GetLocalAddress(socket, nullptr, &port);
    platform::SetNonBlocking(socket, true);
  }
  ~UdpEnd() { platform::CloseSocket(socket); }
  platform::SocketHandle socket;
  std::uint16_t port = 0;
};

TEST(MainLoopTest, QuitEndsRunWithItsCodeAlsoWhenAskedBeforeRun) {
  platform::MainLoop loop;
  ASSERT_TRUE(loop.IsValid());
  loop.Quit(7);
  EXPECT_EQ(loop.Run(), 7);
  loop.AddTimer(10, [&loop] { loop.Quit(-3); });
  EXPECT_EQ(loop.Run(), -3);
}

TEST(MainLoopTest, DatagramWakesTheSocketCallback) {
  platform::MainLoop loop;
  UdpEnd receiver;
  UdpEnd sender;
  std::string got;
  ASSERT_EQ(loop.WatchSocketReadable(receiver.socket,
                                     [&] {
                                       char buffer[64];
                                       const int n = platform::RecvFrom(receiver.socket, buffer,
                                                                        sizeof buffer, nullptr);
                                       if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
                                       if (got == "onetwo") loop.Quit(1);
                                     }),
            0);
  // A safety net: a loop that never hears the datagrams still ends.
  loop.AddTimer(10000, [&loop] { loop.Quit(99); });
  platform::SendTo(sender.socket, "one", 3, testsupport::Loopback(), receiver.port);
  platform::SendTo(sender.socket, "two", 3, testsupport::Loopback(), receiver.port);
  EXPECT_EQ(loop.Run(), 1);
  EXPECT_EQ(got, "onetwo");
}

TEST(MainLoopTest, UnwatchedSocketIsNoLongerReported) {
  platform::MainLoop loop;
  UdpEnd receiver;
  UdpEnd sender;
  int calls = 0;
  loop.WatchSocketReadable(receiver.socket, [&] { ++calls; });
  loop.UnwatchSocket(receiver.socket);
  platform::SendTo(sender.socket, "x", 1, testsupport::Loopback(), receiver.port);
  loop.AddTimer(300, [&loop] { loop.Quit(0); });
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(calls, 0);
}

TEST(MainLoopTest, TimersTickAtTheirPeriodUntilKilled) {
  platform::MainLoop loop;
  std::vector<long long> fastTicks;
  int slowTicks = 0;
  const Clock::time_point start = Clock::now();
  int fast = 0;
  fast = loop.AddTimer(40, [&] {
    fastTicks.push_back(MillisecondsSince(start));
    if (fastTicks.size() == 5) loop.KillTimer(fast);
  });
  loop.AddTimer(100, [&] { ++slowTicks; });
  loop.AddTimer(500, [&loop] { loop.Quit(0); });
  ASSERT_NE(fast, 0);
  EXPECT_EQ(loop.Run(), 0);
  // Killed after its fifth tick, though the loop ran for 500 ms.
  ASSERT_EQ(fastTicks.size(), 5u);
  // No tick comes early: the n-th follows at least n periods after the start
  // (less a little for the system timer's granularity).
  for (std::size_t i = 0; i < fastTicks.size(); ++i) {
    EXPECT_GE(fastTicks[i], static_cast<long long>(40 * (i + 1)) - 15) << "tick " << i;
  }
  EXPECT_GE(slowTicks, 2);
  EXPECT_LE(slowTicks, 5);
}

TEST(MainLoopTest, CallsPostedFromOtherThreadsRunOnTheLoopThreadInOrder) {
  platform::MainLoop loop;
  const unsigned long loopThread = platform::CurrentThreadId();
  constexpr int kThreads = 4;
  constexpr int kPosts = 200;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> wrongThread{0};
  int done = 0;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPosts; ++i) {
        loop.Post([&, t, i] {
          if (platform::CurrentThreadId() != loopThread) ++wrongThread;
          seen[static_cast<std::size_t>(t)].push_back(i);
          if (++done == kThreads * kPosts) loop.Quit(5);
        });
      }
    });
  }
  loop.AddTimer(20000, [&loop] { loop.Quit(99); });
  EXPECT_EQ(loop.Run(), 5);
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(wrongThread.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[static_cast<std::size_t>(t)].size(), static_cast<std::size_t>(kPosts));
    for (int i = 0; i < kPosts; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(t)][i], i);
  }
}

TEST(MainLoopTest, QuitFromAnotherThreadEndsAnIdleRun) {
  platform::MainLoop loop;
  std::thread quitter([&loop] {
    platform::SleepMilliseconds(100);
    loop.Quit(42);
  });
  EXPECT_EQ(loop.Run(), 42);
  quitter.join();
}

}  // namespace
