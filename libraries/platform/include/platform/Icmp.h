// ICMP echo of the platform. Windows uses the IP helper's echo functions
// (IcmpCreateFile, IcmpSendEcho, IcmpCloseHandle), which need no raw socket
// and no administrator right. Linux opens an ICMP datagram socket for each
// echo, or a raw ICMP socket where the system does not allow datagram ones
// (net.ipv4.ping_group_range); a socket per echo keeps the replies of pings
// running at the same time on different threads apart.
//
// Results carry the Windows IP status codes on both platforms, so the caller
// tests one set of values: 0 for an echo reply, kIpReqTimedOut when nothing
// came back in time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Errors.h"

namespace platform {

// One echo reply: the fields of the platform's ICMP_ECHO_REPLY that outlive
// the call (the data pointer there points into the reply area, which does
// not).
struct IcmpEchoReply {
  std::uint32_t address;        // the replying host, network byte order
  std::uint32_t status;         // IP status, 0 = success
  std::uint32_t roundTripTime;  // milliseconds
  std::uint16_t dataSize;       // payload bytes in the reply
  std::uint8_t ttl;             // the reply's time-to-live
  std::uint8_t tos;
  std::uint8_t flags;
};

struct IcmpEchoOptions {
  std::uint8_t ttl;
  std::uint8_t tos;
  std::uint8_t flags;
};

struct IcmpHandle;

// Opens the echo service; null on failure, with the reason in
// LastSystemError().
IcmpHandle* IcmpOpen();
void IcmpClose(IcmpHandle* handle);
// Sends one echo request carrying the payload to the address (network byte
// order) and waits up to timeoutMs for its reply. Returns the number of
// replies (0 or 1) with the first in *reply; with 0, LastSystemError() holds
// the reason (an IP status such as kIpReqTimedOut, or a system error code).
// Safe to call from several threads at once on one handle.
int IcmpEcho(IcmpHandle* handle, std::uint32_t address, const void* payload, std::uint16_t size,
             const IcmpEchoOptions& options, unsigned timeoutMs, IcmpEchoReply* reply);

// What the ping writes to standard output when the echo service cannot be
// opened, and when an echo failed with `status` (no line end, as the ping
// has always written it). Windows names the IP helper's calls; Linux names
// the echo socket, adds the system's message, and says once how to allow
// pings when they are not permitted.
std::string EchoOpenFailureText(int error);
std::string EchoFailureText(int status);

}  // namespace platform
