// The receiver and its receive task: a WorkerTask whose completion function
// hands the datagram on and starts the next receive, so that exactly one
// receive is pending until Stop closes the socket. Messages and exception
// texts name the source file broadcaster with the line numbers that
// operators know them by.
#include "UDPReceiver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "CancellableSocket.h"
#include "ErrorMessage.h"
#include "VEVException.h"
#include "platform/OverlappedReceive.h"

namespace ZEQ {

namespace {

constexpr const char* kSourceFile = "..\\..\\src\\broadcaster";
// A Windows receive call can fail at once with WSAECONNRESET, once for every
// ICMP "port unreachable" that reached the socket; each says nothing about
// the receive being started, so it is retried, within reason.
constexpr int kResetRetries = 64;

[[noreturn]] void ThrowWithCodes(const char* format, int first, int second = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, first, second);
  throw VEVException(text);
}

// Completions after which receiving goes on without a datagram: an empty
// datagram, one longer than the buffer (Windows: ERROR_MORE_DATA or
// WSAEMSGSIZE; Linux: WSAEMSGSIZE from the truncated read), and a
// "connection reset" caused by an ICMP message for an earlier send.
bool ReceivingGoesOn(unsigned long error) {
  return error == 0 || error == platform::kReceiveMoreData ||
         error == static_cast<unsigned long>(platform::kErrorMessageSize) ||
         error == static_cast<unsigned long>(platform::kErrorConnReset) ||
         error == platform::kReceivePortUnreachable;
}

}  // namespace

// Every receive is started with the Overlapped of `task`, so the pool finds
// the completion function right behind the Overlapped that the port hands
// back; the completion key is the receive task itself.
class UDPReceiveTask {
 public:
  UDPReceiveTask(IUDPReceiver* sink, platform::SocketHandle socket, CEvent* stoppedEvent);
  ~UDPReceiveTask() { std::free(buffer_); }
  UDPReceiveTask(const UDPReceiveTask&) = delete;
  UDPReceiveTask& operator=(const UDPReceiveTask&) = delete;

  // Starts the next receive, or ends the loop when Stop has begun.
  void ReceiveNext();
  // Stop's part: from now on no receive is started, and the socket is
  // closed, which completes the pending receive as aborted. Returns once
  // the handle has been released.
  void CloseSocket();

  WorkerTask task;

 private:
  static void complete(void* key, unsigned long bytes, unsigned long error);
  bool start_receive(platform::SocketHandle socket);

  IUDPReceiver* sink_;
  int bufferLength_;
  char* buffer_;
  platform::SocketAddressIn from_;
  int fromLength_;
  CEvent* stoppedEvent_;
  // A receive is started only through a Use of the socket, so it is never
  // started on a socket number that Stop has already closed (and that the
  // system may have handed to a new socket).
  CancellableSocket socket_{platform::CloseOverlappedSocket};
};

UDPReceiveTask::UDPReceiveTask(IUDPReceiver* sink, platform::SocketHandle socket,
                               CEvent* stoppedEvent)
    : sink_(sink),
      bufferLength_(UDPReceiver::kReceiveBufferBytes),
      buffer_(static_cast<char*>(std::malloc(UDPReceiver::kReceiveBufferBytes))),
      from_{},
      fromLength_(0),
      stoppedEvent_(stoppedEvent) {
  if (buffer_ == nullptr) throw std::bad_alloc();
  socket_.Adopt(socket);
  task.complete = complete;
}

void UDPReceiveTask::complete(void* key, unsigned long bytes, unsigned long error) {
  auto* self = static_cast<UDPReceiveTask*>(key);
  if (!ReceivingGoesOn(error)) {
    self->stoppedEvent_->Set();
    return;
  }
  if (error == 0 && bytes != 0) {
    try {
      self->sink_->PacketReceived(self->buffer_, static_cast<int>(bytes), &self->from_);
    } catch (const VEVException&) {
      // The pool reports the exception; the next datagram still comes.
      self->ReceiveNext();
      throw;
    }
  }
  // Nothing of the task may be touched after this: Stop may delete it.
  self->ReceiveNext();
}

void UDPReceiveTask::ReceiveNext() {
  bool started;
  {
    const CancellableSocket::Use use(socket_);
    started = use && start_receive(use.socket());
  }
  if (!started) stoppedEvent_->Set();
}

void UDPReceiveTask::CloseSocket() {
  socket_.Cancel();
  socket_.WaitReleased();
}

// True when a receive is pending; otherwise the failure has been reported.
bool UDPReceiveTask::start_receive(platform::SocketHandle socket) {
  for (int attempt = 0;; ++attempt) {
    task.overlapped = {};
    fromLength_ = sizeof from_;
    if (platform::StartReceiveFrom(socket, buffer_, bufferLength_, &from_, &fromLength_,
                                   &task.overlapped) == 0) {
      return true;
    }
    const int error = platform::LastSocketError();
    if (error == platform::kErrorConnReset && attempt < kResetRetries) continue;
    if (error != platform::kErrorShutdown) {
      char text[200];
      std::snprintf(text, sizeof text, "broadcaster -> WSARecvFrom failed (%d)", error);
      ErrorMessage(4, kSourceFile, 471, error, "%s", text);
    }
    return false;
  }
}

UDPReceiver::UDPReceiver(unsigned short port, IUDPReceiver* sink, ThreadPool* pool)
    : receiveTask_(nullptr),
      pool_(pool),
      port_(port),
      socket_(platform::kInvalidSocket),
      stoppedEvent_(false) {
  socket_ = platform::OpenUdpSocket();
  if (socket_ == platform::kInvalidSocket) {
    ThrowWithCodes("broadcaster -> socket call failed (%d)", platform::LastSocketError());
  }
  platform::SetReuseAddress(socket_, true);
  if (platform::Bind(socket_, 0, port) != 0) {
    const int error = platform::LastSocketError();
    platform::CloseSocket(socket_);
    socket_ = platform::kInvalidSocket;
    ThrowWithCodes("broadcaster -> bind to UDP port %d failed (%d)", port, error);
  }
  // Best effort: a smaller buffer still receives, it only loses more of a
  // burst.
  platform::SetReceiveBufferSize(socket_, kSocketBufferBytes);
  try {
    receiveTask_ = new UDPReceiveTask(sink, socket_, &stoppedEvent_);
    pool_->AddTask(socket_, receiveTask_);
    receiveTask_->ReceiveNext();
  } catch (...) {
    // The task, once made, owns the socket and closes it.
    if (receiveTask_ == nullptr) platform::CloseOverlappedSocket(socket_);
    socket_ = platform::kInvalidSocket;
    delete receiveTask_;
    receiveTask_ = nullptr;
    throw;
  }
}

UDPReceiver::~UDPReceiver() { Stop(); }

void UDPReceiver::Stop() {
  if (socket_ == platform::kInvalidSocket) return;
  socket_ = platform::kInvalidSocket;
  receiveTask_->CloseSocket();
  stoppedEvent_.Wait(CEvent::kInfinite);
  delete receiveTask_;
  receiveTask_ = nullptr;
}

}  // namespace ZEQ
