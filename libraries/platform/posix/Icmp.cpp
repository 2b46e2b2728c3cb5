// Linux ICMP echo. Each echo opens its own socket: an ICMP datagram socket
// when net.ipv4.ping_group_range lets this process have one (the kernel then
// sets the identifier and hands the socket only its own replies), else a raw
// ICMP socket, which sees every ICMP packet the host receives, so replies are
// matched by identifier, sequence number and sender. The time-to-live of a
// reply comes from the IPv4 header on a raw socket and from IP_RECVTTL on a
// datagram socket.
#include "platform/Icmp.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "ErrorTable.h"

namespace platform {

struct IcmpHandle {};

namespace {

std::atomic<std::uint16_t> g_sequence{0};

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::size_t kHeaderSize = 8;

struct EchoSocket {
  int fd = -1;
  bool raw = false;
  ~EchoSocket() {
    if (fd >= 0) close(fd);
  }
};

// Leaves the reason in errno for LastSystemError: an errno value, or an IP
// status, which passes the error table unchanged.
int Fail(int error) {
  errno = error;
  return 0;
}

std::uint16_t Checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += (data[i] << 8) | data[i + 1];
  if (size % 2 != 0) sum += data[size - 1] << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

bool OpenEchoSocket(EchoSocket& echo) {
  echo.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (echo.fd < 0 && (errno == EACCES || errno == EPERM || errno == EPROTONOSUPPORT)) {
    echo.fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    echo.raw = true;
  }
  if (echo.fd < 0) return false;
  const int on = 1;
  return echo.raw || setsockopt(echo.fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) == 0;
}

bool ApplyOptions(const EchoSocket& echo, const IcmpEchoOptions& options) {
  const int ttl = options.ttl;
  const int tos = options.tos;
  return setsockopt(echo.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0 &&
         setsockopt(echo.fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0;
}

std::vector<std::uint8_t> BuildRequest(const void* payload, std::uint16_t size,
                                       std::uint16_t identifier, std::uint16_t sequence) {
  std::vector<std::uint8_t> packet(kHeaderSize + size);
  packet[0] = kEchoRequest;
  packet[4] = static_cast<std::uint8_t>(identifier >> 8);
  packet[5] = static_cast<std::uint8_t>(identifier);
  packet[6] = static_cast<std::uint8_t>(sequence >> 8);
  packet[7] = static_cast<std::uint8_t>(sequence);
  if (size != 0) std::memcpy(packet.data() + kHeaderSize, payload, size);
  const std::uint16_t sum = Checksum(packet.data(), packet.size());
  packet[2] = static_cast<std::uint8_t>(sum >> 8);
  packet[3] = static_cast<std::uint8_t>(sum);
  return packet;
}

// One received packet as the two socket kinds deliver it.
struct Received {
  const std::uint8_t* icmp = nullptr;
  std::size_t icmpSize = 0;
  std::uint32_t from = 0;
  std::uint8_t ttl = 0;
  std::uint8_t tos = 0;
};

// Reads one packet; false when it is not one this echo can use.
bool ReceiveOne(const EchoSocket& echo, std::uint8_t* buffer, std::size_t size, Received* out) {
  sockaddr_in from{};
  alignas(cmsghdr) char control[64];
  iovec part{buffer, size};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(echo.fd, &message, MSG_DONTWAIT);
  if (got <= 0) return false;
  out->from = from.sin_addr.s_addr;
  if (echo.raw) {
    const std::size_t headerSize = (buffer[0] & 0x0F) * 4u;
    if (static_cast<std::size_t>(got) < headerSize + kHeaderSize) return false;
    out->tos = buffer[1];
    out->ttl = buffer[8];
    out->icmp = buffer + headerSize;
    out->icmpSize = static_cast<std::size_t>(got) - headerSize;
    return true;
  }
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
      int ttl = 0;
      std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
      out->ttl = static_cast<std::uint8_t>(ttl);
    }
  }
  out->icmp = buffer;
  out->icmpSize = static_cast<std::size_t>(got);
  return out->icmpSize >= kHeaderSize;
}

bool IsOurReply(const EchoSocket& echo, const Received& packet, std::uint32_t address,
                std::uint16_t identifier, std::uint16_t sequence) {
  const std::uint8_t* icmp = packet.icmp;
  if (icmp[0] != kEchoReply || icmp[1] != 0) return false;
  if (((icmp[6] << 8) | icmp[7]) != sequence) return false;
  // The kernel owns the identifier of a datagram socket and filters on it.
  if (echo.raw && ((icmp[4] << 8) | icmp[5]) != identifier) return false;
  return packet.from == address;
}

}  // namespace

IcmpHandle* IcmpOpen() { return new IcmpHandle; }

void IcmpClose(IcmpHandle* handle) { delete handle; }

int IcmpEcho(IcmpHandle* handle, std::uint32_t address, const void* payload, std::uint16_t size,
             const IcmpEchoOptions& options, unsigned timeoutMs, IcmpEchoReply* reply) {
  if (handle == nullptr) return Fail(EBADF);
  EchoSocket echo;
  if (!OpenEchoSocket(echo) || !ApplyOptions(echo, options)) return Fail(errno);
  const std::uint16_t identifier = static_cast<std::uint16_t>(getpid());
  const std::uint16_t sequence = ++g_sequence;
  const std::vector<std::uint8_t> request = BuildRequest(payload, size, identifier, sequence);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = address;
  const auto start = std::chrono::steady_clock::now();
  if (sendto(echo.fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target) < 0) {
    return Fail(EchoFailureFromErrno(errno));
  }
  std::vector<std::uint8_t> buffer(request.size() + 128);
  for (;;) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (elapsed.count() >= static_cast<long long>(timeoutMs)) {
      return Fail(static_cast<int>(kIpReqTimedOut));
    }
    pollfd entry{echo.fd, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(timeoutMs - elapsed.count()));
    if (ready < 0 && errno != EINTR) return Fail(errno);
    Received packet;
    if (ready <= 0 || !ReceiveOne(echo, buffer.data(), buffer.size(), &packet)) continue;
    if (!IsOurReply(echo, packet, address, identifier, sequence)) continue;
    const auto roundTrip = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    *reply = IcmpEchoReply{packet.from,
                           kIpSuccess,
                           static_cast<std::uint32_t>(roundTrip.count()),
                           static_cast<std::uint16_t>(packet.icmpSize - kHeaderSize),
                           packet.ttl,
                           packet.tos,
                           0};
    return 1;
  }
}

std::string EchoOpenFailureText(int error) {
  return "the echo socket cannot be opened: " + SystemErrorText(error);
}

// Pings that are not permitted fail alike for every unit; the way to allow
// them is said with the first one only.
std::string EchoFailureText(int status) {
  static std::atomic<bool> hinted{false};
  std::string text = "ping through the echo socket failed, err: " + std::to_string(status) + " (" +
                     SystemErrorText(status) + ")";
  if (status == kErrorAccessDenied && !hinted.exchange(true)) {
    text += "; pings need root, or the user's group in sysctl net.ipv4.ping_group_range";
  }
  return text;
}

}  // namespace platform
