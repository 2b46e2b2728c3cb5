// "pathkeeper.log" in the current directory, which both programs append to:
// the installer when it cannot serve or start the route helper, the helper
// when a route fails. The installer opens and closes the file for each line;
// the helper opens it once at its start, before it gives up the rights it
// would need to open it in the user's folder later. Either way the file is
// opened without following a link (the helper runs as administrator in a
// folder the user can write), and it stops growing at kPathkeeperLogLimit
// bytes, whatever a runaway peer asks to be logged.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr long kPathkeeperLogLimit = 1 << 20;

// Appends the text as it is (the caller ends it with a newline).
void AppendPathkeeperLog(const char* text);

// The log held open by the helper.
class PathkeeperLogFile {
 public:
  PathkeeperLogFile();
  ~PathkeeperLogFile();
  PathkeeperLogFile(const PathkeeperLogFile&) = delete;
  PathkeeperLogFile& operator=(const PathkeeperLogFile&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  void Append(const char* text);

 private:
  std::FILE* file_;
};
