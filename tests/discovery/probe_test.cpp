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

// Every UDP packet to the port as "destination payload-in-hex", in order. A
// raw capture tells the destinations apart, which sockets bound to them
// cannot do alike on both systems: a Windows socket bound to an interface's
// address also receives that interface's broadcasts.
std::vector<std::string> Sent(udptest::PacketCapture& capture) {
  std::vector<std::string> sent;
  for (const udptest::Datagram& packet : capture.CollectPackets()) {
    sent.push_back(udptest::Text(udptest::DestinationOf(packet)) + " " +
                   Hex(packet.bytes.data() + 28, packet.bytes.size() - 28));
  }
  return sent;
}

class ProbeLoopbackTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }
};

TEST_F(ProbeLoopbackTest, ListedAddressesAreProbedOnThePortOfTheirLines) {
  ScratchFolder folder("discovery-probe-loopback");
  folder.Write("tarvo_ip_list.txt", "127.0.0.7:4000\n\n127.0.0.8\nlocalhost#4001\n");
  udptest::PacketCapture first(4000);
  udptest::PacketCapture second(4001);
  BoundCapture answers("127.0.0.1", 0);  // the device-link socket
  ASSERT_TRUE(first.IsOpen() && second.IsOpen() && answers.IsOpen());
  EXPECT_EQ(discovery::SendProbe(answers.handle(), answers.port(), Address("127.0.0.1")), 1);
  const std::string probe = ProbeHex(answers.port(), "127.0.0.1");
  // The empty line is not sent to 0.0.0.0; the closing broadcast finds no
  // route in a loopback-only network.
  EXPECT_EQ(Sent(first), (std::vector<std::string>{"127.0.0.7 " + probe, "127.0.0.8 " + probe}));
  EXPECT_EQ(Sent(second), (std::vector<std::string>{"127.0.0.1 " + probe}));
  EXPECT_TRUE(answers.Collect(50).empty());
}

TEST_F(ProbeLoopbackTest, WithoutADeviceLinkSocketNothingIsSent) {
  ScratchFolder folder("discovery-probe-no-socket");
  folder.Write("tarvo_ip_list.txt", "127.0.0.7:4000\n");
  udptest::PacketCapture capture(4000);
  ASSERT_TRUE(capture.IsOpen());
  EXPECT_EQ(discovery::SendProbe(platform::kInvalidSocket, 5000, Address("127.0.0.1")), 0);
  EXPECT_TRUE(Sent(capture).empty());
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
  udptest::PacketCapture capture(4000);
  BoundCapture answers("10.0.0.7", 0);
  ASSERT_TRUE(capture.IsOpen() && answers.IsOpen());
  EXPECT_EQ(discovery::SendProbe(answers.handle(), answers.port(), Address("10.0.0.7")), 1);
  const std::string probe = ProbeHex(answers.port(), "10.0.0.7");
  EXPECT_EQ(Sent(capture), (std::vector<std::string>{"10.0.0.7 " + probe, "10.0.0.8 " + probe,
                                                     "255.255.255.255 " + probe}));
}

TEST_F(ProbeLinksTest, WithoutAListOnlyTheBroadcastGoesOutOnTheServicePort) {
  ScratchFolder folder("discovery-probe-no-list");
  udptest::PacketCapture capture(55329);
  BoundCapture answers("10.0.0.7", 0);
  ASSERT_TRUE(capture.IsOpen() && answers.IsOpen());
  EXPECT_EQ(discovery::SendProbe(answers.handle(), answers.port(), Address("10.0.0.7")), 1);
  EXPECT_EQ(Sent(capture),
            std::vector<std::string>{"255.255.255.255 " + ProbeHex(answers.port(), "10.0.0.7")});
}

TEST_F(ProbeLinksTest, BroadcastDatagramReturnsTheBytesSent) {
  udptest::PacketCapture capture(4100);
  ASSERT_TRUE(capture.IsOpen());
  EXPECT_EQ(discovery::BroadcastDatagram("probe", 5, 4100), 5);
  EXPECT_EQ(Sent(capture), std::vector<std::string>{"255.255.255.255 " + Hex("probe", 5)});
}

}  // namespace
