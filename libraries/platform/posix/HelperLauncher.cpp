// Linux helper launch: a root caller starts the helper as a child process;
// any other caller is told that elevation is needed (740), and the launch
// with "runas" goes through pkexec, which asks for consent under the polkit
// action that ships with the package. pkexec execs the helper in its own
// process, so the child's process id is the helper's, which the request
// pipe checks. A declined consent ends pkexec with an exit code, which the
// caller sees as a helper that ended before it connected. pkexec is started
// by its absolute path, never looked up in the caller's PATH.
#include "platform/HelperLauncher.h"

#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace platform {

namespace {

constexpr const char* kInstalledHelper = "/usr/lib/fieldloader/pathkeeper";
constexpr const char* kPkexec = "/usr/bin/pkexec";

bool IsExecutable(const char* path) { return access(path, X_OK) == 0; }

// The helper's arguments, given as one string as the Windows shell takes
// them; none of them holds a space.
std::vector<std::string> SplitArguments(const std::string& parameter) {
  std::vector<std::string> arguments;
  std::istringstream words(parameter);
  for (std::string word; words >> word;) arguments.push_back(word);
  return arguments;
}

class PosixHelperLauncher : public HelperLauncher {
 public:
  ~PosixHelperLauncher() override { Forget(); }

  int Launch(const char* verb, const std::string& program, const std::string& parameter,
             const std::string& directory) override {
    Forget();
    const bool elevate = verb != nullptr && std::string(verb) == "runas";
    std::vector<std::string> arguments = SplitArguments(parameter);
    if (!elevate) {
      if (geteuid() != 0) return kErrorElevationRequired;
      process_ = StartProcess(program, arguments, directory.c_str());
    } else {
      if (program != kInstalledHelper || !IsExecutable(kPkexec)) return kErrorPrivilegeNotHeld;
      arguments.insert(arguments.begin(), program);
      process_ = StartProcess(kPkexec, arguments, directory.c_str());
    }
    if (process_ == nullptr) return LastProcessError();
    processId_ = ProcessIdOf(process_);
    return 0;
  }

  bool HasProcess() const override { return process_ != nullptr; }

  bool IsRunning(int* exitCode) override {
    int code = 0;
    if (process_ == nullptr || ProcessExitCode(process_, &code)) {
      if (exitCode != nullptr) *exitCode = code;
      return false;
    }
    return true;
  }

  unsigned long ProcessId() const override { return processId_; }

  void Forget() override {
    CloseProcess(process_);
    process_ = nullptr;
    processId_ = 0;
  }

 private:
  ProcessHandle* process_ = nullptr;
  unsigned long processId_ = 0;
};

}  // namespace

std::string InstalledHelperPath() { return IsExecutable(kInstalledHelper) ? kInstalledHelper : ""; }

std::string HelperElevationRemedy(int error) {
  if (error != kErrorPrivilegeNotHeld) return "";
  if (!IsExecutable(kInstalledHelper)) return "run as root or install the fieldloader package";
  return "run as root or install pkexec";
}

std::unique_ptr<HelperLauncher> MakeHelperLauncher() {
  return std::make_unique<PosixHelperLauncher>();
}

std::string HelperLaunchFailureLine(int error) {
  return "Could not start pathkeeper: " + std::string(std::strerror(error)) + " (" +
         std::to_string(error) + ")\n";
}

// pkexec ends with 126 or 127 when the consent was not given.
std::string HelperEndedFailureLine(int exitCode) {
  if (exitCode == 126 || exitCode == 127) {
    return "Could not start pathkeeper: pkexec ended with " + std::to_string(exitCode) +
           ", the administrator's consent was not given\n";
  }
  return "Could not start pathkeeper: it ended with exit code " + std::to_string(exitCode) +
         " before it connected\n";
}

}  // namespace platform
