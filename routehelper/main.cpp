// pathkeeper, the installer's route helper: announces itself once, then
// reads route requests from the installer's pipe until the installer closes
// it. Its arguments are the installer's process id and the pipe's key
// (the installer's pipe is named after both); a single process id names the
// plain pipe. Exit code 0 after the pipe closed or without an argument, 1
// for arguments it cannot read or when the pipe could not be opened or was
// not served by the installer that started the helper.
//
// pkexec starts a program in the administrator's home folder; the helper
// then returns to its own folder, which is the installer's, so that both
// programs write the same "pathkeeper.log". The log is opened before the
// helper gives up every right but the network's: reaching into the user's
// folder as root needs one of those it gives up.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HelperTrust.h"
#include "RawRouteBroadcaster.h"
#include "RouteHelper.h"
#include "UnitRouteRecord.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Privileges.h"
#include "platform/RequestPipe.h"
#include "platform/Sockets.h"
#include "transfer/PathkeeperLog.h"

namespace {

// Message boxes where the system has them; elsewhere the text also goes to
// the log, where the user who started the installer can find it.
class SystemOutput : public RouteHelperOutput {
 public:
  void ShowMessage(const char* caption, const char* text) override {
    if (platform::ShowMessageBox(caption, text)) return;
    const std::string line = std::string(text) + "\n";
    log_.Append(line.c_str());
  }
  void Log(const char* line) override { log_.Append(line); }

 private:
  PathkeeperLogFile log_;
};

// Opens the installer's pipe and serves it when the installer that started
// the helper is at its other end; a pipe served by anybody else counts as
// one that could not be opened (access denied).
int ServePipe(const HelperArguments& arguments, RouteHelper& helper, RouteHelperOutput& output) {
  platform::RequestPipeClient pipe;
  platform::PipeServerFacts server;
  int error = pipe.Open(arguments.installerId, arguments.pipeKey, &server);
  if (error == 0 && !IsTrustedPipeServer(server, arguments.installerId)) {
    pipe.Close();
    error = platform::kErrorAccessDenied;
  }
  if (error != 0) {
    char text[200];
    std::snprintf(text, sizeof text, "Could not open named pipe %s, error = %d",
                  platform::RequestPipeName(arguments.installerId, arguments.pipeKey).c_str(),
                  error);
    output.ShowMessage("Error", text);
    return 1;
  }
  helper.Serve([&pipe](std::uint8_t(&bytes)[RouteRequest::kBytes]) {
    return pipe.ReadExactly(bytes, RouteRequest::kBytes);
  });
  return 0;
}

int Run(const HelperArguments& arguments, RouteHelperOutput& output) {
  RawRouteBroadcaster broadcaster;
  const std::unique_ptr<platform::RouteTable> routes = platform::MakeRouteTable();
  RouteHelper helper(*routes, broadcaster, output);
  const std::uint8_t startupMac[6] = {1, 1, 1, 1, 1, 1};
  const std::uint32_t startupAddress = 0x01020304u;  // 4.3.2.1
  helper.BroadcastUnitRoute(startupMac, startupAddress, UnitRouteMode::kAnnounce,
                            "Cannot add route");
  return arguments.hasInstaller ? ServePipe(arguments, helper, output) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("PKEXEC_UID") != nullptr) {
    platform::SetCurrentDirectoryTo(platform::ProgramDirectory().c_str());
  }
  SystemOutput output;
  platform::KeepOnlyNetworkPrivileges();
  HelperArguments arguments;
  if (!ParseHelperArguments(argc - 1, argv + 1, &arguments)) {
    std::fprintf(stderr, "%s\n", kHelperUsage);
    output.ShowMessage("Error", kHelperUsage);
    return 1;
  }
  platform::StartSockets(2, 2);
  const int exitCode = Run(arguments, output);
  platform::CleanupSockets();
  return exitCode;
}
