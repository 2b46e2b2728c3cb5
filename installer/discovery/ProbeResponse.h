// A unit's answer to the device-link probe as the device-link interface keeps
// it, and what the installer takes from it for the device table.
//
// The answer starts 02 01; the unit's address sits at offset 6 (also the key
// under which the interface keeps one answer per unit), the node at 18, a
// pair of numbers at 22 and 24, and four NUL-terminated strings follow from
// offset 26, the third being the group, byte 0x1F and the version. A unit's
// datagram need not terminate its strings: the receiver puts 8 zero bytes
// after every datagram, and the strings are never read beyond those.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DiscoveredUnit.h"

namespace discovery {

// The least length of an answer: everything up to the first string.
constexpr int kResponseMinimum = 26;
// The zero bytes the receiver writes after each datagram.
constexpr int kResponseSpareBytes = 8;
// Group and version are taken from at most this many characters of the
// third string; the rest of a longer one is dropped.
constexpr std::size_t kGroupVersionLimit = 255;

struct Response {
  std::string text3;  // group, 0x1F, version
  std::string text1;
  std::string addressText;  // "a.b.c.d:port"
  std::string text4;
  std::string text2;
  std::string pairText;  // "NxM"
  std::uint8_t kind = 0;
  std::uint16_t node = 0;
  std::uint32_t key = 0;  // the unit's address, network byte order
};

// Builds the stored answer from a datagram of `length` (at least 26) bytes
// that is followed in its buffer by kResponseSpareBytes zero bytes.
Response BuildResponse(const std::uint8_t* datagram, int length);

// What a stored answer enters into the device table: nothing when there is no
// answer, its kind is not 2 or its node (signed) is below 1; else the address,
// node, group and version with no gateway, reached-from address or MAC.
std::optional<DiscoveredUnit> UnitFromResponse(const Response* response);

}  // namespace discovery
