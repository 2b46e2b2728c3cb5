// Linux file-system services.
#include "platform/Files.h"

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

bool MakeDirectories(const char* path) {
  std::string partial;
  for (const char* p = path;; ++p) {
    if (*p == '/' || *p == '\0') {
      if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
      if (*p == '\0') break;
    }
    partial += *p;
  }
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

std::string ProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool SetCurrentDirectoryTo(const char* path) { return chdir(path) == 0; }

bool FileExists(const char* path) { return access(path, F_OK) == 0; }

std::string SystemLogDirectory() {
  const char* configured = std::getenv("ZEQ_WINDOWS_DIR");
  if (configured != nullptr && configured[0] != '\0') return configured;
  return "/var/log";
}

}  // namespace platform
