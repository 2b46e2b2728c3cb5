// The rule for closing a connection from another thread: a Cancel shuts the
// socket down at once, so a connect, send, wait or receive blocked on it in
// a Use returns; the handle is closed exactly once, and only after the last
// Use has ended; Cancel may come any number of times from any thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "CancellableSocket.h"
#include "LoopbackNet.h"
#include "platform/Sockets.h"

namespace {

using ZEQ::CancellableSocket;

std::atomic<int> g_closes{0};

int CountingClose(platform::SocketHandle socket) {
  ++g_closes;
  return platform::CloseSocket(socket);
}

// Runs call on a thread of its own and reports whether it returned within
// the time; a call that never returns is failed, and its thread is joined
// once the fixture's cleanup (closing the peer) has freed it.
class BlockedCall {
 public:
  explicit BlockedCall(std::function<void()> call)
      : thread_([this, call] {
          call();
          returned_ = true;
        }) {}
  ~BlockedCall() {
    if (thread_.joinable()) thread_.join();
  }
  bool ReturnsWithin(int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!returned_ && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return returned_;
  }

 private:
  std::atomic<bool> returned_{false};
  std::thread thread_;
};

class CancellableSocketTest : public testing::Test {
 protected:
  void SetUp() override { g_closes = 0; }
  // Starts call in a Use of the client end, lets it block, cancels from this
  // thread and checks that the call returns and the handle is closed once.
  void ExpectCancelEnds(platform::SocketHandle client,
                        const std::function<void(platform::SocketHandle)>& call) {
    CancellableSocket socket(CountingClose);
    ASSERT_TRUE(socket.Adopt(client));
    std::atomic<bool> inUse{false};
    BlockedCall blocked([&] {
      const CancellableSocket::Use use(socket);
      inUse = true;
      call(use.socket());
    });
    while (!inUse) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(blocked.ReturnsWithin(0)) << "the call did not block";
    EXPECT_TRUE(socket.Cancel());
    EXPECT_TRUE(blocked.ReturnsWithin(10000)) << "the cancel did not end the call";
    socket.WaitReleased();
    EXPECT_EQ(g_closes.load(), 1);
    EXPECT_FALSE(socket.Cancel());
  }
  // The same with the client end of a loopback connection whose peer end
  // never reads or sends.
  void ExpectCancelEndsOnAConnection(const std::function<void(platform::SocketHandle)>& call) {
    testsupport::ConnectedPair pair;
    ASSERT_TRUE(pair.isConnected());
    const platform::SocketHandle client = pair.client;
    pair.client = platform::kInvalidSocket;
    ExpectCancelEnds(client, call);
  }
};

TEST_F(CancellableSocketTest, HandleIsClosedOnlyWhenTheLastUseEnds) {
  CancellableSocket socket(CountingClose);
  ASSERT_TRUE(socket.Adopt(platform::OpenTcpSocket()));
  {
    const CancellableSocket::Use first(socket);
    const CancellableSocket::Use second(socket);
    ASSERT_TRUE(first);
    EXPECT_TRUE(socket.Cancel());
    EXPECT_FALSE(socket.IsOpen());
    // A Use that begins after the cancel gets no handle at all.
    const CancellableSocket::Use late(socket);
    EXPECT_FALSE(late);
    EXPECT_EQ(g_closes.load(), 0);
  }
  EXPECT_EQ(g_closes.load(), 1);
  EXPECT_FALSE(socket.Cancel());
  EXPECT_EQ(g_closes.load(), 1);
}

TEST_F(CancellableSocketTest, CancelWithoutUsersClosesAtOnceAndAdoptStartsAfresh) {
  CancellableSocket socket(CountingClose);
  ASSERT_TRUE(socket.Adopt(platform::OpenTcpSocket()));
  EXPECT_TRUE(socket.IsOpen());
  EXPECT_TRUE(socket.Cancel());
  EXPECT_EQ(g_closes.load(), 1);
  // Adopting closes nothing that is already closed, and the new socket is
  // open; destruction closes it.
  {
    CancellableSocket second(CountingClose);
    ASSERT_TRUE(second.Adopt(platform::OpenTcpSocket()));
    ASSERT_TRUE(second.Adopt(platform::OpenTcpSocket()));
    EXPECT_EQ(g_closes.load(), 2);
    EXPECT_TRUE(second.IsOpen());
  }
  EXPECT_EQ(g_closes.load(), 3);
}

TEST_F(CancellableSocketTest, AdoptIsRefusedWhileAUseOfTheEarlierSocketGoesOn) {
  CancellableSocket socket(CountingClose);
  ASSERT_TRUE(socket.Adopt(platform::OpenTcpSocket()));
  const platform::SocketHandle next = platform::OpenTcpSocket();
  {
    const CancellableSocket::Use use(socket);
    EXPECT_FALSE(socket.Adopt(next));
  }
  EXPECT_TRUE(socket.Adopt(next));
  EXPECT_TRUE(socket.IsOpen());
}

TEST_F(CancellableSocketTest, CancelKeepsTheErrorNumberOfTheFailedCall) {
  CancellableSocket socket(CountingClose);
  ASSERT_TRUE(socket.Adopt(platform::OpenTcpSocket()));
  platform::SetErrno(1234);
  socket.Cancel();
  EXPECT_EQ(platform::CurrentErrno(), 1234);
}

TEST_F(CancellableSocketTest, CancelEndsABlockedConnect) {
  testsupport::FullListener listener;
  if (!listener.isFull()) GTEST_SKIP() << "the system accepted every connection";
  const std::uint16_t port = listener.port();
  ExpectCancelEnds(platform::OpenTcpSocket(), [port](platform::SocketHandle socket) {
    EXPECT_NE(platform::Connect(socket, testsupport::Loopback(), port), 0);
  });
}

TEST_F(CancellableSocketTest, CancelEndsABlockedReceive) {
  ExpectCancelEndsOnAConnection([](platform::SocketHandle socket) {
    char byte;
    EXPECT_LE(platform::Recv(socket, &byte, 1), 0);
  });
}

TEST_F(CancellableSocketTest, CancelEndsABlockedWait) {
  ExpectCancelEndsOnAConnection([](platform::SocketHandle socket) {
    // Readable (at its end) or failed, never the minute's time-out.
    EXPECT_NE(platform::WaitReadable(socket, 60000), 0);
  });
}

TEST_F(CancellableSocketTest, CancelEndsABlockedSend) {
  // The peer never reads, so the sends fill both buffers and then block.
  ExpectCancelEndsOnAConnection([](platform::SocketHandle socket) {
    const std::string block(64 * 1024, 'x');
    while (platform::Send(socket, block.data(), static_cast<int>(block.size())) > 0) {
    }
  });
}

}  // namespace
