// The route-request channel: the helper's start (plain launch, then "runas"
// when the system asks for elevation), the wait for it to connect, the
// requests and the removals written at exit.
//
// The wait for the helper has no time limit of its own, since the user may
// take a while to answer the consent prompt; it ends, as a failed start,
// when the helper's process ends without having connected.
#include "RouteRequestChannel.h"

#include <cstdio>
#include <filesystem>

#include "PathkeeperLog.h"
#include "platform/LocalFile.h"
#include "platform/Threads.h"

namespace {

// How often the wait for the helper looks whether the helper still runs.
constexpr unsigned kHelperPollMs = 100;

void LogWithCode(const char* text, int code) {
  char line[96];
  std::snprintf(line, sizeof line, "%s%d\n", text, code);
  AppendPathkeeperLog(line);
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

std::string CurrentDirectory() {
  std::error_code error;
  return std::filesystem::current_path(error).string();
}

}  // namespace

RouteRequestChannel::RouteRequestChannel()
    : RouteRequestChannel(platform::MakeRequestPipeServer(), platform::MakeHelperLauncher(),
                          platform::CurrentProcessId()) {}

RouteRequestChannel::RouteRequestChannel(std::unique_ptr<platform::RequestPipeServer> pipe,
                                         std::unique_ptr<platform::HelperLauncher> launcher,
                                         unsigned long processId)
    : pipe_(std::move(pipe)), launcher_(std::move(launcher)), processId_(processId) {}

// Every route of the run is removed again: adds become removes and
// announcements withdrawals, written in the order they were made. The flush
// at the end lets the helper read them before the pipe closes.
RouteRequestChannel::~RouteRequestChannel() {
  std::lock_guard<std::mutex> hold(lock_);
  for (RouteRequest request : requests_) {
    request.command = request.command == RouteCommand::kAddHostRoute
                          ? RouteCommand::kRemoveHostRoute
                          : RouteCommand::kWithdrawUnitRoute;
    write_request(request);
  }
  if (!requests_.empty()) pipe_->Flush();
  pipe_->Close();
  launcher_->Forget();
}

int RouteRequestChannel::EnsureHelper() {
  std::lock_guard<std::mutex> hold(lock_);
  return ensure_helper_locked();
}

int RouteRequestChannel::AddHostRoute(std::uint32_t destination, std::uint32_t mask,
                                      std::uint32_t nextHop, std::uint32_t interfaceAddress) {
  return send_request(RouteRequest::HostRoute(RouteCommand::kAddHostRoute, destination, mask,
                                              nextHop, interfaceAddress),
                      true);
}

int RouteRequestChannel::RemoveHostRoute(std::uint32_t destination, std::uint32_t mask) {
  return send_request(
      RouteRequest::HostRoute(RouteCommand::kRemoveHostRoute, destination, mask, 0, 0), false);
}

int RouteRequestChannel::AnnounceUnitRoute(std::uint32_t interfaceAddress,
                                           const std::uint8_t* mac) {
  return send_request(
      RouteRequest::UnitRoute(RouteCommand::kAnnounceUnitRoute, interfaceAddress, mac), true);
}

int RouteRequestChannel::WithdrawUnitRoute(std::uint32_t interfaceAddress,
                                           const std::uint8_t* mac) {
  return send_request(
      RouteRequest::UnitRoute(RouteCommand::kWithdrawUnitRoute, interfaceAddress, mac), false);
}

int RouteRequestChannel::send_request(const RouteRequest& request, bool remember) {
  std::lock_guard<std::mutex> hold(lock_);
  if (ensure_helper_locked() == 0) return 0;
  if (remember) requests_.push_back(request);
  const int written = write_request(request);
  pipe_->Flush();
  return written;
}

int RouteRequestChannel::ensure_helper_locked() {
  forget_ended_helper();
  if (!pipe_->IsOpen()) {
    const int error = pipe_->Create(processId_);
    if (error != 0) {
      LogWithCode("Could not create named pipe ", error);
      return 0;
    }
  }
  if (launcher_->HasProcess()) return 1;
  if (launch_helper() == 0) return 0;
  return wait_for_helper();
}

// A helper that has ended leaves its pipe behind; the next helper gets a new
// one of the same name.
void RouteRequestChannel::forget_ended_helper() {
  if (!launcher_->HasProcess() || launcher_->IsRunning(nullptr)) return;
  launcher_->Forget();
  if (pipe_->IsOpen()) pipe_->Close();
}

int RouteRequestChannel::launch_helper() {
  const std::string program = helper_path();
  const std::string parameter = std::to_string(processId_);
  const std::string directory = CurrentDirectory();
  int error = launcher_->Launch(nullptr, program, parameter, directory);
  if (error == platform::kErrorElevationRequired) {
    error = launcher_->Launch("runas", program, parameter, directory);
  }
  if (error == 0) return 1;
  LogWithCode("Could not start pathkeeper.exe ", error);
  launcher_->Forget();
  return 0;
}

// A helper that ends before it connects (the user declined pkexec's prompt,
// or it could not open the pipe) counts as a failed start; its exit code is
// what the log gets.
int RouteRequestChannel::wait_for_helper() {
  for (;;) {
    const int connected = pipe_->WaitForClient(launcher_->ProcessId(), kHelperPollMs);
    if (connected == 1) return 1;
    int exitCode = 0;
    if (connected < 0 || !launcher_->IsRunning(&exitCode)) {
      LogWithCode("Could not start pathkeeper.exe ", exitCode);
      launcher_->Forget();
      return 0;
    }
  }
}

int RouteRequestChannel::write_request(const RouteRequest& request) {
  std::uint8_t bytes[RouteRequest::kBytes];
  request.Encode(bytes);
  return pipe_->Write(bytes, RouteRequest::kBytes);
}

// The helper sits next to the installer, whose folder is the current
// directory; an installation may keep it in the "Tarvo Locator" folder.
std::string RouteRequestChannel::helper_path() const {
  const std::string directory = CurrentDirectory();
  const std::string beside = directory + platform::kPathSeparator + platform::kHelperProgramName;
  if (FileExists(beside)) return beside;
  return directory + platform::kPathSeparator + "Tarvo Locator" + platform::kPathSeparator +
         platform::kHelperProgramName;
}
