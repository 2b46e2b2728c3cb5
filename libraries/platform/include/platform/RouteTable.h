// The IPv4 routing table as the route helper needs it: find the adapter
// that owns an address, tell this computer's own addresses, read an
// interface's metric, add one forwarding row and delete exactly that row
// again. Windows uses IP Helper; Linux speaks rtnetlink directly to the main
// table and marks its rows with a protocol number of its own, so that a
// delete can never touch a row that somebody else made.
//
// An interface, because wine's create and delete calls are stubs: tests of
// the helper substitute a table that records the rows it is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

constexpr std::uint32_t kNoInterfaceIndex = 0xFFFFFFFFu;

// The fields of the Windows forwarding row (MIB_IPFORWARDROW); addresses in
// network byte order.
struct ForwardRow {
  std::uint32_t destination = 0;
  std::uint32_t mask = 0;
  std::uint32_t policy = 0;
  std::uint32_t nextHop = 0;
  std::uint32_t interfaceIndex = 0;
  std::uint32_t type = 0;
  std::uint32_t protocol = 0;
  std::uint32_t age = 0;
  std::uint32_t nextHopAs = 0;
  std::uint32_t metric1 = 0;
  std::uint32_t metric2 = 0;
  std::uint32_t metric3 = 0;
  std::uint32_t metric4 = 0;
  std::uint32_t metric5 = 0;
};

class RouteTable {
 public:
  virtual ~RouteTable() = default;
  // The index of the first adapter whose first IPv4 address is `address`,
  // or kNoInterfaceIndex.
  virtual std::uint32_t AdapterIndex(std::uint32_t address) = 0;
  // True when `address` is one of this computer's own IPv4 addresses.
  virtual bool IsLocalAddress(std::uint32_t address) = 0;
  // The interface's metric, 0 when the system cannot tell.
  virtual std::uint32_t InterfaceMetric(std::uint32_t interfaceIndex) = 0;
  // Adds the row; 0 or the system's error code.
  virtual int CreateRoute(const ForwardRow& row) = 0;
  // Deletes the one row that CreateRoute made from `row` (destination, mask,
  // next hop, interface; on Linux also the metric and the helper's mark);
  // 0 or the system's error code.
  virtual int DeleteRoute(const ForwardRow& row) = 0;
};

std::unique_ptr<RouteTable> MakeRouteTable();

// The helper's log line for a route that could not be added: on Windows
// "Could not add route %d interface num %u metric %u"; on Linux the error's
// message and the interface's name instead of its index.
std::string RouteAddFailureLine(int error, std::uint32_t interfaceIndex, std::uint32_t metric);

}  // namespace platform
