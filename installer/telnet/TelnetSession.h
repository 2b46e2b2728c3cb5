// One telnet connection to a unit's shell, owned by one install job. The
// session connects, keeps the connection alive, runs a receive thread that
// answers option negotiation and collects every other byte into the response
// buffer, sends command lines, and lets the job wait for a prompt. Disconnect
// may come from any thread (the job, the receive thread, a cancel from the
// main thread); Connect, Send, WaitFor and destruction belong to the job
// thread that owns the session. The login dialogue is in RemoteShell.h.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "CancellableSocket.h"
#include "platform/Sockets.h"
#include "platform/Threads.h"

class TelnetSession {
 public:
  TelnetSession(const std::string& userName, const std::string& password);
  // Disconnects, then waits without time limit for the receive thread.
  ~TelnetSession();
  TelnetSession(const TelnetSession&) = delete;
  TelnetSession& operator=(const TelnetSession&) = delete;

  // The keep-alive times of sessions that connect from now on. The program
  // never changes them (30,000 ms without traffic before the first probe,
  // 5,000 ms between probes); tests shorten them to see a dead link within
  // seconds rather than minutes.
  static void SetKeepAliveForTesting(unsigned idleMs, unsigned intervalMs);

  // Address in network byte order, port in host order. 1 when connected,
  // 0 otherwise (also when the receive thread cannot be started).
  int Connect(std::uint32_t address, std::uint16_t port);
  // Sends line + "\n" in one send: the accepted byte count, 0 without a
  // connection, -1 when sending failed (the session is then disconnected).
  int Send(const std::string& line);
  // Waits without time limit: 1 when expected arrived (result: everything
  // before it), -1 when a non-empty failure text arrived (result: that text),
  // 0 when the connection is gone. A match empties the response buffer. The
  // wait sleeps until the receive thread adds bytes or the connection goes,
  // and then searches only what it has not searched before.
  int WaitFor(const std::string& expected, std::string& result, const std::string& failure);

  // The dialogue as the job drives it, for its transcript: every line Send
  // sends (sent true, without the line end), the text each WaitFor consumed
  // (sent false), and once the remainder when a WaitFor finds the
  // connection gone. Called on the job thread without the session's lock.
  // Set before Connect; owner thread only.
  using Tap = std::function<void(bool sent, const std::string& text)>;
  void SetTap(Tap tap) { tap_ = std::move(tap); }
  // Closes the connection if one is open; any thread, any number of times.
  void Disconnect(int error);

  const std::string& getUserName() const { return userName_; }
  const std::string& getPassword() const { return password_; }
  int getLoginStage() const { return loginStage_.load(); }
  void setLoginStage(int stage) { loginStage_.store(stage); }
  const std::string& getLoginPrompt() const { return loginPrompt_; }
  const std::string& getPasswordPrompt() const { return passwordPrompt_; }
  const std::string& getShellPrompt() const { return shellPrompt_; }
  bool isConnected();
  // A copy of what has been received and not yet consumed by a match.
  std::string getResponseBuffer();

 private:
  // WaitFor's loop; *consumed receives the buffer's text it took (or found
  // at the close).
  int wait_until(const std::string& expected, std::string& result, const std::string& failure,
                 std::string* consumed);
  static void* receive_thread(void* session);
  void ReceiveLoop();
  void append_response(std::uint8_t byte);
  int send_if_connected(platform::SocketHandle socket, const void* data, int length);
  void join_receive_thread();

  const std::string userName_;
  const std::string password_;
  // The connection: Disconnect shuts it down at once, and its handle is
  // released only when the receive thread and any send have left it.
  ZEQ::CancellableSocket connection_;
  std::atomic<int> loginStage_{0};
  const std::string loginPrompt_ = "\nlogin:";
  const std::string passwordPrompt_ = "password:";
  const std::string shellPrompt_ = "\n# ";
  std::string responseBuffer_;  // guarded by lock_
  // Serialises Disconnect and guards the response buffer. Never held across
  // a socket call, and nothing else is locked while it is held except the
  // connection's own state.
  std::mutex lock_;
  // Signalled, under lock_, when bytes join the response buffer and when the
  // connection goes: all a WaitFor waits for.
  std::condition_variable changed_;
  platform::ThreadHandle* receiveThread_ = nullptr;
  Tap tap_;
  bool closeTapped_ = false;  // owner thread only
  unsigned long receiveThreadId_ = 0;
};
