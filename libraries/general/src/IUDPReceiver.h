// What a UDPReceiver hands its datagrams to. PacketReceived runs on a pool
// worker thread, one datagram at a time and in arrival order, so whatever it
// shares with other threads it must guard itself.
#pragma once

#include "platform/Sockets.h"

namespace ZEQ {

class IUDPReceiver {
 public:
  virtual ~IUDPReceiver() = default;
  virtual void PacketReceived(const void* data, int size,
                              const platform::SocketAddressIn* from) = 0;
};

}  // namespace ZEQ
