// The device-link probe: its 18 bytes, and a probe run against sockets that
// stand in for units: the unicasts to the list's lines with the port carried
// from line to line, then the limited broadcast on the port left current.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceLinkProbe.h"
#include "DiscoveryTestSupport.h"

namespace {

using discoverytest::BoundCapture;
using discoverytest::Hex;
using discoverytest::ScratchFolder;
using udptest::Address;

TEST(ProbeTest, ProbeCarriesTheAnswerSocketAddress) {
  std::uint8_t probe[discovery::kProbeLength];
  discovery::BuildProbe(0xD821, Address("192.168.1.10"), probe);
  EXPECT_EQ(Hex(probe, sizeof probe), "00 01 02 00 D8 21 C0 A8 01 0A 00 00 00 00 00 00 00 00");
}

// The bytes every test expects at its captures.
std::string ProbeHex(std::uint16_t port, const char* address) {
  std::uint8_t probe[discovery::kProbeLength];
  discovery::BuildProbe(port, Address(address), probe);
  return Hex(probe, sizeof probe);
}

std::vector<std::string> Heard(udptest::Capture& capture, int quietMs = 300) {
  std::vector<std::string> heard;
  for (const udptest::Datagram& datagram : capture.Collect(quietMs)) {
    heard.push_back(Hex(datagram.bytes));
  }
  return heard;
}

class ProbeLoopbackTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }
};

TEST_F(ProbeLoopbackTest, ListedAddressesAreProbedOnThePortOfTheirLines) {
  ScratchFolder folder("discovery-probe-loopback");
  folder.Write("tarvo_ip_list.txt", "127.0.0.7:4000\n\n127.0.0.8\nlocalhost#4001\n");
  BoundCapture seven("127.0.0.7", 4000);
  BoundCapture eight("127.0.0.8", 4000);
  BoundCapture local("127.0.0.1", 4001);
  BoundCapture answers("127.0.0.1", 0);  // the device-link socket
  ASSERT_TRUE(seven.IsOpen() && eight.IsOpen() && local.IsOpen() && answers.IsOpen());
  EXPECT_EQ(discovery::SendProbe(answers.handle(), answers.port(), Address("127.0.0.1")), 1);
  const std::string probe = ProbeHex(answers.port(), "127.0.0.1");
  EXPECT_EQ(Heard(seven), std::vector<std::string>{probe});
  EXPECT_EQ(Heard(eight), std::vector<std::string>{probe});
  EXPECT_EQ(Heard(local), std::vector<std::string>{probe});
  EXPECT_TRUE(Heard(answers, 50).empty()) << "the empty line is not sent to 0.0.0.0";
}

TEST_F(ProbeLoopbackTest, WithoutADeviceLinkSocketNothingIsSent) {
  ScratchFolder folder("discovery-probe-no-socket");
  folder.Write("tarvo_ip_list.txt", "127.0.0.7:4000\n");
  BoundCapture seven("127.0.0.7", 4000);
  ASSERT_TRUE(seven.IsOpen());
  EXPECT_EQ(discovery::SendProbe(platform::kInvalidSocket, 5000, Address("127.0.0.1")), 0);
  EXPECT_TRUE(Heard(seven).empty());
}

// Links built by the launcher or the fixture: 10.0.0.7 with the default
// route (the limited broadcast leaves there and is looped back to local
// sockets) and 10.0.0.8.
constexpr const char* kProbeLinks = "10.0.0.7/0 10.0.0.8/8";

class ProbeLinksTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_LINKS(kProbeLinks, "10.0.0.7"); }
};

TEST_F(ProbeLinksTest, PortOfTheFirstLineHoldsForTheNextAndForTheBroadcast) {
  ScratchFolder folder("discovery-probe-links");
  folder.Write("tarvo_ip_list.txt", "10.0.0.7:4000\n10.0.0.8\n");
  BoundCapture seven("10.0.0.7", 4000);
  BoundCapture eight("10.0.0.8", 4000);
  udptest::DatagramCapture broadcast(4000);  // gets what no bound address takes
  BoundCapture answers("10.0.0.7", 0);
  ASSERT_TRUE(seven.IsOpen() && eight.IsOpen() && broadcast.IsOpen() && answers.IsOpen());
  EXPECT_EQ(discovery::SendProbe(answers.handle(), answers.port(), Address("10.0.0.7")), 1);
  const std::string probe = ProbeHex(answers.port(), "10.0.0.7");
  EXPECT_EQ(Heard(seven), std::vector<std::string>{probe});
  EXPECT_EQ(Heard(eight), std::vector<std::string>{probe});
  EXPECT_EQ(Heard(broadcast), std::vector<std::string>{probe});
}

TEST_F(ProbeLinksTest, WithoutAListOnlyTheBroadcastGoesOutOnTheServicePort) {
  ScratchFolder folder("discovery-probe-no-list");
  udptest::DatagramCapture broadcast(55329);
  BoundCapture answers("10.0.0.7", 0);
  ASSERT_TRUE(broadcast.IsOpen() && answers.IsOpen());
  EXPECT_EQ(discovery::SendProbe(answers.handle(), answers.port(), Address("10.0.0.7")), 1);
  EXPECT_EQ(Heard(broadcast), std::vector<std::string>{ProbeHex(answers.port(), "10.0.0.7")});
}

TEST_F(ProbeLinksTest, BroadcastDatagramReturnsTheBytesSent) {
  udptest::DatagramCapture broadcast(4100);
  ASSERT_TRUE(broadcast.IsOpen());
  EXPECT_EQ(discovery::BroadcastDatagram("probe", 5, 4100), 5);
  const std::vector<udptest::Datagram> heard = broadcast.Collect();
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(std::string(heard[0].bytes.begin(), heard[0].bytes.end()), "probe");
}

}  // namespace
