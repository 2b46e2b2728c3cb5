// Carrying out route requests: the checks of a route to add, the
// forwarding row of an added route, the removal of the helper's own rows,
// and the unit-route broadcasts with their message boxes.
#include "RouteHelper.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "UnitRouteRecord.h"
#include "VEVException.h"
#include "platform/Sockets.h"

namespace {

// The fixed fields of an added route: a direct route set by network
// management, with the age and the empty metrics that the system expects.
constexpr std::uint32_t kRouteTypeDirect = 3;
constexpr std::uint32_t kRouteProtocolNetworkManagement = 3;
constexpr std::uint32_t kRouteAge = 15130;
constexpr std::uint32_t kNoMetric = 0xFFFFFFFFu;

// False for addresses no unit can have: this network (0.0.0.0/8), loopback
// (127/8), and multicast, reserved and broadcast (224.0.0.0 and above).
bool IsUnitAddress(std::uint32_t address) {
  std::uint8_t octets[4];
  std::memcpy(octets, &address, sizeof octets);  // network byte order
  return octets[0] != 0 && octets[0] != 127 && octets[0] < 224;
}

std::string Dotted(std::uint32_t address) {
  char text[32];
  platform::FormatAddress(address, text, sizeof text);
  return text;
}

}  // namespace

void RouteHelper::Serve(const RequestReader& reader) {
  std::uint8_t bytes[RouteRequest::kBytes];
  while (reader(bytes)) Handle(RouteRequest::Decode(bytes));
  RemoveAddedRoutes();
}

void RouteHelper::Handle(const RouteRequest& request) {
  switch (request.command) {
    case RouteCommand::kRemoveHostRoute:
      if (is_host_route(request)) remove_host_route(request);
      break;
    case RouteCommand::kAddHostRoute:
      if (may_add(request)) add_host_route(request);
      break;
    case RouteCommand::kWithdrawUnitRoute:
      BroadcastUnitRoute(request.mac, request.interfaceAddress, UnitRouteMode::kWithdraw,
                         "Cannot remove route");
      break;
    case RouteCommand::kAnnounceUnitRoute:
      BroadcastUnitRoute(request.mac, request.interfaceAddress, UnitRouteMode::kAnnounce,
                         "Cannot add route");
      break;
    default: break;
  }
}

void RouteHelper::BroadcastUnitRoute(const std::uint8_t* mac, std::uint32_t interfaceAddress,
                                     int mode, const char* failure) {
  ZEQ::UDPPacketBuffer payload;
  if (!BuildUnitRoutePayload(mac, mode, interfaceAddress, payload)) {
    output_.ShowMessage("", failure);
    return;
  }
  try {
    broadcaster_.Broadcast(payload);
  } catch (const VEVException&) {
    output_.ShowMessage("", failure);
  }
}

void RouteHelper::RemoveAddedRoutes() {
  for (const platform::ForwardRow& row : added_) {
    const int error = routes_.DeleteRoute(row);
    char line[160];
    std::snprintf(line, sizeof line, "Removed route %s via %s at close: %s\n",
                  Dotted(row.destination).c_str(), Dotted(row.nextHop).c_str(),
                  error == 0 ? "done" : "it was gone");
    output_.Log(line);
  }
  added_.clear();
}

bool RouteHelper::is_host_route(const RouteRequest& request) {
  if (request.mask == kHostRouteMask) return true;
  log_skipped(request, "not a host route");
  return false;
}

bool RouteHelper::may_add(const RouteRequest& request) {
  if (!is_host_route(request)) return false;
  const char* reason = nullptr;
  if (!IsUnitAddress(request.destination)) {
    reason = "not a unit's address";
  } else if (routes_.IsLocalAddress(request.destination)) {
    reason = "an address of this computer";
  } else if (added_.size() >= kMaxHelperRoutes) {
    reason = "too many routes";
  }
  if (reason == nullptr) return true;
  log_skipped(request, reason);
  return false;
}

void RouteHelper::log_skipped(const RouteRequest& request, const char* reason) {
  char line[160];
  std::snprintf(line, sizeof line, "Skipped route request %u for %s mask %s: %s\n",
                static_cast<unsigned>(request.command), Dotted(request.destination).c_str(),
                Dotted(request.mask).c_str(), reason);
  output_.Log(line);
}

void RouteHelper::add_host_route(const RouteRequest& request) {
  platform::ForwardRow row;
  row.destination = request.destination;
  row.mask = request.mask;
  row.policy = 0;
  row.nextHop = request.nextHop;
  row.interfaceIndex = routes_.AdapterIndex(request.interfaceAddress);
  row.type = kRouteTypeDirect;
  row.protocol = kRouteProtocolNetworkManagement;
  row.age = kRouteAge;
  row.nextHopAs = 0;
  row.metric1 = routes_.InterfaceMetric(row.interfaceIndex);
  row.metric2 = row.metric3 = row.metric4 = row.metric5 = kNoMetric;
  const int error = routes_.CreateRoute(row);
  if (error == 0) {
    added_.push_back(row);
    return;
  }
  output_.Log(platform::RouteAddFailureLine(error, row.interfaceIndex, row.metric1).c_str());
}

// Only a row this helper added is deleted; a remove for any other route,
// or one already removed, changes nothing.
void RouteHelper::remove_host_route(const RouteRequest& request) {
  const auto own = std::find_if(added_.begin(), added_.end(), [&](const platform::ForwardRow& row) {
    return row.destination == request.destination && row.mask == request.mask;
  });
  if (own == added_.end()) return;
  routes_.DeleteRoute(*own);
  added_.erase(own);
}
