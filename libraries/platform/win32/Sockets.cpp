// Windows sockets: Winsock 2. Error codes are the WSA codes themselves
// (LastSocketError in Errors.cpp).
#include "platform/Sockets.h"

// The order matters: Winsock first, its extensions after it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
// clang-format on

#include <cstring>

namespace platform {

// The ideal send backlog query, which the mingw-w64 headers lack:
// _IOR('t', 123, ULONG).
constexpr DWORD kIdealSendBacklogQuery =
    IOC_OUT | ((sizeof(ULONG) & IOCPARM_MASK) << 16) | ('t' << 8) | 123;

namespace {

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

SocketHandle Wrap(SOCKET socket) {
  return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(socket);
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  result.sin_addr.s_addr = address;
  return result;
}

int SetIntOption(SocketHandle socket, int level, int name, int value) {
  return setsockopt(Native(socket), level, name, reinterpret_cast<const char*>(&value),
                    sizeof value) == 0
             ? 0
             : -1;
}

}  // namespace

int StartSockets(int major, int minor) {
  WSADATA data;
  const int result = WSAStartup(MAKEWORD(major, minor), &data);
  if (result != 0) return result;
  // A layer older than the one asked for starts all the same and says so
  // only in wVersion; the caller cannot use it, so it is ended again here
  // and the start reported as failed.
  const int given = LOBYTE(data.wVersion) * 256 + HIBYTE(data.wVersion);
  if (given < major * 256 + minor) {
    WSACleanup();
    return WSAVERNOTSUPPORTED;
  }
  return 0;
}

void CleanupSockets() { WSACleanup(); }

SocketHandle OpenTcpSocket() { return Wrap(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

SocketHandle OpenUdpSocket() { return Wrap(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)); }

SocketHandle OpenRawUdpSocket() { return Wrap(socket(AF_INET, SOCK_RAW, IPPROTO_UDP)); }

int CloseSocket(SocketHandle socket) { return closesocket(Native(socket)) == 0 ? 0 : -1; }

int ShutdownSocket(SocketHandle socket) {
  const int result = shutdown(Native(socket), SD_BOTH) == 0 ? 0 : -1;
  // shutdown alone leaves a recv that another thread has pending on the
  // socket waiting (wine does, as do some providers); cancelling the
  // handle's pending I/O makes it return now, as the interface promises.
  const int error = WSAGetLastError();
  CancelIoEx(reinterpret_cast<HANDLE>(Native(socket)), nullptr);
  WSASetLastError(error);
  return result;
}

int Connect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in target = MakeAddress(address, port);
  return connect(Native(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0
             ? 0
             : -1;
}

int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in local = MakeAddress(address, port);
  return bind(Native(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0
                                                                                            : -1;
}

int Listen(SocketHandle socket, int backlog) {
  return listen(Native(socket), backlog) == 0 ? 0 : -1;
}

SocketHandle Accept(SocketHandle socket, SocketAddressIn* from) {
  sockaddr_in peer{};
  int length = sizeof peer;
  const SOCKET accepted = accept(Native(socket), reinterpret_cast<sockaddr*>(&peer), &length);
  if (accepted != INVALID_SOCKET && from != nullptr) std::memcpy(from, &peer, sizeof *from);
  return Wrap(accepted);
}

int GetLocalAddress(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  sockaddr_in local{};
  int length = sizeof local;
  if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return -1;
  if (address != nullptr) *address = local.sin_addr.s_addr;
  if (port != nullptr) *port = ntohs(local.sin_port);
  return 0;
}

int Send(SocketHandle socket, const void* data, int length) {
  return send(Native(socket), static_cast<const char*>(data), length, 0);
}

int Recv(SocketHandle socket, void* data, int length) {
  return recv(Native(socket), static_cast<char*>(data), length, 0);
}

int SendTo(SocketHandle socket, const void* data, int length, std::uint32_t address,
           std::uint16_t port) {
  const sockaddr_in target = MakeAddress(address, port);
  return sendto(Native(socket), static_cast<const char*>(data), length, 0,
                reinterpret_cast<const sockaddr*>(&target), sizeof target);
}

int RecvFrom(SocketHandle socket, void* data, int length, SocketAddressIn* from) {
  sockaddr_in peer{};
  int peerLength = sizeof peer;
  const int received = recvfrom(Native(socket), static_cast<char*>(data), length, 0,
                                reinterpret_cast<sockaddr*>(&peer), &peerLength);
  if (received >= 0 && from != nullptr) std::memcpy(from, &peer, sizeof *from);
  return received;
}

int SetNonBlocking(SocketHandle socket, bool nonBlocking) {
  u_long mode = nonBlocking ? 1 : 0;
  return ioctlsocket(Native(socket), FIONBIO, &mode) == 0 ? 0 : -1;
}

int WaitReadable(SocketHandle socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(socket), &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = select(0, &readable, nullptr, nullptr, &timeout);
  if (result == SOCKET_ERROR) return -1;
  return result == 0 ? 0 : 1;
}

int WaitWritable(SocketHandle socket, int timeoutMs) {
  // A failed connection shows in the exception set, not the write set.
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Native(socket), &writable);
  FD_SET(Native(socket), &failed);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = select(0, nullptr, &writable, &failed, &timeout);
  if (result == SOCKET_ERROR) return -1;
  return result == 0 ? 0 : 1;
}

int SetKeepAlive(SocketHandle socket, unsigned idleMs, unsigned intervalMs) {
  tcp_keepalive values{1, idleMs, intervalMs};
  DWORD returned = 0;
  return WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                  nullptr, nullptr) == 0
             ? 0
             : -1;
}

int SetNoDelay(SocketHandle socket, bool on) {
  return SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

int SetBroadcast(SocketHandle socket, bool on) {
  return SetIntOption(socket, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0);
}

int SetReuseAddress(SocketHandle socket, bool on) {
  return SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

int SetHeaderIncluded(SocketHandle socket, bool on) {
  return SetIntOption(socket, IPPROTO_IP, IP_HDRINCL, on ? 1 : 0);
}

int SetReceiveBufferSize(SocketHandle socket, int bytes) {
  return SetIntOption(socket, SOL_SOCKET, SO_RCVBUF, bytes);
}

int GetReceiveBufferSize(SocketHandle socket, int* bytes) {
  int length = sizeof *bytes;
  return getsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(bytes),
                    &length) == 0
             ? 0
             : -1;
}

// Winsock does not tell; FollowIdealSendBacklog keeps the count close to
// the wire instead.
int UnacknowledgedBytes(SocketHandle) { return 0; }

int FollowIdealSendBacklog(SocketHandle socket) {
  ULONG ideal = 0;
  DWORD returned = 0;
  if (WSAIoctl(Native(socket), kIdealSendBacklogQuery, nullptr, 0, &ideal, sizeof ideal, &returned,
               nullptr, nullptr) != 0) {
    return WSAGetLastError();
  }
  const int bytes = static_cast<int>(ideal);
  return setsockopt(Native(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                    sizeof bytes) == 0
             ? 0
             : WSAGetLastError();
}

}  // namespace platform
