// Reading a local file the way the file transfer needs it: opened shared for
// reading, its size and last-write time examined, then read piece by piece.
// Paths are UTF-16 on both platforms (the release manifest decodes its names
// to UTF-16); Windows passes them on as wide names, Linux encodes them as
// UTF-8. Failures are reported as Windows error codes on both platforms
// (platform/Errors.h): the transfer sends the code to the unit, which should
// see the same number from either build.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Errors.h"

namespace platform {

// The separator the system writes between a folder and a name.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

class LocalFile {
 public:
  LocalFile() = default;
  ~LocalFile() { Close(); }
  LocalFile(const LocalFile&) = delete;
  LocalFile& operator=(const LocalFile&) = delete;

  // Opens an existing regular file for reading; others may read it at the
  // same time. 0 or the error code. A name holding a NUL is refused
  // (kFileErrorInvalidName) rather than cut short at it.
  int Open(const std::u16string& path);
  // The open file's size in bytes and its last-write time in seconds since
  // 1970-01-01 00:00 UTC. 0 or the error code.
  int Examine(std::uint64_t* size, std::int64_t* modifiedUnixSeconds);
  // Reads up to length bytes: the count read (0 at the end of the file), or
  // -1 with the reason in LastSystemError().
  int Read(void* buffer, int length);
  void Close();
  bool IsOpen() const { return handle_ != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};

}  // namespace platform
