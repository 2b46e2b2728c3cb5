// The route helper's request handling fed an arbitrary byte stream, read in
// 24-byte requests as from the pipe. Besides memory errors it checks the
// helper's promises: nothing but a host route (mask 255.255.255.255) to a
// unit's address reaches the route table, only rows the helper created are
// deleted, each at most once, none is left when the pipe closes, and every
// broadcast payload fits its datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "RouteHelper.h"
#include "VEVException.h"

namespace {

class CheckingTable : public platform::RouteTable {
 public:
  std::uint32_t AdapterIndex(std::uint32_t address) override { return address & 0xFF; }
  bool IsLocalAddress(std::uint32_t address) override { return (address >> 24) == 0x42; }
  std::uint32_t InterfaceMetric(std::uint32_t index) override { return index; }
  int CreateRoute(const platform::ForwardRow& row) override {
    const std::uint8_t first = static_cast<std::uint8_t>(row.destination);
    if (row.mask != kHostRouteMask || first == 0 || first == 127 || first >= 224 ||
        IsLocalAddress(row.destination)) {
      std::abort();
    }
    if ((row.destination & 0x100) != 0) return 5;
    rows.push_back(row.destination);
    return 0;
  }
  int DeleteRoute(const platform::ForwardRow& row) override {
    for (auto at = rows.begin(); at != rows.end(); ++at) {
      if (*at != row.destination) continue;
      rows.erase(at);
      return 0;
    }
    std::abort();  // not a row the helper created, or deleted twice
  }
  std::vector<std::uint32_t> rows;
};

// Fails every broadcast whose payload ends in an odd byte, so that the
// message path runs too.
class CheckingBroadcaster : public UnitRouteBroadcaster {
 public:
  void Broadcast(const ZEQ::UDPPacketBuffer& payload) override {
    if (payload.getSize() <= 0 || payload.getSize() > 995) std::abort();
    const auto* bytes = static_cast<const std::uint8_t*>(static_cast<const void*>(payload));
    if ((bytes[payload.getSize() - 1] & 1) != 0) throw VEVException("broadcast failed");
  }
};

class QuietOutput : public RouteHelperOutput {
 public:
  void ShowMessage(const char*, const char*) override {}
  void Log(const char*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckingTable table;
  CheckingBroadcaster broadcaster;
  QuietOutput output;
  RouteHelper helper(table, broadcaster, output);
  std::size_t offset = 0;
  helper.Serve([&](std::uint8_t(&bytes)[RouteRequest::kBytes]) {
    if (size - offset < RouteRequest::kBytes) return false;
    std::memcpy(bytes, data + offset, RouteRequest::kBytes);
    offset += RouteRequest::kBytes;
    return true;
  });
  if (!table.rows.empty()) std::abort();
  return 0;
}
