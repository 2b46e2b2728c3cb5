// The sender against what reaches the wire inside the private namespace:
// the order of the subnet broadcasts, the raw path's packets byte by byte,
// the limited broadcast of a zero netmask, the callback, unicast and the
// failure reports. The link tests build their interfaces first (in the
// order 192.168.1.10/24, 10.0.0.5/8), so the system lists loopback, then
// those two.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "RawPacketHeaders.h"
#include "UDPPacketBuffer.h"
#include "UDPSender.h"
#include "VEVException.h"
#include "udp_test_network.h"

namespace {

using udptest::Address;
using udptest::Datagram;
using udptest::Text;

constexpr std::uint16_t kPort = 55330;
constexpr const char* kTwoSubnets = "192.168.1.10/24 10.0.0.5/8";

void Fill(ZEQ::UDPPacketBuffer& buffer, const char* text) {
  buffer.alloc(static_cast<int>(std::strlen(text)));
  std::memcpy(static_cast<char*>(buffer), text, std::strlen(text));
  buffer.setSize(static_cast<int>(std::strlen(text)));
}

std::string Payload(const Datagram& datagram, std::size_t offset = 0) {
  return std::string(datagram.bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                     datagram.bytes.end());
}

std::vector<std::string> Sources(const std::vector<Datagram>& datagrams) {
  std::vector<std::string> sources;
  for (const Datagram& datagram : datagrams) sources.push_back(Text(datagram.from.address));
  return sources;
}

std::vector<std::string> PacketAddresses(const std::vector<Datagram>& packets) {
  std::vector<std::string> addresses;
  for (const Datagram& packet : packets) {
    addresses.push_back(Text(udptest::SourceOf(packet)) + ">" +
                        Text(udptest::DestinationOf(packet)));
  }
  return addresses;
}

// The source addresses the callback saw; its verdict is false for one.
std::vector<std::string> callbackSources;
std::uint32_t callbackRefuses = 0;

bool RecordingCallback(ZEQ::UDPPacketBuffer*, unsigned int sourceAddress) {
  callbackSources.push_back(Text(sourceAddress));
  return sourceAddress != callbackRefuses;
}

class UDPSenderLoopbackTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }
};

TEST_F(UDPSenderLoopbackTest, BroadcastReachesTheLoopbackSubnetOnTheSendersPort) {
  udptest::DatagramCapture capture(kPort);
  ZEQ::UDPSender sender(kPort, false);
  EXPECT_EQ(sender.getPort(), kPort);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "query");
  sender.Broadcast(buffer, nullptr, 1);
  const std::vector<Datagram> received = capture.Collect();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(Payload(received[0]), "query");
  EXPECT_EQ(Text(received[0].from.address), "127.0.0.1");
}

TEST_F(UDPSenderLoopbackTest, UnicastSendDeliversTheBarePayload) {
  udptest::DatagramCapture capture(kPort + 1);
  ZEQ::UDPSender sender(kPort + 1, false);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "hello unit");
  sender.UnicastSend(buffer, Address("127.0.0.2"));
  // The full form uses only the send address and the destination port.
  sender.UnicastSend(buffer, 1, kPort + 1, Address("1.2.3.4"), Address("5.6.7.8"),
                     Address("127.0.0.3"), 9);
  const std::vector<Datagram> received = capture.Collect();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(Payload(received[0]), "hello unit");
  EXPECT_EQ(Payload(received[1]), "hello unit");
}

TEST_F(UDPSenderLoopbackTest, UnicastSendWithoutARouteThrowsWithTheCode) {
  // The namespace has no route to 10.9.9.9, so nothing leaves the host.
  ZEQ::UDPSender sender(kPort, false);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "x");
  try {
    sender.UnicastSend(buffer, Address("10.9.9.9"));
    FAIL() << "no exception";
  } catch (const VEVException& exception) {
    const std::string prefix = "broadcaster -> UnicastSend sendto failed (";
    EXPECT_EQ(exception.message.compare(0, prefix.size(), prefix), 0) << exception.message;
    EXPECT_EQ(exception.message.back(), ')');
    EXPECT_NE(exception.message, prefix + "0)");
  }
}

class UDPSenderTwoSubnetsTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_LINKS(kTwoSubnets, "192.168.1.10");
    callbackSources.clear();
    callbackRefuses = 0;
  }
};

TEST_F(UDPSenderTwoSubnetsTest, OrdinaryBroadcastGoesToEachSubnetLastListedFirst) {
  udptest::DatagramCapture capture(kPort);
  udptest::PacketCapture packets(kPort);
  ASSERT_TRUE(packets.IsOpen());
  ZEQ::UDPSender sender(kPort, false);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "query");
  // An ordinary sender never calls the callback.
  sender.Broadcast(buffer, RecordingCallback, 1);
  const std::vector<Datagram> received = capture.Collect();
  EXPECT_EQ(Sources(received), (std::vector<std::string>{"10.0.0.5", "192.168.1.10", "127.0.0.1"}));
  for (const Datagram& datagram : received) EXPECT_EQ(Payload(datagram), "query");
  EXPECT_EQ(PacketAddresses(packets.CollectPackets()),
            (std::vector<std::string>{"10.0.0.5>10.255.255.255", "192.168.1.10>192.168.1.255",
                                      "127.0.0.1>127.255.255.255"}));
  EXPECT_TRUE(callbackSources.empty());
}

TEST_F(UDPSenderTwoSubnetsTest, RawBroadcastSendsA38BytePacketPerInterface) {
  udptest::DatagramCapture capture(kPort);
  udptest::PacketCapture packets(kPort);
  ZEQ::UDPSender sender(kPort, true);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "0123456789");
  sender.Broadcast(buffer, nullptr, 1);

  const std::vector<Datagram> sent = packets.CollectPackets();
  EXPECT_EQ(PacketAddresses(sent),
            (std::vector<std::string>{"10.0.0.5>255.255.255.255", "192.168.1.10>255.255.255.255",
                                      "127.0.0.1>255.255.255.255"}));
  ASSERT_FALSE(sent.empty());
  const std::vector<std::uint8_t>& packet = sent[0].bytes;
  ASSERT_EQ(packet.size(), 38u);
  // The system fills in an identification of 0 (and then the checksum
  // anew), so bytes 4, 5, 10 and 11 are checked through the checksum only.
  const std::vector<std::uint8_t> expected = {
      0x45, 0x00, 0x00, 0x26, 0,    0,    0x00, 0x00, 0x01, 0x11, 0,    0,    0x0A,
      0x00, 0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xD8, 0x22, 0xD8, 0x22, 0x00, 0x12,
      0x00, 0x00, '0',  '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9'};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i == 4 || i == 5 || i == 10 || i == 11) continue;
    EXPECT_EQ(packet[i], expected[i]) << "byte " << i;
  }
  EXPECT_EQ(ZEQ::InternetChecksum(packet.data(), ZEQ::kIpv4HeaderLength), 0);

  const std::vector<Datagram> received = capture.Collect();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(Payload(received[0]), "0123456789");
  const auto* port = reinterpret_cast<const std::uint8_t*>(&received[0].from.port);
  EXPECT_EQ(udptest::BigEndian16(port), kPort);
}

TEST_F(UDPSenderTwoSubnetsTest, CallbackReturningFalseSuppressesThatInterfaceOnly) {
  udptest::DatagramCapture capture(kPort);
  ZEQ::UDPSender sender(kPort, true);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "route");
  callbackRefuses = Address("192.168.1.10");
  sender.Broadcast(buffer, kPort, RecordingCallback, 1);
  EXPECT_EQ(callbackSources, (std::vector<std::string>{"10.0.0.5", "192.168.1.10", "127.0.0.1"}));
  EXPECT_EQ(Sources(capture.Collect()), (std::vector<std::string>{"10.0.0.5", "127.0.0.1"}));
}

TEST_F(UDPSenderTwoSubnetsTest, SingleInterfaceBroadcastUsesOnlyTheMatchingEntry) {
  udptest::DatagramCapture capture(kPort + 2);
  ZEQ::UDPSender sender(kPort, false);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "one");
  sender.Broadcast(buffer, kPort + 2, Address("192.168.1.10"), nullptr, 1);
  sender.Broadcast(buffer, kPort + 2, Address("172.16.0.1"), nullptr, 1);
  const std::vector<Datagram> received = capture.Collect();
  EXPECT_EQ(Sources(received), (std::vector<std::string>{"192.168.1.10"}));
}

TEST_F(UDPSenderTwoSubnetsTest, RawSendWritesTheGivenAddressesPortsAndTtl) {
  udptest::PacketCapture packets(kPort);
  ZEQ::UDPSender sender(kPort, true);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "abc");
  // The source need not be the interface the packet leaves by.
  sender.Broadcast(buffer, kPort, Address("192.168.1.10"), Address("10.255.255.255"), nullptr, 1);
  sender.RawSend(buffer, 4000, kPort, Address("10.0.0.5"), Address("10.255.255.255"),
                 Address("10.255.255.255"), nullptr, 5);
  const std::vector<Datagram> sent = packets.CollectPackets();
  EXPECT_EQ(PacketAddresses(sent),
            (std::vector<std::string>{"192.168.1.10>255.255.255.255", "10.0.0.5>10.255.255.255"}));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].bytes[8], 1);
  EXPECT_EQ(udptest::BigEndian16(&sent[0].bytes[20]), kPort);
  EXPECT_EQ(sent[1].bytes[8], 5);
  EXPECT_EQ(udptest::BigEndian16(&sent[1].bytes[20]), 4000);
  EXPECT_EQ(udptest::BigEndian16(&sent[1].bytes[22]), kPort);
  EXPECT_EQ(udptest::BigEndian16(&sent[1].bytes[24]), 11);
}

TEST_F(UDPSenderTwoSubnetsTest, FailedOrdinarySendPrintsTheCodeAndTriesTheNextInterface) {
  ZEQ::UDPSender sender(kPort, false);
  ZEQ::UDPPacketBuffer buffer(70000);
  buffer.setSize(70000);  // more than a datagram can carry
  testing::internal::CaptureStdout();
  sender.Broadcast(buffer, nullptr, 1);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "10040\n10040\n10040\n");
}

class UDPSenderZeroNetmaskTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_LINKS("10.1.2.3/0", "10.1.2.3");
    callbackSources.clear();
    callbackRefuses = 0;
  }
};

TEST_F(UDPSenderZeroNetmaskTest, ZeroNetmaskTakesTheRawPathEvenOnAnOrdinarySender) {
  udptest::DatagramCapture capture(kPort);
  ZEQ::UDPSender sender(kPort, false);
  ZEQ::UDPPacketBuffer buffer;
  Fill(buffer, "0123456789");
  sender.Broadcast(buffer, RecordingCallback, 1);
  // Only the limited broadcast goes through the callback.
  EXPECT_EQ(callbackSources, (std::vector<std::string>{"10.1.2.3"}));
  const std::vector<Datagram> received = capture.Collect();
  ASSERT_EQ(Sources(received), (std::vector<std::string>{"10.1.2.3", "127.0.0.1"}));
  // An ordinary socket carries the written headers as payload.
  ASSERT_EQ(received[0].bytes.size(), 38u);
  EXPECT_EQ(received[0].bytes[0], 0x45);
  EXPECT_EQ(udptest::SourceOf(received[0]), Address("10.1.2.3"));
  EXPECT_EQ(udptest::DestinationOf(received[0]), Address("255.255.255.255"));
  EXPECT_EQ(Payload(received[0], 28), "0123456789");
  EXPECT_EQ(Payload(received[1]), "0123456789");
}

}  // namespace
