// The telnet session's connection, receive thread and prompt waits.
//
// Handle lifetime: Disconnect (any thread) cancels the connection, which
// shuts it down, so a pending connect or recv returns at once. The receive
// thread holds the socket for its whole life and a send for its length, so
// the handle is released only after both have left it (CancellableSocket.h).
#include "telnet/TelnetSession.h"

#include <atomic>
#include <cstdio>

#include "telnet/TelnetProtocol.h"

namespace {

constexpr unsigned kKeepAliveIdleMs = 30000;
constexpr unsigned kKeepAliveIntervalMs = 5000;
std::atomic<unsigned> g_keepAliveIdleMs{kKeepAliveIdleMs};
std::atomic<unsigned> g_keepAliveIntervalMs{kKeepAliveIntervalMs};

using SessionGuard = std::lock_guard<std::mutex>;

// Where a search for text continues in a buffer of which the first searched
// bytes were searched before without a match: a match may still begin in
// their last text.size() - 1 bytes and end in the new ones.
std::size_t ResumeAt(std::size_t searched, const std::string& text) {
  return searched >= text.size() ? searched - text.size() + 1 : 0;
}

// Diagnostics go to standard output only; flushed at once because the
// receive thread writes them and the program may be ended at any time.
void PrintDiagnostic(const char* format, int value) {
  std::printf(format, value);
  std::fflush(stdout);
}

}  // namespace

void TelnetSession::SetKeepAliveForTesting(unsigned idleMs, unsigned intervalMs) {
  g_keepAliveIdleMs = idleMs;
  g_keepAliveIntervalMs = intervalMs;
}

TelnetSession::TelnetSession(const std::string& userName, const std::string& password)
    : userName_(userName), password_(password) {}

TelnetSession::~TelnetSession() {
  Disconnect(0);
  join_receive_thread();
}

int TelnetSession::Connect(std::uint32_t address, std::uint16_t port) {
  Disconnect(0);
  join_receive_thread();
  const platform::SocketHandle socket = platform::OpenTcpSocket();
  if (socket == platform::kInvalidSocket) return 0;
  // Adopted before the blocking connect, so that a cancel can abort it.
  if (!connection_.Adopt(socket)) {
    platform::CloseSocket(socket);
    return 0;
  }
  {
    ZEQ::CancellableSocket::Use use(connection_);
    if (!use) return 0;  // disconnected before the connect began
    if (platform::Connect(socket, address, port) != 0) {
      Disconnect(platform::CurrentErrno());
      return 0;
    }
  }
  // Disconnected while the connect was under way.
  if (!connection_.IsOpen()) return 0;
  // Failures here are ignored: the session works without them, only less
  // well (a dead unit is noticed later; small messages may be delayed).
  platform::SetKeepAlive(socket, g_keepAliveIdleMs.load(), g_keepAliveIntervalMs.load());
  platform::SetNoDelay(socket, true);
  receiveThread_ = platform::StartThread(receive_thread, this, 0, &receiveThreadId_);
  if (receiveThread_ == nullptr) {
    // Without a receive thread nothing would ever fill the response buffer
    // and every wait would last until a cancel.
    Disconnect(platform::CurrentErrno());
    return 0;
  }
  return 1;
}

int TelnetSession::Send(const std::string& line) {
  ZEQ::CancellableSocket::Use use(connection_);
  if (!use) return 0;
  if (tap_) tap_(true, line);
  const std::string text = line + "\n";
  const int sent = platform::Send(use.socket(), text.data(), static_cast<int>(text.size()));
  if (sent < 0) {
    Disconnect(platform::CurrentErrno());
    return -1;
  }
  return sent;
}

int TelnetSession::WaitFor(const std::string& expected, std::string& result,
                           const std::string& failure) {
  std::string consumed;
  const int outcome = wait_until(expected, result, failure, &consumed);
  if (!tap_) return outcome;
  // The remainder at the close is told once, however often the job waits.
  if (outcome != 0 || (!closeTapped_ && !consumed.empty())) tap_(false, consumed);
  if (outcome == 0) closeTapped_ = true;
  return outcome;
}

int TelnetSession::wait_until(const std::string& expected, std::string& result,
                              const std::string& failure, std::string* consumed) {
  // The lock is held from the search through the clearing, so the bytes a
  // match discards are exactly those that were searched; it is let go only
  // while the wait sleeps.
  std::unique_lock<std::mutex> guard(lock_);
  // Bytes at the buffer's start already searched for both texts. The buffer
  // only grows while this wait runs: nothing else empties it.
  std::size_t searched = 0;
  bool first = true;
  for (;;) {
    if (!connection_.IsOpen()) {
      *consumed = responseBuffer_;
      return 0;
    }
    if (first || responseBuffer_.size() > searched) {
      const std::size_t at = responseBuffer_.find(expected, ResumeAt(searched, expected));
      if (at != std::string::npos) {
        result.assign(responseBuffer_, 0, at);
        consumed->swap(responseBuffer_);
        responseBuffer_.clear();
        return 1;
      }
      if (!failure.empty() &&
          responseBuffer_.find(failure, ResumeAt(searched, failure)) != std::string::npos) {
        result = failure;
        consumed->swap(responseBuffer_);
        responseBuffer_.clear();
        return -1;
      }
      searched = responseBuffer_.size();
      first = false;
    }
    changed_.wait(guard);
  }
}

void TelnetSession::Disconnect(int error) {
  // The lock makes the report and the close one step, as a WaitFor sees it,
  // and the signal wakes a WaitFor in progress to return 0.
  SessionGuard guard(lock_);
  if (connection_.Cancel() && error != 0) PrintDiagnostic("Disconnected error %d\n", error);
  changed_.notify_all();
}

bool TelnetSession::isConnected() { return connection_.IsOpen(); }

std::string TelnetSession::getResponseBuffer() {
  SessionGuard guard(lock_);
  return responseBuffer_;
}

void* TelnetSession::receive_thread(void* session) {
  static_cast<TelnetSession*>(session)->ReceiveLoop();
  return reinterpret_cast<void*>(std::uintptr_t{1});
}

void TelnetSession::ReceiveLoop() {
  const ZEQ::CancellableSocket::Use use(connection_);
  const platform::SocketHandle socket = use.socket();
  TelnetProtocol protocol;
  while (connection_.IsOpen()) {
    std::uint8_t byte = 0;
    if (platform::Recv(socket, &byte, 1) <= 0) break;
    const TelnetStep step = protocol.Feed(byte);
    if (step.hasData) append_response(step.data);
    if (step.unknownCommand >= 0) PrintDiagnostic("unknown command %d\n", step.unknownCommand);
    if (step.replyLength > 0 && send_if_connected(socket, step.reply, step.replyLength) < 0) {
      Disconnect(platform::CurrentErrno());
    }
    if (step.announcement != nullptr &&
        send_if_connected(socket, step.announcement, step.announcementLength) < 0) {
      Disconnect(platform::CurrentErrno());
    }
  }
  Disconnect(platform::CurrentErrno());
}

void TelnetSession::append_response(std::uint8_t byte) {
  SessionGuard guard(lock_);
  responseBuffer_.push_back(static_cast<char>(byte));
  changed_.notify_all();
}

int TelnetSession::send_if_connected(platform::SocketHandle socket, const void* data, int length) {
  if (!connection_.IsOpen()) return 0;
  return platform::Send(socket, data, length);
}

void TelnetSession::join_receive_thread() {
  if (receiveThread_ == nullptr) return;
  platform::WaitThread(receiveThread_);
  platform::CloseThread(receiveThread_);
  receiveThread_ = nullptr;
  receiveThreadId_ = 0;
}
