// Starts the route helper, with administrator rights when the system asks
// for them, and keeps the one helper process it started so that the caller
// can ask whether it still runs. Windows launches through ShellExecuteEx,
// which fails with 740 when the program's manifest asks for elevation and
// the caller has none; the caller then launches again with the verb "runas".
// Linux answers the same way: a root caller starts the helper directly, any
// other gets 740 and then starts it through pkexec (the polkit action ships
// with the package). One launch sequence so serves both.
//
// On Linux only the installed helper (kInstalledHelperPath, owned by root
// and named by the package's polkit action) is ever started through pkexec:
// a copy in a folder that the user can write is started only by a root
// installer, since pkexec would otherwise run as root whatever was put
// there. A launch that cannot be elevated at all fails with
// kErrorPrivilegeNotHeld.
//
// An interface, because elevation can be declined only on a real desktop:
// tests substitute a launcher that answers as they need.
#pragma once

#include <memory>
#include <string>

#include "platform/Errors.h"

namespace platform {

// The helper program's file name.
#ifdef _WIN32
constexpr const char* kHelperProgramName = "pathkeeper.exe";
#else
constexpr const char* kHelperProgramName = "pathkeeper";
#endif

// The helper that the system's package installed, when it is there; empty
// otherwise (always on Windows, where the helper sits beside the installer).
std::string InstalledHelperPath();

// For a launch that failed with `error`: what the user can do so that the
// helper can start with administrator rights ("run as root or install
// pkexec"); empty when the failure is of another kind.
std::string HelperElevationRemedy(int error);

// The log lines for a helper that could not be started (`error`, as Launch
// returned it) and for one that ended with `exitCode` before it connected.
// Windows writes "Could not start pathkeeper.exe " and the number for both;
// Linux names pathkeeper and says what the number means.
std::string HelperLaunchFailureLine(int error);
std::string HelperEndedFailureLine(int exitCode);

class HelperLauncher {
 public:
  virtual ~HelperLauncher() = default;
  // Starts `program` with one parameter string in `directory`; verb is null
  // or "runas". 0 or the system's error code. The started process replaces
  // any remembered one (which the caller forgets first).
  virtual int Launch(const char* verb, const std::string& program, const std::string& parameter,
                     const std::string& directory) = 0;
  virtual bool HasProcess() const = 0;
  // True while the remembered process runs; false when it has ended or its
  // state cannot be read. *exitCode receives the exit code once it ended.
  virtual bool IsRunning(int* exitCode) = 0;
  virtual unsigned long ProcessId() const = 0;
  // Releases the remembered process; the process itself is not touched.
  virtual void Forget() = 0;
};

std::unique_ptr<HelperLauncher> MakeHelperLauncher();

}  // namespace platform
