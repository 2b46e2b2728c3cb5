// The datagrams of discovery and of the unit-route broadcast as a unit sees
// them: the record query it answers and its reply, the device-link probe and
// its response, and the route record it decodes and logs. Pure byte work on
// top of the library's DataRecord; the sockets are the simulator's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "UnitConfig.h"

namespace unitsim {

constexpr std::uint32_t kQueryWord = 0x00010001u;
constexpr std::uint32_t kRouteWord = 0x00010002u;
constexpr std::uint32_t kReplyWord = 0x80010001u;

struct QueryInfo {
  std::uint32_t word = 0;
  int mode = 0;
  std::string names;    // the record's element names, comma-separated, in index order
  bool allNull = true;  // every element is a VT_NULL name
};

// Empty when the datagram is a record query the unit answers, else why not.
std::string ParseQuery(const std::uint8_t* data, std::size_t length, QueryInfo* query);

// The reply: word 0x80010001, the mode byte and the record with "IPAddress",
// "FromIP" (the asking host), "Node", "Group", "MAC" and, where the unit has
// them, "Version" and "VXMGW".
std::string BuildQueryReply(const UnitConfig& unit, std::uint32_t fromAddress);

// Empty when the datagram is an 18-byte device-link probe; *address and *port
// receive the socket address it carries (network byte order, host order).
std::string ParseProbe(const std::uint8_t* data, std::size_t length, std::uint32_t* address,
                       std::uint16_t* port);

// The response: 02 01, the service port (big-endian) at 4, the unit's address
// at 6, the node at 18, the pair 800 x 480 at 22, then the strings "Tarvo",
// the MAC as text, group 0x1F version (or the group alone) and "unitsim".
std::string BuildProbeResponse(const UnitConfig& unit, std::uint16_t servicePort);

struct RouteRecord {
  std::uint8_t mac[6] = {};
  int mode = -1;
  std::uint32_t remoteIp = 0;
  int presenceMode = 0;
  std::string names;
};

// Empty when the datagram is a well-formed unit-route record, else why not.
std::string ParseRouteRecord(const std::uint8_t* data, std::size_t length, RouteRecord* route);

std::string MacText(const std::uint8_t mac[6]);

}  // namespace unitsim
