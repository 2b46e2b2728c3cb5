// The 24-byte request that the installer writes into the route helper's
// pipe, and its codec. Both programs use this one definition, so the layout
// is fixed in one place: every field a 32-bit little-endian value, addresses
// as 32-bit values in network byte order, the unit's MAC address in place of
// destination and mask for the unit-route commands. Bytes a command does not
// use are written as zero and not read.
#pragma once

#include <cstdint>

namespace RouteCommand {
constexpr std::uint32_t kRemoveHostRoute = 0;
constexpr std::uint32_t kAddHostRoute = 1;
constexpr std::uint32_t kWithdrawUnitRoute = 2;
constexpr std::uint32_t kAnnounceUnitRoute = 3;
}  // namespace RouteCommand

// The only mask the installer sends: a route to one host.
constexpr std::uint32_t kHostRouteMask = 0xFFFFFFFFu;

struct RouteRequest {
  static constexpr int kBytes = 24;

  std::uint32_t command = 0;
  std::uint32_t destination = 0;       // commands 0 and 1
  std::uint32_t mask = 0;              // commands 0 and 1
  std::uint32_t nextHop = 0;           // command 1
  std::uint32_t interfaceAddress = 0;  // commands 1, 2 and 3
  std::uint8_t mac[6] = {};            // commands 2 and 3

  static RouteRequest HostRoute(std::uint32_t command, std::uint32_t destination,
                                std::uint32_t mask, std::uint32_t nextHop,
                                std::uint32_t interfaceAddress);
  static RouteRequest UnitRoute(std::uint32_t command, std::uint32_t interfaceAddress,
                                const std::uint8_t* mac);
  // True for the commands that carry a destination and mask.
  bool IsHostRoute() const { return command <= RouteCommand::kAddHostRoute; }

  void Encode(std::uint8_t (&bytes)[kBytes]) const;
  static RouteRequest Decode(const std::uint8_t (&bytes)[kBytes]);
};
