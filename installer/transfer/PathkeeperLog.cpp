// Appending to the route helper's log file.
#include "PathkeeperLog.h"

#include "platform/Files.h"

namespace {

constexpr const char* kLogName = "pathkeeper.log";

std::FILE* OpenLog() { return platform::OpenForWriting(kLogName, "a"); }

// Past the limit the text is dropped, so the file never grows beyond it by
// more than one line.
void AppendWithinLimit(std::FILE* file, const char* text) {
  if (std::fseek(file, 0, SEEK_END) != 0 || std::ftell(file) >= kPathkeeperLogLimit) return;
  std::fputs(text, file);
  std::fflush(file);
}

}  // namespace

void AppendPathkeeperLog(const char* text) {
  std::FILE* log = OpenLog();
  if (log == nullptr) return;
  AppendWithinLimit(log, text);
  std::fclose(log);
}

// A log the root helper makes in the user's folder goes to that user, so
// that the installer can still append its own lines to it.
PathkeeperLogFile::PathkeeperLogFile() : file_(OpenLog()) {
  platform::HandNewFileToRequestingUser(file_);
}

PathkeeperLogFile::~PathkeeperLogFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void PathkeeperLogFile::Append(const char* text) {
  if (file_ != nullptr) AppendWithinLimit(file_, text);
}
