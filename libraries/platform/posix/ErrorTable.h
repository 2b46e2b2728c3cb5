// The Linux side of the error vocabulary: errno turned into the Windows
// numbers of platform/Errors.h. The table itself is in Errors.cpp, the only
// place where an errno value meets a Windows number.
#pragma once

#include <string>

namespace platform {

// The system error (GetLastError) for an errno value; an errno the table
// does not know is returned unchanged.
int SystemErrorFromErrno(int error);
// The Winsock error (WSAGetLastError) for an errno value, likewise.
int SocketErrorFromErrno(int error);
// Linux errno values end well below 10000, so a Windows number of 10000 or
// more stored in errno passes the table unchanged: the layer stores one there
// to report a failure that no errno describes. An echo does so with the IP
// status of a send that found no route, as IcmpSendEcho reports it; any
// other errno comes back as it is.
int EchoFailureFromErrno(int error);

// The system's message for a Windows number of platform/Errors.h (the errno
// it stands for, through the same table, or the name of an IP status), for
// the Linux diagnostics that show the reason beside the number.
std::string SystemErrorText(int code);

}  // namespace platform
