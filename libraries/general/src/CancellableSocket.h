// The one rule for closing a connection from another thread. The owning
// thread makes its socket calls through a Use; any thread may Cancel, which
// shuts the socket down at once, so that a connect, send, receive or wait
// blocked on it returns, and marks it closed, so that no new Use gets it.
// The handle itself is released only when the last Use has ended: a thread
// still inside a socket call never meets a handle number that the system has
// meanwhile given to another socket.
//
// The telnet session, the file channel and the UDP receiver share it; the
// receiver passes the overlapped close, which also ends a pending receive.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/Sockets.h"

namespace ZEQ {

class CancellableSocket {
 public:
  using CloseFunction = int (*)(platform::SocketHandle);

  explicit CancellableSocket(CloseFunction close = platform::CloseSocket);
  // Cancels and waits until the handle has been released.
  ~CancellableSocket();
  CancellableSocket(const CancellableSocket&) = delete;
  CancellableSocket& operator=(const CancellableSocket&) = delete;

  // Takes over a freshly opened socket, cancelling the one held before.
  // False while a Use of the earlier socket is still under way: the socket
  // then stays with the caller.
  bool Adopt(platform::SocketHandle socket);
  // Shuts the socket down and marks it closed; the handle is released now,
  // or by the last Use to end. Any thread, any number of times; true only
  // for the call that closed it. The C library's errno is left as it was.
  bool Cancel();
  bool IsOpen() const;
  // Returns once a cancelled socket's handle has been released.
  void WaitReleased();

  // One stretch of socket calls by the owning thread: holds the handle open
  // until it ends. socket() is kInvalidSocket when the socket was closed.
  class Use {
   public:
    explicit Use(CancellableSocket& owner) : owner_(owner), socket_(owner.acquire()) {}
    ~Use() {
      if (socket_ != platform::kInvalidSocket) owner_.release();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    platform::SocketHandle socket() const { return socket_; }
    explicit operator bool() const { return socket_ != platform::kInvalidSocket; }

   private:
    CancellableSocket& owner_;
    platform::SocketHandle socket_;
  };

 private:
  platform::SocketHandle acquire();
  void release();
  // Called with the lock held: hands the handle out for closing when it is
  // closed and unused, else kInvalidSocket.
  platform::SocketHandle take_if_unused();
  void close_handle(platform::SocketHandle socket);

  const CloseFunction close_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  bool open_ = false;
  int users_ = 0;
  bool closing_ = false;
};

}  // namespace ZEQ
