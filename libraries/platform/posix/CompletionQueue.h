// The queue behind the Linux completion port, shared by the port itself and
// by the overlapped socket operations that complete on it, and the ties
// between sockets and ports.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/CompletionPort.h"

namespace platform {

struct Completion {
  Overlapped* overlapped = nullptr;
  void* key = nullptr;
  unsigned long bytes = 0;
  unsigned long error = 0;
};

struct CompletionPort {
  // False once the port is closed.
  bool Push(const Completion& completion) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (closed) return false;
      queue.push_back(completion);
    }
    ready.notify_one();
    return true;
  }

  // Waits for a completion; false when the port was closed.
  bool Pop(Completion* completion) {
    std::unique_lock<std::mutex> lock(mutex);
    ++waiters;
    ready.wait(lock, [this] { return closed || !queue.empty(); });
    const bool got = !closed && !queue.empty();
    if (got) {
      *completion = queue.front();
      queue.pop_front();
    }
    if (--waiters == 0 && closed) drained.notify_all();
    return got;
  }

  // Wakes every waiter and returns once none is left inside Pop.
  void Close() {
    std::unique_lock<std::mutex> lock(mutex);
    closed = true;
    ready.notify_all();
    drained.wait(lock, [this] { return waiters == 0; });
  }

  std::mutex mutex;
  std::condition_variable ready;
  std::condition_variable drained;
  std::deque<Completion> queue;
  int waiters = 0;
  bool closed = false;
};

// Socket association (CompletionQueue.cpp): a socket's overlapped operations
// complete on the port it is associated with, under the socket's key.
bool AssociateSocket(CompletionPort* port, SocketHandle socket, void* key);
void DissociatePort(CompletionPort* port);
bool IsAssociated(SocketHandle socket);
void Dissociate(SocketHandle socket);
// Pushes the completion, with the socket's key, to the port the socket is
// tied to; nothing when it is tied to none.
void CompleteOnPort(SocketHandle socket, Completion completion);

}  // namespace platform
