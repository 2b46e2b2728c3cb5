// Linux completion port: a queue of completions guarded by a mutex, which
// worker threads wait on. Posted tasks go straight into the queue; the
// overlapped socket operations of the seam complete into it as well.
#include "platform/CompletionPort.h"

#include <errno.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

#include "CompletionQueue.h"

namespace platform {

CompletionPort* CreateCompletionPort(int) {
  auto* port = new (std::nothrow) CompletionPort;
  if (port == nullptr) errno = ENOMEM;
  return port;
}

bool AssociateWithPort(CompletionPort* port, SocketHandle socket, void* key) {
  if (port == nullptr || socket == kInvalidSocket) {
    errno = EINVAL;
    return false;
  }
  return AssociateSocket(port, socket, key);
}

bool PostCompletion(CompletionPort* port, Overlapped* overlapped, void* key, unsigned long bytes) {
  return port->Push(Completion{overlapped, key, bytes, 0});
}

DequeueResult WaitForCompletion(CompletionPort* port, unsigned long* bytes, void** key,
                                Overlapped** overlapped, unsigned long* error) {
  Completion completion;
  if (!port->Pop(&completion)) {
    errno = EBADF;
    return DequeueResult::kNothing;
  }
  *bytes = completion.bytes;
  *key = completion.key;
  *overlapped = completion.overlapped;
  *error = completion.error;
  return completion.error == 0 ? DequeueResult::kCompleted : DequeueResult::kFailedDequeued;
}

void CloseCompletionPort(CompletionPort* port) {
  if (port == nullptr) return;
  DissociatePort(port);
  port->Close();
  delete port;
}

}  // namespace platform
