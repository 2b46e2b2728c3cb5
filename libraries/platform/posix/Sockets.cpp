// Linux sockets: BSD sockets. Failures leave errno, which LastSocketError
// (Errors.cpp) reports as the Winsock number.
#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace platform {

namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

SocketHandle Wrap(int fd) { return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd); }

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  result.sin_addr.s_addr = address;
  return result;
}

int SetIntOption(SocketHandle socket, int level, int name, int value) {
  return setsockopt(Fd(socket), level, name, &value, sizeof value) == 0 ? 0 : -1;
}

// 1 when the socket is ready for `events`, 0 on time-out, -1 on failure.
int WaitFor(SocketHandle socket, short events, int timeoutMs) {
  pollfd entry{Fd(socket), events, 0};
  const int result = poll(&entry, 1, timeoutMs);
  if (result < 0) return -1;
  if (result == 0) return 0;
  if (entry.revents & POLLNVAL) {
    errno = EBADF;
    return -1;
  }
  return 1;
}

}  // namespace

int StartSockets(int, int) { return 0; }

void CleanupSockets() {}

SocketHandle OpenTcpSocket() {
  return Wrap(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
}

SocketHandle OpenUdpSocket() {
  return Wrap(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
}

SocketHandle OpenRawUdpSocket() {
  return Wrap(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP));
}

int CloseSocket(SocketHandle socket) { return close(Fd(socket)) == 0 ? 0 : -1; }

int ShutdownSocket(SocketHandle socket) { return shutdown(Fd(socket), SHUT_RDWR) == 0 ? 0 : -1; }

int Connect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in target = MakeAddress(address, port);
  int result;
  do {
    result = connect(Fd(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : -1;
}

int Bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in local = MakeAddress(address, port);
  return bind(Fd(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : -1;
}

int Listen(SocketHandle socket, int backlog) { return listen(Fd(socket), backlog) == 0 ? 0 : -1; }

SocketHandle Accept(SocketHandle socket, SocketAddressIn* from) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  const int fd = accept4(Fd(socket), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd >= 0 && from != nullptr) std::memcpy(from, &peer, sizeof *from);
  return Wrap(fd);
}

int GetLocalAddress(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return -1;
  if (address != nullptr) *address = local.sin_addr.s_addr;
  if (port != nullptr) *port = ntohs(local.sin_port);
  return 0;
}

int Send(SocketHandle socket, const void* data, int length) {
  ssize_t sent;
  do {
    sent = send(Fd(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return static_cast<int>(sent);
}

int Recv(SocketHandle socket, void* data, int length) {
  ssize_t received;
  do {
    received = recv(Fd(socket), data, static_cast<size_t>(length), 0);
  } while (received < 0 && errno == EINTR);
  return static_cast<int>(received);
}

int SendTo(SocketHandle socket, const void* data, int length, std::uint32_t address,
           std::uint16_t port) {
  const sockaddr_in target = MakeAddress(address, port);
  return static_cast<int>(sendto(Fd(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&target), sizeof target));
}

// A datagram longer than the buffer fails with EMSGSIZE after filling it,
// as Winsock fails it with WSAEMSGSIZE, instead of being cut short quietly.
int RecvFrom(SocketHandle socket, void* data, int length, SocketAddressIn* from) {
  sockaddr_in peer{};
  socklen_t peerLength = sizeof peer;
  const ssize_t received = recvfrom(Fd(socket), data, static_cast<size_t>(length), MSG_TRUNC,
                                    reinterpret_cast<sockaddr*>(&peer), &peerLength);
  if (received >= 0 && from != nullptr) std::memcpy(from, &peer, sizeof *from);
  if (received > length) {
    errno = EMSGSIZE;
    return -1;
  }
  return static_cast<int>(received);
}

int SetNonBlocking(SocketHandle socket, bool nonBlocking) {
  const int flags = fcntl(Fd(socket), F_GETFL, 0);
  if (flags < 0) return -1;
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(Fd(socket), F_SETFL, wanted) == 0 ? 0 : -1;
}

int WaitReadable(SocketHandle socket, int timeoutMs) { return WaitFor(socket, POLLIN, timeoutMs); }

int WaitWritable(SocketHandle socket, int timeoutMs) { return WaitFor(socket, POLLOUT, timeoutMs); }

int SetKeepAlive(SocketHandle socket, unsigned idleMs, unsigned intervalMs) {
  const int idleSeconds = static_cast<int>((idleMs + 999) / 1000);
  const int intervalSeconds = static_cast<int>((intervalMs + 999) / 1000);
  if (SetIntOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1) != 0) return -1;
  if (SetIntOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, idleSeconds) != 0) return -1;
  return SetIntOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, intervalSeconds);
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
  // SO_RCVBUFFORCE passes the system's cap when we are privileged; the plain
  // option is the fallback and is clamped by net.core.rmem_max.
  if (SetIntOption(socket, SOL_SOCKET, SO_RCVBUFFORCE, bytes) == 0) return 0;
  return SetIntOption(socket, SOL_SOCKET, SO_RCVBUF, bytes);
}

int GetReceiveBufferSize(SocketHandle socket, int* bytes) {
  socklen_t length = sizeof *bytes;
  return getsockopt(Fd(socket), SOL_SOCKET, SO_RCVBUF, bytes, &length) == 0 ? 0 : -1;
}

int UnacknowledgedBytes(SocketHandle socket) {
  int queued = 0;
  return ioctl(Fd(socket), SIOCOUTQ, &queued) == 0 && queued > 0 ? queued : 0;
}

int FollowIdealSendBacklog(SocketHandle) { return 0; }

}  // namespace platform
