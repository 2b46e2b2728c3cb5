// Linux helper launch: a root caller starts the helper as a child process;
// any other caller is told that elevation is needed (740), and the launch
// with "runas" goes through pkexec, which asks for consent under the polkit
// action that ships with the package. pkexec execs the helper in its own
// process, so the child's process id is the helper's, which the request
// pipe checks. A declined consent ends pkexec with an exit code, which the
// caller sees as a helper that ended before it connected.
#include "platform/HelperLauncher.h"

#include <unistd.h>

#include "platform/Process.h"

namespace platform {

namespace {

class PosixHelperLauncher : public HelperLauncher {
 public:
  ~PosixHelperLauncher() override { Forget(); }

  int Launch(const char* verb, const std::string& program, const std::string& parameter,
             const std::string& directory) override {
    Forget();
    const bool elevate = verb != nullptr && std::string(verb) == "runas";
    if (!elevate && geteuid() != 0) return kErrorElevationRequired;
    process_ = elevate ? StartProcess("pkexec", {program, parameter}, directory.c_str())
                       : StartProcess(program, {parameter}, directory.c_str());
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

std::unique_ptr<HelperLauncher> MakeHelperLauncher() {
  return std::make_unique<PosixHelperLauncher>();
}

}  // namespace platform
