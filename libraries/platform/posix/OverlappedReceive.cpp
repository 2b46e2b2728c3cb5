// The overlapped datagram receive on Linux, which completes on the port the
// socket is tied to (CompletionQueue.cpp keeps those ties).
//
// A receive first tries to read at once; when nothing is waiting, the socket
// is armed (EPOLLIN | EPOLLONESHOT) in the epoll set of one reactor thread,
// which reads the datagram when it arrives and pushes the completion into
// the port's queue. Reads, arming and closing all happen under the reactor's
// lock, so a close can never race a read onto a descriptor number that has
// meanwhile been reused. The reactor thread starts with the first receive
// that has to wait and ends when the last of its sockets is closed.
#include <errno.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "CompletionQueue.h"
#include "platform/OverlappedReceive.h"

namespace platform {

namespace {

struct PendingReceive {
  void* buffer;
  int length;
  SocketAddressIn* from;
  int* fromLength;
  Overlapped* overlapped;
};

enum class ReadResult { kDone, kWouldBlock, kNotStarted };

// One read attempt without waiting. kDone fills *completion (a datagram, an
// empty one, a truncated one with kErrorMessageSize, or a socket error);
// kNotStarted means the socket itself is unusable (errno set).
ReadResult ReadDatagram(int fd, const PendingReceive& receive, Completion* completion) {
  sockaddr_in peer{};
  socklen_t peerLength = sizeof peer;
  ssize_t received;
  do {
    received = recvfrom(fd, receive.buffer, static_cast<size_t>(receive.length),
                        MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&peer), &peerLength);
  } while (received < 0 && errno == EINTR);
  *completion = Completion{receive.overlapped, nullptr, 0, 0};
  if (received < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadResult::kWouldBlock;
    if (errno == EBADF || errno == ENOTSOCK || errno == EFAULT || errno == EINVAL) {
      return ReadResult::kNotStarted;
    }
    completion->error = static_cast<unsigned long>(LastSocketError());
    return ReadResult::kDone;
  }
  if (receive.from != nullptr) std::memcpy(receive.from, &peer, sizeof *receive.from);
  if (receive.fromLength != nullptr) *receive.fromLength = static_cast<int>(peerLength);
  // With MSG_TRUNC the result is the datagram's real length.
  completion->bytes = static_cast<unsigned long>(std::min<ssize_t>(received, receive.length));
  if (received > receive.length) completion->error = kErrorMessageSize;
  return ReadResult::kDone;
}

// One run of the reactor thread with its own epoll set and wake-up
// descriptor. A run is retired when its last socket is closed; a later
// receive starts a fresh run.
struct ReactorRun {
  int epoll = -1;
  int wake = -1;
  std::thread thread;
};

class Reactor {
 public:
  int Start(int fd, const PendingReceive& receive);
  int Close(int fd);

 private:
  bool ensure_running();
  bool arm(int fd);
  void run(ReactorRun* run);
  void handle_readable(int fd);
  static void destroy_run(ReactorRun* run);

  std::mutex mutex_;
  std::unordered_map<int, PendingReceive> pending_;
  std::unordered_set<int> sockets_;  // registered in current_'s epoll set
  ReactorRun* current_ = nullptr;
};

int Reactor::Start(int fd, const PendingReceive& receive) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsAssociated(static_cast<SocketHandle>(fd)) || pending_.count(fd) != 0) {
    errno = EINVAL;
    return -1;
  }
  Completion completion;
  switch (ReadDatagram(fd, receive, &completion)) {
    case ReadResult::kDone: CompleteOnPort(static_cast<SocketHandle>(fd), completion); return 0;
    case ReadResult::kNotStarted: return -1;
    case ReadResult::kWouldBlock: break;
  }
  if (!ensure_running() || !arm(fd)) return -1;
  pending_[fd] = receive;
  return 0;
}

// Closes under the lock: the pending receive, if any, completes as aborted,
// and no read can reach the descriptor number afterwards.
int Reactor::Close(int fd) {
  ReactorRun* retired = nullptr;
  int result;
  int error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sockets_.erase(fd) != 0) epoll_ctl(current_->epoll, EPOLL_CTL_DEL, fd, nullptr);
    const auto it = pending_.find(fd);
    if (it != pending_.end()) {
      CompleteOnPort(static_cast<SocketHandle>(fd),
                     Completion{it->second.overlapped, nullptr, 0, kReceiveAborted});
      pending_.erase(it);
    }
    Dissociate(static_cast<SocketHandle>(fd));
    result = close(fd);
    error = errno;
    if (current_ != nullptr && sockets_.empty()) {
      retired = current_;
      current_ = nullptr;
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = write(retired->wake, &one, sizeof one);
    }
  }
  if (retired != nullptr) destroy_run(retired);
  errno = error;
  return result == 0 ? 0 : -1;
}

bool Reactor::ensure_running() {
  if (current_ != nullptr) return true;
  auto* run = new ReactorRun;
  run->epoll = epoll_create1(EPOLL_CLOEXEC);
  run->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = -1;  // the wake-up descriptor
  if (run->epoll < 0 || run->wake < 0 ||
      epoll_ctl(run->epoll, EPOLL_CTL_ADD, run->wake, &event) != 0) {
    destroy_run(run);
    return false;
  }
  try {
    run->thread = std::thread(&Reactor::run, this, run);
  } catch (const std::system_error&) {
    destroy_run(run);
    errno = EAGAIN;
    return false;
  }
  current_ = run;
  return true;
}

bool Reactor::arm(int fd) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLONESHOT;
  event.data.fd = fd;
  const bool known = sockets_.count(fd) != 0;
  if (epoll_ctl(current_->epoll, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) != 0) {
    return false;
  }
  sockets_.insert(fd);
  return true;
}

void Reactor::run(ReactorRun* run) {
  epoll_event events[16];
  for (;;) {
    const int count = epoll_wait(run->epoll, events, 16, -1);
    if (count < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    // A retired run has no sockets left; whatever it still saw is stale.
    if (count < 0 || current_ != run) return;
    for (int i = 0; i < count; ++i) {
      if (events[i].data.fd >= 0) {
        handle_readable(events[i].data.fd);
      } else {
        std::uint64_t value;
        [[maybe_unused]] const ssize_t drained = read(run->wake, &value, sizeof value);
      }
    }
  }
}

void Reactor::handle_readable(int fd) {
  const auto it = pending_.find(fd);
  if (it == pending_.end()) return;
  Completion completion;
  const ReadResult result = ReadDatagram(fd, it->second, &completion);
  if (result == ReadResult::kWouldBlock && arm(fd)) return;
  if (result != ReadResult::kDone) completion.error = static_cast<unsigned long>(LastSocketError());
  CompleteOnPort(static_cast<SocketHandle>(fd), completion);
  pending_.erase(it);
}

void Reactor::destroy_run(ReactorRun* run) {
  if (run->thread.joinable()) run->thread.join();
  if (run->wake >= 0) close(run->wake);
  if (run->epoll >= 0) close(run->epoll);
  delete run;
}

// Never destroyed: sockets may still be closed while static objects are
// torn down at exit, and a running reactor thread ends with the process.
Reactor& TheReactor() {
  static Reactor* reactor = new Reactor;
  return *reactor;
}

}  // namespace

int StartReceiveFrom(SocketHandle socket, void* buffer, int length, SocketAddressIn* from,
                     int* fromLength, Overlapped* overlapped) {
  return TheReactor().Start(static_cast<int>(socket),
                            PendingReceive{buffer, length, from, fromLength, overlapped});
}

int CloseOverlappedSocket(SocketHandle socket) {
  return TheReactor().Close(static_cast<int>(socket));
}

}  // namespace platform
