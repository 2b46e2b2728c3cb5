// Sends a packet buffer to every local subnet's broadcast address, to one
// interface's subnet, or to one host. An ordinary sender sends the bare
// payload from a datagram socket; a raw sender writes the IPv4 and UDP
// headers into the buffer's prefix and sends the whole packet, so each copy
// carries the address of the interface it is meant for as its source.
//
// Addresses are IPv4 values in network byte order; ports are in host order.
// A sender is used from one thread at a time.
#pragma once

#include <vector>

#include "UDPPacketBuffer.h"
#include "platform/Interfaces.h"
#include "platform/Sockets.h"

namespace ZEQ {

class UDPSender {
 public:
  // Called on the raw path before the headers are written, with the buffer
  // and the source address of the copy; false sends nothing for it.
  using Callback = bool (*)(UDPPacketBuffer* packet, unsigned int sourceAddress);

  UDPSender();
  UDPSender(unsigned short port, bool raw);
  virtual ~UDPSender();
  UDPSender(const UDPSender&) = delete;
  UDPSender& operator=(const UDPSender&) = delete;

  void Broadcast(const UDPPacketBuffer& buffer, Callback callback, int ttl);
  void Broadcast(const UDPPacketBuffer& buffer, unsigned short port, Callback callback, int ttl);
  void Broadcast(const UDPPacketBuffer& buffer, unsigned short port, unsigned int interfaceAddress,
                 Callback callback, int ttl);
  void Broadcast(const UDPPacketBuffer& buffer, unsigned short port, unsigned int sourceAddress,
                 unsigned int sendAddress, Callback callback, int ttl);
  void UnicastSend(const UDPPacketBuffer& buffer, unsigned int address);
  // Only sendAddress and destinationPort are used: the payload goes out bare.
  void UnicastSend(const UDPPacketBuffer& buffer, unsigned short sourcePort,
                   unsigned short destinationPort, unsigned int sourceAddress,
                   unsigned int destinationAddress, unsigned int sendAddress, int ttl);
  void RawSend(const UDPPacketBuffer& buffer, unsigned short sourcePort,
               unsigned short destinationPort, unsigned int sourceAddress,
               unsigned int destinationAddress, unsigned int sendAddress, Callback callback,
               int ttl);

  unsigned short getPort() const { return port_; }
  unsigned int getSocketHandle() const { return static_cast<unsigned int>(socket_); }

 private:
  std::vector<platform::InterfaceEntry> list_interfaces();

  unsigned short port_;
  platform::SocketHandle socket_;
  bool raw_;
};

}  // namespace ZEQ
