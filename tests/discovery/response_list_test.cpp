// Probe answers as the device-link interface keeps them: what is taken from
// the datagram, one stored answer per unit address with the notification
// values 1, 2, ..., the dispatch rule, and the values entered for a unit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceLinkSocket.h"
#include "DiscoveryDatagrams.h"
#include "DiscoveryTestSupport.h"
#include "ResponseList.h"

namespace {

using discoverytest::Answer;
using discoverytest::Received;
using udptest::Address;
using udptest::Text;

int Dispatch(discovery::ResponseList& list, Received answer) {
  return list.Dispatch(answer.buffer.data(), answer.length);
}

TEST(ResponseListTest, AnswerIsTakenApartIntoTheStoredFields) {
  discovery::ResponseList list;
  ASSERT_EQ(Dispatch(list, Answer("10.0.0.7", 0x0304,
                                  "North\x1f"
                                  "2.1")),
            1);
  const discovery::Response* stored = list.At(0);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->kind, 2);
  EXPECT_EQ(stored->node, 0x0304);
  EXPECT_EQ(stored->key, Address("10.0.0.7"));
  EXPECT_EQ(stored->addressText, "10.0.0.7:55329");
  EXPECT_EQ(stored->pairText, "800x480");
  EXPECT_EQ(stored->text1, "Tarvo");
  EXPECT_EQ(stored->text2, "02:00:7f:00:00:02");
  EXPECT_EQ(stored->text3,
            "North\x1f"
            "2.1");
  EXPECT_EQ(stored->text4, "unitsim");
}

TEST(ResponseListTest, NewUnitsAreNumberedAndARepeatedAnswerReplacesInPlace) {
  discovery::ResponseList list;
  EXPECT_EQ(Dispatch(list, Answer("10.0.0.7", 1, "North")), 1);
  EXPECT_EQ(Dispatch(list, Answer("10.0.0.8", 2, "South")), 2);
  EXPECT_EQ(Dispatch(list, Answer("10.0.0.7", 1, "North", "again")), 0);
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.At(0)->text1, "again");
  EXPECT_EQ(list.At(1)->key, Address("10.0.0.8"));
  EXPECT_EQ(Dispatch(list, Answer("10.0.0.9", 3, "West")), 3);
}

TEST(ResponseListTest, LookupByPositionFromEitherEnd) {
  discovery::ResponseList list;
  for (int i = 0; i < 9; ++i) {
    const std::string address = "10.0.0." + std::to_string(i + 1);
    ASSERT_EQ(Dispatch(list, Answer(address.c_str(), 1, "G")), i + 1);
  }
  for (int i = 0; i < 9; ++i) {
    ASSERT_NE(list.At(i), nullptr);
    EXPECT_EQ(Text(list.At(i)->key), "10.0.0." + std::to_string(i + 1));
  }
  EXPECT_EQ(list.At(-1), nullptr);
  EXPECT_EQ(list.At(9), nullptr);
}

TEST(ResponseListTest, OnlyProbeAnswersOfAtLeast26BytesAreKept) {
  discovery::ResponseList list;
  Received answer = Answer("10.0.0.7", 1, "G");
  EXPECT_EQ(list.Dispatch(answer.buffer.data(), 25), 0);
  answer.buffer[1] = 0x02;
  EXPECT_EQ(list.Dispatch(answer.buffer.data(), answer.length), 0);
  answer.buffer[0] = 0x01;
  answer.buffer[1] = 0x01;
  EXPECT_EQ(list.Dispatch(answer.buffer.data(), answer.length), 0);
  EXPECT_EQ(list.Dispatch(answer.buffer.data(), 1), 0);
  EXPECT_EQ(list.count(), 0);
  answer = Answer("10.0.0.7", 1, "G");
  EXPECT_EQ(list.Dispatch(answer.buffer.data(), 26), 1) << "26 bytes: four empty strings";
  EXPECT_EQ(list.At(0)->text1, "");
  EXPECT_EQ(list.At(0)->text4, "");
}

TEST(ResponseListTest, FullSizeAnswerWithoutTerminatorsEndsInsideTheBuffer) {
  discovery::ResponseList list;
  Received answer = Answer("10.0.0.7", 1, "G");
  std::memset(answer.buffer.data() + discovery::kResponseMinimum, 'A',
              answer.buffer.size() - discovery::kResponseMinimum);
  ASSERT_EQ(list.Dispatch(answer.buffer.data(), 1500), 1);
  const discovery::Response* stored = list.At(0);
  EXPECT_EQ(stored->text1, std::string(1500 - 26, 'A'));
  EXPECT_EQ(stored->text2, "");
  EXPECT_EQ(stored->text3, "");
  EXPECT_EQ(stored->text4, "");
}

TEST(ResponseListTest, UnitValuesComeFromAddressNodeAndTheThirdString) {
  discovery::ResponseList list;
  Dispatch(list, Answer("10.0.0.7", 12,
                        "North\x1f"
                        "2.1"));
  Dispatch(list, Answer("10.0.0.8", 13, "Solo"));
  std::optional<DiscoveredUnit> unit = discovery::UnitFromResponse(list.At(0));
  ASSERT_TRUE(unit.has_value());
  EXPECT_EQ(unit->address, Address("10.0.0.7"));
  EXPECT_EQ(unit->gateway, 0u);
  EXPECT_EQ(unit->reachedFrom, 0u);
  EXPECT_EQ(unit->macOrNull(), nullptr);
  EXPECT_EQ(unit->node, 12);
  EXPECT_EQ(unit->group, "North");
  EXPECT_EQ(unit->version, "2.1");
  unit = discovery::UnitFromResponse(list.At(1));
  ASSERT_TRUE(unit.has_value());
  EXPECT_EQ(unit->group, "Solo");
  EXPECT_EQ(unit->version, "") << "no separator: an empty version";
  EXPECT_FALSE(discovery::UnitFromResponse(list.At(2)).has_value());
}

TEST(ResponseListTest, NodeBelowOneOrAnotherKindEntersNothing) {
  discovery::ResponseList list;
  Dispatch(list, Answer("10.0.0.7", 0, "G"));
  Dispatch(list, Answer("10.0.0.8", 0xFFFF, "G"));  // -1 as a signed value
  Dispatch(list, Answer("10.0.0.9", 0x7FFF, "G"));
  EXPECT_FALSE(discovery::UnitFromResponse(list.At(0)).has_value());
  EXPECT_FALSE(discovery::UnitFromResponse(list.At(1)).has_value());
  ASSERT_TRUE(discovery::UnitFromResponse(list.At(2)).has_value());
  EXPECT_EQ(discovery::UnitFromResponse(list.At(2))->node, 0x7FFF);
  discovery::Response other = *list.At(2);
  other.kind = 3;
  EXPECT_FALSE(discovery::UnitFromResponse(&other).has_value());
}

TEST(ResponseListTest, GroupAndVersionAreTakenFromAtMost255Characters) {
  discovery::ResponseList list;
  Dispatch(list, Answer("10.0.0.7", 1, std::string(100, 'g') + '\x1f' + std::string(300, 'v')));
  Dispatch(list, Answer("10.0.0.8", 1, std::string(300, 'g') + '\x1f' + "2.1"));
  std::optional<DiscoveredUnit> unit = discovery::UnitFromResponse(list.At(0));
  ASSERT_TRUE(unit.has_value());
  EXPECT_EQ(unit->group, std::string(100, 'g'));
  EXPECT_EQ(unit->version, std::string(154, 'v'));
  unit = discovery::UnitFromResponse(list.At(1));
  ASSERT_TRUE(unit.has_value());
  EXPECT_EQ(unit->group, std::string(255, 'g'));
  EXPECT_EQ(unit->version, "");
}

// The receive path of the device-link socket: what arrives is dispatched
// by the same rule, a full-size answer included.
TEST(DeviceLinkSocketTest, ReceivedDatagramsAreDispatched) {
  ZEQ_REQUIRE_NETNS();
  const discovery::DeviceLinkSocket deviceLink;
  ASSERT_TRUE(deviceLink.listening());
  const platform::SocketHandle unit = platform::OpenUdpSocket();
  ASSERT_NE(unit, platform::kInvalidSocket);
  Received full = Answer("10.0.0.7", 1, "G");
  std::memset(full.buffer.data() + discovery::kResponseMinimum, 'A', 1500 - 26);
  const Received second = Answer("10.0.0.8", 2, "G");
  const std::string foreign = "\x02\x02 not an answer, though long enough";
  const std::vector<std::pair<const void*, int>> datagrams = {
      {"", 0},
      {foreign.data(), static_cast<int>(foreign.size())},
      {full.buffer.data(), 1500},
      {second.buffer.data(), second.length}};
  std::vector<int> values;
  discovery::ResponseList list;
  for (const auto& [bytes, length] : datagrams) {
    ASSERT_EQ(platform::SendTo(unit, bytes, length, Address("127.0.0.1"), deviceLink.port()),
              length);
    ASSERT_EQ(platform::WaitReadable(deviceLink.handle(), 2000), 1);
    values.push_back(deviceLink.Receive(&list));
  }
  platform::CloseSocket(unit);
  EXPECT_EQ(values, (std::vector<int>{0, 0, 1, 2}));
  EXPECT_EQ(list.At(0)->text1, std::string(1500 - 26, 'A'));
  EXPECT_EQ(list.At(0)->text4, "");
}

}  // namespace
