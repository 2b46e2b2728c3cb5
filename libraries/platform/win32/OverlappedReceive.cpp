// Windows overlapped receive: WSARecvFrom with the caller's OVERLAPPED on a
// socket tied to a completion port. The system queues a completion whenever
// the call returns success or WSA_IO_PENDING; closing the socket aborts a
// pending receive with ERROR_OPERATION_ABORTED.
#include "platform/OverlappedReceive.h"

#include <winsock2.h>
// After the socket headers, which must come first.
#include <windows.h>

namespace platform {

static_assert(sizeof(SocketAddressIn) == sizeof(sockaddr_in));

int StartReceiveFrom(SocketHandle socket, void* buffer, int length, SocketAddressIn* from,
                     int* fromLength, Overlapped* overlapped) {
  // Only the data buffer has to outlive the call; the WSABUF array and the
  // flags are read when the receive starts.
  WSABUF descriptor{static_cast<ULONG>(length), static_cast<char*>(buffer)};
  DWORD flags = 0;
  const int result = WSARecvFrom(static_cast<SOCKET>(socket), &descriptor, 1, nullptr, &flags,
                                 reinterpret_cast<sockaddr*>(from), fromLength,
                                 reinterpret_cast<OVERLAPPED*>(overlapped), nullptr);
  if (result == 0) return 0;
  const int error = WSAGetLastError();
  // A datagram that did not fit ends the call with a warning status, for
  // which the system still queues the completion (ERROR_MORE_DATA).
  if (error == WSA_IO_PENDING || error == WSAEMSGSIZE) return 0;
  return -1;
}

// Cancelling first makes a pending receive complete with
// ERROR_OPERATION_ABORTED everywhere; closing alone does so on Windows, but
// wine completes it with another code.
int CloseOverlappedSocket(SocketHandle socket) {
  CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
  return closesocket(static_cast<SOCKET>(socket)) == 0 ? 0 : -1;
}

}  // namespace platform
