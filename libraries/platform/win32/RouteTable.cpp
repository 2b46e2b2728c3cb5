// Windows routing table through IP Helper. The adapter list is read with a
// first buffer of 144 bytes, grown once to the size the call asks for; the
// interface metric comes from GetIpInterfaceEntry, looked up at run time
// because older systems (and wine) lack it. A delete names the exact row
// that was created (destination, mask, next hop, interface), which is how
// DeleteIpForwardEntry picks the one row to remove.
#include "platform/RouteTable.h"

// winsock2 before windows.h, then the IP Helper headers.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

#include <vector>

namespace platform {

namespace {

constexpr ULONG kFirstAdapterBuffer = 144;

using GetIpInterfaceEntryCall = DWORD(WINAPI*)(MIB_IPINTERFACE_ROW*);

std::vector<BYTE> ReadAdapters() {
  ULONG size = kFirstAdapterBuffer;
  std::vector<BYTE> buffer(size);
  ULONG result = GetAdaptersAddresses(
      AF_INET, 0, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  if (result == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, 0, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) buffer.clear();
  return buffer;
}

MIB_IPFORWARDROW ToSystemRow(const ForwardRow& row) {
  MIB_IPFORWARDROW system{};
  system.dwForwardDest = row.destination;
  system.dwForwardMask = row.mask;
  system.dwForwardPolicy = row.policy;
  system.dwForwardNextHop = row.nextHop;
  system.dwForwardIfIndex = row.interfaceIndex;
  system.dwForwardType = row.type;
  system.dwForwardProto = row.protocol;
  system.dwForwardAge = row.age;
  system.dwForwardNextHopAS = row.nextHopAs;
  system.dwForwardMetric1 = row.metric1;
  system.dwForwardMetric2 = row.metric2;
  system.dwForwardMetric3 = row.metric3;
  system.dwForwardMetric4 = row.metric4;
  system.dwForwardMetric5 = row.metric5;
  return system;
}

class IpHelperRouteTable : public RouteTable {
 public:
  std::uint32_t AdapterIndex(std::uint32_t address) override {
    std::vector<BYTE> buffer = ReadAdapters();
    if (buffer.empty()) return kNoInterfaceIndex;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
      const IP_ADAPTER_UNICAST_ADDRESS* first = adapter->FirstUnicastAddress;
      if (first == nullptr || first->Address.lpSockaddr == nullptr) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(first->Address.lpSockaddr);
      if (in->sin_addr.s_addr == address) return adapter->IfIndex;
    }
    return kNoInterfaceIndex;
  }

  bool IsLocalAddress(std::uint32_t address) override {
    std::vector<BYTE> buffer = ReadAdapters();
    if (buffer.empty()) return false;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
      for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
           unicast != nullptr; unicast = unicast->Next) {
        const sockaddr* any = unicast->Address.lpSockaddr;
        if (any == nullptr || any->sa_family != AF_INET) continue;
        if (reinterpret_cast<const sockaddr_in*>(any)->sin_addr.s_addr == address) return true;
      }
    }
    return false;
  }

  std::uint32_t InterfaceMetric(std::uint32_t interfaceIndex) override {
    HMODULE library = LoadLibraryA("Iphlpapi");
    if (library == nullptr) return 0;
    auto call = reinterpret_cast<GetIpInterfaceEntryCall>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetIpInterfaceEntry")));
    std::uint32_t metric = 0;
    if (call != nullptr) {
      MIB_IPINTERFACE_ROW row{};
      row.Family = AF_INET;
      row.InterfaceIndex = interfaceIndex;
      if (call(&row) == NO_ERROR) metric = row.Metric;
    }
    FreeLibrary(library);
    return metric;
  }

  int CreateRoute(const ForwardRow& row) override {
    MIB_IPFORWARDROW system = ToSystemRow(row);
    return static_cast<int>(CreateIpForwardEntry(&system));
  }

  int DeleteRoute(const ForwardRow& row) override {
    MIB_IPFORWARDROW system = ToSystemRow(row);
    return static_cast<int>(DeleteIpForwardEntry(&system));
  }
};

}  // namespace

std::unique_ptr<RouteTable> MakeRouteTable() { return std::make_unique<IpHelperRouteTable>(); }

std::string RouteAddFailureLine(int error, std::uint32_t interfaceIndex, std::uint32_t metric) {
  return "Could not add route " + std::to_string(error) + " interface num " +
         std::to_string(interfaceIndex) + " metric " + std::to_string(metric) + "\n";
}

}  // namespace platform
