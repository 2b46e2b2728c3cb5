// Windows file-system services.
#include "platform/Files.h"

#include <windows.h>

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

}  // namespace platform
