// The cancellable socket: a handle, whether it is still open, and how many
// Uses hold it, all under one mutex that is never held across a socket call
// that can block (shutting down and closing return at once).
#include "CancellableSocket.h"

namespace ZEQ {

CancellableSocket::CancellableSocket(CloseFunction close) : close_(close) {}

CancellableSocket::~CancellableSocket() {
  Cancel();
  WaitReleased();
}

bool CancellableSocket::Adopt(platform::SocketHandle socket) {
  Cancel();
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_ != platform::kInvalidSocket || closing_) return false;
  socket_ = socket;
  open_ = socket != platform::kInvalidSocket;
  return true;
}

bool CancellableSocket::Cancel() {
  platform::SocketHandle closeNow;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return false;
    const int savedErrno = platform::CurrentErrno();
    platform::ShutdownSocket(socket_);
    platform::SetErrno(savedErrno);
    open_ = false;
    closeNow = take_if_unused();
  }
  close_handle(closeNow);
  return true;
}

bool CancellableSocket::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

void CancellableSocket::WaitReleased() {
  std::unique_lock<std::mutex> lock(mutex_);
  released_.wait(lock,
                 [this] { return open_ || (socket_ == platform::kInvalidSocket && !closing_); });
}

platform::SocketHandle CancellableSocket::acquire() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return platform::kInvalidSocket;
  ++users_;
  return socket_;
}

void CancellableSocket::release() {
  platform::SocketHandle closeNow;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --users_;
    closeNow = take_if_unused();
  }
  close_handle(closeNow);
}

platform::SocketHandle CancellableSocket::take_if_unused() {
  if (open_ || users_ != 0 || socket_ == platform::kInvalidSocket) return platform::kInvalidSocket;
  const platform::SocketHandle socket = socket_;
  socket_ = platform::kInvalidSocket;
  closing_ = true;
  return socket;
}

// Closing is cleanup: it must not change the error number that the failed
// call before it left. The waiters are told under the lock, so that after
// the unlock nothing of this object is touched again.
void CancellableSocket::close_handle(platform::SocketHandle socket) {
  if (socket == platform::kInvalidSocket) return;
  const int savedErrno = platform::CurrentErrno();
  close_(socket);
  platform::SetErrno(savedErrno);
  std::lock_guard<std::mutex> lock(mutex_);
  closing_ = false;
  released_.notify_all();
}

}  // namespace ZEQ
