// Listens on a UDP port with one overlapped receive at a time, completed on
// a ThreadPool's port, and hands every datagram to an IUDPReceiver.
//
// Receiving goes on until Stop: an empty datagram is ignored, one longer
// than the 2048-byte buffer is dropped, and a "connection reset" report on
// the socket is ignored, so nobody on the network can end discovery with a
// single packet. The socket gets a receive buffer of several megabytes: the
// replies to one discovery query arrive in a burst from hundreds of units
// while only one receive is pending.
#pragma once

#include "CThread.h"
#include "IUDPReceiver.h"
#include "iThreadPool.h"
#include "platform/Sockets.h"

namespace ZEQ {

class UDPReceiveTask;

class UDPReceiver {
 public:
  static constexpr int kReceiveBufferBytes = 2048;
  static constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

  // Binds the port on every address and starts receiving; throws
  // VEVException when the socket cannot be made or bound.
  UDPReceiver(unsigned short port, IUDPReceiver* sink, ThreadPool* pool);
  // Stops first when Stop was not called (the pool must still run).
  virtual ~UDPReceiver();
  UDPReceiver(const UDPReceiver&) = delete;
  UDPReceiver& operator=(const UDPReceiver&) = delete;

  // Closes the socket and waits until the last completion has been handled;
  // does nothing when already stopped. Not to be called from PacketReceived.
  void Stop();

  unsigned short getPort() const { return port_; }
  unsigned int getSocketHandle() const { return static_cast<unsigned int>(socket_); }
  // The port is fixed at construction.
  void setPort(unsigned short) {}

 private:
  UDPReceiveTask* receiveTask_;
  ThreadPool* pool_;
  unsigned short port_;
  platform::SocketHandle socket_;
  CEvent stoppedEvent_;
};

}  // namespace ZEQ
