// Linux interface list: getifaddrs, keeping the IPv4 entries of interfaces
// that are up, in the order it returns them (by interface index, then by
// address). The flags are translated to the Windows IFF_* values.
#include "platform/Interfaces.h"

#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace platform {

namespace {

std::uint32_t AddressOf(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) return 0;
  return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
}

std::uint32_t FlagsOf(unsigned int flags) {
  std::uint32_t result = 0;
  if (flags & IFF_UP) result |= kInterfaceUp;
  if (flags & IFF_BROADCAST) result |= kInterfaceBroadcast;
  if (flags & IFF_LOOPBACK) result |= kInterfaceLoopback;
  if (flags & IFF_POINTOPOINT) result |= kInterfacePointToPoint;
  if (flags & IFF_MULTICAST) result |= kInterfaceMulticast;
  return result;
}

InterfaceEntry EntryOf(const ifaddrs& item) {
  InterfaceEntry entry{};
  entry.address = AddressOf(item.ifa_addr);
  entry.netmask = AddressOf(item.ifa_netmask);
  if (item.ifa_flags & IFF_BROADCAST) entry.broadcast = AddressOf(item.ifa_broadaddr);
  entry.flags = FlagsOf(item.ifa_flags);
  return entry;
}

}  // namespace

int ListInterfaces(SocketHandle socket, InterfaceEntry* entries, int capacity) {
  // The list does not need the socket here, but Windows fails without a
  // valid one, and callers should see the same on both platforms.
  if (fcntl(static_cast<int>(socket), F_GETFD) < 0) return -1;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return -1;
  int count = 0;
  for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
    if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) continue;
    if (!(item->ifa_flags & IFF_UP)) continue;
    if (count == capacity) {
      count = -1;
      break;
    }
    entries[count++] = EntryOf(*item);
  }
  freeifaddrs(list);
  if (count < 0) errno = EFAULT;
  return count;
}

}  // namespace platform
