// The ping's payload, the call to the platform's echo and the lines it writes
// to standard output (the failure texts are the platform's: each names its
// own system's echo).
#include "transfer/EchoPinger.h"

#include <cstdio>

#include "platform/Sockets.h"

void FillPingPayload(std::uint8_t* payload, unsigned size) {
  for (unsigned i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(32 + i % 94);
}

EchoPinger::EchoPinger() {
  if (platform::StartSockets(2, 2) != 0) {
    std::printf("WSAStarup failed %d\n", platform::LastSocketError());
  }
  icmp_ = platform::IcmpOpen();
  if (icmp_ == nullptr) {
    std::fputs(platform::EchoOpenFailureText(platform::LastSystemError()).c_str(), stdout);
  }
}

EchoPinger::~EchoPinger() {
  platform::IcmpClose(icmp_);
  platform::CleanupSockets();
}

platform::IcmpEchoReply EchoPinger::Ping(std::uint32_t address, unsigned timeoutMs,
                                         std::uint8_t ttl, unsigned payloadSize) {
  platform::IcmpEchoReply reply{};
  if (payloadSize > kMaxPayload) {
    reply.status = platform::kErrorInvalidParameter;
    std::fputs(platform::EchoFailureText(platform::kErrorInvalidParameter).c_str(), stdout);
    return reply;
  }
  std::uint8_t request[kMaxPayload];
  FillPingPayload(request, payloadSize);
  const platform::IcmpEchoOptions options{ttl, 0, 0};
  if (platform::IcmpEcho(icmp_, address, request, static_cast<std::uint16_t>(payloadSize), options,
                         timeoutMs, &reply) > 0) {
    char dotted[16];
    platform::FormatAddress(reply.address, dotted, sizeof dotted);
    std::printf("Reply from %s: bytes=%d time=%ldms TTL=%u\n", dotted, reply.dataSize,
                static_cast<long>(reply.roundTripTime), static_cast<unsigned>(reply.ttl));
    return reply;
  }
  reply = platform::IcmpEchoReply{};
  reply.status = static_cast<std::uint32_t>(platform::LastSystemError());
  std::fputs(platform::EchoFailureText(static_cast<int>(reply.status)).c_str(), stdout);
  return reply;
}
