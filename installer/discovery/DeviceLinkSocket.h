// The device-link interface's socket: one UDP socket bound to a port the
// system chooses, whose address (that port and this computer's first address)
// every probe carries so that the units answer to it. Opening, probing and
// receiving need no window or main loop, so they live here; the interface
// adds the main loop's read notifications and its timer, and raises
// OnResponseAdded with what Receive returns.
//
// The socket layer must have been started by the owner. A socket that cannot
// be made leaves the object without one (nothing is received, no probe is
// sent); one that cannot be bound or read back stays open without being
// listened on, and its probes carry port 0.
#pragma once

#include <cstdint>

#include "ResponseList.h"
#include "platform/Sockets.h"

namespace discovery {

class DeviceLinkSocket {
 public:
  DeviceLinkSocket();
  ~DeviceLinkSocket();
  DeviceLinkSocket(const DeviceLinkSocket&) = delete;
  DeviceLinkSocket& operator=(const DeviceLinkSocket&) = delete;

  // The socket, or kInvalidSocket when there is none.
  platform::SocketHandle handle() const { return socket_; }
  // True when the socket is bound and its port known: the owner then asks
  // for its read notifications.
  bool listening() const { return listening_; }
  // The address the probes name: the bound port (0 when unknown) and this
  // computer's first address (0 when unknown).
  std::uint16_t port() const { return port_; }
  std::uint32_t address() const { return address_; }

  // One probe run (see DeviceLinkProbe.h): 0 without a socket, else 1.
  int SendProbe() const;
  // Reads one datagram of up to ResponseList::kReceiveSize bytes and hands
  // it to the list; the notification value for OnResponseAdded, or 0 (also
  // when the receive failed or the datagram was empty).
  int Receive(ResponseList* responses) const;

 private:
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  bool listening_ = false;
  std::uint16_t port_ = 0;
  std::uint32_t address_ = 0;
};

}  // namespace discovery
