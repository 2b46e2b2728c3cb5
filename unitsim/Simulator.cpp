// The simulator's sockets and event loop (see Simulator.h).
#include "Simulator.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "DiscoveryMessages.h"
#include "FileMessages.h"
#include "FileService.h"
#include "SocketIo.h"
#include "TelnetService.h"
#include "UnitFiles.h"

namespace unitsim {

namespace {

constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFFu;

int OpenSocket(int type, std::uint32_t address, std::uint16_t port) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      (type == SOCK_STREAM && listen(fd, 128) != 0)) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::uint32_t BroadcastOf(const UnitConfig& unit) { return unit.address | ~unit.netmask; }

std::string Endpoint(const sockaddr_in& address) {
  return AddressText(address.sin_addr.s_addr) + ":" + std::to_string(ntohs(address.sin_port));
}

// Many units need several descriptors each; take what the hard limit allows.
void RaiseDescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

Simulator::Simulator(Options options) : options_(std::move(options)) {}

Simulator::~Simulator() { Shutdown(); }

int Simulator::Run() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  // Blocked before any thread exists, so only the signalfd sees them.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signalFd_ = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (!log_.Open(options_.logPath)) {
    ReportError("cannot open the event log " + options_.logPath);
    return 1;
  }
  RaiseDescriptorLimit();
  std::string problem = Setup();
  if (problem.empty()) problem = SignalReady();
  if (!problem.empty()) {
    ReportError(problem);
    // The fixture waits on the control connection: tell it why no "ready" comes.
    if (controlFd_ >= 0 || (options_.hasControl && ConnectControl().empty())) {
      SendText(controlFd_, "error " + problem + "\n");
    }
    Shutdown();
    log_.Event("exit").Str("reason", "setup failed");
    return 1;
  }
  Loop();
  Shutdown();
  log_.Event("exit").Str("reason", stopReason_);
  return 0;
}

void Simulator::Refuse(const std::string& problem) {
  log_.Open(options_.logPath);
  log_.Event("error").Str("text", problem);
  if (options_.hasControl && ConnectControl().empty())
    SendText(controlFd_, "error " + problem + "\n");
}

std::string Simulator::Setup() {
  for (std::size_t i = 0; i < options_.units.size(); ++i) {
    const std::string problem = OpenUnit(static_cast<int>(i));
    if (!problem.empty()) return problem;
  }
  OpenBroadcastSockets();
  return "";
}

std::string Simulator::OpenUnit(int index) {
  auto unit = std::make_unique<UnitRuntime>();
  unit->config = options_.units[static_cast<std::size_t>(index)];
  unit->name = AddressText(unit->config.address);
  unit->folder = options_.root + "/" + unit->name;
  if (!MakeParentFolders(unit->folder + "/x")) return "cannot create the folder " + unit->folder;
  std::set<std::uint16_t> ports = {options_.queryPort, options_.probePort};
  ports.insert(unit->config.extraProbePorts.begin(), unit->config.extraProbePorts.end());
  unitSockets_.emplace_back();
  for (const std::uint16_t port : ports) {
    const int fd = OpenSocket(SOCK_DGRAM, unit->config.address, port);
    if (fd < 0)
      return "cannot bind UDP " + unit->name + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    udp_.push_back({fd, port, index, unit->config.address});
    unitSockets_.back()[port] = fd;
  }
  for (const bool telnet : {true, false}) {
    const std::uint16_t port = telnet ? options_.telnetPort : options_.filePort;
    const int fd = OpenSocket(SOCK_STREAM, unit->config.address, port);
    if (fd < 0)
      return "cannot listen on TCP " + unit->name + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    listeners_.push_back({fd, index, telnet});
  }
  if (unit->config.noEcho) {
    const std::string problem = echo_.Block(unit->config.address);
    if (!problem.empty()) return problem;
  }
  units_.push_back(std::move(unit));
  return "";
}

// A failed broadcast bind is logged, not fatal: the units still answer unicasts.
void Simulator::OpenBroadcastSockets() {
  std::set<std::pair<std::uint32_t, std::uint16_t>> wanted;
  for (std::size_t i = 0; i < units_.size(); ++i) {
    for (const auto& entry : unitSockets_[i]) {
      wanted.insert({BroadcastOf(units_[i]->config), entry.first});
      wanted.insert({kLimitedBroadcast, entry.first});
    }
  }
  for (const auto& [address, port] : wanted) {
    const int fd = OpenSocket(SOCK_DGRAM, address, port);
    if (fd < 0) {
      log_.Event("broadcast_bind_failed")
          .Str("address", AddressText(address))
          .Int("port", port)
          .Str("error", std::strerror(errno));
      continue;
    }
    udp_.push_back({fd, port, -1, address});
  }
}

std::string Simulator::SignalReady() {
  log_.Event("ready").Int("units", static_cast<long long>(units_.size())).Int("pid", getpid());
  if (!options_.hasControl) {
    std::printf("ready\n");
    std::fflush(stdout);
    return "";
  }
  const std::string problem = ConnectControl();
  if (!problem.empty()) return problem;
  if (!SendText(controlFd_, "ready\n")) return "cannot send to the control connection";
  return "";
}

std::string Simulator::ConnectControl() {
  controlFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(options_.controlPort);
  target.sin_addr.s_addr = options_.controlAddress;
  if (controlFd_ < 0 ||
      connect(controlFd_, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    const std::string problem =
        std::string("cannot reach the control address: ") + std::strerror(errno);
    if (controlFd_ >= 0) close(controlFd_);
    controlFd_ = -1;
    return problem;
  }
  return "";
}

void Simulator::Loop() {
  std::vector<pollfd> polled;
  polled.push_back({signalFd_, POLLIN, 0});
  polled.push_back({controlFd_, POLLIN, 0});  // -1 without --control: poll skips it
  for (const UdpSocket& socket : udp_) polled.push_back({socket.fd, POLLIN, 0});
  for (const Listener& listener : listeners_) polled.push_back({listener.fd, POLLIN, 0});
  const std::size_t firstListener = 2 + udp_.size();
  while (stopReason_.empty()) {
    if (poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      stopReason_ = std::string("poll failed: ") + std::strerror(errno);
      break;
    }
    if (polled[0].revents != 0) stopReason_ = "signal";
    if (polled[1].revents != 0) {
      char ignored[64];
      const ssize_t got = recv(controlFd_, ignored, sizeof ignored, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        stopReason_ = "control connection closed";
      }
    }
    for (std::size_t i = 2; i < polled.size(); ++i) {
      if (polled[i].revents == 0) continue;
      if (i < firstListener)
        OnDatagram(udp_[i - 2]);
      else
        OnAccept(listeners_[i - firstListener]);
    }
  }
}

std::vector<int> Simulator::Targets(const UdpSocket& socket) const {
  if (socket.unit >= 0) return {socket.unit};
  std::vector<int> targets;
  for (std::size_t i = 0; i < units_.size(); ++i) {
    const bool inSubnet =
        socket.bound == kLimitedBroadcast || BroadcastOf(units_[i]->config) == socket.bound;
    if (inSubnet && unitSockets_[i].count(socket.port) != 0) targets.push_back(static_cast<int>(i));
  }
  return targets;
}

void Simulator::OnDatagram(const UdpSocket& socket) {
  std::uint8_t data[2048];
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got =
        recvfrom(socket.fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) return;
    const auto length = static_cast<std::size_t>(got);
    if (socket.port == options_.queryPort)
      OnQueryPort(socket, data, length, from);
    else
      OnProbe(socket, data, length, from);
  }
}

void Simulator::LogIgnored(const UdpSocket& socket, const std::string& via, std::size_t length,
                           const sockaddr_in& from, const std::string& problem) {
  log_.Event("udp_ignored")
      .Str("to", via + ":" + std::to_string(socket.port))
      .Str("from", Endpoint(from))
      .Int("length", static_cast<long long>(length))
      .Str("reason", problem);
}

void Simulator::LogSilent(const UnitRuntime& unit, const char* service, const sockaddr_in& from) {
  log_.Event("silent", unit.name).Str("service", service).Str("from", Endpoint(from));
}

void Simulator::OnQueryPort(const UdpSocket& socket, const std::uint8_t* data, std::size_t length,
                            const sockaddr_in& from) {
  if (length >= 4 && Le32(data) == kRouteWord) return OnRoute(socket, data, length, from);
  QueryInfo query;
  const std::string problem = ParseQuery(data, length, &query);
  const std::string via = AddressText(socket.bound);
  if (!problem.empty()) return LogIgnored(socket, via, length, from, problem);
  for (const int target : Targets(socket)) {
    const UnitRuntime& unit = *units_[static_cast<std::size_t>(target)];
    if (!unit.config.answersQuery) {
      LogSilent(unit, "query", from);
      continue;
    }
    if (unit.Down()) {
      log_.Event("down", unit.name).Str("service", "query");
      continue;
    }
    const std::string reply = BuildQueryReply(unit.Reported(), from.sin_addr.s_addr);
    sockaddr_in to = from;
    to.sin_port = htons(options_.queryPort);
    const bool sent = sendto(unitSockets_[static_cast<std::size_t>(target)].at(socket.port),
                             reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to),
                             sizeof to) == static_cast<ssize_t>(reply.size());
    log_.Event("query", unit.name)
        .Str("from", Endpoint(from))
        .Str("via", via)
        .Int("length", static_cast<long long>(length))
        .Int("mode", query.mode)
        .Str("names", query.names)
        .Bool("all_null", query.allNull)
        .Int("reply_length", static_cast<long long>(reply.size()))
        .Str("reply_to", Endpoint(to))
        .Bool("sent", sent);
  }
}

void Simulator::OnProbe(const UdpSocket& socket, const std::uint8_t* data, std::size_t length,
                        const sockaddr_in& from) {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  const std::string problem = ParseProbe(data, length, &address, &port);
  const std::string via = AddressText(socket.bound);
  if (!problem.empty()) return LogIgnored(socket, via, length, from, problem);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  for (const int target : Targets(socket)) {
    const UnitRuntime& unit = *units_[static_cast<std::size_t>(target)];
    if (!unit.config.answersProbe) {
      LogSilent(unit, "probe", from);
      continue;
    }
    if (unit.Down()) {
      log_.Event("down", unit.name).Str("service", "probe");
      continue;
    }
    const std::string response = BuildProbeResponse(unit.Reported(), socket.port);
    const bool sent = sendto(unitSockets_[static_cast<std::size_t>(target)].at(socket.port),
                             response.data(), response.size(), 0, reinterpret_cast<sockaddr*>(&to),
                             sizeof to) == static_cast<ssize_t>(response.size());
    log_.Event("probe", unit.name)
        .Str("from", Endpoint(from))
        .Str("via", via)
        .Int("port", socket.port)
        .Str("reply_to", Endpoint(to))
        .Int("reply_length", static_cast<long long>(response.size()))
        .Bool("sent", sent);
  }
}

void Simulator::OnRoute(const UdpSocket& socket, const std::uint8_t* data, std::size_t length,
                        const sockaddr_in& from) {
  RouteRecord route;
  const std::string problem = ParseRouteRecord(data, length, &route);
  std::string matched;
  for (const auto& unit : units_) {
    if (problem.empty() && std::memcmp(unit->config.mac, route.mac, 6) == 0) matched = unit->name;
  }
  auto line = log_.Event("route", matched);
  line.Str("from", Endpoint(from))
      .Str("via", AddressText(socket.bound))
      .Int("length", static_cast<long long>(length))
      .Bool("ok", problem.empty());
  if (!problem.empty()) {
    line.Str("problem", problem);
    return;
  }
  line.Str("MAC", MacText(route.mac))
      .Int("Mode", route.mode)
      .Str("RemoteIP", AddressText(route.remoteIp))
      .Int("presence_mode", route.presenceMode)
      .Str("names", route.names);
}

void Simulator::OnAccept(const Listener& listener) {
  connections_.Reap();
  for (;;) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const int fd =
        accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
    if (fd < 0) return;
    // Prompts and replies are small writes that must not wait for an ACK.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    UnitRuntime& unit = *units_[static_cast<std::size_t>(listener.unit)];
    const char* service = listener.telnet ? "telnet" : "file";
    // A restarting unit has no services yet: the connection ends at once.
    if (unit.Down()) {
      log_.Event("down", unit.name).Str("service", service);
      close(fd);
      continue;
    }
    log_.Event("connect", unit.name).Str("service", service).Str("peer", Endpoint(peer));
    const bool telnet = listener.telnet;
    connections_.Start(fd, [this, &unit, telnet, service, peer](int connection) {
      if (telnet)
        TelnetService(unit, log_, connection).Run();
      else
        FileService(unit, log_, connection).Run();
      log_.Event("disconnect", unit.name).Str("service", service).Str("peer", Endpoint(peer));
    });
  }
}

void Simulator::ReportError(const std::string& text) {
  std::fprintf(stderr, "unitsim: %s\n", text.c_str());
  log_.Event("error").Str("text", text);
}

void Simulator::Shutdown() {
  for (const Listener& listener : listeners_) close(listener.fd);
  listeners_.clear();
  connections_.StopAll();
  for (const UdpSocket& socket : udp_) close(socket.fd);
  udp_.clear();
  echo_.ReleaseAll();
  if (controlFd_ >= 0) close(controlFd_);
  controlFd_ = -1;
}

}  // namespace unitsim
