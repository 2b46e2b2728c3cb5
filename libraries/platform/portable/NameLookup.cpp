// Name lookups through the socket layer's resolver calls, which Winsock and
// the C library offer with the same names and meaning: getservbyname,
// getaddrinfo restricted to IPv4, and gethostname (see platform/NameLookup.h).
// Only the headers differ, so the code is written once.
#include "platform/NameLookup.h"

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstring>

namespace platform {

std::uint16_t ServicePortByName(const char* name) {
  const servent* entry = getservbyname(name, nullptr);
  return entry != nullptr ? ntohs(static_cast<std::uint16_t>(entry->s_port)) : 0;
}

bool LookupHostAddress(const char* name, std::uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* results = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &results) != 0 || results == nullptr) return false;
  std::memcpy(address, &reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr, 4);
  freeaddrinfo(results);
  return true;
}

bool LocalHostName(char* name, int size) {
  if (size < 1) return false;
  name[0] = '\0';
  if (gethostname(name, size) != 0) return false;
  name[size - 1] = '\0';  // a cut name may be left unterminated
  return name[0] != '\0';
}

}  // namespace platform
