// The raw path's header bytes against golden values, and the packet buffer
// whose prefix they are written into.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "RawPacketHeaders.h"
#include "UDPPacketBuffer.h"
#include "udp_test_network.h"

namespace {

using udptest::Address;

std::vector<std::uint8_t> Ipv4Header(int payloadSize, int ttl, const char* source,
                                     const char* destination) {
  std::vector<std::uint8_t> header(ZEQ::kIpv4HeaderLength, 0xAA);
  ZEQ::WriteIpv4Header(header.data(), payloadSize, ttl, Address(source), Address(destination));
  return header;
}

TEST(RawPacketHeadersTest, Ipv4HeaderOfATenBytePayloadMatchesTheGoldenBytes) {
  // 10 bytes from 10.0.0.5 to 255.255.255.255 with TTL 1: total length 38.
  const std::vector<std::uint8_t> expected = {0x45, 0x00, 0x00, 0x26, 0x00, 0x00, 0x00,
                                              0x00, 0x01, 0x11, 0xAF, 0xC3, 0x0A, 0x00,
                                              0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFF};
  const std::vector<std::uint8_t> header = Ipv4Header(10, 1, "10.0.0.5", "255.255.255.255");
  EXPECT_EQ(header, expected);
  // A correct checksum makes the header sum to 0xFFFF, so checking it again
  // gives 0.
  EXPECT_EQ(ZEQ::InternetChecksum(header.data(), ZEQ::kIpv4HeaderLength), 0);
}

TEST(RawPacketHeadersTest, Ipv4HeaderTakesTheLowEightBitsOfTheTtl) {
  const std::vector<std::uint8_t> expected = {0x45, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x00,
                                              0x00, 0xFF, 0x11, 0xFA, 0x1E, 0xC0, 0xA8,
                                              0x01, 0x0A, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Ipv4Header(0, 0x1FF, "192.168.1.10", "255.255.255.255"), expected);
}

TEST(RawPacketHeadersTest, ChecksumFoldsTheCarryOfTheFirstFoldAgain) {
  // 0xFFFF * 3 + 2 = 0x2FFFF: the first fold gives 0x10001, the second 0x0002.
  const std::uint8_t words[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02};
  EXPECT_EQ(ZEQ::InternetChecksum(words, sizeof words), 0xFFFD);
  const std::vector<std::uint8_t> header =
      Ipv4Header(1472, 255, "255.255.255.255", "255.255.255.255");
  EXPECT_EQ(header[10], 0xB6);
  EXPECT_EQ(header[11], 0x11);
}

TEST(RawPacketHeadersTest, UdpHeaderCarriesBothPortsTheLengthAndNoChecksum) {
  std::uint8_t header[ZEQ::kUdpHeaderLength];
  std::memset(header, 0xAA, sizeof header);
  ZEQ::WriteUdpHeader(header, 55330, 4877, 10);
  const std::uint8_t expected[] = {0xD8, 0x22, 0x13, 0x0D, 0x00, 0x12, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(header, expected, sizeof header), 0);
}

TEST(UDPPacketBufferTest, PayloadSitsBehindTheHeaderRoomAndSurvivesGrowing) {
  ZEQ::UDPPacketBuffer empty;
  EXPECT_EQ(empty.getSize(), 0);
  EXPECT_EQ(static_cast<char*>(empty), nullptr);

  ZEQ::UDPPacketBuffer buffer(4);
  EXPECT_EQ(buffer.getSize(), 0);
  std::memcpy(static_cast<char*>(buffer), "abcd", 4);
  buffer.setSize(4);
  buffer.alloc(5000);
  EXPECT_EQ(std::memcmp(static_cast<const char*>(buffer), "abcd", 4), 0);
  EXPECT_EQ(buffer.getSize(), 4);
  // The size is not checked against the capacity.
  buffer.setSize(9000);
  EXPECT_EQ(buffer.getSize(), 9000);
  EXPECT_EQ(static_cast<void*>(buffer), static_cast<void*>(static_cast<char*>(buffer)));
}

}  // namespace
