// What the Linux route helper's system tests share: the namespace's main
// routing table as `ip` shows it, and a run of the helper copy in the
// current folder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace systemroutes {

// The output of a shell command.
inline std::string Run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

inline std::string Routes() { return Run("ip -4 route show table main"); }

// Runs the helper in the current folder to its end: its exit code, or -1.
inline int RunHelper(const std::vector<std::string>& arguments) {
  platform::ProcessHandle* helper = platform::StartProcess("./pathkeeper", arguments, nullptr);
  int code = -1;
  if (helper != nullptr && platform::WaitProcess(helper, 10000) == 1) {
    platform::ProcessExitCode(helper, &code);
  }
  platform::CloseProcess(helper);
  return code;
}

}  // namespace systemroutes
