// Linux errors: the one table that turns errno into the Windows numbers of
// platform/Errors.h. Each row gives the system error (what GetLastError would
// say after a file or handle call) and the Winsock error (what
// WSAGetLastError would say after a socket call) for one errno value; 0
// means the context has no such number and the errno is passed on unchanged.
#include "platform/Errors.h"

#include <errno.h>

#include <cstring>

#include "ErrorTable.h"

namespace platform {

namespace {

struct ErrorRow {
  int error;
  int system;
  int socket;
};

constexpr ErrorRow kTable[] = {
    {EPERM, kErrorAccessDenied, kErrorSocketAccess},
    {ENOENT, kErrorFileNotFound, 0},
    {EINTR, 0, kErrorInterrupted},
    {EIO, kErrorIoDevice, 0},
    {EBADF, kErrorInvalidHandle, kErrorNotSocket},
    {ENOMEM, kErrorNotEnoughMemory, kErrorNoBuffers},
    {EACCES, kErrorAccessDenied, kErrorSocketAccess},
    {EEXIST, kErrorFileExists, 0},
    {ENOTDIR, kErrorPathNotFound, 0},
    {EISDIR, kErrorAccessDenied, 0},
    {EINVAL, kErrorInvalidParameter, kErrorSocketInvalid},
    {EMFILE, kErrorTooManyOpenFiles, kErrorTooManySockets},
    {EPIPE, kErrorBrokenPipe, kErrorShutdown},
    {ENAMETOOLONG, kErrorFilenameTooLong, 0},
    {EILSEQ, kErrorInvalidName, 0},
    {EAGAIN, 0, kErrorWouldBlock},
    {EINPROGRESS, 0, kErrorInProgress},
    {EALREADY, 0, kErrorAlreadyInProgress},
    {ENOTSOCK, kErrorInvalidHandle, kErrorNotSocket},
    {EMSGSIZE, kErrorMoreData, kErrorMessageSize},
    {EAFNOSUPPORT, 0, kErrorAddressFamily},
    {EADDRINUSE, kErrorAlreadyExists, kErrorAddressInUse},
    {EADDRNOTAVAIL, 0, kErrorAddressNotAvailable},
    {ENETUNREACH, 0, kErrorNetUnreachable},
    {ECONNABORTED, 0, kErrorConnAborted},
    {ECONNRESET, 0, kErrorConnReset},
    {ENOBUFS, 0, kErrorNoBuffers},
    {EISCONN, 0, kErrorIsConnected},
    {ENOTCONN, 0, kErrorNotConnected},
    {ESHUTDOWN, 0, kErrorShutdown},
    {ETIMEDOUT, kErrorTimeout, kErrorTimedOut},
    {ECONNREFUSED, 0, kErrorConnRefused},
    {EHOSTUNREACH, 0, kErrorHostUnreachable},
    {ECANCELED, kErrorOperationAborted, 0},
};
static_assert(EWOULDBLOCK == EAGAIN, "one row serves both names");

const ErrorRow* Find(int error) {
  for (const ErrorRow& row : kTable) {
    if (row.error == error) return &row;
  }
  return nullptr;
}

}  // namespace

int SystemErrorFromErrno(int error) {
  const ErrorRow* row = Find(error);
  return row != nullptr && row->system != 0 ? row->system : error;
}

int SocketErrorFromErrno(int error) {
  const ErrorRow* row = Find(error);
  return row != nullptr && row->socket != 0 ? row->socket : error;
}

int EchoFailureFromErrno(int error) {
  if (error == ENETUNREACH) return static_cast<int>(kIpDestNetUnreachable);
  if (error == EHOSTUNREACH) return static_cast<int>(kIpDestHostUnreachable);
  return error;
}

std::string SystemErrorText(int code) {
  switch (static_cast<std::uint32_t>(code)) {
    case kIpDestNetUnreachable: return "destination net unreachable";
    case kIpDestHostUnreachable: return "destination host unreachable";
    case kIpReqTimedOut: return "request timed out";
    case kIpGeneralFailure: return "general failure";
    default: break;
  }
  for (const ErrorRow& row : kTable) {
    if (row.system == code || row.socket == code) return std::strerror(row.error);
  }
  return std::strerror(code);
}

int LastSystemError() { return SystemErrorFromErrno(errno); }

int LastSocketError() { return SocketErrorFromErrno(errno); }

int CurrentErrno() { return errno; }

void SetErrno(int value) { errno = value; }

}  // namespace platform
