// The record query byte for byte, and every check a reply on port 55330 must
// pass before its unit is entered.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "DataRecord.h"
#include "DiscoveryDatagrams.h"
#include "DiscoveryTestSupport.h"
#include "RecordQuery.h"
#include "UDPPacketBuffer.h"
#include "UDPSender.h"

namespace {

using discoverytest::Hex;
using discoverytest::Reply;
using discoverytest::ReplyShape;

TEST(RecordQueryTest, QueryIsTheWordTheModeAndTenNamesWithoutValues) {
  ZEQ::UDPPacketBuffer buffer;
  ASSERT_TRUE(discovery::BuildDiscoveryQuery(&buffer));
  std::vector<std::uint8_t> expected = {0x01, 0x00, 0x01, 0x00, 0x00};
  for (const char* name : {"ReplyTarvoProxy", "ReplyTarvo", "Node", "IPAddress", "NetMask",
                           "FromIP", "MAC", "Group", "Version", "VXMGW"}) {
    expected.push_back(0x01);  // VT_NULL, little-endian
    expected.push_back(0x00);
    expected.insert(expected.end(), name, name + std::strlen(name) + 1);
  }
  expected.push_back(0x00);  // the header's terminator
  expected.push_back(0x00);
  ASSERT_EQ(expected.size(), 108u);
  ASSERT_EQ(buffer.getSize(), 108);
  EXPECT_EQ(Hex(static_cast<const char*>(buffer), 108), Hex(expected));
}

std::optional<DiscoveredUnit> Parse(const std::vector<std::uint8_t>& bytes) {
  return discovery::ParseDiscoveryReply(bytes.data(), static_cast<int>(bytes.size()));
}

std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

TEST(RecordQueryTest, CompleteReplyGivesTheSevenValues) {
  const std::optional<DiscoveredUnit> unit = Parse(Reply(ReplyShape{}));
  ASSERT_TRUE(unit.has_value());
  EXPECT_EQ(unit->gateway, Ip(192, 168, 9, 1));
  EXPECT_EQ(unit->reachedFrom, Ip(10, 0, 0, 1));
  EXPECT_EQ(unit->address, Ip(10, 0, 0, 7));
  ASSERT_NE(unit->macOrNull(), nullptr);
  EXPECT_EQ(Hex(unit->macOrNull(), 6), "00 11 22 33 44 55");
  EXPECT_EQ(unit->node, -2) << "the node is a signed 16-bit value";
  EXPECT_EQ(unit->group, "North");
  EXPECT_EQ(unit->version, "2.1");
}

TEST(RecordQueryTest, MessageWordAndModeByte) {
  ReplyShape shape;
  shape.word = 0x8001ABCDu;   // the low half is not examined
  shape.modeHighBits = 0xFC;  // only the two low bits of the mode byte count
  EXPECT_TRUE(Parse(Reply(shape)).has_value());
  for (const std::uint32_t word : {0x00010001u, 0x80020001u, 0x80000001u, 0xFFFF0001u}) {
    shape.word = word;
    EXPECT_FALSE(Parse(Reply(shape)).has_value()) << std::hex << word;
  }
}

TEST(RecordQueryTest, OptionalElementsHaveTheirDefaults) {
  ReplyShape shape;
  shape.hasVersion = false;
  shape.gateway.clear();
  std::optional<DiscoveredUnit> unit = Parse(Reply(shape));
  ASSERT_TRUE(unit.has_value());
  EXPECT_EQ(unit->version, "Unknown");
  EXPECT_EQ(unit->gateway, 0u);
  shape = ReplyShape{};
  shape.versionType = VT_I4;   // not a string
  shape.gateway = {10, 0, 0};  // shorter than an address
  unit = Parse(Reply(shape));
  ASSERT_TRUE(unit.has_value());
  EXPECT_EQ(unit->version, "Unknown");
  EXPECT_EQ(unit->gateway, 0u);
}

TEST(RecordQueryTest, AnyRequiredElementMissingOrShortDropsTheReply) {
  for (const char* name : {"IPAddress", "FromIP", "Node", "Group", "MAC"}) {
    ReplyShape shape;
    shape.drop = name;
    EXPECT_FALSE(Parse(Reply(shape)).has_value()) << name;
  }
  ReplyShape shape;
  shape.mac = {0x00, 0x11, 0x22, 0x33, 0x44};  // every other element valid
  EXPECT_FALSE(Parse(Reply(shape)).has_value()) << "5-byte MAC";
  shape = ReplyShape{};
  shape.groupType = VT_I4;
  EXPECT_FALSE(Parse(Reply(shape)).has_value()) << "Group not a string";
  shape = ReplyShape{};
  shape.address = {10, 0, 0};
  EXPECT_FALSE(Parse(Reply(shape)).has_value()) << "3-byte IPAddress";
  shape = ReplyShape{};
  shape.from = {10, 0, 0};
  EXPECT_FALSE(Parse(Reply(shape)).has_value()) << "3-byte FromIP";
  shape = ReplyShape{};
  shape.nodeType = VT_I1;
  EXPECT_FALSE(Parse(Reply(shape)).has_value()) << "1-byte Node";
}

TEST(RecordQueryTest, ShortAndUnreadableDatagramsAreDropped) {
  const std::vector<std::uint8_t> reply = Reply(ReplyShape{});
  for (std::size_t length : {std::size_t{0}, std::size_t{4}, std::size_t{5}, std::size_t{20}}) {
    EXPECT_FALSE(discovery::ParseDiscoveryReply(reply.data(), static_cast<int>(length))) << length;
  }
  EXPECT_FALSE(discovery::ParseDiscoveryReply(nullptr, 100));
}

TEST(RecordQueryTest, NothingIsSentWithoutASender) {
  EXPECT_FALSE(discovery::SendRecordQuery(nullptr));
}

TEST(RecordQueryTest, QueryIsBroadcastOnTheLoopbackSubnet) {
  ZEQ_REQUIRE_NETNS();
  udptest::DatagramCapture capture(discovery::kRecordPort);
  ZEQ::UDPSender sender(discovery::kRecordPort, false);
  ASSERT_TRUE(discovery::SendRecordQuery(&sender));
  const std::vector<udptest::Datagram> heard = capture.Collect();
  ASSERT_EQ(heard.size(), 1u);
  ZEQ::UDPPacketBuffer expected;
  ASSERT_TRUE(discovery::BuildDiscoveryQuery(&expected));
  EXPECT_EQ(Hex(heard[0].bytes), Hex(static_cast<const char*>(expected), 108));
  // The installer hears its own query on port 55330 and must not take it
  // for a reply.
  EXPECT_FALSE(Parse(heard[0].bytes).has_value());
}

}  // namespace
