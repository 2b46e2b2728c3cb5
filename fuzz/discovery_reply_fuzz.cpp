// Fuzz target for the path of a datagram on port 55330 to the values the
// device table gets: the framing checks, the record read and the element
// checks. Whatever is accepted is encoded again as a unit would send it and
// must read back to the same values; the framing decision is checked against
// the message word and the input's length. A disagreement aborts.
//
// Input layout: the datagram's bytes as they arrive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "DataRecord.h"
#include "RecordQuery.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The reply a unit with these values sends: "Version" and "VXMGW" only when
// they differ from their defaults.
std::vector<std::uint8_t> Encode(const DiscoveredUnit& unit) {
  DataRecord record;
  std::uint32_t address = unit.address;
  std::uint32_t from = unit.reachedFrom;
  std::uint32_t gateway = unit.gateway;
  std::uint8_t mac[6];
  std::memcpy(mac, unit.mac, 6);
  record.Put(VT_BLOB, "IPAddress", &address, RecordElement::kCopy, 4);
  record.Put(VT_BLOB, "FromIP", &from, RecordElement::kCopy, 4);
  record.Put(VT_I2, "Node", unit.node);
  record.Put(VT_BSTR, "Group", const_cast<char*>(unit.group.c_str()), RecordElement::kCopy, 0);
  record.Put(VT_BLOB, "MAC", mac, RecordElement::kCopy, 6);
  if (unit.version != discovery::kUnknownVersion) {
    record.Put(VT_BSTR, "Version", const_cast<char*>(unit.version.c_str()), RecordElement::kCopy,
               0);
  }
  if (unit.gateway != 0) record.Put(VT_BLOB, "VXMGW", &gateway, RecordElement::kCopy, 4);
  std::vector<std::uint8_t> bytes(70000);
  int written = 0;
  Check(record.Write(bytes.data() + 5, static_cast<int>(bytes.size()) - 5, &written));
  const std::uint8_t frame[5] = {0x01, 0x00, 0x01, 0x80,
                                 static_cast<std::uint8_t>(record.getFlags())};
  std::memcpy(bytes.data(), frame, 5);
  bytes.resize(static_cast<std::size_t>(written) + 5);
  return bytes;
}

bool Same(const DiscoveredUnit& a, const DiscoveredUnit& b) {
  return a.gateway == b.gateway && a.reachedFrom == b.reachedFrom && a.address == b.address &&
         a.hasMac == b.hasMac && std::memcmp(a.mac, b.mac, 6) == 0 && a.node == b.node &&
         a.group == b.group && a.version == b.version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the input's size, so that any read beyond it is caught.
  std::vector<std::uint8_t> datagram(data, data + size);
  const std::optional<DiscoveredUnit> unit =
      discovery::ParseDiscoveryReply(datagram.data(), static_cast<int>(datagram.size()));
  if (!unit) return 0;
  Check(size > 5);
  const std::uint32_t word =
      data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  Check((word & 0x80000000u) != 0 && (word & 0x7FFF0000u) == 0x00010000u);
  Check(unit->hasMac && unit->node >= -32768 && unit->node <= 32767);
  // A group or version holding a NUL cannot come from a NUL-terminated string.
  Check(unit->group.find('\0') == std::string::npos);
  const std::vector<std::uint8_t> again = Encode(*unit);
  const std::optional<DiscoveredUnit> reread =
      discovery::ParseDiscoveryReply(again.data(), static_cast<int>(again.size()));
  Check(reread.has_value() && Same(*unit, *reread));
  return 0;
}
