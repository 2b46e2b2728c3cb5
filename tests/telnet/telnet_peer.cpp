// The scripted telnet peer of the session tests (see telnet_peer.h).
#include "telnet_peer.h"

#include <chrono>

namespace telnettest {

namespace {

constexpr unsigned kReadTimeoutMs = 10000;
constexpr unsigned kAcceptTimeoutMs = 10000;

}  // namespace

ScriptedPeer::ScriptedPeer() = default;

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) thread_.join();
  if (connection_ != platform::kInvalidSocket) platform::CloseSocket(connection_);
}

ScriptedPeer& ScriptedPeer::Send(const std::string& bytes) {
  script_.push_back({Kind::kSend, bytes, 0});
  return *this;
}

ScriptedPeer& ScriptedPeer::Expect(const std::string& bytes) {
  script_.push_back({Kind::kExpect, bytes, 0});
  return *this;
}

ScriptedPeer& ScriptedPeer::Pause(unsigned milliseconds) {
  script_.push_back({Kind::kPause, "", milliseconds});
  return *this;
}

ScriptedPeer& ScriptedPeer::Close() {
  script_.push_back({Kind::kClose, "", 0});
  return *this;
}

ScriptedPeer& ScriptedPeer::ExpectClose() {
  script_.push_back({Kind::kExpectClose, "", 0});
  return *this;
}

void ScriptedPeer::Start() {
  thread_ = std::thread([this] { run(); });
}

std::string ScriptedPeer::Finish() {
  if (thread_.joinable()) thread_.join();
  return failures_;
}

void ScriptedPeer::run() {
  platform::SocketAddressIn from{};
  connection_ = listener_.Accept(kAcceptTimeoutMs, &from);
  if (connection_ == platform::kInvalidSocket) {
    failures_ += "no connection accepted; ";
    return;
  }
  clientPort_ = static_cast<std::uint16_t>((from.port >> 8) | (from.port << 8));
  for (const Action& action : script_) {
    play(action);
    if (!failures_.empty()) return;
  }
}

void ScriptedPeer::play(const Action& action) {
  switch (action.kind) {
    case Kind::kSend:
      if (platform::Send(connection_, action.bytes.data(), static_cast<int>(action.bytes.size())) !=
          static_cast<int>(action.bytes.size())) {
        failures_ += "send of " + Printable(action.bytes) + " failed; ";
      }
      break;
    case Kind::kExpect: {
      const std::string got = receive(action.bytes.size(), kReadTimeoutMs, false);
      if (got != action.bytes) {
        failures_ +=
            "expected \"" + Printable(action.bytes) + "\", got \"" + Printable(got) + "\"; ";
      }
      break;
    }
    case Kind::kPause:
      std::this_thread::sleep_for(std::chrono::milliseconds(action.milliseconds));
      break;
    case Kind::kClose:
      platform::CloseSocket(connection_);
      connection_ = platform::kInvalidSocket;
      break;
    case Kind::kExpectClose: receive(~std::size_t{0}, kReadTimeoutMs, true); break;
  }
}

std::string ScriptedPeer::receive(std::size_t count, unsigned timeoutMs, bool untilClose) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      if (untilClose) failures_ += "the client did not close; ";
      break;
    }
    if (platform::WaitReadable(connection_, static_cast<int>(left.count())) != 1) continue;
    char buffer[256];
    const std::size_t want =
        count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
    const int received = platform::Recv(connection_, buffer, static_cast<int>(want));
    if (received <= 0) break;
    got.append(buffer, static_cast<std::size_t>(received));
  }
  received_ += got;
  return got;
}

}  // namespace telnettest
