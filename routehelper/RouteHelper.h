// The route helper's work, apart from its process: carrying out each request
// read from the installer's pipe. Routes go to the routing table, unit-route
// records to the broadcaster, failures to the user and the log, each through
// an interface, so the same code runs against the system in the program and
// against fakes in tests and under the fuzzer.
//
// Only host routes (mask 255.255.255.255, the only mask the installer
// sends) are added or removed; a request with any other mask is logged and
// skipped, so that no request can ever remove a default or subnet route.
#pragma once

#include <cstdint>
#include <functional>

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

class RouteHelper {
 public:
  // Fills the 24 bytes of the next request; false once the pipe has closed.
  using RequestReader = std::function<bool(std::uint8_t (&)[RouteRequest::kBytes])>;

  RouteHelper(platform::RouteTable& routes, UnitRouteBroadcaster& broadcaster,
              RouteHelperOutput& output)
      : routes_(routes), broadcaster_(broadcaster), output_(output) {}

  // Handles requests one after another until the reader fails.
  void Serve(const RequestReader& reader);
  // Carries out one request; commands other than 0 to 3 are ignored.
  void Handle(const RouteRequest& request);
  // Broadcasts the unit-route record; when that fails, shows `failure` in a
  // message box with an empty caption and goes on.
  void BroadcastUnitRoute(const std::uint8_t* mac, std::uint32_t interfaceAddress, int mode,
                          const char* failure);

 private:
  bool is_host_route(const RouteRequest& request);
  void add_host_route(const RouteRequest& request);

  platform::RouteTable& routes_;
  UnitRouteBroadcaster& broadcaster_;
  RouteHelperOutput& output_;
};
