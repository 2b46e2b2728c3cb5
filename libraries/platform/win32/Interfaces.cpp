// Windows interface list: WSAIoctl with SIO_GET_INTERFACE_LIST on the
// caller's socket, into a block of `capacity` INTERFACE_INFO entries.
#include "platform/Interfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After the socket headers, which must come first.
#include <windows.h>

#include <vector>

namespace platform {

static_assert(sizeof(INTERFACE_INFO) == kSystemInterfaceEntryBytes);

int ListInterfaces(SocketHandle socket, InterfaceEntry* entries, int capacity) {
  if (capacity < 0) capacity = 0;
  std::vector<INTERFACE_INFO> list(static_cast<std::size_t>(capacity));
  DWORD returned = 0;
  if (WSAIoctl(static_cast<SOCKET>(socket), SIO_GET_INTERFACE_LIST, nullptr, 0, list.data(),
               static_cast<DWORD>(list.size() * sizeof(INTERFACE_INFO)), &returned, nullptr,
               nullptr) != 0) {
    return -1;
  }
  const int count = static_cast<int>(returned / sizeof(INTERFACE_INFO));
  for (int i = 0; i < count; ++i) {
    entries[i].address = list[i].iiAddress.AddressIn.sin_addr.s_addr;
    entries[i].netmask = list[i].iiNetmask.AddressIn.sin_addr.s_addr;
    entries[i].broadcast = list[i].iiBroadcastAddress.AddressIn.sin_addr.s_addr;
    // The IFF_* values are the kInterface* values.
    entries[i].flags = static_cast<std::uint32_t>(list[i].iiFlags);
  }
  return count;
}

}  // namespace platform
