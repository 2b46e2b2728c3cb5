// The Linux route helper against the kernel, as root inside the test's own
// network namespace with two veth links (192.168.1.10/24 on zeq0, 10.0.0.5/8
// on zeq1): host routes added and removed through the channel and the real
// pathkeeper, checked with `ip -4 route show table main`, and routes that
// are not the helper's left alone; the failure log of an address that
// belongs to no adapter; the unit-route broadcasts on the wire; and a helper
// refusing a pipe that the installer does not serve.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../../general/udp_test_network.h"
#include "../HelperFolder.h"
#include "RouteRequestChannel.h"
#include "SystemRoutes.h"
#include "platform/Process.h"
#include "platform/RequestPipe.h"

namespace {

using systemroutes::Routes;
using systemroutes::RunHelper;
using udptest::Address;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::uint8_t kMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

class RouteTableTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_LINKS("192.168.1.10/24 10.0.0.5/8", "192.168.1.10");
    folder_ = std::make_unique<HelperFolder>();
    channel_ = std::make_unique<RouteRequestChannel>();
  }
  void TearDown() override {
    channel_.reset();
    folder_.reset();
  }

  // A flush returns once the helper has read a request, not once it has
  // carried it out; the helper reads the next one only after that, so one
  // more (harmless) request settles everything before it.
  void Settle() { ASSERT_NE(channel_->RemoveHostRoute(Address("10.99.99.99"), kHostRouteMask), 0); }

  std::unique_ptr<HelperFolder> folder_;
  std::unique_ptr<RouteRequestChannel> channel_;
};

// The helper carries out the removals written at exit after the channel is
// gone; waits until the table no longer holds `part` (or ten seconds pass).
bool RoutesLoseWithin10s(const std::string& part) {
  for (int i = 0; i < 200 && Contains(Routes(), part); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return !Contains(Routes(), part);
}

TEST_F(RouteTableTest, AddPutsAHostRouteWithGatewayAndInterface) {
  ASSERT_NE(channel_->AddHostRoute(Address("10.9.0.7"), kHostRouteMask, Address("192.168.1.1"),
                                   Address("192.168.1.10")),
            0);
  ASSERT_NE(channel_->AddHostRoute(Address("10.9.0.8"), kHostRouteMask, Address("10.0.0.5"),
                                   Address("10.0.0.5")),
            0);
  Settle();
  const std::string routes = Routes();
  EXPECT_TRUE(Contains(routes, "10.9.0.7 via 192.168.1.1 dev zeq0 proto 142")) << routes;
  // A next hop that is the interface's own address means "on the link".
  EXPECT_TRUE(Contains(routes, "10.9.0.8 dev zeq1 proto 142 scope link")) << routes;
  EXPECT_EQ(folder_->Log(), "");
  // At exit the channel removes both again.
  channel_.reset();
  EXPECT_TRUE(RoutesLoseWithin10s("10.9.0.")) << Routes();
}

// An administrator's routes to a unit's address, a blackhole among them,
// are not the helper's: a remove leaves them, also when the helper's own add
// failed because one of them was there.
TEST_F(RouteTableTest, RemoveDeletesOnlyTheRowTheHelperAdded) {
  ASSERT_EQ(std::system("ip route add 10.9.0.7/32 via 192.168.1.2 dev zeq0 &&"
                        "ip route add blackhole 10.9.0.9/32 &&"
                        "ip route add 10.9.0.8/32 via 10.0.0.9 dev zeq1 metric 7"),
            0);
  const std::string before = Routes();
  ASSERT_NE(channel_->AddHostRoute(Address("10.9.0.7"), kHostRouteMask, Address("192.168.1.1"),
                                   Address("192.168.1.10")),
            0);
  ASSERT_NE(channel_->AddHostRoute(Address("10.9.0.8"), kHostRouteMask, Address("192.168.1.1"),
                                   Address("192.168.1.10")),
            0);
  Settle();
  EXPECT_TRUE(Contains(Routes(), "10.9.0.8 via 192.168.1.1 dev zeq0 proto 142")) << Routes();
  for (const char* unit : {"10.9.0.7", "10.9.0.8", "10.9.0.9"}) {
    ASSERT_NE(channel_->RemoveHostRoute(Address(unit), kHostRouteMask), 0);
  }
  Settle();
  EXPECT_EQ(Routes(), before);
}

TEST_F(RouteTableTest, RemovingAMissingRouteChangesNothing) {
  ASSERT_EQ(std::system("ip route add 10.9.0.0/24 via 192.168.1.1 dev zeq0"), 0);
  const std::string before = Routes();
  ASSERT_NE(channel_->RemoveHostRoute(Address("10.9.0.99"), kHostRouteMask), 0);
  Settle();
  EXPECT_EQ(Routes(), before);
  EXPECT_EQ(folder_->Log(), "");
}

TEST_F(RouteTableTest, RequestForAnythingButAHostRouteCannotTouchTheDefaultRoute) {
  ASSERT_EQ(std::system("ip route add default via 192.168.1.1"), 0);
  const std::string before = Routes();
  ASSERT_NE(channel_->RemoveHostRoute(0, 0), 0);
  Settle();
  EXPECT_EQ(Routes(), before);
  EXPECT_EQ(folder_->Log(), "Skipped route request 0 for 0.0.0.0 mask 0.0.0.0: not a host route\n");
}

TEST_F(RouteTableTest, AddressOfNoAdapterGivesTheNoInterfaceIndexInTheLog) {
  ASSERT_NE(channel_->AddHostRoute(Address("10.9.0.7"), kHostRouteMask, Address("192.168.1.1"),
                                   Address("172.16.9.9")),
            0);
  Settle();
  const std::string log = folder_->Log();
  EXPECT_EQ(log.rfind("Could not add route ", 0), 0u) << log;
  EXPECT_TRUE(Contains(log, " interface none metric 0\n")) << log;
  EXPECT_FALSE(Contains(Routes(), "10.9.0.7")) << Routes();
}

// One raw datagram per interface, from that interface's address to
// 255.255.255.255, ports 55330, time-to-live 1, the 49-byte payload.
TEST_F(RouteTableTest, UnitRouteBroadcastLeavesEveryInterfaceByteForByte) {
  udptest::PacketCapture capture(55330);
  ASSERT_TRUE(capture.IsOpen());
  ASSERT_EQ(channel_->EnsureHelper(), 1);
  capture.CollectPackets();  // the helper's start-up announcement
  ASSERT_NE(channel_->AnnounceUnitRoute(Address("10.0.0.5"), kMac), 0);
  const std::vector<udptest::Datagram> packets = capture.CollectPackets();
  const std::vector<std::uint8_t> payload = {
      0x02, 0x00, 0x01, 0x00, 0x00, 0x41, 0x00, 0x06, 0x00, 'M',  'A',  'C',  0x00,
      0x03, 0x00, 'M',  'o',  'd',  'e',  0x00, 0x41, 0x00, 0x04, 0x00, 'R',  'e',
      'm',  'o',  't',  'e',  'I',  'P',  0x00, 0x00, 0x00, 0x00, 0x11, 0x22, 0x33,
      0x44, 0x55, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x05};
  std::vector<std::string> sources;
  for (const udptest::Datagram& packet : packets) {
    ASSERT_EQ(packet.bytes.size(), 28u + payload.size());
    sources.push_back(udptest::Text(udptest::SourceOf(packet)));
    EXPECT_EQ(udptest::Text(udptest::DestinationOf(packet)), "255.255.255.255");
    EXPECT_EQ(packet.bytes[8], 1) << "time-to-live";
    EXPECT_EQ(udptest::BigEndian16(&packet.bytes[20]), 55330);
    EXPECT_EQ(udptest::BigEndian16(&packet.bytes[22]), 55330);
    EXPECT_EQ(std::vector<std::uint8_t>(packet.bytes.begin() + 28, packet.bytes.end()), payload);
  }
  EXPECT_EQ(sources, (std::vector<std::string>{"10.0.0.5", "192.168.1.10", "127.0.0.1"}));
}

TEST_F(RouteTableTest, HelperRefusesAPipeServedByAnotherProcess) {
  // This process serves the name; the helper is told to expect another.
  const unsigned long number = 930000 + platform::CurrentProcessId() % 1000;
  auto server = platform::MakeRequestPipeServer();
  ASSERT_EQ(server->Create(number, ""), 0);
  EXPECT_EQ(RunHelper({std::to_string(number)}), 1);
  EXPECT_EQ(folder_->Log(),
            "Could not open named pipe zeq" + std::to_string(number) + ", error = 5\n");
}

// A helper given only a process id serves the plain name of that id, as
// long as that process is its parent.
TEST_F(RouteTableTest, HelperGivenTheProcessIdAloneServesThePlainName) {
  const unsigned long self = platform::CurrentProcessId();
  auto server = platform::MakeRequestPipeServer();
  ASSERT_EQ(server->Create(self, ""), 0);
  platform::ProcessHandle* helper =
      platform::StartProcess("./pathkeeper", {std::to_string(self)}, nullptr);
  ASSERT_NE(helper, nullptr);
  int connected = 0;
  for (int i = 0; i < 100 && connected != 1; ++i) {
    connected = server->WaitForClient(platform::ProcessIdOf(helper), 100);
  }
  EXPECT_EQ(connected, 1);
  std::uint8_t add[RouteRequest::kBytes];
  RouteRequest::HostRoute(RouteCommand::kAddHostRoute, Address("10.9.0.7"), kHostRouteMask,
                          Address("192.168.1.1"), Address("192.168.1.10"))
      .Encode(add);
  ASSERT_EQ(server->Write(add, RouteRequest::kBytes), RouteRequest::kBytes);
  server->Close();  // the helper removes its route when the pipe closes
  EXPECT_EQ(platform::WaitProcess(helper, 10000), 1);
  platform::CloseProcess(helper);
  EXPECT_FALSE(Contains(Routes(), "10.9.0.7")) << Routes();
  EXPECT_EQ(folder_->Log(), "Removed route 10.9.0.7 via 192.168.1.1 at close: done\n");
}

TEST_F(RouteTableTest, HelperWithoutArgumentAnnouncesAndEndsAtOnce) {
  udptest::DatagramCapture capture(55330);
  EXPECT_EQ(RunHelper({}), 0);
  const std::vector<udptest::Datagram> received = capture.Collect();
  ASSERT_EQ(received.size(), 3u);
  // MAC 01:01:01:01:01:01, mode 0, address 4.3.2.1.
  EXPECT_EQ(std::vector<std::uint8_t>(received[0].bytes.begin() + 35, received[0].bytes.end()),
            (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 4, 3, 2, 1}));
}

}  // namespace
