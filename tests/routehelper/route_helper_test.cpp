// The route helper's request handling against a recording route table,
// broadcaster and output: the unit-route payload byte for byte, the
// forwarding row of an added route and the log line of a failed one, the
// removal, the requests that are skipped or ignored, and the message boxes
// of failed broadcasts. The same code runs in pathkeeper on both platforms.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "RouteHelper.h"
#include "UnitRouteRecord.h"
#include "VEVException.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingTable : public platform::RouteTable {
 public:
  std::uint32_t AdapterIndex(std::uint32_t address) override {
    return address == kKnownAddress ? 12 : platform::kNoInterfaceIndex;
  }
  std::uint32_t InterfaceMetric(std::uint32_t index) override { return index == 12 ? 25 : 0; }
  int CreateRoute(const platform::ForwardRow& row) override {
    created.push_back(row);
    return createResult;
  }
  void DeleteRoutes(std::uint32_t destination, std::uint32_t mask) override {
    deleted.emplace_back(destination, mask);
  }

  static constexpr std::uint32_t kKnownAddress = 0x0A01A8C0u;  // 192.168.1.10
  int createResult = 0;
  std::vector<platform::ForwardRow> created;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> deleted;
};

class RecordingBroadcaster : public UnitRouteBroadcaster {
 public:
  void Broadcast(const ZEQ::UDPPacketBuffer& payload) override {
    if (fails) throw VEVException("broadcaster -> WSAIoctl failed (10022)");
    const auto* bytes = static_cast<const std::uint8_t*>(static_cast<const void*>(payload));
    sent.emplace_back(bytes, bytes + payload.getSize());
  }
  bool fails = false;
  std::vector<Bytes> sent;
};

class RecordingOutput : public RouteHelperOutput {
 public:
  void ShowMessage(const char* caption, const char* text) override {
    messages.push_back(std::string(caption) + "|" + text);
  }
  void Log(const char* line) override { log += line; }
  std::vector<std::string> messages;
  std::string log;
};

const std::uint8_t kMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr std::uint32_t kUnit = 0x0700090Au;     // 10.9.0.7
constexpr std::uint32_t kGateway = 0x0101A8C0u;  // 192.168.1.1

// The payload for MAC 00:11:22:33:44:55, mode 0 and 10.0.0.5.
const Bytes kAnnouncePayload = {
    0x02, 0x00, 0x01, 0x00, 0x00,                                                  // word, mode
    0x41, 0x00, 0x06, 0x00, 'M',  'A',  'C',  0x00,                                // "MAC"
    0x03, 0x00, 'M',  'o',  'd',  'e',  0x00,                                      // "Mode"
    0x41, 0x00, 0x04, 0x00, 'R',  'e',  'm',  'o',  't',  'e',  'I',  'P',  0x00,  // "RemoteIP"
    0x00, 0x00,                                                                    // end
    0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x05};

class RouteHelperTest : public testing::Test {
 protected:
  void Handle(const RouteRequest& request) { helper_.Handle(request); }

  RecordingTable table_;
  RecordingBroadcaster broadcaster_;
  RecordingOutput output_;
  RouteHelper helper_{table_, broadcaster_, output_};
};

TEST(UnitRouteRecordTest, AnnouncementIsTheFortyNineBytePayload) {
  ZEQ::UDPPacketBuffer payload;
  ASSERT_TRUE(BuildUnitRoutePayload(kMac, UnitRouteMode::kAnnounce, 0x0500000Au, payload));
  const auto* bytes = static_cast<const std::uint8_t*>(static_cast<const void*>(payload));
  EXPECT_EQ(Bytes(bytes, bytes + payload.getSize()), kAnnouncePayload);
}

TEST_F(RouteHelperTest, UnitRouteCommandsBroadcastModeZeroAndOne) {
  Handle(RouteRequest::UnitRoute(RouteCommand::kAnnounceUnitRoute, 0x0500000Au, kMac));
  Handle(RouteRequest::UnitRoute(RouteCommand::kWithdrawUnitRoute, 0x0500000Au, kMac));
  ASSERT_EQ(broadcaster_.sent.size(), 2u);
  EXPECT_EQ(broadcaster_.sent[0], kAnnouncePayload);
  Bytes withdraw = kAnnouncePayload;
  withdraw[41] = 0x01;
  EXPECT_EQ(broadcaster_.sent[1], withdraw);
  EXPECT_TRUE(output_.messages.empty());
}

TEST_F(RouteHelperTest, FailedBroadcastShowsItsMessageAndTheHelperGoesOn) {
  broadcaster_.fails = true;
  Handle(RouteRequest::UnitRoute(RouteCommand::kAnnounceUnitRoute, 0x0500000Au, kMac));
  Handle(RouteRequest::UnitRoute(RouteCommand::kWithdrawUnitRoute, 0x0500000Au, kMac));
  EXPECT_EQ(output_.messages,
            (std::vector<std::string>{"|Cannot add route", "|Cannot remove route"}));
}

TEST_F(RouteHelperTest, AddedRouteIsTheDirectRowWithTheInterfacesIndexAndMetric) {
  Handle(RouteRequest::HostRoute(RouteCommand::kAddHostRoute, kUnit, kHostRouteMask, kGateway,
                                 RecordingTable::kKnownAddress));
  ASSERT_EQ(table_.created.size(), 1u);
  const platform::ForwardRow& row = table_.created[0];
  EXPECT_EQ(row.destination, kUnit);
  EXPECT_EQ(row.mask, kHostRouteMask);
  EXPECT_EQ(row.policy, 0u);
  EXPECT_EQ(row.nextHop, kGateway);
  EXPECT_EQ(row.interfaceIndex, 12u);
  EXPECT_EQ(row.type, 3u);
  EXPECT_EQ(row.protocol, 3u);
  EXPECT_EQ(row.age, 15130u);
  EXPECT_EQ(row.nextHopAs, 0u);
  EXPECT_EQ(row.metric1, 25u);
  EXPECT_EQ(row.metric2, 0xFFFFFFFFu);
  EXPECT_EQ(row.metric3, 0xFFFFFFFFu);
  EXPECT_EQ(row.metric4, 0xFFFFFFFFu);
  EXPECT_EQ(row.metric5, 0xFFFFFFFFu);
  EXPECT_EQ(output_.log, "");
}

TEST_F(RouteHelperTest, FailedAddIsLoggedWithCodeInterfaceAndMetric) {
  table_.createResult = 87;
  Handle(RouteRequest::HostRoute(RouteCommand::kAddHostRoute, kUnit, kHostRouteMask, kGateway,
                                 0x0910AC0Au));
  ASSERT_EQ(table_.created.size(), 1u);
  EXPECT_EQ(table_.created[0].interfaceIndex, 0xFFFFFFFFu);
  EXPECT_EQ(output_.log, "Could not add route 87 interface num 4294967295 metric 0\n");
  EXPECT_TRUE(output_.messages.empty());
}

TEST_F(RouteHelperTest, RemoveAsksForEveryRowOfDestinationAndMask) {
  Handle(RouteRequest::HostRoute(RouteCommand::kRemoveHostRoute, kUnit, kHostRouteMask, 0, 0));
  EXPECT_EQ(table_.deleted,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{kUnit, kHostRouteMask}}));
  EXPECT_EQ(output_.log, "");
}

TEST_F(RouteHelperTest, RequestsForAnythingButAHostRouteAreLoggedAndSkipped) {
  Handle(RouteRequest::HostRoute(RouteCommand::kRemoveHostRoute, 0, 0, 0, 0));
  Handle(RouteRequest::HostRoute(RouteCommand::kAddHostRoute, 0x0000A8C0u, 0x00FFFFFFu, kGateway,
                                 RecordingTable::kKnownAddress));
  EXPECT_TRUE(table_.deleted.empty());
  EXPECT_TRUE(table_.created.empty());
  EXPECT_EQ(output_.log,
            "Skipped route request 0 for 0.0.0.0 mask 0.0.0.0: not a host route\n"
            "Skipped route request 1 for 192.168.0.0 mask 255.255.255.0: not a host route\n");
}

TEST_F(RouteHelperTest, ServeHandlesEachRequestUntilTheReadFailsAndIgnoresOtherCommands) {
  std::vector<RouteRequest> requests = {
      RouteRequest::HostRoute(7, kUnit, kHostRouteMask, kGateway, 0),
      RouteRequest::HostRoute(RouteCommand::kRemoveHostRoute, kUnit, kHostRouteMask, 0, 0),
      RouteRequest::UnitRoute(RouteCommand::kAnnounceUnitRoute, 0x0500000Au, kMac)};
  std::size_t next = 0;
  helper_.Serve([&](std::uint8_t(&bytes)[RouteRequest::kBytes]) {
    if (next == requests.size()) return false;
    requests[next++].Encode(bytes);
    return true;
  });
  EXPECT_EQ(next, requests.size());
  EXPECT_EQ(table_.deleted.size(), 1u);
  EXPECT_TRUE(table_.created.empty());
  EXPECT_EQ(broadcaster_.sent.size(), 1u);
  EXPECT_EQ(output_.log, "");
}

}  // namespace
