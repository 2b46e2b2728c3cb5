// The install log's file handling. The process-wide lock is a std::mutex at
// namespace scope; its constructor is constexpr, so it is constant-initialised
// and ready before any job thread can log.
#include "install/InstallLog.h"

#include <ctime>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/LocalFile.h"
#include "platform/Sockets.h"

namespace {

constexpr const char* kLogName = "zeqtarvo_install";
constexpr const char* kLogExtension = "log";

std::mutex g_logLock;
std::string g_directoryForTesting;

std::string LogDirectory() {
  return g_directoryForTesting.empty() ? platform::SystemLogDirectory() : g_directoryForTesting;
}

}  // namespace

std::string InstallLogPath() {
  const std::string directory = LogDirectory();
  if (directory.empty()) return std::string();
  return directory + platform::kPathSeparator + kLogName + "." + kLogExtension;
}

void SetInstallLogDirectoryForTesting(const std::string& directory) {
  g_directoryForTesting = directory;
}

std::FILE* OpenInstallLog() {
  const std::string path = InstallLogPath();
  if (path.empty()) return nullptr;
  // Opened as the report files are: a root installer must not follow a link.
  std::FILE* file = platform::OpenForWriting(path, "a+t");
  if (file == nullptr) return nullptr;
  if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) > kInstallLogSizeLimit) {
    std::fclose(file);
    file = platform::OpenForWriting(path, "w+t");
  }
  return file;
}

void WriteLogTimestamp(std::FILE* file) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!platform::LocalTime(now, &local)) return;
  char stamp[40];
  if (std::strftime(stamp, sizeof stamp, "%y/%m/%d %H:%M:%S", &local) == 0) return;
  std::fputs(stamp, file);
}

void LogInstallEvent(std::uint32_t address, const char* text) {
  std::lock_guard<std::mutex> lock(g_logLock);
  std::FILE* file = OpenInstallLog();
  if (file == nullptr) return;
  char dotted[16];
  platform::FormatAddress(address, dotted, sizeof dotted);
  WriteLogTimestamp(file);
  std::fprintf(file, " %s %s\n", dotted, text);
  std::fclose(file);
}
