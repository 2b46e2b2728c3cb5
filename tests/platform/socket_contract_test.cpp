// What the socket services promise their callers, checked on both platforms
// with the Windows numbers of platform/Errors.h: a receive pending when its
// socket is closed completes as aborted, a datagram longer than the buffer
// is reported with the message-size code (overlapped and plain), a wait on a
// closed socket fails at once instead of waiting out its time, and common
// failures carry their Winsock numbers.
#include <gtest/gtest.h>

#include <cstring>

#include "LoopbackNet.h"
#include "platform/CompletionPort.h"
#include "platform/Errors.h"
#include "platform/OverlappedReceive.h"
#include "platform/Sockets.h"

namespace {

using testsupport::Loopback;

platform::SocketHandle BoundUdpSocket(std::uint16_t* port) {
  const platform::SocketHandle socket = platform::OpenUdpSocket();
  platform::Bind(socket, Loopback(), 0);
  platform::GetLocalAddress(socket, nullptr, port);
  return socket;
}

// One overlapped receive on a UDP socket tied to a fresh completion port.
class OverlappedReceiveTest : public testing::Test {
 protected:
  void SetUp() override {
    port_ = platform::CreateCompletionPort(1);
    ASSERT_NE(port_, nullptr);
    socket_ = BoundUdpSocket(&udpPort_);
    ASSERT_NE(socket_, platform::kInvalidSocket);
    ASSERT_TRUE(platform::AssociateWithPort(port_, socket_, this));
  }
  void TearDown() override {
    if (socket_ != platform::kInvalidSocket) platform::CloseOverlappedSocket(socket_);
    platform::CloseCompletionPort(port_);
  }
  int Start(int length) {
    fromLength_ = sizeof from_;
    return platform::StartReceiveFrom(socket_, buffer_, length, &from_, &fromLength_, &overlapped_);
  }
  platform::DequeueResult Complete(unsigned long* bytes, unsigned long* error) {
    void* key = nullptr;
    platform::Overlapped* overlapped = nullptr;
    const platform::DequeueResult result =
        platform::WaitForCompletion(port_, bytes, &key, &overlapped, error);
    EXPECT_EQ(key, this);
    EXPECT_EQ(overlapped, &overlapped_);
    return result;
  }

  platform::CompletionPort* port_ = nullptr;
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  std::uint16_t udpPort_ = 0;
  char buffer_[64] = {};
  platform::SocketAddressIn from_{};
  int fromLength_ = 0;
  platform::Overlapped overlapped_{};
};

TEST_F(OverlappedReceiveTest, CloseDuringAReceiveCompletesItAsAborted) {
  ASSERT_EQ(Start(sizeof buffer_), 0);
  ASSERT_EQ(platform::CloseOverlappedSocket(socket_), 0);
  socket_ = platform::kInvalidSocket;
  unsigned long bytes = 1;
  unsigned long error = 0;
  EXPECT_EQ(Complete(&bytes, &error), platform::DequeueResult::kFailedDequeued);
  EXPECT_EQ(error, platform::kReceiveAborted);
  EXPECT_EQ(bytes, 0u);
}

TEST_F(OverlappedReceiveTest, OversizedDatagramCompletesWithTheMessageSizeCode) {
  std::uint16_t senderPort = 0;
  const platform::SocketHandle sender = BoundUdpSocket(&senderPort);
  char datagram[40];
  std::memset(datagram, 'x', sizeof datagram);
  ASSERT_EQ(Start(16), 0);
  ASSERT_EQ(platform::SendTo(sender, datagram, sizeof datagram, Loopback(), udpPort_), 40);
  unsigned long bytes = 0;
  unsigned long error = 0;
  EXPECT_EQ(Complete(&bytes, &error), platform::DequeueResult::kFailedDequeued);
  // Windows reports a datagram that did not fit as "more data"; both are the
  // message-size code of their family.
  EXPECT_TRUE(error == platform::kReceiveMoreData ||
              error == static_cast<unsigned long>(platform::kErrorMessageSize))
      << error;
  EXPECT_EQ(bytes, 16u);
  EXPECT_EQ(std::memcmp(buffer_, datagram, 16), 0);
  platform::CloseSocket(sender);
}

TEST(SocketContractTest, PlainReceiveOfAnOversizedDatagramFailsWithTheMessageSizeCode) {
  std::uint16_t receiverPort = 0;
  std::uint16_t senderPort = 0;
  const platform::SocketHandle receiver = BoundUdpSocket(&receiverPort);
  const platform::SocketHandle sender = BoundUdpSocket(&senderPort);
  char datagram[40];
  std::memset(datagram, 'y', sizeof datagram);
  ASSERT_EQ(platform::SendTo(sender, datagram, sizeof datagram, Loopback(), receiverPort), 40);
  ASSERT_EQ(platform::WaitReadable(receiver, 5000), 1);
  char buffer[16];
  EXPECT_EQ(platform::RecvFrom(receiver, buffer, sizeof buffer, nullptr), -1);
  EXPECT_EQ(platform::LastSocketError(), platform::kErrorMessageSize);
  platform::CloseSocket(sender);
  platform::CloseSocket(receiver);
}

TEST(SocketContractTest, WaitOnAClosedSocketFailsAtOnce) {
  std::uint16_t port = 0;
  const platform::SocketHandle socket = BoundUdpSocket(&port);
  ASSERT_EQ(platform::CloseSocket(socket), 0);
  // A wait that timed out (0) would have taken the whole minute.
  EXPECT_EQ(platform::WaitReadable(socket, 60000), -1);
  EXPECT_EQ(platform::WaitWritable(socket, 60000), -1);
  EXPECT_EQ(platform::LastSocketError(), platform::kErrorNotSocket);
}

TEST(SocketContractTest, FailuresCarryTheirWinsockNumbers) {
  // A port with no listener: the connection is refused.
  std::uint16_t port = 0;
  {
    testsupport::LoopbackListener listener;
    port = listener.port();
  }
  const platform::SocketHandle client = platform::OpenTcpSocket();
  EXPECT_EQ(platform::Connect(client, Loopback(), port), -1);
  EXPECT_EQ(platform::LastSocketError(), platform::kErrorConnRefused);
  platform::CloseSocket(client);

  // A UDP port taken by another socket without address reuse.
  std::uint16_t taken = 0;
  const platform::SocketHandle first = BoundUdpSocket(&taken);
  const platform::SocketHandle second = platform::OpenUdpSocket();
  EXPECT_EQ(platform::Bind(second, Loopback(), taken), -1);
  EXPECT_EQ(platform::LastSocketError(), platform::kErrorAddressInUse);
  platform::CloseSocket(second);
  platform::CloseSocket(first);
}

}  // namespace
