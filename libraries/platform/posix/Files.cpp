// Linux file-system services. The install log's folder follows the
// system's conventions: root writes beside the other system logs, any other
// user into the per-user state folder of the XDG base directories.
#include "platform/Files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "RequestingUser.h"

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

namespace {

const char* Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// $XDG_STATE_HOME, or its default ~/.local/state. The XDG base directory
// rules ignore a relative path in the variable; the home folder comes from
// $HOME, else from the password database. Empty when neither is known.
std::string UserStateDirectory() {
  const char* state = Variable("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return state;
  const char* home = Variable("HOME");
  if (home != nullptr) return std::string(home) + "/.local/state";
  // The reentrant form: install jobs on several threads may ask at once.
  passwd entry;
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
      entry.pw_dir == nullptr || entry.pw_dir[0] == '\0') {
    return std::string();
  }
  return std::string(entry.pw_dir) + "/.local/state";
}

}  // namespace

// Root of a user namespace is uid 0 without the right to write to /var/log,
// so the test is whether /var/log can be written, not the uid alone.
std::string SystemLogDirectory() {
  const char* configured = Variable("ZEQ_WINDOWS_DIR");
  if (configured != nullptr) return configured;
  if (geteuid() == 0 && access("/var/log", W_OK) == 0) return "/var/log";
  const std::string base = UserStateDirectory();
  if (base.empty()) return std::string();
  const std::string folder = base + "/fieldloader";
  return MakeDirectories(folder.c_str()) ? folder : std::string();
}

// O_NOFOLLOW refuses a link in the last component; O_NONBLOCK keeps a FIFO
// put in the file's place from blocking the open, and fstat then refuses
// it. The file is emptied only after the checks, never through O_TRUNC.
std::FILE* OpenForWriting(const std::filesystem::path& path, const char* mode) {
  const bool append = mode[0] == 'a';
  const bool update = std::string(mode).find('+') != std::string::npos;
  const int flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                    (append ? O_APPEND : 0);
  const int fd = open(path.c_str(), flags, 0644);
  if (fd < 0) return nullptr;
  struct stat status;
  const bool plain = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1;
  if (!plain || (!append && ftruncate(fd, 0) != 0) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) close(fd);
  return file;
}

// Only an empty file owned by root is handed over: one that was there with
// text in it keeps its owner.
void HandNewFileToRequestingUser(std::FILE* file) {
  uid_t user = 0;
  if (file == nullptr || geteuid() != 0 || ReadPkexecUser(&user) != PkexecUser::kNamed ||
      user == 0) {
    return;
  }
  struct stat status;
  const int fd = fileno(file);
  if (fstat(fd, &status) != 0 || status.st_uid != 0 || status.st_size != 0) return;
  // A file that cannot be handed over stays root's, readable by the user.
  if (fchown(fd, user, static_cast<gid_t>(-1)) != 0) return;
}

}  // namespace platform
