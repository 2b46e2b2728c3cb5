// The reachability ping: one ICMP echo request to a unit before its install
// job connects. A unit that answers in time is directly reachable; one that
// does not is taken to sit on another subnet and gets a host route.
//
// One EchoPinger lives in the device table for the whole run. Several jobs
// ping through it at once: each call builds its payload in an area of its own
// and only the echo handle is shared. Ping is virtual so that tests of the
// install job can answer for the network.
#pragma once

#include <cstdint>

#include "platform/Icmp.h"

class EchoPinger {
 public:
  // The largest payload, the size of the request area.
  static constexpr unsigned kMaxPayload = 8192;

  // Starts the socket layer (version 2.2) and opens the echo handle; a
  // failure of either is written to standard output and the pinger goes on,
  // every ping then failing.
  EchoPinger();
  virtual ~EchoPinger();
  EchoPinger(const EchoPinger&) = delete;
  EchoPinger& operator=(const EchoPinger&) = delete;

  // Sends one echo request with payloadSize bytes (byte i is 32 + i % 94) to
  // the address (network byte order) and waits up to timeoutMs. The result's
  // status is 0 for a reply; otherwise it is the reply's IP status, or, when
  // nothing came back, the system's error code in a record of zeros. The
  // reply line or the failure line goes to standard output.
  virtual platform::IcmpEchoReply Ping(std::uint32_t address, unsigned timeoutMs, std::uint8_t ttl,
                                       unsigned payloadSize);

 private:
  platform::IcmpHandle* icmp_ = nullptr;
};

// Fills a ping payload: byte i is 32 + (i mod 94), the printable characters
// from space to "}" over and over.
void FillPingPayload(std::uint8_t* payload, unsigned size);
