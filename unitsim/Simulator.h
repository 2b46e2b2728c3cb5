// The process of simulated units: it opens every unit's sockets, answers the
// datagram services (record query, probe, route records) on its one event
// loop, hands every accepted telnet and file connection to a thread of its
// own, signals readiness, and stops cleanly on a signal or when the control
// connection closes.
//
// Broadcasts: a socket bound to a unit's own address hears only unicasts, so
// for every port there is also one socket bound to each unit subnet's
// broadcast address and one bound to 255.255.255.255. What they hear is
// answered by every unit of that subnet, each from its own socket. Binding the
// broadcast addresses rather than the wildcard leaves unicasts to the host
// (the installer's discovery receiver on 0.0.0.0:55330) untouched.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ConnectionSet.h"
#include "EchoBlocker.h"
#include "EventLog.h"
#include "Options.h"
#include "UnitRuntime.h"

namespace unitsim {

class Simulator {
 public:
  explicit Simulator(Options options);
  ~Simulator();
  // Runs until stopped; the process's exit code.
  int Run();
  // Tells the control connection, if one was given, why the run cannot start.
  void Refuse(const std::string& problem);

 private:
  struct UdpSocket {
    int fd;
    std::uint16_t port;
    int unit;  // -1 for a broadcast socket
    std::uint32_t bound;
  };
  struct Listener {
    int fd;
    int unit;
    bool telnet;
  };

  std::string Setup();
  std::string OpenUnit(int index);
  void OpenBroadcastSockets();
  std::string SignalReady();
  std::string ConnectControl();
  void Loop();
  std::vector<int> Targets(const UdpSocket& socket) const;
  void OnDatagram(const UdpSocket& socket);
  // Logs a datagram that the unit does not answer, with the reason.
  void LogIgnored(const UdpSocket& socket, const std::string& via, std::size_t length,
                  const sockaddr_in& from, const std::string& problem);
  // Logs a discovery message that a unit's knob tells it not to answer.
  void LogSilent(const UnitRuntime& unit, const char* service, const sockaddr_in& from);
  void OnQueryPort(const UdpSocket& socket, const std::uint8_t* data, std::size_t length,
                   const sockaddr_in& from);
  void OnProbe(const UdpSocket& socket, const std::uint8_t* data, std::size_t length,
               const sockaddr_in& from);
  void OnRoute(const UdpSocket& socket, const std::uint8_t* data, std::size_t length,
               const sockaddr_in& from);
  void OnAccept(const Listener& listener);
  void ReportError(const std::string& text);
  void Shutdown();

  Options options_;
  EventLog log_;
  std::vector<std::unique_ptr<UnitRuntime>> units_;
  // Per unit: its datagram socket for each port it serves.
  std::vector<std::map<std::uint16_t, int>> unitSockets_;
  std::vector<UdpSocket> udp_;
  std::vector<Listener> listeners_;
  int signalFd_ = -1;
  int controlFd_ = -1;
  ConnectionSet connections_;
  EchoBlocker echo_;
  std::string stopReason_;
};

}  // namespace unitsim
