// The main dialog's controller: start-up, the buttons, the tick that runs
// installs in waves, discovery replies and the stop sequence.
#include "shell/TarvoLoadDialog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "UDPReceiver.h"
#include "UDPSender.h"
#include "VEVException.h"
#include "discovery/DiscoveryEntry.h"
#include "discovery/RecordQuery.h"
#include "iThreadPool.h"
#include "install/InstallJob.h"
#include "platform/Files.h"
#include "platform/OpenDocument.h"
#include "platform/ProgramVersion.h"
#include "shell/DialogView.h"
#include "shell/ProgramStart.h"
#include "shell/RunEvents.h"
#include "units/ControllerFlags.h"
#include "units/unit_table.h"

ShellSeams ShellSeams::Platform() {
  ShellSeams seams;
  seams.versionString = platform::ProgramVersionString;
  seams.fileExists = platform::FileExists;
  seams.openDocument = platform::OpenDocument;
  return seams;
}

namespace {

// The output log gets the message and its reason on every front end, the
// Win32 dialog's too, whose standard output leads nowhere.
void LogBrokenPackage(const std::string& reason) {
  std::FILE* log = platform::OpenForWriting(kOutputLogName, "a");
  if (log == nullptr) return;
  std::fprintf(log, "%s\n%s\n", TarvoLoadDialog::kBrokenPackageText, reason.c_str());
  std::fclose(log);
}

}  // namespace

TarvoLoadDialog::TarvoLoadDialog(unit_table& table, ShellSeams seams)
    : table_(table), seams_(std::move(seams)), context_{&table, &manifest_}, list_(table) {}

TarvoLoadDialog::~TarvoLoadDialog() {
  table_.SetJobEndedHook(nullptr);
  // The receiver stops itself on destruction, which needs the pool running.
  receiver_.reset();
  sender_.reset();
  pool_.reset();
}

bool TarvoLoadDialog::Create(DialogView* view) {
  if (ReadPackageManifest(manifest_, &brokenReason_) == 0) {
    view->ShowMessage(kBrokenPackageText, kBrokenPackageCaption);
    LogBrokenPackage(brokenReason_);
    return false;
  }
  view_ = view;
  list_.Attach(view);
  start_services();
  SendDiscoveryQuery();
  view_->StartTick(kTickMs);
  tickRunning_ = true;
  return true;
}

void TarvoLoadDialog::start_services() {
  pool_ = std::make_unique<ZEQ::ThreadPool>();
  pool_->SetWorkerThreadCount(kWorkerCount);
  pool_->Start();
  // Without the port (another installer holds it) the program still runs:
  // the list then fills from the device-link probe and the "Add" button.
  try {
    receiver_ = std::make_unique<ZEQ::UDPReceiver>(discovery::kRecordPort, this, pool_.get());
  } catch (const VEVException&) {
    receiver_.reset();
  }
  if (receiver_ == nullptr) return;
  try {
    sender_ = std::make_unique<ZEQ::UDPSender>(discovery::kRecordPort, false);
  } catch (const VEVException&) {
    sender_.reset();
  }
}

void TarvoLoadDialog::SetupColumns() {
  if (view_ == nullptr) return;
  list_.InsertColumns();
  view_->Show();
}

void TarvoLoadDialog::SetTitle() {
  if (view_ == nullptr) return;
  const std::optional<std::string> version =
      seams_.versionString ? seams_.versionString("ProductVersion") : std::nullopt;
  view_->SetTitle("Tarvo Installer (Version " + version.value_or("Unknown") + ")");
}

bool TarvoLoadDialog::OpenReleaseNotes() {
  if (!seams_.fileExists || !seams_.fileExists(kReleaseNotes)) return false;
  return seams_.openDocument && seams_.openDocument(kReleaseNotes);
}

void TarvoLoadDialog::OnTick() {
  if (listRebuildFlag.exchange(0) != 0) list_.RefreshList(true);
  if (runInProgressFlag == 0) {
    list_.RefreshList(false);
    return;
  }
  cancel_overdue_jobs();
  if (limits_.any()) apply_limits();
  // The next wave waits until every job of this one has ended.
  if (CountRunning() > 0) return;
  // The wave's report sees its units as their jobs left them, before the
  // next wave's start changes any of them.
  if (events_ != nullptr) events_->WaveEnded();
  if (observer_.waveEnded) observer_.waveEnded();
  queue_units_whose_job_ended();
  if (start_jobs() == 0) {
    runInProgressFlag = 0;
    if (view_ != nullptr) view_->EnableStartInstall(true);
    list_.RefreshList(false);
    if (observer_.runEnded) observer_.runEnded();
  } else {
    tell_wave_started();
    list_.RefreshStatusColumn();
  }
}

// The units of the wave that starts: those waiting or running.
void TarvoLoadDialog::tell_wave_started() {
  if (events_ == nullptr) return;
  int units = 0;
  table_.Lock();
  for (std::size_t slot = 0; slot < table_.getCount(); ++slot) {
    const InstallState state = table_.getDisplayUnit(slot)->state;
    if (state == InstallState::Pending || state == InstallState::Running) ++units;
  }
  table_.Unlock();
  // Told without the lock, as the statuses are.
  events_->WaveStarted(units);
}

int TarvoLoadDialog::CountRunning() {
  int running = 0;
  table_.Lock();
  for (std::size_t slot = table_.getCount(); slot-- > 0;) {
    const tarvo_object* unit = table_.getDisplayUnit(slot);
    // A cancelled job leaves Running at once but may still be failing out
    // of its step; a second job on the same record must wait for it.
    if (unit->state == InstallState::Running || unit->jobActive) ++running;
  }
  // The events are told after the lock is let go: their reader may be slow.
  std::vector<std::pair<std::uint32_t, std::string>> statuses;
  for (int row = list_.RowCount(); row-- > 0;) {
    const tarvo_object* unit = list_.UnitAtRow(row);
    if (unit->state == InstallState::Idle) continue;
    list_.UpdateStatusCell(row);
    if (events_ != nullptr) statuses.emplace_back(unit->address, unit->statusText);
  }
  table_.Unlock();
  for (const auto& [address, text] : statuses) events_->Status(address, text);
  return running;
}

// A job past the time limit ends as a cancel ends it; the cancel closes
// its connections, so a unit that never answers cannot hold it.
void TarvoLoadDialog::cancel_overdue_jobs() {
  if (unitTimeoutSeconds_ <= 0) return;
  const auto limit = std::chrono::seconds(unitTimeoutSeconds_);
  const auto now = std::chrono::steady_clock::now();
  table_.Lock();
  for (std::size_t slot = table_.getCount(); slot-- > 0;) {
    tarvo_object* unit = table_.getDisplayUnit(slot);
    if (unit->state == InstallState::Running && now - unit->jobStartedAt >= limit) {
      table_.CancelUnit(unit, FailureClass::Timeout);
    }
  }
  table_.Unlock();
}

// Starts the Pending units the run's limits allow now; without limits,
// every one. The first units started in a canary run are its canary.
std::uint32_t TarvoLoadDialog::start_jobs() {
  if (!limits_.any()) return StartInstallJobs(context_);
  table_.Lock();
  std::size_t active = 0;
  std::vector<tarvo_object*> waiting;
  for (std::size_t slot = 0; slot < table_.getCount(); ++slot) {
    tarvo_object* unit = table_.getDisplayUnit(slot);
    if (unit->state == InstallState::Running || unit->jobActive) ++active;
    if (unit->state == InstallState::Pending) waiting.push_back(unit);
  }
  const std::uint32_t last = StartInstallJobs(context_, free_slots(active));
  for (tarvo_object* unit : waiting) {
    if (inCanary_ && unit->state != InstallState::Pending) canaryUnits_.push_back(unit);
  }
  table_.Unlock();
  return last;
}

// After a stop only units the user queues again are Pending, and they may
// start as any other.
std::size_t TarvoLoadDialog::free_slots(std::size_t active) const {
  std::size_t slots = static_cast<std::size_t>(-1);
  const auto maxParallel = static_cast<std::size_t>(limits_.maxParallel);
  if (maxParallel > 0) slots = maxParallel > active ? maxParallel - active : 0;
  const auto canary = static_cast<std::size_t>(limits_.canary);
  if (inCanary_) slots = std::min(slots, canary - std::min(canary, canaryUnits_.size()));
  return slots;
}

// Each tick of a limited run: a limit that was reached stops the units
// still waiting; otherwise the free slots are filled.
void TarvoLoadDialog::apply_limits() {
  std::string why;
  int notStarted = 0;
  table_.Lock();
  if (!stopped_) why = limit_reached();
  if (!why.empty()) notStarted = stop_waiting_units();
  start_jobs();
  table_.Unlock();
  if (!why.empty() && observer_.stopped) observer_.stopped(why, notStarted);
}

// Why the run stops now, or "". Caller holds the lock. A unit counts as
// failed once its job ended Failed or by the time limit; a unit the user
// cancelled does not.
std::string TarvoLoadDialog::limit_reached() {
  if (limits_.stopAfterFailures > 0) {
    int failed = 0;
    for (std::size_t slot = 0; slot < table_.getCount(); ++slot) {
      const tarvo_object* unit = table_.getDisplayUnit(slot);
      if (unit->jobActive || unit->cancelledAs == FailureClass::Cancelled) continue;
      if (unit->state == InstallState::Failed || unit->cancelledAs == FailureClass::Timeout) {
        ++failed;
      }
    }
    if (failed >= limits_.stopAfterFailures) {
      return std::to_string(failed) + (failed == 1 ? " unit" : " units") + " failed";
    }
  }
  return inCanary_ ? canary_verdict() : std::string();
}

// Once every canary unit has been started and its job has ended: "" and
// the rest may start when all of them finished, else the reason to stop.
std::string TarvoLoadDialog::canary_verdict() {
  bool waiting = false;
  for (std::size_t slot = 0; slot < table_.getCount() && !waiting; ++slot) {
    waiting = table_.getDisplayUnit(slot)->state == InstallState::Pending;
  }
  if (canaryUnits_.size() < static_cast<std::size_t>(limits_.canary) && waiting) return "";
  int unfinished = 0;
  for (const tarvo_object* unit : canaryUnits_) {
    if (unit->jobActive || unit->state == InstallState::Running) return "";
    if (unit->state != InstallState::Finished) ++unfinished;
  }
  inCanary_ = false;
  if (unfinished == 0) return "";
  return std::to_string(unfinished) + " of " + std::to_string(canaryUnits_.size()) +
         " canary units did not finish";
}

// The units still waiting are not started: they read "Cancelled" and the
// report gives them the class Stopped. Their record drops an earlier job's
// report, since their latest outcome is that no job ran. Caller holds the
// lock; returns how many were stopped.
int TarvoLoadDialog::stop_waiting_units() {
  stopped_ = true;
  int stopped = 0;
  for (tarvo_object* unit : queued_) unit->MarkCancelled();
  queued_.clear();
  for (std::size_t slot = 0; slot < table_.getCount(); ++slot) {
    tarvo_object* unit = table_.getDisplayUnit(slot);
    if (unit->state != InstallState::Pending) continue;
    table_.CancelUnit(unit, FailureClass::Stopped);
    unit->MarkCancelled();
    unit->report.reset();
    ++stopped;
  }
  list_.RefreshStatusColumn();
  return stopped;
}

void TarvoLoadDialog::queue_units_whose_job_ended() {
  table_.Lock();
  for (tarvo_object* unit : queued_) unit->MarkPending();
  queued_.clear();
  table_.Unlock();
}

int TarvoLoadDialog::StartInstall() {
  if (runInProgressFlag != 0 || view_ == nullptr) return 1;
  table_.Lock();
  queued_.clear();
  int selected = 0;
  const int rows = std::min(view_->RowCount(), list_.RowCount());
  for (int row = 0; row < rows; ++row) {
    tarvo_object* unit = list_.UnitAtRow(row);
    if (view_->IsRowSelected(row)) {
      ++selected;
      unit->MarkPending();
    } else {
      unit->MarkIdle();
    }
  }
  if (selected > 0) {
    runInProgressFlag = 1;
    stopped_ = false;
    inCanary_ = limits_.canary > 0;
    canaryUnits_.clear();
    list_.RefreshStatusColumn();
    tick_when_a_job_ends();
    start_jobs();
    view_->EnableStartInstall(false);
  }
  table_.Unlock();
  if (selected > 0) tell_wave_started();
  return 1;
}

void TarvoLoadDialog::OnStartInstall() { StartInstall(); }

void TarvoLoadDialog::OnAdd() { list_.AddByAddress(); }

void TarvoLoadDialog::OnRescan() { SendDiscoveryQuery(); }

void TarvoLoadDialog::OnColumnClick(int column) { list_.ColumnClick(column); }

void TarvoLoadDialog::OnItemActivate(int row) {
  if (runInProgressFlag == 0) {
    StartInstall();
    return;
  }
  activate_during_run(row);
}

// During a run a double-click cancels a unit that is waiting or running,
// and queues any other for the next wave.
void TarvoLoadDialog::activate_during_run(int row) {
  table_.Lock();
  if (tarvo_object* unit = list_.UnitAtRow(row)) {
    if (unit->state == InstallState::Pending || unit->state == InstallState::Running) {
      table_.CancelUnit(unit);
    } else if (queued_.erase(unit) != 0) {
      // Queued behind its ending job: a second double-click takes it back.
      unit->MarkCancelled();
    } else if (unit->jobActive) {
      queued_.insert(unit);
      unit->ShowQueued();
    } else {
      unit->MarkPending();
    }
    list_.UpdateStatusCell(row);
  }
  table_.Unlock();
}

// A limited run fills a freed slot, and sees its end, as soon as a job
// ends; without limits the tick alone paces the run. Caller holds the lock.
void TarvoLoadDialog::tick_when_a_job_ends() {
  DialogView* view = view_;
  table_.SetJobEndedHook(limits_.any() ? std::function<void()>([view] { view->TickSoon(); })
                                       : std::function<void()>());
}

void TarvoLoadDialog::StopAll() {
  table_.SetJobEndedHook(nullptr);
  if (tickRunning_) {
    view_->StopTick();
    tickRunning_ = false;
  }
  table_.CancelAll();
  queued_.clear();
  if (receiver_ != nullptr) {
    receiver_->Stop();
    receiver_.reset();
  }
  if (pool_ != nullptr) {
    pool_->Stop();
    pool_.reset();
  }
}

void TarvoLoadDialog::PacketReceived(const void* data, int size,
                                     const platform::SocketAddressIn* /*from*/) {
  discovery::EnterDiscoveryReply(table_, data, size);
}

void TarvoLoadDialog::CancelRun(FailureClass why) {
  if (runInProgressFlag == 0) return;
  table_.Lock();
  // Queued behind a job that is still ending: taken back, as a second
  // double-click would.
  for (tarvo_object* unit : queued_) unit->MarkCancelled();
  queued_.clear();
  // Under the lock a Pending unit has no job yet (the starter makes it
  // Running as it starts one): it never runs, so it reads "Cancelled".
  for (std::size_t slot = table_.getCount(); slot-- > 0;) {
    tarvo_object* unit = table_.getDisplayUnit(slot);
    if (unit->state == InstallState::Running) {
      table_.CancelUnit(unit, why);
    } else if (unit->state == InstallState::Pending) {
      table_.CancelUnit(unit, why);
      unit->MarkCancelled();
    }
  }
  list_.RefreshStatusColumn();
  table_.Unlock();
}

void TarvoLoadDialog::SetRunObserver(RunObserver observer) { observer_ = std::move(observer); }

void TarvoLoadDialog::SetProbeSender(std::function<void()> sendProbe) {
  seams_.sendProbe = std::move(sendProbe);
}

void TarvoLoadDialog::OnUnitEnteredByProbe() { list_.RefreshList(true); }

void TarvoLoadDialog::SendDiscoveryQuery() {
  if (seams_.sendProbe) seams_.sendProbe();
  discovery::SendRecordQuery(sender_.get());
}
