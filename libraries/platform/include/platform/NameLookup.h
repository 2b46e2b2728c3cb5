// Name lookups of the platform: a service's port in the system's services
// database, a host name's first IPv4 address, and this computer's own host
// name. Windows asks Winsock (the socket layer must have been started);
// Linux asks the C library's resolver. Lookups may consult the network's name
// service, so callers in tests pass only names the hosts file knows or
// numeric ones.
#pragma once

#include <cstdint>

namespace platform {

// The port (host byte order) registered for the service name under any
// protocol, or 0 when the database does not know the name.
std::uint16_t ServicePortByName(const char* name);
// The first IPv4 address (network byte order) of the host name, which may also
// be a numeric address; false when it cannot be resolved.
bool LookupHostAddress(const char* name, std::uint32_t* address);
// This computer's host name, cut to size - 1 characters and NUL-terminated;
// false when the system gives none.
bool LocalHostName(char* name, int size);

}  // namespace platform
