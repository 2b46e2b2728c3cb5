// What one discovery answer tells about a unit: exactly the values that the
// device table's AddOrUpdateUnit takes, in its order. Both answer paths (the
// record reply on port 55330 and the device-link response) end in one of
// these, so the code that enters units into the table is the same for both
// and the byte-level checks before it can be tested without a table.
#pragma once

#include <cstdint>
#include <string>

struct DiscoveredUnit {
  // IPv4 addresses in network byte order; 0 when not known.
  std::uint32_t gateway = 0;
  std::uint32_t reachedFrom = 0;
  std::uint32_t address = 0;
  // The hardware address; only a record reply carries one.
  bool hasMac = false;
  std::uint8_t mac[6] = {};
  int node = 0;
  std::string group;
  std::string version;

  // The mac argument of AddOrUpdateUnit: the six bytes, or null without them.
  const std::uint8_t* macOrNull() const { return hasMac ? mac : nullptr; }
};
