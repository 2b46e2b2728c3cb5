// Addresses and sockets on the loopback network for tests: the addresses
// they name, a listener on an ephemeral port of 127.0.0.1 as the scripted
// peers use, and a connected pair of TCP sockets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Sockets.h"

namespace testsupport {

// A dotted quad in network byte order (0 when it is none).
std::uint32_t Address(const std::string& text);
// The address of four octets in network byte order, built without any
// parser, for the tests of the parsers themselves.
std::uint32_t AddressOfOctets(int a, int b, int c, int d);
// 127.0.0.1 in network byte order.
std::uint32_t Loopback();
// The dotted quad of an address in network byte order.
std::string AddressText(std::uint32_t address);

// A TCP socket listening on 127.0.0.1 at an ephemeral port; closed with the
// object. isListening() is false when it could not be set up.
class LoopbackListener {
 public:
  explicit LoopbackListener(int backlog = 4);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool isListening() const { return socket_ != platform::kInvalidSocket; }
  platform::SocketHandle socket() const { return socket_; }
  std::uint16_t port() const { return port_; }
  // Waits up to timeoutMs for a connection; kInvalidSocket when none came.
  platform::SocketHandle Accept(int timeoutMs, platform::SocketAddressIn* from = nullptr);

 private:
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  std::uint16_t port_ = 0;
};

// A listener whose queue of connections is full, so a connect to it stays
// under way (the system drops its handshake) until it is aborted. Clients
// are connected without being accepted until one stays pending; isFull() is
// false when that did not happen.
class FullListener {
 public:
  FullListener();
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  bool isFull() const { return full_; }
  std::uint16_t port() const { return listener_.port(); }

 private:
  LoopbackListener listener_{0};
  std::vector<platform::SocketHandle> clients_;
  bool full_ = false;
};

// Two ends of one loopback TCP connection, both closed with the object
// unless taken.
struct ConnectedPair {
  ConnectedPair();
  ~ConnectedPair();
  ConnectedPair(const ConnectedPair&) = delete;
  ConnectedPair& operator=(const ConnectedPair&) = delete;
  bool isConnected() const;

  platform::SocketHandle client = platform::kInvalidSocket;
  platform::SocketHandle server = platform::kInvalidSocket;
};

}  // namespace testsupport
