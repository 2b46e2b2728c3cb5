// The interface list that the sender walks, as the platform seam reads it:
// the system's order, each entry's address, netmask and flags, and the
// failures for a list too long for the room given and for a socket that is
// not open.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Interfaces.h"
#include "platform/Sockets.h"
#include "udp_test_network.h"

namespace {

using udptest::Text;

class InterfaceListTwoSubnetsTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_LINKS("192.168.1.10/24 10.0.0.5/8", "192.168.1.10");
    socket_ = platform::OpenUdpSocket();
  }
  void TearDown() override {
    if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
  }
  platform::SocketHandle socket_ = platform::kInvalidSocket;
};

TEST_F(InterfaceListTwoSubnetsTest, ListsLoopbackAndBothLinksInTheSystemsOrder) {
  platform::InterfaceEntry entries[32];
  const int count = platform::ListInterfaces(socket_, entries, 32);
  ASSERT_EQ(count, 3);
  std::vector<std::string> listed;
  for (int i = 0; i < count; ++i) {
    listed.push_back(Text(entries[i].address) + "/" + Text(entries[i].netmask));
    EXPECT_NE(entries[i].flags & platform::kInterfaceUp, 0u) << listed.back();
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"127.0.0.1/255.0.0.0", "192.168.1.10/255.255.255.0",
                                              "10.0.0.5/255.0.0.0"}));
  EXPECT_NE(entries[0].flags & platform::kInterfaceLoopback, 0u);
  EXPECT_EQ(entries[1].flags & platform::kInterfaceLoopback, 0u);
  EXPECT_NE(entries[1].flags & platform::kInterfaceBroadcast, 0u);
}

TEST_F(InterfaceListTwoSubnetsTest, FailsWhenTheListDoesNotFit) {
  // As the Windows call does (WSAEFAULT), rather than leaving some out.
  platform::InterfaceEntry entries[3];
  EXPECT_EQ(platform::ListInterfaces(socket_, entries, 2), -1);
  EXPECT_NE(platform::LastSocketError(), 0);
  EXPECT_EQ(platform::ListInterfaces(socket_, entries, 3), 3);
}

TEST(InterfaceListTest, FailsForASocketThatIsNotOpen) {
  platform::InterfaceEntry entries[4];
  EXPECT_EQ(platform::ListInterfaces(platform::kInvalidSocket, entries, 4), -1);
  EXPECT_NE(platform::LastSocketError(), 0);
}

}  // namespace
