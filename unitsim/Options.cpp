// Parsing of unitsim's command line and configuration file. Every unit is
// built from the current defaults (--defaults) and its own DESC; whatever a
// DESC leaves out gets a value derived from the unit's place in the list, so
// that "--units 100" alone describes a hundred distinct units.
#include "Options.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace unitsim {

namespace {

const char kHelp[] = R"(unitsim - simulated Tarvo units for tests, benchmarks and the demo

usage: unitsim [options] (--unit DESC | --units N)...

Each unit binds its own IPv4 address (127.0.0.2 and up in a loopback-only
network namespace) and offers the unit services there: record query on UDP
55330, device-link probe on UDP 55329, telnet with the root shell on TCP 23,
the file service on TCP 4877, and it logs unit-route broadcasts on UDP 55330.
Broadcasts are heard through sockets bound to each unit subnet's broadcast
address and to 255.255.255.255.

options:
  --log PATH          write the event log (one JSON object per line) to PATH
  --control HOST:PORT connect there once every unit is up, send "ready\n",
                      and exit when that connection closes
  --root DIR          store received files under DIR/<unit address>/<remote
                      path> (default ./unitsim-files)
  --telnet-port N     telnet port of every unit (default 23)
  --file-port N       file-service port (default 4877)
  --query-port N      record-query port (default 55330)
  --probe-port N      device-link probe port (default 55329)
  --config FILE       read more options from FILE: one option per line, written
                      without the leading dashes ("unit addr=127.0.0.3,exit=2");
                      blank lines and lines starting with # are skipped
  --defaults DESC     the base of every later --unit and --units
  --unit DESC         add one unit
  --units N           add N units with consecutive addresses
  --help              print this text

Without --control, "ready" is printed on standard output instead. The program
ends cleanly on SIGTERM, SIGINT or the close of the control connection.

DESC: comma-separated key=value pairs and bare knob names. Values are
percent-decoded (%2C is a comma, %0D%0A a line end).
 identity:
  addr=A              the unit's address (default: after the previous unit's,
                      the first being 127.0.0.2); 127.0.0.1 is refused
  mask=M              its netmask (default 255.0.0.0 in 127/8, else /24)
  node=N              node number (default: the unit's place, 1-based)
  group=TEXT          group name (default "Default")
  version=TEXT        version string; without it the query reply has no
                      "Version" and the probe response only the group
  new-version=TEXT    the version reported once an install script has run
                      with exit status 0 or restarted the unit
  mac=XX:XX:XX:XX:XX:XX  hardware address (default 02:00 and the address)
  gw=A                gateway reported as "VXMGW" (default: none)
  rsa=PATH            what the shell expands $rsa to (default /rsa)
  probe-port=N        one more probe port for this unit (repeatable)
 discovery knobs:
  no-query            never answer the record query (logged as "silent")
  no-probe            never answer the device-link probe (logged as "silent")
 telnet knobs:
  telnet-opts=LIST    the option negotiation sent on connect, '+'-separated:
                      willN, wontN, doN, dontN, ttype-send, xHEX (raw bytes)
                      or none (default will1+will3+do24+do31)
  refuse-password     every login fails ("Login incorrect", login prompt again)
  capital-password    ask with "Password:" instead of "password:"
  bare-login          the login prompt without the newline in front
  banner[=TEXT]       a banner line before the login prompt
  no-prompt[=login|password|shell]  never send that prompt (default login)
  exit=N              exit status of the install script (default 0)
  exit-runs=K         only the first K runs of the script exit with exit=N, the
                      later ones with 0 (a fault that a retry gets past)
  restart-on-install  close the telnet connection when the script is run
  down-ms=N           with restart-on-install: after the restart the unit is
                      down for N ms (no query or probe answer, telnet and file
                      connections closed at once), then back (default 0)
 file-service knobs:
  fs-silent           accept connections but never reply
  fs-fault=KIND       spoil replies: crc, len13, errflag or status:N
  fs-fault-at=WHERE   request (default) or trailer: which reply is spoilt
  fs-fault-put=K      spoil only the K-th put of the unit (default: every put)
  fs-close-after=N    close the connection once N bytes of file data arrived
  rate=N              read file data at no more than N bytes per second
  (The unit's own reply statuses: 1 bad check value and 2 malformed message,
  both with the error flag set; 3 the data did not match the trailer; 4 the
  file could not be stored, for example a remote path with "..".)
 echo:
  no-echo             ICMP echo to the unit gets no reply (a blackhole rule for
                      its ICMP replies; only inside a private network namespace,
                      said by ZEQ_IN_NETNS=1 or UNITSIM_PRIVATE_NETNS=1)

Shell of a unit after login as root/qorvane: ditto -k /dev/con1, chmod +x PATH,
textto PATH (turns CR LF into LF), echo ARGS, PATH (runs the install script:
exit status from exit=N), exit; $rsa, ${rsa} and $? are expanded.

Event log (--log): one JSON object per line with "t" (ms since start), "event"
and mostly "unit" (the unit's address); strings are bytes, with every byte
outside printable ASCII written as \u00XX:
  ready {units, pid}, exit {reason}, error {text}
  query {from, via, length, mode, names, all_null, reply_length, reply_to, sent}
  probe {from, via, port, reply_to, reply_length, sent}
  udp_ignored {to, from, length, reason}, broadcast_bind_failed {address, port}
  silent {service: query or probe, from}: a unit with no-query or no-probe
  route {from, via, length, ok, MAC, Mode, RemoteIP, presence_mode, names;
         or problem}
  connect, disconnect {service: telnet or file, peer}
  telnet_option {verb, option}, telnet_command {command},
  telnet_subneg {option, data, closed_by_se, ttype or width and height}
  telnet_line {stage: user, password, command or no-*-prompt, text,
               end: LF, CRLF, CR or CRNUL}
  login {user, ok}, command {text, expanded, status, output},
  install {path, status}, restart {path, down_ms}
  down {service: query, probe, telnet or file}: a restarted unit still down
  put {put, name, size, mode, modified, options, reserved_zero, spoilt_reply}
  file {put, name, size, crc: ok, bad, incomplete or no trailer,
        trailer_vs_data, trailer_zero_byte, stored, path, spoilt_reply}
  fs_protocol_error {problem}, fs_error_notice {error, check_ok},
  fs_silent, fs_silent_end {received}, close_mid_file {name, received}

Exit codes: 0 after a clean stop, 1 when the units could not be set up, 2 on
a command-line error.
)";

constexpr std::uint32_t kLoopbackNet = 0x7F;  // 127/8, first octet in the lowest byte

struct ParseState {
  UnitConfig defaults;
  bool defaultsNode = false;
  bool defaultsMac = false;
  bool defaultsMask = false;
};

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const std::string hex = text.substr(i + 1, 2);
      char* end = nullptr;
      const long value = std::strtol(hex.c_str(), &end, 16);
      if (end == hex.c_str() + 2) {
        out += static_cast<char>(value);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

bool ParseNumber(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

bool ParseIpv4(const std::string& text, std::uint32_t* address) {
  in_addr parsed;
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  *address = parsed.s_addr;
  return true;
}

bool ParseMac(const std::string& text, std::uint8_t mac[6]) {
  unsigned parts[6];
  char tail;
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &parts[0], &parts[1], &parts[2], &parts[3],
                  &parts[4], &parts[5], &tail) != 6) {
    return false;
  }
  for (int i = 0; i < 6; ++i) {
    if (parts[i] > 255) return false;
    mac[i] = static_cast<std::uint8_t>(parts[i]);
  }
  return true;
}

void AppendOption(std::string& bytes, std::uint8_t verb, int option) {
  bytes += static_cast<char>(0xFF);
  bytes += static_cast<char>(verb);
  bytes += static_cast<char>(option);
}

// "will1+do24+x41ff" into the bytes the telnet service sends first.
std::string ParseNegotiation(const std::string& list, std::string* bytes) {
  bytes->clear();
  if (list == "none") return "";
  std::stringstream parts(list);
  std::string item;
  while (std::getline(parts, item, '+')) {
    static const struct {
      const char* prefix;
      std::uint8_t verb;
    } kVerbs[] = {{"will", 251}, {"wont", 252}, {"dont", 254}, {"do", 253}};
    bool done = false;
    for (const auto& verb : kVerbs) {
      const std::string prefix = verb.prefix;
      long long option = 0;
      if (item.compare(0, prefix.size(), prefix) == 0 &&
          ParseNumber(item.substr(prefix.size()), 0, 255, &option)) {
        AppendOption(*bytes, verb.verb, static_cast<int>(option));
        done = true;
        break;
      }
    }
    if (done) continue;
    if (item == "ttype-send") {
      *bytes += std::string("\xFF\xFA\x18\x01\xFF\xF0", 6);
    } else if (item.size() > 1 && item[0] == 'x' && item.size() % 2 == 1) {
      for (std::size_t i = 1; i < item.size(); i += 2) {
        long long value = 0;
        if (!ParseNumber("0x" + item.substr(i, 2), 0, 255, &value)) return "bad hex in " + item;
        *bytes += static_cast<char>(value);
      }
    } else {
      return "unknown telnet-opts item " + item;
    }
  }
  return "";
}

UnitConfig DefaultUnit() {
  UnitConfig unit;
  ParseNegotiation("will1+will3+do24+do31", &unit.negotiation);
  return unit;
}

std::string ParseFault(const std::string& value, UnitConfig* unit) {
  long long status = 0;
  if (value == "crc")
    unit->replyFault = ReplyFault::kBadCheckValue;
  else if (value == "len13")
    unit->replyFault = ReplyFault::kLength13;
  else if (value == "errflag")
    unit->replyFault = ReplyFault::kErrorFlag;
  else if (value.compare(0, 7, "status:") == 0 &&
           ParseNumber(value.substr(7), 1, 0xFFFFFFFFLL, &status)) {
    unit->replyFault = ReplyFault::kStatus;
    unit->faultStatus = static_cast<std::uint32_t>(status);
  } else {
    return "bad fs-fault " + value;
  }
  return "";
}

std::string ParseMissingPrompt(const std::string& value, UnitConfig* unit) {
  if (value.empty() || value == "login")
    unit->missingPrompt = MissingPrompt::kLogin;
  else if (value == "password")
    unit->missingPrompt = MissingPrompt::kPassword;
  else if (value == "shell")
    unit->missingPrompt = MissingPrompt::kShell;
  else
    return "bad no-prompt " + value;
  return "";
}

// The identity keys; false when the key is not one of them.
bool ApplyIdentity(const std::string& key, const std::string& value, UnitConfig* unit,
                   std::string* error) {
  long long number = 0;
  if (key == "addr") {
    if (!ParseIpv4(value, &unit->address)) *error = "bad addr " + value;
  } else if (key == "mask") {
    if (!ParseIpv4(value, &unit->netmask)) *error = "bad mask " + value;
  } else if (key == "node") {
    if (!ParseNumber(value, -32768, 65535, &number)) *error = "bad node " + value;
    unit->node = static_cast<int>(number);
  } else if (key == "group") {
    unit->group = value;
  } else if (key == "version") {
    unit->hasVersion = true;
    unit->version = value;
  } else if (key == "new-version") {
    unit->hasNewVersion = true;
    unit->newVersion = value;
  } else if (key == "mac") {
    if (!ParseMac(value, unit->mac)) *error = "bad mac " + value;
  } else if (key == "gw") {
    unit->hasGateway = ParseIpv4(value, &unit->gateway);
    if (!unit->hasGateway) *error = "bad gw " + value;
  } else if (key == "rsa") {
    unit->rsa = value;
  } else if (key == "probe-port") {
    if (!ParseNumber(value, 1, 65535, &number)) *error = "bad probe-port " + value;
    unit->extraProbePorts.push_back(static_cast<std::uint16_t>(number));
  } else if (key == "no-query") {
    unit->answersQuery = false;
  } else if (key == "no-probe") {
    unit->answersProbe = false;
  } else {
    return false;
  }
  return true;
}

bool ApplyTelnetKnob(const std::string& key, const std::string& value, bool hasValue,
                     UnitConfig* unit, std::string* error) {
  long long number = 0;
  if (key == "telnet-opts")
    *error = ParseNegotiation(value, &unit->negotiation);
  else if (key == "refuse-password")
    unit->refusePassword = true;
  else if (key == "capital-password")
    unit->capitalPassword = true;
  else if (key == "bare-login")
    unit->bareLogin = true;
  else if (key == "banner") {
    unit->hasBanner = true;
    unit->banner = hasValue ? value : "Tarvo unit";
  } else if (key == "no-prompt")
    *error = ParseMissingPrompt(value, unit);
  else if (key == "exit") {
    if (!ParseNumber(value, -2147483647LL, 2147483647LL, &number)) *error = "bad exit " + value;
    unit->exitStatus = static_cast<int>(number);
  } else if (key == "exit-runs") {
    if (!ParseNumber(value, 1, 1000000, &number)) *error = "bad exit-runs " + value;
    unit->exitRuns = static_cast<int>(number);
  } else if (key == "restart-on-install")
    unit->restartOnInstall = true;
  else if (key == "down-ms") {
    if (!ParseNumber(value, 0, 3600000, &number)) *error = "bad down-ms " + value;
    unit->downMs = static_cast<int>(number);
  } else
    return false;
  return true;
}

bool ApplyFileKnob(const std::string& key, const std::string& value, UnitConfig* unit,
                   std::string* error) {
  long long number = 0;
  if (key == "fs-silent")
    unit->fileSilent = true;
  else if (key == "fs-fault")
    *error = ParseFault(value, unit);
  else if (key == "fs-fault-at") {
    if (value != "request" && value != "trailer") *error = "bad fs-fault-at " + value;
    unit->faultAtTrailer = value == "trailer";
  } else if (key == "fs-fault-put") {
    if (!ParseNumber(value, 1, 1 << 30, &number)) *error = "bad fs-fault-put " + value;
    unit->faultOnPut = static_cast<int>(number);
  } else if (key == "fs-close-after") {
    if (!ParseNumber(value, 0, 1LL << 40, &number)) *error = "bad fs-close-after " + value;
    unit->closeAfterBytes = number;
  } else if (key == "rate") {
    if (!ParseNumber(value, 1, 1LL << 40, &number)) *error = "bad rate " + value;
    unit->rateLimit = number;
  } else if (key == "no-echo")
    unit->noEcho = true;
  else
    return false;
  return true;
}

std::uint32_t DefaultNetmask(std::uint32_t address) {
  return (address & 0xFF) == kLoopbackNet ? htonl(0xFF000000u) : htonl(0xFFFFFF00u);
}

// Fills what neither the defaults nor the unit's DESC said.
void CompleteUnit(const ParseState& state, const std::string& description, std::size_t ordinal,
                  UnitConfig* unit) {
  const auto says = [&description](const char* key) {
    const std::string needle = std::string(key) + "=";
    return description.compare(0, needle.size(), needle) == 0 ||
           description.find("," + needle) != std::string::npos;
  };
  if (!state.defaultsNode && !says("node")) unit->node = static_cast<int>(ordinal);
  if (!state.defaultsMask && !says("mask")) unit->netmask = DefaultNetmask(unit->address);
  if (!state.defaultsMac && !says("mac")) {
    unit->mac[0] = 0x02;
    unit->mac[1] = 0x00;
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&unit->address);
    for (int i = 0; i < 4; ++i) unit->mac[2 + i] = octets[i];
  }
}

std::uint32_t NextAddress(const Options& options) {
  if (options.units.empty()) return htonl(0x7F000002u);
  return htonl(ntohl(options.units.back().address) + 1);
}

std::string AddUnit(ParseState& state, const std::string& description, Options* options) {
  UnitConfig unit = state.defaults;
  unit.address = NextAddress(*options);
  const std::string error = ApplyUnitDescription(description, &unit);
  if (!error.empty()) return error;
  CompleteUnit(state, description, options->units.size() + 1, &unit);
  options->units.push_back(unit);
  return "";
}

std::string ApplyOption(ParseState& state, const std::string& name, const std::string& value,
                        Options* options);

std::string ReadConfigFile(ParseState& state, const std::string& path, Options* options) {
  std::ifstream file(path);
  if (!file) return "cannot read config file " + path;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    const auto gap = line.find_first_of(" \t", start);
    const std::string name = line.substr(start, gap - start);
    const auto valueStart = gap == std::string::npos ? gap : line.find_first_not_of(" \t", gap);
    const std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
    const std::string error = ApplyOption(state, name, value, options);
    if (!error.empty()) return path + ": " + error;
  }
  return "";
}

std::string ParsePort(const std::string& value, std::uint16_t* port) {
  long long number = 0;
  if (!ParseNumber(value, 1, 65535, &number)) return "bad port " + value;
  *port = static_cast<std::uint16_t>(number);
  return "";
}

std::string ParseControl(const std::string& value, Options* options) {
  const auto colon = value.rfind(':');
  long long port = 0;
  if (colon == std::string::npos || !ParseIpv4(value.substr(0, colon), &options->controlAddress) ||
      !ParseNumber(value.substr(colon + 1), 1, 65535, &port)) {
    return "bad --control " + value;
  }
  options->controlPort = static_cast<std::uint16_t>(port);
  options->hasControl = true;
  return "";
}

std::string ApplyOption(ParseState& state, const std::string& name, const std::string& value,
                        Options* options) {
  long long count = 0;
  if (name == "log")
    options->logPath = value;
  else if (name == "control")
    return ParseControl(value, options);
  else if (name == "root")
    options->root = value;
  else if (name == "telnet-port")
    return ParsePort(value, &options->telnetPort);
  else if (name == "file-port")
    return ParsePort(value, &options->filePort);
  else if (name == "query-port")
    return ParsePort(value, &options->queryPort);
  else if (name == "probe-port")
    return ParsePort(value, &options->probePort);
  else if (name == "config")
    return ReadConfigFile(state, value, options);
  else if (name == "defaults") {
    state.defaults = DefaultUnit();
    state.defaultsNode = value.find("node=") != std::string::npos;
    state.defaultsMac = value.find("mac=") != std::string::npos;
    state.defaultsMask = value.find("mask=") != std::string::npos;
    return ApplyUnitDescription(value, &state.defaults);
  } else if (name == "unit")
    return AddUnit(state, value, options);
  else if (name == "units") {
    if (!ParseNumber(value, 1, 60000, &count)) return "bad --units " + value;
    for (long long i = 0; i < count; ++i) {
      const std::string error = AddUnit(state, "", options);
      if (!error.empty()) return error;
    }
  } else
    return "unknown option --" + name;
  return "";
}

std::string CheckUnits(const Options& options) {
  if (options.units.empty()) return "no units given (--unit or --units)";
  std::set<std::uint32_t> seen;
  for (const UnitConfig& unit : options.units) {
    if (unit.address == htonl(0x7F000001u)) return "127.0.0.1 is the host's own address";
    if (!seen.insert(unit.address).second) return "two units share an address";
  }
  return "";
}

}  // namespace

std::string ApplyUnitDescription(const std::string& description, UnitConfig* unit) {
  std::stringstream items(description);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const auto equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? PercentDecode(item.substr(equals + 1)) : "";
    std::string error;
    if (!ApplyIdentity(key, value, unit, &error) &&
        !ApplyTelnetKnob(key, value, hasValue, unit, &error) &&
        !ApplyFileKnob(key, value, unit, &error)) {
      return "unknown unit key " + key;
    }
    if (!error.empty()) return error;
  }
  return "";
}

std::string ParseOptions(int argc, char** argv, Options* options) {
  ParseState state;
  state.defaults = DefaultUnit();
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      options->help = true;
      return "";
    }
    if (argument.compare(0, 2, "--") != 0) return "unexpected argument " + argument;
    std::string name = argument.substr(2);
    std::string value;
    const auto equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    } else {
      if (i + 1 >= argc) return "--" + name + " needs a value";
      value = argv[++i];
    }
    const std::string error = ApplyOption(state, name, value, options);
    if (!error.empty()) return error;
  }
  return CheckUnits(*options);
}

const char* HelpText() { return kHelp; }

}  // namespace unitsim
