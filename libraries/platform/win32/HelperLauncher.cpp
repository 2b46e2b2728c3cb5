// Windows helper launch through the shell (ShellExecuteEx), which honours
// the helper's manifest: without elevation a "requireAdministrator" program
// fails with 740, and the verb "runas" shows the consent prompt. The process
// handle is kept to ask for the exit code (259 while it runs).
#include "platform/HelperLauncher.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

namespace platform {

namespace {

class ShellHelperLauncher : public HelperLauncher {
 public:
  ~ShellHelperLauncher() override { Forget(); }

  int Launch(const char* verb, const std::string& program, const std::string& parameter,
             const std::string& directory) override {
    Forget();
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    // No error dialog of the shell's own: the caller logs the failure.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb;
    info.lpFile = program.c_str();
    info.lpParameters = parameter.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = SW_SHOWMAXIMIZED;
    if (!ShellExecuteExA(&info)) return static_cast<int>(GetLastError());
    process_ = info.hProcess;
    return 0;
  }

  bool HasProcess() const override { return process_ != nullptr; }

  bool IsRunning(int* exitCode) override {
    DWORD code = 0;
    if (process_ == nullptr || !GetExitCodeProcess(process_, &code)) return false;
    if (code == STILL_ACTIVE) return true;
    if (exitCode != nullptr) *exitCode = static_cast<int>(code);
    return false;
  }

  unsigned long ProcessId() const override {
    return process_ != nullptr ? GetProcessId(process_) : 0;
  }

  void Forget() override {
    if (process_ != nullptr) CloseHandle(process_);
    process_ = nullptr;
  }

 private:
  HANDLE process_ = nullptr;
};

}  // namespace

// The helper always sits beside the installer; the shell's own consent
// prompt is the way to administrator rights.
std::string InstalledHelperPath() { return ""; }

std::string HelperElevationRemedy(int) { return ""; }

std::unique_ptr<HelperLauncher> MakeHelperLauncher() {
  return std::make_unique<ShellHelperLauncher>();
}

std::string HelperLaunchFailureLine(int error) {
  return "Could not start pathkeeper.exe " + std::to_string(error) + "\n";
}

std::string HelperEndedFailureLine(int exitCode) { return HelperLaunchFailureLine(exitCode); }

}  // namespace platform
