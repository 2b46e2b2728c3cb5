// What one simulated unit is: its identity on the network (address, node,
// group, version, hardware address, gateway) and the fault knobs that make it
// misbehave on purpose. Options.cpp fills it from the command line; the
// services only read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace unitsim {

// How the file service spoils a reply when a fault knob asks for it.
enum class ReplyFault {
  kNone,
  kBadCheckValue,  // the check value is off by one bit
  kLength13,       // the length field says 13 (and 13 bytes are sent)
  kErrorFlag,      // byte 7 is set, the status stays 0
  kStatus,         // the status word is the configured value
};

// Which prompt a unit with the no-prompt knob never sends.
enum class MissingPrompt { kNone, kLogin, kPassword, kShell };

struct UnitConfig {
  // Identity. Addresses are in network byte order.
  std::uint32_t address = 0;
  std::uint32_t netmask = 0;
  int node = 1;
  std::string group = "Default";
  bool hasVersion = false;
  std::string version;
  // The version the unit reports once an install script ran with status 0
  // (knob new-version), as a unit does after it took a release.
  bool hasNewVersion = false;
  std::string newVersion;
  std::uint8_t mac[6] = {};
  bool hasGateway = false;
  std::uint32_t gateway = 0;
  // What the shell expands $rsa to.
  std::string rsa = "/rsa";
  // Probe ports this unit answers on besides the common one.
  std::vector<std::uint16_t> extraProbePorts;
  // Discovery knobs: a unit that answers only one of the two discovery
  // messages, as a unit with one of its responders off does.
  bool answersQuery = true;
  bool answersProbe = true;

  // Telnet knobs. The negotiation is the raw bytes the service sends first.
  std::string negotiation;
  bool refusePassword = false;
  bool capitalPassword = false;
  bool bareLogin = false;
  bool hasBanner = false;
  std::string banner;
  MissingPrompt missingPrompt = MissingPrompt::kNone;
  int exitStatus = 0;
  // How many script runs exit with exitStatus (knob exit-runs); the later
  // ones exit with 0. 0: every run.
  int exitRuns = 0;
  bool restartOnInstall = false;
  // How long a unit that restarted stays down (knob down-ms): no discovery
  // answers, connections closed at once; then it is back with its release.
  int downMs = 0;

  // File-service knobs.
  bool fileSilent = false;
  ReplyFault replyFault = ReplyFault::kNone;
  std::uint32_t faultStatus = 0;
  bool faultAtTrailer = false;
  int faultOnPut = 0;              // 0: every put, else only the n-th put (1-based)
  long long closeAfterBytes = -1;  // close the connection once that much file data arrived
  long long rateLimit = 0;         // bytes per second read from the file connection; 0: no limit

  // Echo requests to this unit get no answer (a routing rule in the namespace).
  bool noEcho = false;
};

}  // namespace unitsim
