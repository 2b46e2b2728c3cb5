// The route helper's request handling against a recording route table,
// broadcaster and output: the unit-route payload byte for byte, the
// forwarding row of an added route and the log line of a failed one, the
// removal of the helper's own rows only (and of all of them when the pipe
// closes), the requests that are skipped or ignored, and the message boxes
// of failed broadcasts. The same code runs in pathkeeper on both platforms.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "HelperTrust.h"
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
  bool IsLocalAddress(std::uint32_t address) override { return address == kKnownAddress; }
  std::uint32_t InterfaceMetric(std::uint32_t index) override { return index == 12 ? 25 : 0; }
  int CreateRoute(const platform::ForwardRow& row) override {
    created.push_back(row);
    return createResult;
  }
  int DeleteRoute(const platform::ForwardRow& row) override {
    deleted.push_back(row.destination);
    return 0;
  }

  static constexpr std::uint32_t kKnownAddress = 0x0A01A8C0u;  // 192.168.1.10
  int createResult = 0;
  std::vector<platform::ForwardRow> created;
  std::vector<std::uint32_t> deleted;
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
  EXPECT_EQ(output_.log, platform::RouteAddFailureLine(87, platform::kNoInterfaceIndex, 0));
  EXPECT_TRUE(output_.messages.empty());
}

RouteRequest AddRequest(std::uint32_t destination) {
  return RouteRequest::HostRoute(RouteCommand::kAddHostRoute, destination, kHostRouteMask, kGateway,
                                 RecordingTable::kKnownAddress);
}

RouteRequest RemoveRequest(std::uint32_t destination) {
  return RouteRequest::HostRoute(RouteCommand::kRemoveHostRoute, destination, kHostRouteMask, 0, 0);
}

TEST_F(RouteHelperTest, RemoveDeletesOnlyTheRowTheHelperAddedAndOnlyOnce) {
  Handle(RemoveRequest(kUnit));  // never added here: somebody else's route
  EXPECT_TRUE(table_.deleted.empty());
  Handle(AddRequest(kUnit));
  Handle(RemoveRequest(kUnit));
  Handle(RemoveRequest(kUnit));  // the installer's second removal at exit
  EXPECT_EQ(table_.deleted, std::vector<std::uint32_t>{kUnit});
  EXPECT_EQ(helper_.AddedRouteCount(), 0u);
  EXPECT_EQ(output_.log, "");
}

TEST_F(RouteHelperTest, AnAddThatFailedLeavesNothingToRemove) {
  table_.createResult = 5010;  // the route is there already
  Handle(AddRequest(kUnit));
  Handle(RemoveRequest(kUnit));
  EXPECT_TRUE(table_.deleted.empty());
}

TEST_F(RouteHelperTest, RoutesStillAddedWhenThePipeClosesAreRemovedAndLogged) {
  const std::vector<RouteRequest> requests = {AddRequest(kUnit), AddRequest(0x0800090Au),
                                              RemoveRequest(kUnit)};
  std::size_t next = 0;
  helper_.Serve([&](std::uint8_t(&bytes)[RouteRequest::kBytes]) {
    if (next == requests.size()) return false;
    requests[next++].Encode(bytes);
    return true;
  });
  EXPECT_EQ(table_.deleted, (std::vector<std::uint32_t>{kUnit, 0x0800090Au}));
  EXPECT_EQ(output_.log, "Removed route 10.9.0.8 via 192.168.1.1 at close: done\n");
}

TEST_F(RouteHelperTest, RoutesToAddressesNoUnitCanHaveAreSkipped) {
  for (const std::uint32_t destination :
       {0x00000000u, 0x05000000u, 0x0200007Fu, 0xFFFFFFFFu, 0x010000E0u, 0x050000F0u,
        RecordingTable::kKnownAddress}) {
    Handle(AddRequest(destination));
  }
  EXPECT_TRUE(table_.created.empty());
  EXPECT_EQ(output_.log,
            "Skipped route request 1 for 0.0.0.0 mask 255.255.255.255: not a unit's address\n"
            "Skipped route request 1 for 0.0.0.5 mask 255.255.255.255: not a unit's address\n"
            "Skipped route request 1 for 127.0.0.2 mask 255.255.255.255: not a unit's address\n"
            "Skipped route request 1 for 255.255.255.255 mask 255.255.255.255: not a unit's "
            "address\n"
            "Skipped route request 1 for 224.0.0.1 mask 255.255.255.255: not a unit's address\n"
            "Skipped route request 1 for 240.0.0.5 mask 255.255.255.255: not a unit's address\n"
            "Skipped route request 1 for 192.168.1.10 mask 255.255.255.255: an address of this "
            "computer\n");
}

TEST_F(RouteHelperTest, NoMoreThanTheLimitOfRoutesIsKept) {
  for (std::uint32_t i = 0; i <= kMaxHelperRoutes; ++i) {
    Handle(AddRequest(0x0000000Bu | (i + 1) << 8));  // 11.x.y.0 and up
  }
  EXPECT_EQ(table_.created.size(), kMaxHelperRoutes);
  EXPECT_EQ(helper_.AddedRouteCount(), kMaxHelperRoutes);
  EXPECT_EQ(output_.log.find("Skipped route request 1 for 11.1.16.0 mask 255.255.255.255: "
                             "too many routes\n"),
            0u)
      << output_.log;
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
  EXPECT_TRUE(table_.deleted.empty());  // nothing of the helper's to remove
  EXPECT_TRUE(table_.created.empty());
  EXPECT_EQ(broadcaster_.sent.size(), 1u);
  EXPECT_EQ(output_.log, "");
}

}  // namespace

namespace {

bool Parses(std::vector<const char*> arguments, HelperArguments* parsed) {
  return ParseHelperArguments(static_cast<int>(arguments.size()), arguments.data(), parsed);
}

TEST(HelperArgumentsTest, OnlyDigitsAndALowercaseHexKeyAreRead) {
  HelperArguments parsed;
  ASSERT_TRUE(Parses({}, &parsed));
  EXPECT_FALSE(parsed.hasInstaller);
  ASSERT_TRUE(Parses({"4120"}, &parsed));
  EXPECT_TRUE(parsed.hasInstaller);
  EXPECT_EQ(parsed.installerId, 4120u);
  EXPECT_EQ(parsed.pipeKey, "");
  ASSERT_TRUE(Parses({"4294967295", "0123456789abcdef"}, &parsed));
  EXPECT_EQ(parsed.installerId, 4294967295u);
  EXPECT_EQ(parsed.pipeKey, "0123456789abcdef");
  for (const char* id : {"", "abc", "-1", "+1", "0", "4294967296", "99999999999", "1 2", "0x10"}) {
    EXPECT_FALSE(Parses({id}, &parsed)) << '"' << id << '"';
  }
  for (const char* key : {"", "ABC", "g", "../pipe", "ab cd"}) {
    EXPECT_FALSE(Parses({"12", key}, &parsed)) << '"' << key << '"';
  }
  const std::string longKey(65, 'a');
  EXPECT_FALSE(Parses({"12", longKey.c_str()}, &parsed));
  EXPECT_FALSE(Parses({"12", "ab", "cd"}, &parsed));
}

// The server must be the installer the helper was told of, be its parent,
// run as the user who asked for it and be older than the helper. Each fact
// missing on its own is enough to refuse.
TEST(HelperTrustTest, OnlyTheParentInstallerOfTheRightUserStartedFirstIsObeyed) {
  platform::PipeServerFacts installer;
  installer.processId = installer.parentId = 4120;
  installer.expectedUser = installer.startedFirst = true;
  EXPECT_TRUE(IsTrustedPipeServer(installer, 4120));
  EXPECT_FALSE(IsTrustedPipeServer(installer, 4121));

  platform::PipeServerFacts notParent = installer;
  notParent.parentId = 1;  // the installer ended, the helper was reparented
  platform::PipeServerFacts otherUser = installer;
  otherUser.expectedUser = false;
  platform::PipeServerFacts younger = installer;  // took a dead installer's id
  younger.startedFirst = false;
  platform::PipeServerFacts otherNamespace = installer;
  otherNamespace.processId = otherNamespace.parentId = 0;
  for (const auto& facts : {notParent, otherUser, younger}) {
    EXPECT_FALSE(IsTrustedPipeServer(facts, 4120));
  }
  EXPECT_FALSE(IsTrustedPipeServer(otherNamespace, 0));
}

}  // namespace
