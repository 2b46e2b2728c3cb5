// Entering record replies into the device table as the controller's
// receiver callback does: what a new unit's row holds, which replies raise
// the list-rebuild flag, and that a reply the checks refuse changes nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "DiscoveryDatagrams.h"
#include "DiscoveryEntry.h"
#include "units/ControllerFlags.h"
#include "units/unit_table.h"

namespace {

using discoverytest::Reply;
using discoverytest::ReplyShape;
using udptest::Address;

int Enter(unit_table& table, const ReplyShape& shape) {
  const std::vector<std::uint8_t> reply = Reply(shape);
  return discovery::EnterDiscoveryReply(table, reply.data(), static_cast<int>(reply.size()));
}

std::size_t Count(unit_table& table) {
  table.Lock();
  const std::size_t count = table.getCount();
  table.Unlock();
  return count;
}

TEST(DiscoveryEntryTest, ReplyEntersTheUnitWithEveryValue) {
  unit_table table;
  EXPECT_EQ(Enter(table, ReplyShape{}), 1);
  table.Lock();
  ASSERT_EQ(table.getCount(), 1u);
  const tarvo_object* unit = table.getAddressUnit(0);
  EXPECT_EQ(unit->address, Address("10.0.0.7"));
  EXPECT_EQ(unit->reachedFrom, Address("10.0.0.1"));
  EXPECT_EQ(unit->gateway, Address("192.168.9.1"));
  EXPECT_EQ(unit->node, -2);
  EXPECT_EQ(unit->group, "North");
  EXPECT_EQ(unit->version, "2.1");
  const std::uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  EXPECT_EQ(std::memcmp(unit->mac, mac, 6), 0);
  table.Unlock();
}

TEST(DiscoveryEntryTest, OnlyANewUnitRaisesTheRebuildFlag) {
  unit_table table;
  listRebuildFlag = 0;
  ReplyShape shape;
  EXPECT_EQ(Enter(table, shape), 1);
  EXPECT_EQ(listRebuildFlag, 1);
  listRebuildFlag = 0;
  // The same unit again, now without a version: merged, no rebuild.
  shape.hasVersion = false;
  EXPECT_EQ(Enter(table, shape), 0);
  EXPECT_EQ(listRebuildFlag, 0);
  EXPECT_EQ(Count(table), 1u);
  shape.address[3] = 8;
  EXPECT_EQ(Enter(table, shape), 1);
  EXPECT_EQ(listRebuildFlag, 1);
  EXPECT_EQ(Count(table), 2u);
  listRebuildFlag = 0;
}

TEST(DiscoveryEntryTest, RefusedRepliesChangeNothing) {
  unit_table table;
  listRebuildFlag = 0;
  ReplyShape shape;
  shape.word = 0x00010001u;  // the installer's own query, heard back
  EXPECT_EQ(Enter(table, shape), -1);
  shape.word = 0x80010001u;
  shape.mac.pop_back();  // five bytes
  EXPECT_EQ(Enter(table, shape), -1);
  EXPECT_EQ(discovery::EnterDiscoveryReply(table, nullptr, 0), -1);
  EXPECT_EQ(Count(table), 0u);
  EXPECT_EQ(listRebuildFlag, 0);
}

}  // namespace
