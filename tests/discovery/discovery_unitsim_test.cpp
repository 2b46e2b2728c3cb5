// Both discovery paths against simulated units on the loopback network: the
// record query's broadcast and the replies taken apart into the values the
// device table gets, and a probe run whose answers reach the device-link
// socket, are received and stored once per unit and numbered.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DeviceLinkProbe.h"
#include "DeviceLinkSocket.h"
#include "DiscoveryTestSupport.h"
#include "RecordQuery.h"
#include "ResponseList.h"
#include "UDPSender.h"
#include "UnitSim.h"

namespace {

using discoverytest::Hex;
using testsupport::SimUnit;
using udptest::Address;

class DiscoveryUnitSimTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
  }
  testsupport::UnitSim sim;
};

TEST_F(DiscoveryUnitSimTest, QueryRepliesGiveEachUnitsValues) {
  sim.AddUnit(SimUnit("127.0.0.2")
                  .Node(7)
                  .Group("North")
                  .Version("2.1")
                  .Mac("00:11:22:33:44:55")
                  .Gateway("10.0.0.1"));
  sim.AddUnit(SimUnit("127.0.0.3").Node(-3).Group("South"));
  sim.AddUnit(SimUnit("127.0.0.4").Knob("no-query"));
  ASSERT_TRUE(sim.Start()) << sim.Error();
  udptest::DatagramCapture receiver(discovery::kRecordPort);
  ASSERT_TRUE(receiver.IsOpen());
  ZEQ::UDPSender sender(discovery::kRecordPort, false);
  ASSERT_TRUE(discovery::SendRecordQuery(&sender));
  std::map<std::uint32_t, DiscoveredUnit> units;
  int ignored = 0;
  for (const udptest::Datagram& datagram : receiver.Collect(1000)) {
    const std::optional<DiscoveredUnit> unit = discovery::ParseDiscoveryReply(
        datagram.bytes.data(), static_cast<int>(datagram.bytes.size()));
    if (unit.has_value())
      units[unit->address] = *unit;
    else
      ++ignored;
  }
  EXPECT_EQ(ignored, 1) << "the installer's own query, heard back";
  ASSERT_EQ(units.size(), 2u);
  const DiscoveredUnit& north = units[Address("127.0.0.2")];
  EXPECT_EQ(north.gateway, Address("10.0.0.1"));
  EXPECT_EQ(north.reachedFrom, Address("127.0.0.1"));
  EXPECT_EQ(Hex(north.macOrNull(), 6), "00 11 22 33 44 55");
  EXPECT_EQ(north.node, 7);
  EXPECT_EQ(north.group, "North");
  EXPECT_EQ(north.version, "2.1");
  const DiscoveredUnit& south = units[Address("127.0.0.3")];
  EXPECT_EQ(south.gateway, 0u);
  EXPECT_EQ(south.reachedFrom, Address("127.0.0.1"));
  EXPECT_EQ(Hex(south.macOrNull(), 6), "02 00 7F 00 00 03");
  EXPECT_EQ(south.node, -3);
  EXPECT_EQ(south.group, "South");
  EXPECT_EQ(south.version, "Unknown");
  EXPECT_TRUE(sim.WaitForEvent("silent", "127.0.0.4", 2000));
}

// Receives what the units sent to the device-link socket as the interface
// does on each read notification; the notification values in arrival order.
std::vector<int> ReceiveAnswers(const discovery::DeviceLinkSocket& deviceLink,
                                discovery::ResponseList& list) {
  std::vector<int> values;
  while (platform::WaitReadable(deviceLink.handle(), 500) == 1) {
    values.push_back(deviceLink.Receive(&list));
  }
  return values;
}

TEST_F(DiscoveryUnitSimTest, ProbeAnswersAreStoredOncePerUnit) {
  sim.AddUnit(SimUnit("127.0.0.2").Node(5).Group("North").Version("2.1"));
  sim.AddUnit(SimUnit("127.0.0.3").Node(6).Group("South"));
  sim.AddUnit(SimUnit("127.0.0.4").Knob("no-probe"));
  ASSERT_TRUE(sim.Start()) << sim.Error();
  discoverytest::ScratchFolder folder("discovery-unitsim-probe");
  folder.Write("tarvo_ip_list.txt", "127.0.0.2\n127.0.0.3\n127.0.0.4\n");
  const discovery::DeviceLinkSocket deviceLink;
  ASSERT_TRUE(deviceLink.listening());
  EXPECT_NE(deviceLink.port(), 0);
  EXPECT_EQ(deviceLink.address(), discovery::OwnHostAddress());
  // The units answer to the address the probe names: this computer's first
  // address, which must be one of this namespace's.
  const std::uint8_t firstOctet = deviceLink.address() & 0xFF;
  if (deviceLink.address() != 0 && firstOctet != 127) {
    GTEST_SKIP() << "this computer's name resolves outside the loopback network";
  }
  discovery::ResponseList list;
  ASSERT_EQ(deviceLink.SendProbe(), 1);
  const std::vector<int> first = ReceiveAnswers(deviceLink, list);
  EXPECT_EQ(first, (std::vector<int>{1, 2}));
  ASSERT_EQ(list.count(), 2);
  std::map<std::uint32_t, DiscoveredUnit> units;
  for (const int value : first) {
    const std::optional<DiscoveredUnit> unit = discovery::UnitFromResponse(list.At(value - 1));
    ASSERT_TRUE(unit.has_value());
    units[unit->address] = *unit;
  }
  EXPECT_EQ(units[Address("127.0.0.2")].node, 5);
  EXPECT_EQ(units[Address("127.0.0.2")].group, "North");
  EXPECT_EQ(units[Address("127.0.0.2")].version, "2.1");
  EXPECT_EQ(units[Address("127.0.0.3")].node, 6);
  EXPECT_EQ(units[Address("127.0.0.3")].group, "South");
  EXPECT_EQ(units[Address("127.0.0.3")].version, "");
  // A second run, as after "Rescan": the answers replace the stored ones.
  ASSERT_EQ(deviceLink.SendProbe(), 1);
  EXPECT_EQ(ReceiveAnswers(deviceLink, list), (std::vector<int>{0, 0}));
  EXPECT_EQ(list.count(), 2);
  EXPECT_TRUE(sim.WaitForEvent("silent", "127.0.0.4", 2000));
}

}  // namespace
