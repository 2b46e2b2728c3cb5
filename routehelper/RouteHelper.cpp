// Carrying out route requests: the forwarding row of an added route, the
// removal of every row with the request's destination and mask, and the
// unit-route broadcasts with their message boxes.
#include "RouteHelper.h"

#include <cstdio>

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

}  // namespace

void RouteHelper::Serve(const RequestReader& reader) {
  std::uint8_t bytes[RouteRequest::kBytes];
  while (reader(bytes)) Handle(RouteRequest::Decode(bytes));
}

void RouteHelper::Handle(const RouteRequest& request) {
  switch (request.command) {
    case RouteCommand::kRemoveHostRoute:
      if (is_host_route(request)) routes_.DeleteRoutes(request.destination, request.mask);
      break;
    case RouteCommand::kAddHostRoute:
      if (is_host_route(request)) add_host_route(request);
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

bool RouteHelper::is_host_route(const RouteRequest& request) {
  if (request.mask == kHostRouteMask) return true;
  char destination[32];
  char mask[32];
  platform::FormatAddress(request.destination, destination, sizeof destination);
  platform::FormatAddress(request.mask, mask, sizeof mask);
  char line[160];
  std::snprintf(line, sizeof line, "Skipped route request %u for %s mask %s: not a host route\n",
                static_cast<unsigned>(request.command), destination, mask);
  output_.Log(line);
  return false;
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
  if (error == 0) return;
  char line[128];
  std::snprintf(line, sizeof line, "Could not add route %d interface num %u metric %u\n", error,
                static_cast<unsigned>(row.interfaceIndex), static_cast<unsigned>(row.metric1));
  output_.Log(line);
}
