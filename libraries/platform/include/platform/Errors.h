// Every failure number the code names, and where to read the last one.
//
// The numbers are the Windows ones on both platforms: the installer reports
// them to users and to units, which should see the same number from either
// build. Windows hands them out itself; on Linux one table in the platform
// layer turns errno into them (a value the table does not know is passed on
// unchanged). Three families share the numbering without overlapping:
// system errors (GetLastError, below 10000), Winsock errors (100xx) and the
// IP status codes of an echo (110xx).
#pragma once

#include <cstdint>

namespace platform {

// System errors (GetLastError).
constexpr int kErrorFileNotFound = 2;         // ERROR_FILE_NOT_FOUND
constexpr int kErrorPathNotFound = 3;         // ERROR_PATH_NOT_FOUND
constexpr int kErrorTooManyOpenFiles = 4;     // ERROR_TOO_MANY_OPEN_FILES
constexpr int kErrorAccessDenied = 5;         // ERROR_ACCESS_DENIED
constexpr int kErrorInvalidHandle = 6;        // ERROR_INVALID_HANDLE
constexpr int kErrorNotEnoughMemory = 8;      // ERROR_NOT_ENOUGH_MEMORY
constexpr int kErrorFileExists = 80;          // ERROR_FILE_EXISTS
constexpr int kErrorInvalidParameter = 87;    // ERROR_INVALID_PARAMETER
constexpr int kErrorBrokenPipe = 109;         // ERROR_BROKEN_PIPE
constexpr int kErrorInvalidName = 123;        // ERROR_INVALID_NAME
constexpr int kErrorAlreadyExists = 183;      // ERROR_ALREADY_EXISTS
constexpr int kErrorFilenameTooLong = 206;    // ERROR_FILENAME_EXCED_RANGE
constexpr int kErrorMoreData = 234;           // ERROR_MORE_DATA
constexpr int kErrorElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
constexpr int kErrorOperationAborted = 995;   // ERROR_OPERATION_ABORTED
constexpr int kErrorIoDevice = 1117;          // ERROR_IO_DEVICE
constexpr int kErrorPortUnreachable = 1234;   // ERROR_PORT_UNREACHABLE
constexpr int kErrorPrivilegeNotHeld = 1314;  // ERROR_PRIVILEGE_NOT_HELD
constexpr int kErrorTimeout = 1460;           // ERROR_TIMEOUT

// The names the local file reader's callers know them by.
constexpr int kFileErrorNotFound = kErrorFileNotFound;
constexpr int kFileErrorPathNotFound = kErrorPathNotFound;
constexpr int kFileErrorAccessDenied = kErrorAccessDenied;
constexpr int kFileErrorInvalidName = kErrorInvalidName;

// How an overlapped receive can complete besides 0 (system errors, unsigned
// as the completion port reports them).
constexpr unsigned long kReceiveAborted = kErrorOperationAborted;  // the socket was closed
constexpr unsigned long kReceiveMoreData = kErrorMoreData;         // the datagram did not fit
constexpr unsigned long kReceivePortUnreachable = kErrorPortUnreachable;

// Winsock errors (WSAGetLastError).
constexpr int kErrorInterrupted = 10004;          // WSAEINTR
constexpr int kErrorSocketAccess = 10013;         // WSAEACCES
constexpr int kErrorSocketInvalid = 10022;        // WSAEINVAL
constexpr int kErrorTooManySockets = 10024;       // WSAEMFILE
constexpr int kErrorWouldBlock = 10035;           // WSAEWOULDBLOCK
constexpr int kErrorInProgress = 10036;           // WSAEINPROGRESS
constexpr int kErrorAlreadyInProgress = 10037;    // WSAEALREADY
constexpr int kErrorNotSocket = 10038;            // WSAENOTSOCK
constexpr int kErrorMessageSize = 10040;          // WSAEMSGSIZE
constexpr int kErrorAddressFamily = 10047;        // WSAEAFNOSUPPORT
constexpr int kErrorAddressInUse = 10048;         // WSAEADDRINUSE
constexpr int kErrorAddressNotAvailable = 10049;  // WSAEADDRNOTAVAIL
constexpr int kErrorNetUnreachable = 10051;       // WSAENETUNREACH
constexpr int kErrorConnAborted = 10053;          // WSAECONNABORTED
constexpr int kErrorConnReset = 10054;            // WSAECONNRESET
constexpr int kErrorNoBuffers = 10055;            // WSAENOBUFS
constexpr int kErrorIsConnected = 10056;          // WSAEISCONN
constexpr int kErrorNotConnected = 10057;         // WSAENOTCONN
constexpr int kErrorShutdown = 10058;             // WSAESHUTDOWN
constexpr int kErrorTimedOut = 10060;             // WSAETIMEDOUT
constexpr int kErrorConnRefused = 10061;          // WSAECONNREFUSED
constexpr int kErrorHostUnreachable = 10065;      // WSAEHOSTUNREACH

// IP status codes of an echo (IcmpSendEcho).
constexpr std::uint32_t kIpSuccess = 0;
constexpr std::uint32_t kIpDestNetUnreachable = 11002;   // IP_DEST_NET_UNREACHABLE
constexpr std::uint32_t kIpDestHostUnreachable = 11003;  // IP_DEST_HOST_UNREACHABLE
constexpr std::uint32_t kIpReqTimedOut = 11010;          // IP_REQ_TIMED_OUT
constexpr std::uint32_t kIpGeneralFailure = 11050;       // IP_GENERAL_FAILURE

// The calling thread's last system error: GetLastError on Windows, errno
// through the table on Linux. Files, ICMP, threads and the completion port
// report their failures here.
int LastSystemError();
// The calling thread's last socket error: WSAGetLastError on Windows, errno
// through the table's socket column on Linux.
int LastSocketError();

// The C library's error number (errno), which some callers report as it is,
// and a way to put it back after cleanup that must not change it.
int CurrentErrno();
void SetErrno(int value);

}  // namespace platform
