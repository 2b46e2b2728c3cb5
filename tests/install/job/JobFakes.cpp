// The stand-ins of JobFakes.h. Every wait here has a deadline, so a job that
// misbehaves fails its test instead of hanging it.
#include "JobFakes.h"

#include <cstring>

namespace jobtest {

namespace {

constexpr unsigned kShellSliceMs = 50;
constexpr unsigned kShellAcceptMs = 30000;

bool WaitFlag(const std::atomic<bool>& flag, unsigned timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!flag.load()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

std::uint32_t Address(const std::string& text) {
  std::uint32_t address = 0;
  platform::ParseAddress(text.c_str(), &address);
  return address;
}

std::array<std::uint8_t, 6> MacOf(const std::string& address) {
  const std::uint32_t value = Address(address);
  std::array<std::uint8_t, 6> mac{2, 0};
  std::memcpy(mac.data() + 2, &value, 4);
  return mac;
}

tarvo_object* FindUnit(unit_table& table, std::uint32_t address) {
  tarvo_object* found = nullptr;
  table.Lock();
  for (std::size_t i = 0; i < table.getCount() && found == nullptr; ++i) {
    if (table.getAddressUnit(i)->address == address) found = table.getAddressUnit(i);
  }
  table.Unlock();
  return found;
}

// --- RecordingChannel

void RecordingChannel::record(RouteCall call, std::uint32_t unit, const std::uint8_t* mac) {
  call.at = std::chrono::steady_clock::now();
  if (table_) {
    table_->Lock();
    for (std::size_t i = 0; i < table_->getCount(); ++i) {
      tarvo_object* candidate = table_->getAddressUnit(i);
      if (candidate->address == unit || (mac && std::memcmp(candidate->mac, mac, 6) == 0)) {
        call.unitStatus = candidate->statusText;
      }
    }
    table_->Unlock();
  }
  std::lock_guard<std::mutex> hold(mutex_);
  calls_.push_back(call);
}

int RecordingChannel::AddHostRoute(std::uint32_t destination, std::uint32_t mask,
                                   std::uint32_t nextHop, std::uint32_t interfaceAddress) {
  RouteCall call;
  call.kind = "add";
  call.destination = destination;
  call.mask = mask;
  call.nextHop = nextHop;
  call.interfaceAddress = interfaceAddress;
  record(call, destination, nullptr);
  return addsFail_ ? 0 : 1;
}

int RecordingChannel::RemoveHostRoute(std::uint32_t destination, std::uint32_t mask) {
  RouteCall call;
  call.kind = "remove";
  call.destination = destination;
  call.mask = mask;
  record(call, destination, nullptr);
  return 1;
}

int RecordingChannel::record_unit_route(const char* kind, std::uint32_t interfaceAddress,
                                        const std::uint8_t* mac) {
  RouteCall call;
  call.kind = kind;
  call.interfaceAddress = interfaceAddress;
  std::memcpy(call.mac.data(), mac, 6);
  record(call, 0, mac);
  return 1;
}

int RecordingChannel::AnnounceUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac) {
  const int written = record_unit_route("announce", interfaceAddress, mac);
  return addsFail_ ? 0 : written;
}

int RecordingChannel::WithdrawUnitRoute(std::uint32_t interfaceAddress, const std::uint8_t* mac) {
  return record_unit_route("withdraw", interfaceAddress, mac);
}

std::vector<RouteCall> RecordingChannel::CallsFor(std::uint32_t unit, const std::uint8_t* mac) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<RouteCall> found;
  for (const RouteCall& call : calls_) {
    const bool byMac = (call.kind == "announce" || call.kind == "withdraw") &&
                       std::memcmp(call.mac.data(), mac, 6) == 0;
    if (byMac || (call.destination == unit && unit != 0)) found.push_back(call);
  }
  return found;
}

std::size_t RecordingChannel::CallCount() {
  std::lock_guard<std::mutex> hold(mutex_);
  return calls_.size();
}

// --- ScriptedPinger

void ScriptedPinger::Silence(std::uint32_t address) {
  std::lock_guard<std::mutex> hold(mutex_);
  silent_.insert(address);
}

void ScriptedPinger::HoldUntil(int count, unsigned timeoutMs) {
  std::lock_guard<std::mutex> hold(mutex_);
  holding_ = true;
  releaseAt_ = count;
  holdMs_ = timeoutMs;
}

void ScriptedPinger::Release() {
  std::lock_guard<std::mutex> hold(mutex_);
  holding_ = false;
  changed_.notify_all();
}

bool ScriptedPinger::WaitHeld(int count, unsigned timeoutMs) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return held_ >= count; });
}

int ScriptedPinger::MostHeldAtOnce() {
  std::lock_guard<std::mutex> hold(mutex_);
  return mostHeld_;
}

platform::IcmpEchoReply ScriptedPinger::Ping(std::uint32_t address, unsigned, std::uint8_t,
                                             unsigned) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (holding_) {
    ++held_;
    mostHeld_ = std::max(mostHeld_, held_);
    if (releaseAt_ != 0 && held_ >= releaseAt_) holding_ = false;
    changed_.notify_all();
    changed_.wait_for(hold, std::chrono::milliseconds(holdMs_), [&] { return !holding_; });
    --held_;
  }
  platform::IcmpEchoReply reply{};
  reply.address = address;
  reply.status = silent_.count(address) ? 11010u : 0u;  // IP_REQ_TIMED_OUT
  return reply;
}

// --- StatusTrail

StatusTrail::StatusTrail(unit_table& table, tarvo_object* unit)
    : table_(table), unit_(unit), thread_([this] { Poll(); }) {}

StatusTrail::~StatusTrail() { Stop(); }

void StatusTrail::Poll() {
  while (!stop_.load()) {
    Sample();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void StatusTrail::Sample() {
  table_.Lock();
  const std::string text = unit_->statusText;
  table_.Unlock();
  std::lock_guard<std::mutex> hold(mutex_);
  if (texts_.empty() || texts_.back() != text) texts_.push_back(text);
}

// The last text is sampled once more after the poller ended, so a text set
// just before the stop is not missed.
std::vector<std::string> StatusTrail::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  Sample();
  std::lock_guard<std::mutex> hold(mutex_);
  return texts_;
}

std::string StatusTrail::Latest() {
  std::lock_guard<std::mutex> hold(mutex_);
  return texts_.empty() ? std::string() : texts_.back();
}

// --- HoldingShell

HoldingShell::HoldingShell(const std::string& address, const std::string& holdLine)
    : holdLine_(holdLine) {
  const platform::SocketHandle listener = platform::OpenTcpSocket();
  platform::SetReuseAddress(listener, true);
  if (platform::Bind(listener, Address(address), 23) != 0 || platform::Listen(listener, 1) != 0) {
    platform::CloseSocket(listener);
    return;
  }
  listener_ = listener;
  thread_ = std::thread([this] { Serve(); });
}

HoldingShell::~HoldingShell() {
  closed_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != platform::kInvalidSocket) platform::CloseSocket(listener_);
}

bool HoldingShell::WaitHolding(unsigned timeoutMs) { return WaitFlag(holding_, timeoutMs); }

bool HoldingShell::WaitClosed(unsigned timeoutMs) { return WaitFlag(closed_, timeoutMs); }

void HoldingShell::Say(platform::SocketHandle socket, const std::string& text) {
  platform::Send(socket, text.data(), static_cast<int>(text.size()));
}

// Reads up to a line feed in short slices; false when the client closed or
// the fixture is going away.
bool HoldingShell::ReadLine(platform::SocketHandle socket, std::string* line) {
  line->clear();
  while (!closed_.load()) {
    const int ready = platform::WaitReadable(socket, kShellSliceMs);
    if (ready < 0) return false;
    if (ready == 0) continue;
    char byte = 0;
    if (platform::Recv(socket, &byte, 1) != 1) return false;
    if (byte == '\n') return true;
    // Telnet option bytes the client may send are not part of the line.
    const auto value = static_cast<unsigned char>(byte);
    if (value >= 0x20 && value < 0x80) *line += byte;
  }
  return false;
}

void HoldingShell::Serve() {
  if (platform::WaitReadable(listener_, kShellAcceptMs) != 1) return;
  platform::SocketAddressIn from{};
  const platform::SocketHandle socket = platform::Accept(listener_, &from);
  if (socket == platform::kInvalidSocket) return;
  std::string line;
  Say(socket, "\nlogin:");
  if (ReadLine(socket, &line)) Say(socket, "password:");
  if (ReadLine(socket, &line)) Say(socket, "\n# ");
  while (ReadLine(socket, &line)) {
    if (line == holdLine_) holding_ = true;
    if (!holding_) Say(socket, "\n# ");
  }
  closed_ = true;
  platform::CloseSocket(socket);
}

}  // namespace jobtest
