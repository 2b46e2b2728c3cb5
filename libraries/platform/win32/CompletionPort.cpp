// Windows completion port: the system's I/O completion port.
#include "platform/CompletionPort.h"

#include <winsock2.h>
// After the socket headers, which must come first.
#include <windows.h>

namespace platform {

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));

CompletionPort* CreateCompletionPort(int concurrency) {
  HANDLE port =
      CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, static_cast<DWORD>(concurrency));
  return static_cast<CompletionPort*>(port);
}

bool AssociateWithPort(CompletionPort* port, SocketHandle socket, void* key) {
  return CreateIoCompletionPort(reinterpret_cast<HANDLE>(socket), static_cast<HANDLE>(port),
                                reinterpret_cast<ULONG_PTR>(key), 0) != nullptr;
}

bool PostCompletion(CompletionPort* port, Overlapped* overlapped, void* key, unsigned long bytes) {
  return PostQueuedCompletionStatus(static_cast<HANDLE>(port), bytes,
                                    reinterpret_cast<ULONG_PTR>(key),
                                    reinterpret_cast<OVERLAPPED*>(overlapped)) != 0;
}

DequeueResult WaitForCompletion(CompletionPort* port, unsigned long* bytes, void** key,
                                Overlapped** overlapped, unsigned long* error) {
  DWORD count = 0;
  ULONG_PTR completionKey = 0;
  OVERLAPPED* operation = nullptr;
  const BOOL ok = GetQueuedCompletionStatus(static_cast<HANDLE>(port), &count, &completionKey,
                                            &operation, INFINITE);
  *bytes = count;
  *key = reinterpret_cast<void*>(completionKey);
  *overlapped = reinterpret_cast<Overlapped*>(operation);
  *error = ok ? 0 : GetLastError();
  if (ok) return DequeueResult::kCompleted;
  return operation != nullptr ? DequeueResult::kFailedDequeued : DequeueResult::kNothing;
}

void CloseCompletionPort(CompletionPort* port) {
  if (port != nullptr) CloseHandle(static_cast<HANDLE>(port));
}

}  // namespace platform
