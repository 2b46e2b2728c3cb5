// The route helper's work, apart from its process: carrying out each request
// read from the installer's pipe. Routes go to the routing table, unit-route
// records to the broadcaster, failures to the user and the log, each through
// an interface, so the same code runs against the system in the program and
// against fakes in tests and under the fuzzer.
//
// The helper runs with administrator rights on the word of whoever serves
// its pipe, so it does as little as it can with them:
// - Only host routes (mask 255.255.255.255, the only mask the installer
//   sends) to a unit's address are added: a request with any other mask, or
//   for this network (0.x), loopback, multicast, broadcast or reserved
//   addresses or this computer's own, is logged and skipped.
// - It removes only rows it added itself in this run, never one that an
//   administrator or another program made to the same host.
// - It keeps at most kMaxHelperRoutes routes; more adds are refused.
// - When its pipe closes for any reason (the installer exits, crashes or is
//   killed) it removes every route it added that is still there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "UDPPacketBuffer.h"
#include "platform/RouteTable.h"
#include "transfer/RouteRequest.h"

// Sends a unit-route payload on every interface; throws VEVException when it
// cannot.
class UnitRouteBroadcaster {
 public:
  virtual ~UnitRouteBroadcaster() = default;
  virtual void Broadcast(const ZEQ::UDPPacketBuffer& payload) = 0;
};

// What the user and the log file see.
class RouteHelperOutput {
 public:
  virtual ~RouteHelperOutput() = default;
  virtual void ShowMessage(const char* caption, const char* text) = 0;
  // One line for "pathkeeper.log", newline included.
  virtual void Log(const char* line) = 0;
};

// The most routes the helper keeps at once: far beyond any site's units,
// small enough that a runaway installer cannot fill the routing table.
constexpr std::size_t kMaxHelperRoutes = 4096;

class RouteHelper {
 public:
  // Fills the 24 bytes of the next request; false once the pipe has closed.
  using RequestReader = std::function<bool(std::uint8_t (&)[RouteRequest::kBytes])>;

  RouteHelper(platform::RouteTable& routes, UnitRouteBroadcaster& broadcaster,
              RouteHelperOutput& output)
      : routes_(routes), broadcaster_(broadcaster), output_(output) {}

  // Handles requests one after another until the reader fails, then removes
  // the routes that are left.
  void Serve(const RequestReader& reader);
  // Carries out one request; commands other than 0 to 3 are ignored.
  void Handle(const RouteRequest& request);
  // Broadcasts the unit-route record; when that fails, shows `failure` in a
  // message box with an empty caption and goes on.
  void BroadcastUnitRoute(const std::uint8_t* mac, std::uint32_t interfaceAddress, int mode,
                          const char* failure);
  // Removes every route this helper added and has not removed yet, logging
  // each one.
  void RemoveAddedRoutes();
  std::size_t AddedRouteCount() const { return added_.size(); }

 private:
  bool is_host_route(const RouteRequest& request);
  bool may_add(const RouteRequest& request);
  void add_host_route(const RouteRequest& request);
  void remove_host_route(const RouteRequest& request);
  void log_skipped(const RouteRequest& request, const char* reason);

  platform::RouteTable& routes_;
  UnitRouteBroadcaster& broadcaster_;
  RouteHelperOutput& output_;
  std::vector<platform::ForwardRow> added_;
};
