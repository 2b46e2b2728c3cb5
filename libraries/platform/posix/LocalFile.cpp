// Linux local files: open/fstat/read on the UTF-8 form of the UTF-16 name.
// Only regular files are accepted, as on Windows, where opening a folder for
// reading fails with "access denied".
#include "platform/LocalFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Leaves the failure in errno, where LastSystemError finds it, and returns
// its Windows number.
int Fail(int error) {
  errno = error;
  return LastSystemError();
}

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 to UTF-8; false for a NUL or an unpaired surrogate, which name no
// file that Windows could open either.
bool ToUtf8(const std::u16string& path, std::string& out) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    char32_t code = path[i];
    if (code == 0) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= path.size() || path[i + 1] < 0xDC00 || path[i + 1] > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (path[++i] - 0xDC00);
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    AppendUtf8(code, out);
  }
  return true;
}

}  // namespace

int LocalFile::Open(const std::u16string& path) {
  Close();
  std::string name;
  // EILSEQ is the system's word for a name that is no valid character
  // sequence; it reads as ERROR_INVALID_NAME.
  if (!ToUtf8(path, name)) return Fail(EILSEQ);
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below, and
  // regular files ignore the flag.
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Fail(errno);
  struct stat status;
  int error = 0;
  if (fstat(fd, &status) != 0) {
    error = errno;
  } else if (!S_ISREG(status.st_mode)) {
    error = S_ISDIR(status.st_mode) ? EISDIR : EACCES;
  }
  if (error != 0) {
    close(fd);
    return Fail(error);
  }
  handle_ = fd;
  return 0;
}

int LocalFile::Examine(std::uint64_t* size, std::int64_t* modifiedUnixSeconds) {
  struct stat status;
  if (fstat(static_cast<int>(handle_), &status) != 0) return Fail(errno);
  *size = static_cast<std::uint64_t>(status.st_size);
  *modifiedUnixSeconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
  return 0;
}

int LocalFile::Read(void* buffer, int length) {
  ssize_t got;
  do {
    got = read(static_cast<int>(handle_), buffer, static_cast<size_t>(length));
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    Fail(errno);
    return -1;
  }
  return static_cast<int>(got);
}

void LocalFile::Close() {
  if (handle_ == kNoHandle) return;
  close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

}  // namespace platform
