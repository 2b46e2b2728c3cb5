// The local IPv4 interfaces, in the order the system lists them: address,
// netmask, broadcast address and flags of each. Windows asks the socket's
// provider (WSAIoctl with SIO_GET_INTERFACE_LIST); Linux reads getifaddrs
// and keeps the IPv4 entries of interfaces that are up, so both lists hold
// what a broadcast over "every interface" should reach.
#pragma once

#include <cstdint>

#include "platform/Sockets.h"

namespace platform {

// Entry flags, with the values of the Windows IFF_* flags on both platforms.
constexpr std::uint32_t kInterfaceUp = 0x01;
constexpr std::uint32_t kInterfaceBroadcast = 0x02;
constexpr std::uint32_t kInterfaceLoopback = 0x04;
constexpr std::uint32_t kInterfacePointToPoint = 0x08;
constexpr std::uint32_t kInterfaceMulticast = 0x10;

// The size of one entry of the Windows list (INTERFACE_INFO), in which
// callers that mirror the Windows call size their lists.
constexpr int kSystemInterfaceEntryBytes = 76;

struct InterfaceEntry {
  std::uint32_t address;    // network byte order
  std::uint32_t netmask;    // network byte order
  std::uint32_t broadcast;  // as the system reports it; 0 when it reports none
  std::uint32_t flags;      // kInterface* bits
};

// Fills up to `capacity` entries and returns how many were filled, or -1
// with the reason in LastSocketError(). A list with more entries than
// `capacity` fails as a whole, as the Windows call does (WSAEFAULT; EFAULT
// on Linux). `socket` is an open socket of the caller (Windows queries
// through it; Linux only checks that it is open).
int ListInterfaces(SocketHandle socket, InterfaceEntry* entries, int capacity);

}  // namespace platform
