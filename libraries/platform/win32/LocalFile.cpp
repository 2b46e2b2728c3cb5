// Windows local files: CreateFileW shared for reading, GetFileSizeEx,
// GetFileTime and ReadFile. Error codes are GetLastError values
// (LastSystemError).
#include "platform/LocalFile.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE Native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Seconds between 1601-01-01 (the start of Windows file time) and 1970-01-01.
constexpr std::int64_t kUnixEpochInFileSeconds = 11644473600LL;

}  // namespace

int LocalFile::Open(const std::u16string& path) {
  Close();
  if (path.find(u'\0') != std::u16string::npos) {
    SetLastError(kFileErrorInvalidName);
    return kFileErrorInvalidName;
  }
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  HANDLE file =
      CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return 0;
}

int LocalFile::Examine(std::uint64_t* size, std::int64_t* modifiedUnixSeconds) {
  LARGE_INTEGER length;
  FILETIME written;
  if (!GetFileSizeEx(Native(handle_), &length) ||
      !GetFileTime(Native(handle_), nullptr, nullptr, &written)) {
    return static_cast<int>(GetLastError());
  }
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
  *size = static_cast<std::uint64_t>(length.QuadPart);
  *modifiedUnixSeconds = ticks / 10000000 - kUnixEpochInFileSeconds;
  return 0;
}

int LocalFile::Read(void* buffer, int length) {
  DWORD got = 0;
  if (!ReadFile(Native(handle_), buffer, static_cast<DWORD>(length), &got, nullptr)) return -1;
  return static_cast<int>(got);
}

void LocalFile::Close() {
  if (handle_ == kNoHandle) return;
  CloseHandle(Native(handle_));
  handle_ = kNoHandle;
}

}  // namespace platform
