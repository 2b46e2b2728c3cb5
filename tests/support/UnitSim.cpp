// The simulated-unit fixture (see UnitSim.h). Event lines are flat JSON
// objects written by unitsim; the small reader here understands exactly
// that: string, number, true, false and null values, no nesting.
#include "UnitSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "platform/Process.h"
#include "platform/Sockets.h"
#include "platform/Threads.h"

#ifndef ZEQ_UNITSIM_PATH
#define ZEQ_UNITSIM_PATH ZEQ_BINARY_DIR "/unitsim/unitsim"
#endif

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

long long MsLeft(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

Clock::time_point After(unsigned ms) { return Clock::now() + std::chrono::milliseconds(ms); }

void AppendByteOrUtf8(std::string& out, unsigned code) {
  if (code < 0x100) {
    out += static_cast<char>(code);  // the log writes bytes as \u00XX
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool ReadString(const std::string& text, std::size_t& at, std::string* out) {
  if (at >= text.size() || text[at] != '"') return false;
  out->clear();
  for (++at; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (++at >= text.size()) return false;
    switch (text[at]) {
      case 'n': *out += '\n'; break;
      case 'r': *out += '\r'; break;
      case 't': *out += '\t'; break;
      case 'b': *out += '\b'; break;
      case 'f': *out += '\f'; break;
      case 'u': {
        if (at + 4 >= text.size()) return false;
        AppendByteOrUtf8(*out,
                         static_cast<unsigned>(std::stoul(text.substr(at + 1, 4), nullptr, 16)));
        at += 4;
        break;
      }
      default: *out += text[at];
    }
  }
  return false;
}

bool ReadBareValue(const std::string& text, std::size_t& at, std::string* out) {
  const std::size_t start = at;
  while (at < text.size() && text[at] != ',' && text[at] != '}') ++at;
  *out = text.substr(start, at - start);
  return !out->empty();
}

std::atomic<int> instanceCounter{0};

}  // namespace

std::string SimUnit::Description() const {
  std::vector<std::string> items;
  if (!address.empty()) items.push_back("addr=" + address);
  if (node != 0) items.push_back("node=" + std::to_string(node));
  if (!group.empty()) items.push_back("group=" + group);
  if (!version.empty()) items.push_back("version=" + version);
  if (!mac.empty()) items.push_back("mac=" + mac);
  if (!gateway.empty()) items.push_back("gw=" + gateway);
  items.insert(items.end(), knobs.begin(), knobs.end());
  std::string description;
  for (const std::string& item : items) description += (description.empty() ? "" : ",") + item;
  return description;
}

std::string SimEvent::Str(const std::string& key) const {
  const auto found = fields.find(key);
  return found == fields.end() ? std::string() : found->second;
}

long long SimEvent::Int(const std::string& key, long long missing) const {
  const auto found = fields.find(key);
  if (found == fields.end() || found->second.empty()) return missing;
  return std::strtoll(found->second.c_str(), nullptr, 10);
}

bool ParseSimEvent(const std::string& line, SimEvent* event) {
  event->line = line;
  event->fields.clear();
  std::size_t at = 0;
  if (line.empty() || line[at++] != '{') return false;
  while (at < line.size() && line[at] != '}') {
    std::string key;
    std::string value;
    if (!ReadString(line, at, &key) || at >= line.size() || line[at++] != ':') return false;
    const bool ok =
        line[at] == '"' ? ReadString(line, at, &value) : ReadBareValue(line, at, &value);
    if (!ok) return false;
    event->fields[key] = value;
    if (at < line.size() && line[at] == ',') ++at;
  }
  return at < line.size();
}

UnitSim::UnitSim() : control_(platform::kInvalidSocket) {}

UnitSim::~UnitSim() {
  Stop();
  // A failed test keeps the simulator's log and files for a look afterwards.
  if (!folder_.empty() && !::testing::Test::HasFailure()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void UnitSim::AddUnit(const SimUnit& unit) { units_.push_back(unit.Description()); }

void UnitSim::AddUnits(int count) {
  for (int i = 0; i < count; ++i) units_.push_back("");
}

void UnitSim::AddArguments(const std::vector<std::string>& arguments) {
  extra_.insert(extra_.end(), arguments.begin(), arguments.end());
}

std::string UnitSim::ProgramPath() {
  const char* configured = std::getenv("ZEQ_UNITSIM");
  if (configured != nullptr && configured[0] != '\0') return configured;
  return ZEQ_UNITSIM_PATH;
}

bool UnitSim::ProgramExists() { return std::ifstream(ProgramPath()).good(); }

bool UnitSim::Start(unsigned timeoutMs) {
  if (process_ != nullptr) return true;
  const int instance = ++instanceCounter;
  folder_ = ScratchDirectory("unitsim-" + std::to_string(platform::CurrentProcessId()) + "-" +
                             std::to_string(instance));
  logPath_ = folder_ + "/events.jsonl";
  filesRoot_ = folder_ + "/files";
  events_.clear();
  logOffset_ = 0;
  const std::uint32_t loopback = Loopback();
  const platform::SocketHandle listener = platform::OpenTcpSocket();
  std::uint32_t bound = 0;
  std::uint16_t port = 0;
  if (listener == platform::kInvalidSocket || platform::Bind(listener, loopback, 0) != 0 ||
      platform::Listen(listener, 1) != 0 ||
      platform::GetLocalAddress(listener, &bound, &port) != 0) {
    error_ = "cannot listen for the control connection";
    if (listener != platform::kInvalidSocket) platform::CloseSocket(listener);
    return false;
  }
  std::vector<std::string> arguments = {
      "--log", logPath_, "--root", filesRoot_, "--control", "127.0.0.1:" + std::to_string(port)};
  arguments.insert(arguments.end(), extra_.begin(), extra_.end());
  for (const std::string& description : units_) {
    arguments.push_back("--unit");
    arguments.push_back(description);
  }
  process_ = platform::StartProcess(ProgramPath(), arguments, nullptr);
  if (process_ == nullptr) {
    error_ = "cannot start " + ProgramPath() + " (error " +
             std::to_string(platform::LastProcessError()) + ")";
    platform::CloseSocket(listener);
    return false;
  }
  hasExitCode_ = false;
  const bool ready = WaitReady(listener, timeoutMs);
  platform::CloseSocket(listener);
  if (!ready) Stop(2000);
  return ready;
}

bool UnitSim::WaitReady(std::uintptr_t listener, unsigned timeoutMs) {
  const auto deadline = After(timeoutMs);
  for (;;) {
    if (MsLeft(deadline) <= 0) {
      error_ = "unitsim did not connect to the control address in time";
      return false;
    }
    int code = 0;
    if (platform::ProcessExitCode(process_, &code)) {
      error_ = "unitsim ended at once with exit code " + std::to_string(code);
      return false;
    }
    if (platform::WaitReadable(listener, 50) == 1) break;
  }
  control_ = platform::Accept(listener, nullptr);
  std::string line;
  if (control_ == platform::kInvalidSocket ||
      !ReadControlLine(static_cast<unsigned>(std::max(0LL, MsLeft(deadline))), &line)) {
    error_ = "no ready line from unitsim";
    return false;
  }
  if (line != "ready") {
    error_ = line;
    return false;
  }
  return true;
}

bool UnitSim::ReadControlLine(unsigned timeoutMs, std::string* line) {
  const auto deadline = After(timeoutMs);
  line->clear();
  while (MsLeft(deadline) > 0) {
    if (platform::WaitReadable(control_, static_cast<int>(MsLeft(deadline))) != 1) continue;
    char c;
    if (platform::Recv(control_, &c, 1) != 1) return false;
    if (c == '\n') return true;
    *line += c;
  }
  return false;
}

bool UnitSim::Ended() {
  if (platform::WaitProcess(process_, 0) == 1) return true;
  ReadNewEvents();
  return !events_.empty() && events_.back().event() == "exit";
}

bool UnitSim::Stop(unsigned timeoutMs) {
  if (process_ == nullptr) return true;
  if (control_ != platform::kInvalidSocket) platform::CloseSocket(control_);
  control_ = platform::kInvalidSocket;
  const auto deadline = After(timeoutMs);
  bool ended = false;
  while (!(ended = Ended()) && MsLeft(deadline) > 0) platform::SleepMilliseconds(10);
  if (!ended) {
    error_ = "unitsim did not end in time";
    platform::TerminateChildProcess(process_);
  }
  // After the "exit" event only the return from main is left.
  platform::WaitProcess(process_, 2000);
  hasExitCode_ = platform::ProcessExitCode(process_, &exitCode_);
  platform::CloseProcess(process_);
  process_ = nullptr;
  return ended;
}

bool UnitSim::ExitCode(int* code) {
  if (process_ != nullptr) return platform::ProcessExitCode(process_, code);
  if (hasExitCode_) *code = exitCode_;
  return hasExitCode_;
}

void UnitSim::ReadNewEvents() {
  std::ifstream log(logPath_, std::ios::binary);
  if (!log) return;
  log.seekg(logOffset_);
  std::stringstream rest;
  rest << log.rdbuf();
  const std::string text = rest.str();
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    SimEvent event;
    if (ParseSimEvent(text.substr(start, end - start), &event)) events_.push_back(event);
  }
  logOffset_ += static_cast<long long>(start);
}

const std::vector<SimEvent>& UnitSim::Events() {
  ReadNewEvents();
  return events_;
}

std::vector<SimEvent> UnitSim::Events(const std::string& event, const std::string& unit) {
  std::vector<SimEvent> matching;
  for (const SimEvent& candidate : Events()) {
    if (candidate.event() == event && (unit.empty() || candidate.unit() == unit)) {
      matching.push_back(candidate);
    }
  }
  return matching;
}

bool UnitSim::WaitFor(const std::function<bool(const SimEvent&)>& match, unsigned timeoutMs,
                      SimEvent* found) {
  const auto deadline = After(timeoutMs);
  std::size_t checked = 0;
  for (;;) {
    const std::vector<SimEvent>& all = Events();
    for (; checked < all.size(); ++checked) {
      if (!match(all[checked])) continue;
      if (found != nullptr) *found = all[checked];
      return true;
    }
    if (MsLeft(deadline) <= 0) return false;
    platform::SleepMilliseconds(5);
  }
}

bool UnitSim::WaitForEvent(const std::string& event, const std::string& unit, unsigned timeoutMs,
                           SimEvent* found) {
  return WaitFor(
      [&](const SimEvent& candidate) {
        return candidate.event() == event && (unit.empty() || candidate.unit() == unit);
      },
      timeoutMs, found);
}

bool UnitSim::WaitForCount(const std::string& event, const std::string& unit, std::size_t count,
                           unsigned timeoutMs) {
  const auto deadline = After(timeoutMs);
  for (;;) {
    if (Events(event, unit).size() >= count) return true;
    if (MsLeft(deadline) <= 0) return false;
    platform::SleepMilliseconds(5);
  }
}

std::string UnitSim::UnitFolder(const std::string& address) const {
  return filesRoot_ + "/" + address;
}

void UnitSim::StoreFile(const std::string& address, const std::string& remotePath,
                        const std::string& content) const {
  const std::filesystem::path stored = StoredPath(address, remotePath);
  std::filesystem::create_directories(stored.parent_path());
  std::ofstream(stored, std::ios::binary) << content;
}

std::string UnitSim::StoredPath(const std::string& address, const std::string& remotePath) const {
  std::string path = UnitFolder(address);
  std::stringstream parts(remotePath);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (!part.empty() && part != ".") path += "/" + part;
  }
  return path;
}

void UnitSim::StoreInstallScript(const std::string& address) const {
  StoreFile(address, "/rsa/install.script", "#!/bin/sh\r\necho installing\r\n");
}

}  // namespace testsupport
