// An I/O completion port: worker threads wait on it for completed operations
// and posted tasks. On Windows it is the system's port; on Linux a queue with
// the same contract (associate a handle with a key, post, wait, close) that
// the overlapped operations of the seam complete on.
#pragma once

#include <cstdint>

#include "platform/Sockets.h"

namespace platform {

// The layout of the Windows OVERLAPPED structure; every operation or task that
// reaches a port begins with one.
struct Overlapped {
  std::uintptr_t internal;
  std::uintptr_t internalHigh;
  std::uint32_t offset;
  std::uint32_t offsetHigh;
  void* event;
};
static_assert(sizeof(Overlapped) == 32);

struct CompletionPort;

enum class DequeueResult {
  kCompleted,       // a completion was dequeued and the operation succeeded
  kFailedDequeued,  // a completion was dequeued for an operation that failed
  kNothing,         // the wait failed without a completion (the port closed)
};

// Null on failure (the reason in LastSystemError()).
CompletionPort* CreateCompletionPort(int concurrency);
// Ties a socket to the port: its overlapped operations complete there with key.
bool AssociateWithPort(CompletionPort* port, SocketHandle socket, void* key);
bool PostCompletion(CompletionPort* port, Overlapped* overlapped, void* key, unsigned long bytes);
// Waits without time limit. On kFailedDequeued *error holds the reason.
DequeueResult WaitForCompletion(CompletionPort* port, unsigned long* bytes, void** key,
                                Overlapped** overlapped, unsigned long* error);
// Closes the port; threads still waiting return kNothing.
void CloseCompletionPort(CompletionPort* port);

}  // namespace platform
