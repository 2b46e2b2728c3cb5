// Windows errors: the system's own numbers, read where the system keeps them.
#include "platform/Errors.h"

#include <winsock2.h>
// After the socket headers, which must come first.
#include <windows.h>

#include <cerrno>

namespace platform {

int LastSystemError() { return static_cast<int>(GetLastError()); }

int LastSocketError() { return WSAGetLastError(); }

int CurrentErrno() { return errno; }

void SetErrno(int value) { errno = value; }

}  // namespace platform
