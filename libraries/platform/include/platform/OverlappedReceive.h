// The overlapped datagram receive: a receive that is started now and
// completes later, as one completion on the completion port the socket is
// tied to (AssociateWithPort), with the Overlapped given at the start.
//
// Windows: WSARecvFrom on the system's port. Linux: a reactor thread of the
// seam waits with epoll for sockets that have a receive started, reads the
// datagram (under a lock that closing takes too, so a close cannot slip a
// reused descriptor under a read) and pushes the completion into the port's
// queue. On both, a receive still pending when the socket is closed through
// CloseOverlappedSocket completes with kReceiveAborted.
#pragma once

#include "platform/CompletionPort.h"
#include "platform/Sockets.h"

namespace platform {

// A receive completes with 0 or one of the kReceive codes of
// platform/Errors.h. A datagram longer than the buffer can also complete with kErrorMessageSize
// (Linux always reports it so), and an ICMP "port unreachable" on Windows
// with kErrorConnReset.

// Starts one receive of a datagram into buffer (length bytes); *from and
// *fromLength (set by the caller to 16) receive the sender's address. Every
// argument must stay valid until the completion arrives. Returns 0 when the
// receive is started: it then completes on the socket's port, also when it
// finished at once. Returns -1 with LastSocketError() when it was not started
// (and nothing will complete). One receive at a time per socket.
int StartReceiveFrom(SocketHandle socket, void* buffer, int length, SocketAddressIn* from,
                     int* fromLength, Overlapped* overlapped);

// Closes a socket on which receives were started. A receive still pending
// completes with kReceiveAborted.
int CloseOverlappedSocket(SocketHandle socket);

}  // namespace platform
