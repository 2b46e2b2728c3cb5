// pathkeeper, the installer's route helper: announces itself once, then
// reads route requests from the installer's pipe, whose number (the
// installer's process id) is its one argument, until the installer closes
// it. Exit code 0 after the pipe closed or without an argument, 1 when the
// pipe could not be opened or was not served by the installer.
//
// pkexec starts a program in the administrator's home folder; the helper
// then returns to its own folder, which is the installer's, so that both
// programs write the same "pathkeeper.log".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "RawRouteBroadcaster.h"
#include "RouteHelper.h"
#include "UnitRouteRecord.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
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
    AppendPathkeeperLog(line.c_str());
  }
  void Log(const char* line) override { AppendPathkeeperLog(line); }
};

int ServePipe(const char* argument, RouteHelper& helper, RouteHelperOutput& output) {
  const auto number = static_cast<unsigned long>(std::strtoul(argument, nullptr, 10));
  platform::RequestPipeClient pipe;
  const int error = pipe.Open(number, number);
  if (error != 0) {
    char text[200];
    std::snprintf(text, sizeof text, "Could not open named pipe %s, error = %d",
                  platform::RequestPipeName(number).c_str(), error);
    output.ShowMessage("Error", text);
    return 1;
  }
  helper.Serve([&pipe](std::uint8_t(&bytes)[RouteRequest::kBytes]) {
    return pipe.ReadExactly(bytes, RouteRequest::kBytes);
  });
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("PKEXEC_UID") != nullptr) {
    platform::SetCurrentDirectoryTo(platform::ProgramDirectory().c_str());
  }
  platform::StartSockets(2, 2);
  int exitCode = 0;
  {
    SystemOutput output;
    RawRouteBroadcaster broadcaster;
    const std::unique_ptr<platform::RouteTable> routes = platform::MakeRouteTable();
    RouteHelper helper(*routes, broadcaster, output);
    const std::uint8_t startupMac[6] = {1, 1, 1, 1, 1, 1};
    const std::uint32_t startupAddress = 0x01020304u;  // 4.3.2.1
    helper.BroadcastUnitRoute(startupMac, startupAddress, UnitRouteMode::kAnnounce,
                              "Cannot add route");
    if (argc >= 2) exitCode = ServePipe(argv[1], helper, output);
  }
  platform::CleanupSockets();
  return exitCode;
}
