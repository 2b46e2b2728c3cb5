// Unit-route broadcasts on UDP 55330: the documented record, sent as the
// route helper sends it, is decoded and logged; a broken one is logged as
// such.
#include <gtest/gtest.h>

#include "SimTest.h"

namespace simtest {
namespace {

// The 49-byte payload for MAC 00:11:22:33:44:55, the mode and 10.0.0.5.
std::string RouteRecord(int mode) {
  return Bytes({0x02, 0x00, 0x01, 0x00, 0x00}) +
         Bytes({0x41, 0x00, 0x06, 0x00, 'M', 'A',  'C',  0,    0x03, 0x00,
                'M',  'o',  'd',  'e',  0,   0x41, 0x00, 0x04, 0x00, 'R',
                'e',  'm',  'o',  't',  'e', 'I',  'P',  0,    0x00, 0x00}) +
         Bytes({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, mode, 0, 0, 0, 10, 0, 0, 5});
}

// An IPv4 packet with the given source and destination, as a raw sender with
// its own header builds it (checksums are filled in by the kernel or not
// checked on loopback).
std::string Ipv4Udp(const char* source, const char* destination, const std::string& payload) {
  const int total = 20 + 8 + static_cast<int>(payload.size());
  std::string packet = Bytes({0x45, 0, total >> 8, total & 0xFF, 0, 1, 0, 0, 1, 17, 0, 0});
  const std::uint32_t from = Ip(source);
  const std::uint32_t to = Ip(destination);
  packet += std::string(reinterpret_cast<const char*>(&from), 4);
  packet += std::string(reinterpret_cast<const char*>(&to), 4);
  const int udpLength = 8 + static_cast<int>(payload.size());
  packet += Bytes({0xD8, 0x22, 0xD8, 0x22, udpLength >> 8, udpLength & 0xFF, 0, 0});
  return packet + payload;
}

class RouteTest : public SimTest {};

TEST_F(RouteTest, DocumentedRecordIsLoggedForTheUnitWithThatMac) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2"), SimUnit("127.0.0.3").Mac("00:11:22:33:44:55")}))
      << sim.Error();
  ASSERT_EQ(RouteRecord(0).size(), 49u);
  Udp sender;
  ASSERT_TRUE(sender.SendTo(RouteRecord(0), "127.255.255.255", 55330));
  testsupport::SimEvent route;
  ASSERT_TRUE(sim.WaitForEvent("route", "", 3000, &route));
  EXPECT_TRUE(route.Bool("ok")) << route.line;
  EXPECT_EQ(route.unit(), "127.0.0.3");
  EXPECT_EQ(route.Str("MAC"), "00:11:22:33:44:55");
  EXPECT_EQ(route.Int("Mode"), 0);
  EXPECT_EQ(route.Str("RemoteIP"), "10.0.0.5");
  EXPECT_EQ(route.Str("names"), "MAC,Mode,RemoteIP");
  EXPECT_TRUE(sim.Events("query").empty()) << "a route record is no query";
}

TEST_F(RouteTest, RawBroadcastToTheLimitedAddressIsHeard) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Mac("00:11:22:33:44:55")})) << sim.Error();
  const platform::SocketHandle raw = platform::OpenRawUdpSocket();
  ASSERT_NE(raw, platform::kInvalidSocket);
  platform::SetHeaderIncluded(raw, true);
  platform::SetBroadcast(raw, true);
  const std::string packet = Ipv4Udp("127.0.0.1", "255.255.255.255", RouteRecord(1));
  // Sent to the subnet's broadcast address, addressed to 255.255.255.255.
  EXPECT_EQ(platform::SendTo(raw, packet.data(), static_cast<int>(packet.size()),
                             Ip("127.255.255.255"), 0),
            static_cast<int>(packet.size()));
  platform::CloseSocket(raw);
  testsupport::SimEvent route;
  ASSERT_TRUE(sim.WaitForEvent("route", "127.0.0.2", 3000, &route));
  EXPECT_EQ(route.Int("Mode"), 1);
  EXPECT_EQ(route.Str("via"), "255.255.255.255");
  EXPECT_EQ(route.Str("from"), "127.0.0.1:55330");
}

TEST_F(RouteTest, BrokenRecordIsLoggedWithItsProblem) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  Udp sender;
  std::string shortMac = RouteRecord(0);
  shortMac[7] = 0x05;  // declared size 5 for "MAC"
  ASSERT_TRUE(sender.SendTo(shortMac, "127.0.0.2", 55330));
  testsupport::SimEvent route;
  ASSERT_TRUE(sim.WaitForEvent("route", "", 3000, &route));
  EXPECT_FALSE(route.Bool("ok"));
  EXPECT_EQ(route.Str("problem"), "no 6-byte MAC");
  EXPECT_EQ(route.unit(), "");
}

}  // namespace
}  // namespace simtest
