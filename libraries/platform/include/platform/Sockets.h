// Sockets of the platform: Winsock 2 on Windows, BSD sockets on Linux.
// Addresses are IPv4 values in network byte order (first octet in the lowest
// byte) and ports are in host byte order, as everywhere in the system.
// Functions that fail return -1 (or kInvalidSocket) and leave the reason in
// LastSocketError() (platform/Errors.h): a Winsock number on both platforms.
#pragma once

#include <cstdint>

#include "platform/Addresses.h"
#include "platform/Errors.h"

namespace platform {

using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

// The layout of sockaddr_in on both platforms: family, port (network order),
// address (network order), eight zero bytes.
struct SocketAddressIn {
  std::uint16_t family;
  std::uint16_t port;
  std::uint32_t address;
  std::uint8_t zero[8];
};
static_assert(sizeof(SocketAddressIn) == 16);

// Starts the socket layer (WSAStartup on Windows) in at least the version
// asked for; 0 or the error code. Only a start that returned 0 is to be
// matched by a CleanupSockets.
int StartSockets(int major, int minor);
void CleanupSockets();

SocketHandle OpenTcpSocket();
SocketHandle OpenUdpSocket();
// A raw IPv4 socket for UDP on which the caller writes the IPv4 header.
SocketHandle OpenRawUdpSocket();
int CloseSocket(SocketHandle socket);
// Shuts down both directions; a receive blocked on the socket returns.
int ShutdownSocket(SocketHandle socket);

int Connect(SocketHandle socket, std::uint32_t address, std::uint16_t port);
int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port);
int Listen(SocketHandle socket, int backlog);
SocketHandle Accept(SocketHandle socket, SocketAddressIn* from);
// The address and port the socket is bound to.
int GetLocalAddress(SocketHandle socket, std::uint32_t* address, std::uint16_t* port);

// Byte counts, or -1 on failure. Recv returns 0 when the peer closed.
int Send(SocketHandle socket, const void* data, int length);
int Recv(SocketHandle socket, void* data, int length);
int SendTo(SocketHandle socket, const void* data, int length, std::uint32_t address,
           std::uint16_t port);
int RecvFrom(SocketHandle socket, void* data, int length, SocketAddressIn* from);

int SetNonBlocking(SocketHandle socket, bool nonBlocking);
// 1 when readable, 0 on time-out, -1 on failure.
int WaitReadable(SocketHandle socket, int timeoutMs);
// 1 when a send would not block (or would fail at once), 0 on time-out, -1 on
// failure.
int WaitWritable(SocketHandle socket, int timeoutMs);
// Keep-alive with the first probe after idleMs without traffic and further
// probes every intervalMs.
int SetKeepAlive(SocketHandle socket, unsigned idleMs, unsigned intervalMs);
int SetNoDelay(SocketHandle socket, bool on);
int SetBroadcast(SocketHandle socket, bool on);
int SetReuseAddress(SocketHandle socket, bool on);
int SetHeaderIncluded(SocketHandle socket, bool on);
int SetReceiveBufferSize(SocketHandle socket, int bytes);
int GetReceiveBufferSize(SocketHandle socket, int* bytes);
// The bytes handed to a TCP socket that the peer has not acknowledged yet
// (Linux: SIOCOUTQ, unsent and unacknowledged alike), so that progress can
// follow what the peer has taken rather than what the socket took. 0 where
// the system does not tell (Windows), or when the call fails.
int UnacknowledgedBytes(SocketHandle socket);
// Where the system cannot tell that count, keeps the socket's send buffer at
// the connection's ideal send backlog (Windows: SIO_IDEAL_SEND_BACKLOG_QUERY),
// so that what the socket took runs about one round trip ahead of the peer
// and no more; the system's own advice for a full pipe, so throughput stays.
// Nothing to do on Linux. 0, or the socket layer's error code.
int FollowIdealSendBacklog(SocketHandle socket);

}  // namespace platform
