// The 24-byte route request of each command, byte for byte, and its decoding
// as the helper reads it.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "RouteRequest.h"

namespace {

std::vector<std::uint8_t> Encoded(const RouteRequest& request) {
  std::uint8_t bytes[RouteRequest::kBytes];
  request.Encode(bytes);
  return std::vector<std::uint8_t>(bytes, bytes + RouteRequest::kBytes);
}

// 10.1.2.3 and friends as 32-bit values in network byte order.
constexpr std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a | b << 8 | c << 16 | d << 24);
}

const std::uint8_t kMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

TEST(RouteRequestTest, AddHostRouteCarriesAllFourAddresses) {
  const RouteRequest request =
      RouteRequest::HostRoute(RouteCommand::kAddHostRoute, Ip(10, 1, 2, 3), kHostRouteMask,
                              Ip(192, 168, 1, 1), Ip(192, 168, 1, 10));
  EXPECT_EQ(Encoded(request),
            (std::vector<std::uint8_t>{1,   0,   0, 0, 10, 1, 2, 3, 255, 255, 255, 255,
                                       192, 168, 1, 1, 0,  0, 0, 0, 192, 168, 1,   10}));
}

TEST(RouteRequestTest, RemoveHostRouteLeavesNextHopAndInterfaceZero) {
  const RouteRequest request =
      RouteRequest::HostRoute(RouteCommand::kRemoveHostRoute, Ip(10, 1, 2, 3), kHostRouteMask,
                              Ip(9, 9, 9, 9), Ip(8, 8, 8, 8));
  EXPECT_EQ(Encoded(request),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 10, 1, 2, 3, 255, 255, 255, 255,
                                       0, 0, 0, 0, 0,  0, 0, 0, 0,   0,   0,   0}));
}

TEST(RouteRequestTest, UnitRoutesPutTheMacWhereDestinationAndMaskAre) {
  const std::vector<std::uint8_t> tail = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0,  0, 0, 0,
                                          0,    0,    0,    0,    0,    0,    10, 0, 0, 5};
  std::vector<std::uint8_t> announce = {3, 0, 0, 0};
  announce.insert(announce.end(), tail.begin(), tail.end());
  std::vector<std::uint8_t> withdraw = {2, 0, 0, 0};
  withdraw.insert(withdraw.end(), tail.begin(), tail.end());
  EXPECT_EQ(
      Encoded(RouteRequest::UnitRoute(RouteCommand::kAnnounceUnitRoute, Ip(10, 0, 0, 5), kMac)),
      announce);
  EXPECT_EQ(
      Encoded(RouteRequest::UnitRoute(RouteCommand::kWithdrawUnitRoute, Ip(10, 0, 0, 5), kMac)),
      withdraw);
}

TEST(RouteRequestTest, DecodeReadsEachCommandsFields) {
  std::uint8_t add[RouteRequest::kBytes] = {1,   0,   0, 0, 10, 1, 2, 3, 255, 255, 255, 255,
                                            192, 168, 1, 1, 7,  7, 7, 7, 192, 168, 1,   10};
  const RouteRequest host = RouteRequest::Decode(add);
  EXPECT_EQ(host.command, RouteCommand::kAddHostRoute);
  EXPECT_EQ(host.destination, Ip(10, 1, 2, 3));
  EXPECT_EQ(host.mask, kHostRouteMask);
  EXPECT_EQ(host.nextHop, Ip(192, 168, 1, 1));
  EXPECT_EQ(host.interfaceAddress, Ip(192, 168, 1, 10));

  std::uint8_t announce[RouteRequest::kBytes] = {
      3, 0, 0, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 10, 0, 0, 5};
  const RouteRequest unit = RouteRequest::Decode(announce);
  EXPECT_EQ(unit.command, RouteCommand::kAnnounceUnitRoute);
  EXPECT_EQ(std::vector<std::uint8_t>(unit.mac, unit.mac + 6),
            std::vector<std::uint8_t>(kMac, kMac + 6));
  EXPECT_EQ(unit.interfaceAddress, Ip(10, 0, 0, 5));
  // A unit route carries no destination: the MAC bytes are not read as one.
  EXPECT_EQ(unit.destination, 0u);
  EXPECT_EQ(unit.mask, 0u);
}

}  // namespace
