// Reading a local file the way the file transfer needs it: opened shared for
// reading, its size and last-write time examined, then read piece by piece.
// Paths are UTF-16 on both platforms (the release manifest decodes its names
// to UTF-16); Windows passes them on as wide names, Linux encodes them as
// UTF-8. Failures are reported as Windows error codes on both platforms: the
// transfer sends the code to the unit, which should see the same number from
// either build. Linux maps the errno values a read can meet and passes any
// other errno on unchanged.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The separator the system writes between a folder and a name.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Windows error codes that portable code and tests name.
constexpr int kFileErrorNotFound = 2;       // ERROR_FILE_NOT_FOUND
constexpr int kFileErrorPathNotFound = 3;   // ERROR_PATH_NOT_FOUND
constexpr int kFileErrorAccessDenied = 5;   // ERROR_ACCESS_DENIED
constexpr int kFileErrorInvalidName = 123;  // ERROR_INVALID_NAME

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
  // -1 with the reason in LastFileError().
  int Read(void* buffer, int length);
  void Close();
  bool IsOpen() const { return handle_ != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};

// The error code of the calling thread's last failed file operation.
int LastFileError();

}  // namespace platform
