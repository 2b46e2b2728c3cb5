// The route helper's request handling fed an arbitrary byte stream, read in
// 24-byte requests as from the pipe. Besides memory errors it checks the
// helper's promise: nothing but a host route (mask 255.255.255.255) ever
// reaches the route table, and every broadcast payload fits its datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "RouteHelper.h"
#include "VEVException.h"

namespace {

class CheckingTable : public platform::RouteTable {
 public:
  std::uint32_t AdapterIndex(std::uint32_t address) override { return address & 0xFF; }
  std::uint32_t InterfaceMetric(std::uint32_t index) override { return index; }
  int CreateRoute(const platform::ForwardRow& row) override {
    if (row.mask != kHostRouteMask) std::abort();
    return static_cast<int>(row.destination & 1);
  }
  void DeleteRoutes(std::uint32_t, std::uint32_t mask) override {
    if (mask != kHostRouteMask) std::abort();
  }
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
  return 0;
}
