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
#include <random>

#include "PathkeeperLog.h"
#include "platform/LocalFile.h"
#include "platform/Sockets.h"
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

// 128 bits from the system's random source, as 32 hexadecimal digits.
std::string RandomKey() {
  std::random_device source;
  std::string key;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(source()));
    key += part;
  }
  return key;
}

}  // namespace

RouteRequestChannel::RouteRequestChannel()
    : RouteRequestChannel(platform::MakeRequestPipeServer(), platform::MakeHelperLauncher(),
                          platform::CurrentProcessId(), "", platform::InstalledHelperPath()) {}

RouteRequestChannel::RouteRequestChannel(std::unique_ptr<platform::RequestPipeServer> pipe,
                                         std::unique_ptr<platform::HelperLauncher> launcher,
                                         unsigned long processId, std::string key,
                                         std::string installedHelper)
    : pipe_(std::move(pipe)),
      launcher_(std::move(launcher)),
      processId_(processId),
      key_(key.empty() ? RandomKey() : std::move(key)),
      installedHelper_(std::move(installedHelper)) {}

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
  return ensure_helper_locked(nullptr);
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

// Only a request that reached the pipe is remembered for its removal at
// exit: a route whose add was never sent is not the installer's to remove.
int RouteRequestChannel::send_request(const RouteRequest& request, bool remember) {
  std::lock_guard<std::mutex> hold(lock_);
  if (ensure_helper_locked(&request) == 0) return 0;
  const int written = write_request(request);
  if (remember && written != 0) requests_.push_back(request);
  pipe_->Flush();
  return written;
}

int RouteRequestChannel::ensure_helper_locked(const RouteRequest* request) {
  forget_ended_helper();
  if (!pipe_->IsOpen()) {
    const int error = pipe_->Create(processId_, key_);
    if (error != 0) {
      LogWithCode("Could not create named pipe ", error);
      return 0;
    }
  }
  if (launcher_->HasProcess()) return 1;
  if (launch_helper(request) == 0) return 0;
  return wait_for_helper();
}

// A helper that has ended leaves its pipe behind; the next helper gets a new
// one of the same name.
void RouteRequestChannel::forget_ended_helper() {
  if (!launcher_->HasProcess() || launcher_->IsRunning(nullptr)) return;
  launcher_->Forget();
  if (pipe_->IsOpen()) pipe_->Close();
}

int RouteRequestChannel::launch_helper(const RouteRequest* request) {
  const std::string program = helper_path();
  const std::string parameter = std::to_string(processId_) + " " + key_;
  const std::string directory = CurrentDirectory();
  int error = launcher_->Launch(nullptr, program, parameter, directory);
  if (error == platform::kErrorElevationRequired) {
    error = launcher_->Launch("runas", program, parameter, directory);
  }
  if (error == 0) return 1;
  log_start_failure(error, request);
  launcher_->Forget();
  return 0;
}

// When the system has no way to start the helper with administrator rights
// at all, one line per unit says what would: a request without a unit
// (a route announcement) leaves that line to the host route that follows.
void RouteRequestChannel::log_start_failure(int error, const RouteRequest* request) {
  const std::string remedy = platform::HelperElevationRemedy(error);
  if (remedy.empty()) {
    AppendPathkeeperLog(platform::HelperLaunchFailureLine(error).c_str());
    return;
  }
  if (request == nullptr || request->command != RouteCommand::kAddHostRoute) return;
  char address[32];
  platform::FormatAddress(request->destination, address, sizeof address);
  const std::string line = "cannot add a route to " + std::string(address) + ": " + remedy + "\n";
  AppendPathkeeperLog(line.c_str());
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
      AppendPathkeeperLog(platform::HelperEndedFailureLine(exitCode).c_str());
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

// The installed helper when there is one; otherwise the helper next to the
// installer, whose folder is the current directory, or in its "Tarvo
// Locator" folder.
std::string RouteRequestChannel::helper_path() const {
  if (!installedHelper_.empty()) return installedHelper_;
  const std::string directory = CurrentDirectory();
  const std::string beside = directory + platform::kPathSeparator + platform::kHelperProgramName;
  if (FileExists(beside)) return beside;
  return directory + platform::kPathSeparator + "Tarvo Locator" + platform::kPathSeparator +
         platform::kHelperProgramName;
}
