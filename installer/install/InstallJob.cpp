// The steps of an install job, in the order the unit sees them: start, ping,
// gateway choice, host route, log, telnet login, file channel, copy,
// outcome, cancel check, clean-up, route removal, end. Each step is one
// method of a run object that lives on the job's stack, so the job keeps no
// state outside its thread and its unit record; the step table names them
// in order, and the report's step times and columns follow the table.
//
// An install script that exits with 1 has failed: its unit reads "Failed"
// with the state Failed, so a failure is never shown as "Success".
//
// A check (InstallContext::dryRun) takes the same steps up to the file
// channel, so it meets the failures a real run would meet there, and the
// route it asked for is removed as after a real run; it then copies
// nothing, runs no script and ends "Ready". It writes nothing to the
// install log, which records installs.
#include "install/InstallJob.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "install/InstallLog.h"
#include "install/JobReport.h"
#include "platform/Sockets.h"
#include "telnet/RemoteShell.h"
#include "telnet/TelnetSession.h"
#include "transfer/EchoPinger.h"
#include "transfer/PackageManifest.h"
#include "transfer/RemoteFsysManipulator.h"
#include "transfer/RouteRequestChannel.h"
#include "units/unit_table.h"

namespace {

constexpr std::uint16_t kTelnetPort = 23;
constexpr unsigned kPingTimeoutMs = 1000;
constexpr std::uint8_t kPingTtl = 255;
constexpr unsigned kPingPayload = 32;
constexpr std::uint32_t kHostMask = 0xFFFFFFFFu;
constexpr int kLoginFailed = 30;
constexpr int kCopySkipped = 1;
constexpr int kNoExitStatus = -1;

std::string Dotted(std::uint32_t address) {
  char text[16];
  platform::FormatAddress(address, text, sizeof text);
  return text;
}

class InstallJobRun {
 public:
  InstallJobRun(const InstallContext& context, tarvo_object* unit)
      : table_(*context.table), manifest_(*context.manifest), unit_(unit), dryRun_(context.dryRun) {
    report_.transcript = JobTranscript(kUnitPassword);
    report_.steps.resize(Steps().size());
  }

  struct JobStep {
    const char* name;  // the report's name of the step
    void (InstallJobRun::*run)();
  };
  static std::span<const JobStep> Steps();

  void Run() {
    const std::span<const JobStep> steps = Steps();
    for (std::size_t i = 0; i < steps.size(); ++i) Step(i, steps[i].run);
  }

 private:
  using StepMethod = void (InstallJobRun::*)();

  long long elapsed_ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started_)
        .count();
  }

  // The last step hands the report over, so it stamps its own end.
  void Step(std::size_t index, StepMethod method) {
    report_.steps[index].startMs = elapsed_ms();
    (this->*method)();
    if (index + 1 < report_.steps.size()) report_.steps[index].endMs = elapsed_ms();
  }

  // Shows the outcome on the unit and keeps it for the report.
  void publish(JobOutcome outcome) {
    outcome_ = outcome;
    table_.Lock();
    unit_->Finish(outcome);
    table_.Unlock();
  }

  bool cancel_requested() {
    table_.Lock();
    const bool cancelled = unit_->state == InstallState::CancelRequested;
    table_.Unlock();
    return cancelled;
  }

  // Step 1: a cancel that came between the starter and this step stays.
  void start() {
    report_.startedAt = std::time(nullptr);
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    report_.startedAtMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() - elapsed_ms();
    table_.Lock();
    unit_->MarkConnecting();
    reachedFrom_ = unit_->reachedFrom;
    unitGateway_ = unit_->gateway;
    std::copy(unit_->mac, unit_->mac + 6, mac_.begin());
    report_.versionBefore = unit_->version;
    table_.Unlock();
  }

  void ping() {
    const platform::IcmpEchoReply reply =
        table_.pinger().Ping(unit_->address, kPingTimeoutMs, kPingTtl, kPingPayload);
    routeAdded_ = reply.status != 0;
  }

  void choose_gateway() {
    if (unitGateway_ != 0) {
      routeGateway_ = unitGateway_;
      return;
    }
    routeGateway_ = reachedFrom_;
    if (routeAdded_) table_.routeChannel().AnnounceUnitRoute(reachedFrom_, mac_.data());
  }

  void add_host_route() {
    if (!routeAdded_) return;
    hostRouteAsked_ = table_.routeChannel().AddHostRoute(unit_->address, kHostMask, routeGateway_,
                                                         reachedFrom_) != 0;
    settle_unless_cancelled();
  }

  // The pause after the route request, left early when the unit is
  // cancelled: a cancel ends the current step, and a whole second of pause
  // would keep a cancelled job alive for that long. The table wakes the wait
  // on every cancel.
  void settle_unless_cancelled() {
    table_.WaitUntil([this] { return unit_->state == InstallState::CancelRequested; },
                     std::chrono::steady_clock::now() + std::chrono::milliseconds(kRouteSettleMs));
  }

  void log_start() {
    if (!dryRun_) LogInstallEvent(unit_->address, "Install Started");
  }

  void log_in();
  void open_file_channel();
  void copy_files();
  void copy_every_entry();
  void judge_outcome();
  void judge_script();
  void check_cancelled();
  void clean_up();
  void remove_routes();
  void finish();

  unit_table& table_;
  const PackageManifest& manifest_;
  tarvo_object* const unit_;
  const bool dryRun_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  JobReport report_;
  int installError_ = 0;
  bool routeAdded_ = false;
  // Whether the add-route request reached the helper: a route it never
  // asked for may be an administrator's, and is not the job's to remove.
  bool hostRouteAsked_ = false;
  std::uint32_t reachedFrom_ = 0;
  std::uint32_t unitGateway_ = 0;
  std::uint32_t routeGateway_ = 0;
  std::array<std::uint8_t, 6> mac_{};
  std::unique_ptr<TelnetSession> session_;
  std::unique_ptr<RemoteFsysManipulator> files_;
  // The transfer's work area, allocated once for all the job's files.
  std::vector<std::uint8_t> workBuffer_ =
      std::vector<std::uint8_t>(RemoteFsysManipulator::kBufferSize);
  int fileConnect_ = -1;
  bool copyStarted_ = false;
  // The latest outcome published; the report's failure class is its row's.
  std::optional<JobOutcome> outcome_;
};

void InstallJobRun::log_in() {
  session_ = std::make_unique<TelnetSession>(kUnitUserName, kUnitPassword);
  table_.Lock();
  unit_->telnetSession = session_.get();
  table_.Unlock();
  JobTranscript& transcript = report_.transcript;
  session_->SetTap([&transcript](bool sent, const std::string& text) {
    if (sent) {
      transcript.SentText(text);
    } else {
      transcript.SeenText(text);
    }
  });
  transcript.Note("connect " + Dotted(unit_->address) + " port 23");
  const bool connected = session_->Connect(unit_->address, kTelnetPort) == 1;
  transcript.Note(connected ? "connected" : "connection failed");
  const int loginStage = Login(*session_);
  transcript.Note(loginStage == kLoginLoggedIn ? "logged in" : "login failed");
  if (loginStage == kLoginLoggedIn) return;
  publish(connected ? JobOutcome::LoginRefused : JobOutcome::Unreachable);
  installError_ = kLoginFailed;
}

void InstallJobRun::open_file_channel() {
  files_ = std::make_unique<RemoteFsysManipulator>();
  table_.Lock();
  unit_->fileConnection = files_.get();
  table_.Unlock();
  files_->SetProgressInterface(unit_);
  fileConnect_ = files_->Connect(unit_->address);
}

void InstallJobRun::copy_files() {
  if (fileConnect_ != 0 || installError_ != 0 || cancel_requested()) {
    installError_ = kCopySkipped;
    if (fileConnect_ != 0 && !outcome_) outcome_ = JobOutcome::CopyFailed;
    return;
  }
  if (dryRun_) return;
  table_.Lock();
  unit_->bytesSent = 0;
  unit_->bytesTotal = manifest_.totalSize;
  table_.Unlock();
  copyStarted_ = true;
  copy_every_entry();
  files_->Close();
}

// Each file's times go into the job's own report; a file that failed
// counts the bytes its put got through before it broke off.
void InstallJobRun::copy_every_entry() {
  std::uint32_t bytesBefore = 0;
  for (const ManifestEntry& entry : manifest_.entries) {
    FileTime& file = report_.files.emplace_back(FileTime{entry.remotePath, entry.size});
    file.startMs = elapsed_ms();
    const int result = files_->PutFile(entry.localPath, entry.remotePath, 0, workBuffer_.data(),
                                       workBuffer_.size());
    file.endMs = elapsed_ms();
    bytesBefore += entry.size;
    if (result == 0) continue;
    installError_ = result;
    outcome_ = JobOutcome::CopyFailed;
    table_.Lock();
    file.bytes = unit_->bytesSent - (bytesBefore - entry.size);
    if (unit_->state != InstallState::CancelRequested) unit_->Finish(JobOutcome::FileCopyFail);
    table_.Unlock();
    return;
  }
}

void InstallJobRun::judge_outcome() {
  if (cancel_requested()) return;
  if (dryRun_ && installError_ == 0) {
    publish(JobOutcome::Ready);
  } else if (manifest_.autoInstall != 0 && installError_ == 0) {
    judge_script();
  } else if (installError_ != 0) {
    // The failure the job met on its way, shown as the final "Failed
    // Connection" (a "File Copy Fail" is replaced by it).
    publish(outcome_.value_or(JobOutcome::CopyFailed));
  } else {
    publish(JobOutcome::RebootRequired);
  }
}

void InstallJobRun::judge_script() {
  table_.Lock();
  unit_->ShowInstalling();
  table_.Unlock();
  installError_ = RunInstallScript(*session_, manifest_.installScript);
  report_.transcript.Note("exit status " + std::to_string(installError_));
  switch (installError_) {
    case 0: publish(JobOutcome::Success); break;
    case kNoExitStatus: publish(JobOutcome::ConnectionClosed); break;
    case 1: publish(JobOutcome::ScriptFailed); break;
    default: publish(JobOutcome::UnknownError); break;
  }
}

void InstallJobRun::check_cancelled() {
  table_.Lock();
  if (unit_->state == InstallState::CancelRequested) unit_->MarkCancelled();
  table_.Unlock();
}

// The references go first, under the lock, so a cancel can no longer reach
// the objects; only then are they closed and destroyed, without the lock.
void InstallJobRun::clean_up() {
  session_->Disconnect(0);
  table_.Lock();
  unit_->telnetSession = nullptr;
  unit_->fileConnection = nullptr;
  table_.Unlock();
  files_->Close();
  session_.reset();
  files_.reset();
  report_.transcript.Note("disconnected");
}

void InstallJobRun::remove_routes() {
  if (!routeAdded_) return;
  table_.routeChannel().WithdrawUnitRoute(reachedFrom_, mac_.data());
  if (hostRouteAsked_) table_.routeChannel().RemoveHostRoute(unit_->address, kHostMask);
}

// The report is handed over whole, then the job signs off; after JobEnded
// it touches neither its unit nor the table.
void InstallJobRun::finish() {
  report_.installError = installError_;
  report_.steps.back().endMs = elapsed_ms();
  table_.Lock();
  unit_->statusChanged = true;
  report_.bytesSent = copyStarted_ ? unit_->bytesSent : 0;
  // A cancelled job reads as cancelled even when its outcome step came after
  // the cancel and overwrote the state.
  report_.failure = unit_->cancelledAs != FailureClass::None ? unit_->cancelledAs
                    : outcome_                               ? OutcomeOf(*outcome_).failure
                                                             : FailureClass::None;
  unit_->report = std::make_shared<const JobReport>(std::move(report_));
  table_.Unlock();
  table_.JobEnded(unit_);
}

std::span<const InstallJobRun::JobStep> InstallJobRun::Steps() {
  static constexpr JobStep kSteps[] = {
      {"start", &InstallJobRun::start},
      {"ping", &InstallJobRun::ping},
      {"gateway", &InstallJobRun::choose_gateway},
      {"route", &InstallJobRun::add_host_route},
      {"log", &InstallJobRun::log_start},
      {"login", &InstallJobRun::log_in},
      {"channel", &InstallJobRun::open_file_channel},
      {"copy", &InstallJobRun::copy_files},
      {"outcome", &InstallJobRun::judge_outcome},
      {"cancel_check", &InstallJobRun::check_cancelled},
      {"clean_up", &InstallJobRun::clean_up},
      {"route_removal", &InstallJobRun::remove_routes},
      {"end", &InstallJobRun::finish},
  };
  return kSteps;
}

}  // namespace

std::span<const char* const> InstallJobStepNames() {
  static const std::vector<const char*> names = [] {
    std::vector<const char*> list;
    for (const auto& step : InstallJobRun::Steps()) list.push_back(step.name);
    return list;
  }();
  return names;
}

void InstallJob(const InstallContext& context, tarvo_object* unit) {
  InstallJobRun(context, unit).Run();
}
