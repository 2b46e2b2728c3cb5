// The telnet session's connection, receive thread and prompt waits.
//
// Handle lifetime: Disconnect (any thread) cancels the connection, which
// shuts it down, so a pending connect or recv returns at once. The receive
// thread holds the socket for its whole life and a send for its length, so
// the handle is released only after both have left it (CancellableSocket.h).
#include "install/TelnetSession.h"

#include <atomic>
#include <cstdio>

#include "install/TelnetProtocol.h"

namespace {

constexpr unsigned kKeepAliveIdleMs = 30000;
constexpr unsigned kKeepAliveIntervalMs = 5000;
std::atomic<unsigned> g_keepAliveIdleMs{kKeepAliveIdleMs};
std::atomic<unsigned> g_keepAliveIntervalMs{kKeepAliveIntervalMs};

class SessionGuard {
 public:
  explicit SessionGuard(platform::RecursiveMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~SessionGuard() { mutex_.Unlock(); }
  SessionGuard(const SessionGuard&) = delete;
  SessionGuard& operator=(const SessionGuard&) = delete;

 private:
  platform::RecursiveMutex& mutex_;
};

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
  for (;;) {
    {
      // One poll holds the lock throughout, so the bytes a match discards
      // are exactly those the searched copy held.
      SessionGuard guard(lock_);
      if (!connection_.IsOpen()) return 0;
      const std::string copy = responseBuffer_;
      const std::size_t at = copy.find(expected);
      if (at != std::string::npos) {
        result = copy.substr(0, at);
        responseBuffer_.clear();
        return 1;
      }
      if (!failure.empty() && copy.find(failure) != std::string::npos) {
        result = failure;
        responseBuffer_.clear();
        return -1;
      }
    }
    platform::SleepMilliseconds(1);
  }
}

void TelnetSession::Disconnect(int error) {
  // The lock makes the report and the close one step, as a WaitFor sees it.
  SessionGuard guard(lock_);
  if (connection_.Cancel() && error != 0) PrintDiagnostic("Disconnected error %d\n", error);
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
