// A scripted telnet peer for the session tests: it listens on 127.0.0.1 (an
// ephemeral port), accepts one connection and plays a byte script on its own
// thread: send these bytes, expect exactly those, pause, close, or wait for
// the client to close. Every step that reads has a deadline, so a session
// that sends the wrong thing fails the test instead of hanging it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ByteText.h"
#include "LoopbackNet.h"
#include "platform/Sockets.h"

namespace telnettest {

using testsupport::Bytes;
using testsupport::Loopback;
using testsupport::Printable;

class ScriptedPeer {
 public:
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  bool isListening() const { return listener_.isListening(); }
  std::uint16_t getPort() const { return listener_.port(); }

  ScriptedPeer& Send(const std::string& bytes);
  ScriptedPeer& Expect(const std::string& bytes);
  ScriptedPeer& Pause(unsigned milliseconds);
  ScriptedPeer& Close();
  // Reads until the client closes; whatever arrives is kept in getReceived().
  ScriptedPeer& ExpectClose();

  // Accepts the connection and plays the script on the peer's thread.
  void Start();
  // Waits for the script's end; the failures, empty when it ran as written.
  std::string Finish();
  // Every byte the client sent, in order (read after Finish).
  const std::string& getReceived() const { return received_; }
  // The client's port as the peer saw it at accept.
  std::uint16_t getClientPort() const { return clientPort_.load(); }

 private:
  enum class Kind { kSend, kExpect, kPause, kClose, kExpectClose };
  struct Action {
    Kind kind;
    std::string bytes;
    unsigned milliseconds;
  };

  void run();
  void play(const Action& action);
  // Reads up to count bytes before the deadline; fewer on close or time-out.
  std::string receive(std::size_t count, unsigned timeoutMs, bool untilClose);

  testsupport::LoopbackListener listener_;
  platform::SocketHandle connection_ = platform::kInvalidSocket;
  std::atomic<std::uint16_t> clientPort_{0};
  std::vector<Action> script_;
  std::thread thread_;
  std::string failures_;
  std::string received_;
};

}  // namespace telnettest
