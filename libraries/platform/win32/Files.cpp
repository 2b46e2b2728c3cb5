// Windows file-system services.
#include "platform/Files.h"

#include <windows.h>
// io.h and fcntl.h: the C runtime's descriptors for a system handle.
#include <fcntl.h>
#include <io.h>

namespace platform {

bool MakeDirectories(const char* path) {
  std::string partial;
  for (const char* p = path;; ++p) {
    if (*p == '/' || *p == '\\' || *p == '\0') {
      if (!partial.empty() && partial.back() != ':') CreateDirectoryA(partial.c_str(), nullptr);
      if (*p == '\0') break;
    }
    partial += *p;
  }
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ProgramPath() {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool SetCurrentDirectoryTo(const char* path) { return SetCurrentDirectoryA(path) != 0; }

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

std::string SystemLogDirectory() {
  char buffer[210];
  const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

namespace {

// A regular file with one link, not reached through a reparse point.
bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return false;
  const DWORD refused =
      FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  return (information.dwFileAttributes & refused) == 0 && information.nNumberOfLinks == 1 &&
         GetFileType(file) == FILE_TYPE_DISK;
}

}  // namespace

// FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than its target,
// and the attribute check then refuses it. The file is emptied only after
// the checks.
std::FILE* OpenForWriting(const std::filesystem::path& path, const char* mode) {
  const bool append = mode[0] == 'a';
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (!IsPlainFile(file) || (!append && !SetEndOfFile(file))) {
    CloseHandle(file);
    return nullptr;
  }
  const bool text = std::string(mode).find('t') != std::string::npos;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file),
                                         (append ? _O_APPEND : 0) | (text ? _O_TEXT : _O_BINARY));
  if (descriptor < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, mode);
  if (stream == nullptr) _close(descriptor);
  return stream;
}


void HandNewFileToRequestingUser(std::FILE*) {}

}  // namespace platform
