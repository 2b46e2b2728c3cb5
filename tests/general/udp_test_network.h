// Helpers of the UDP tests: the test links inside the private namespace, and
// sockets that capture what a sender put on the wire. A UDP socket bound to
// 0.0.0.0:port receives the subnet broadcasts that the system loops back to
// local sockets, with the address of the interface each one left from as
// its source; a raw UDP socket receives every UDP packet delivered in the
// namespace, IPv4 header included, for checks byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "platform/Interfaces.h"
#include "platform/Sockets.h"

namespace udptest {

using testsupport::Address;

inline std::string Text(std::uint32_t address) { return testsupport::AddressText(address); }

inline std::uint16_t BigEndian16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

// True when the system lists an interface with that address. (Binding to
// the address is no test: wine lets a socket bind to any address.)
inline bool IsListedInterface(std::uint32_t address) {
  const platform::SocketHandle socket = platform::OpenUdpSocket();
  platform::InterfaceEntry entries[32];
  const int count = platform::ListInterfaces(socket, entries, 32);
  platform::CloseSocket(socket);
  for (int i = 0; i < count; ++i) {
    if (entries[i].address == address) return true;
  }
  return false;
}

// Makes one link per address of `interfaces` (netns-links.sh), unless the
// test launcher has made them already. Under wine the test cannot run the
// script; ctest then runs these tests in entries of their own for which the
// launcher builds the links (ZEQ_TEST_INTERFACES).
inline bool BuildLinks(const char* interfaces, const char* firstAddress) {
  if (IsListedInterface(Address(firstAddress))) return true;
  const std::string command = std::string("ZEQ_TEST_INTERFACES='") + interfaces + "' sh " +
                              ZEQ_SOURCE_DIR + "/tests/support/netns-links.sh";
  return std::system(command.c_str()) == 0 && IsListedInterface(Address(firstAddress));
}

// In CI a missing link is a failure, except in the main wine run, whose
// link tests ctest runs again in the entries with ZEQ_TEST_INTERFACES.
inline bool LinksMayBeMissing() {
  return !testsupport::RunningInCi() ||
         (std::getenv("WINEPREFIX") != nullptr && std::getenv("ZEQ_TEST_INTERFACES") == nullptr);
}

#define ZEQ_REQUIRE_LINKS(interfaces, firstAddress)                                         \
  do {                                                                                      \
    ZEQ_REQUIRE_NETNS();                                                                    \
    if (!udptest::BuildLinks(interfaces, firstAddress)) {                                   \
      if (!udptest::LinksMayBeMissing()) FAIL() << "cannot build the links " << interfaces; \
      GTEST_SKIP() << "cannot build the links " << interfaces                               \
                   << " here; ctest runs this test with ZEQ_TEST_INTERFACES set";           \
    }                                                                                       \
  } while (0)

struct Datagram {
  std::vector<std::uint8_t> bytes;
  platform::SocketAddressIn from;
};

// A socket that collects what arrives until nothing more comes for a while.
class Capture {
 public:
  ~Capture() {
    if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
  }
  bool IsOpen() const { return socket_ != platform::kInvalidSocket; }
  std::vector<Datagram> Collect(int quietMs = 300) {
    std::vector<Datagram> result;
    while (platform::WaitReadable(socket_, quietMs) == 1) {
      Datagram datagram;
      datagram.bytes.resize(70000);
      const int size = platform::RecvFrom(socket_, datagram.bytes.data(),
                                          static_cast<int>(datagram.bytes.size()), &datagram.from);
      if (size < 0) break;
      datagram.bytes.resize(static_cast<std::size_t>(size));
      result.push_back(std::move(datagram));
    }
    return result;
  }

 protected:
  platform::SocketHandle socket_ = platform::kInvalidSocket;
};

// Datagrams to `port` on any local address, broadcasts included.
class DatagramCapture : public Capture {
 public:
  explicit DatagramCapture(std::uint16_t port) {
    socket_ = platform::OpenUdpSocket();
    platform::SetReuseAddress(socket_, true);
    if (platform::Bind(socket_, 0, port) != 0) {
      platform::CloseSocket(socket_);
      socket_ = platform::kInvalidSocket;
    }
  }
};

// Whole IPv4 packets of UDP datagrams to `port`.
class PacketCapture : public Capture {
 public:
  explicit PacketCapture(std::uint16_t port) : port_(port) {
    socket_ = platform::OpenRawUdpSocket();
  }
  std::vector<Datagram> CollectPackets(int quietMs = 300) {
    std::vector<Datagram> packets;
    for (Datagram& packet : Collect(quietMs)) {
      if (packet.bytes.size() >= 28 && BigEndian16(&packet.bytes[22]) == port_) {
        packets.push_back(std::move(packet));
      }
    }
    return packets;
  }

 private:
  std::uint16_t port_;
};

inline std::uint32_t SourceOf(const Datagram& packet) {
  std::uint32_t address;
  std::memcpy(&address, &packet.bytes[12], 4);
  return address;
}

inline std::uint32_t DestinationOf(const Datagram& packet) {
  std::uint32_t address;
  std::memcpy(&address, &packet.bytes[16], 4);
  return address;
}

}  // namespace udptest
