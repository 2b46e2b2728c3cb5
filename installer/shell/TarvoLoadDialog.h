// The controller of the main dialog: it starts the background services
// (thread pool, discovery receiver and sender), triggers discovery, reacts to
// the buttons and the device list, runs the tick that drives an install run
// in waves, and stops everything at exit. It draws through a DialogView, so
// the same controller runs behind the Win32 dialog, the Linux text UI and the
// headless runner, and tests drive it with a recording view.
//
// The operating-system services it needs beyond the view (the version
// string, the existence test and the opener of the release notes) come in
// as ShellSeams, so tests put in their own; the device-link probe comes in
// the same way from the device-link interface.
//
// Every operation runs on the main thread, except PacketReceived, which the
// discovery receiver calls on a pool thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "IUDPReceiver.h"
#include "install/InstallContext.h"
#include "shell/DeviceList.h"
#include "shell/DialogEvents.h"
#include "shell/RunLimits.h"
#include "transfer/PackageManifest.h"
#include "units/UnitOutcome.h"

class DialogView;
class RunEvents;
class unit_table;

namespace ZEQ {
class ThreadPool;
class UDPReceiver;
class UDPSender;
}  // namespace ZEQ

struct ShellSeams {
  // The named string of the program's version block, or nothing.
  std::function<std::optional<std::string>(const char* name)> versionString;
  std::function<bool(const char* path)> fileExists;
  std::function<bool(const char* path)> openDocument;
  // Sends the device-link probe; empty until the device-link interface
  // provides it (SetProbeSender), and then discovery sends the record query
  // only.
  std::function<void()> sendProbe;

  // The platform's own services, without a probe.
  static ShellSeams Platform();
};

// Who hears of the ends of an install run, on the main thread from the
// tick: waveEnded when no job of the current wave is left (before the next
// wave starts), runEnded when the tick then finds nothing more to start,
// stopped when the run's limits stopped its waiting units (why, and how
// many were not started).
struct RunObserver {
  std::function<void()> waveEnded;
  std::function<void()> runEnded;
  std::function<void(const std::string& why, int notStarted)> stopped;
};

class TarvoLoadDialog : public ZEQ::IUDPReceiver, public DialogEvents {
 public:
  static constexpr unsigned kTickMs = 800;
  static constexpr int kWorkerCount = 3;
  static constexpr const char* kReleaseNotes = "whats_new.html";
  static constexpr const char* kBrokenPackageText =
      "Install corrupted, missing files needed for install.";
  static constexpr const char* kBrokenPackageCaption = "Error";

  explicit TarvoLoadDialog(unit_table& table, ShellSeams seams = ShellSeams::Platform());
  // Deletes the services StopAll has not already ended.
  ~TarvoLoadDialog() override;
  TarvoLoadDialog(const TarvoLoadDialog&) = delete;
  TarvoLoadDialog& operator=(const TarvoLoadDialog&) = delete;

  // Start-up: reads the release manifest in the current directory; for a
  // broken package shows "Install corrupted, missing files needed for
  // install." / "Error" and returns false before anything else is started
  // (the entry point then ends the program with code 1); the message and the
  // reason (brokenPackageReason) are added to "fieldloader-output.log".
  // Otherwise binds the
  // view, starts the pool, receiver and sender, sends the first discovery
  // query and starts the tick.
  bool Create(DialogView* view);
  // Inserts the five list columns and shows the dialog.
  void SetupColumns();
  // Sets "Tarvo Installer (Version %s)" from the program's version.
  void SetTitle() override;
  // Opens "whats_new.html" of the current directory when it exists; true
  // when a viewer was started for it.
  bool OpenReleaseNotes();

  // What the user did, reported by the view.
  void OnTick() override;
  void OnStartInstall() override;           // "Start Install" (1005) or Enter
  void OnAdd() override;                    // "Add" (1007)
  void OnRescan() override;                 // "Rescan" (1008)
  void OnColumnClick(int column) override;  // a list header
  void OnItemActivate(int row) override;    // double-click or Enter on a row
  // "Exit" (1018), Esc or the close box: the stop sequence. Safe to call
  // any number of times.
  void StopAll() override;
  // An interrupted headless run: every unit still waiting or running in the
  // run is cancelled, as a double-click on its row would, and one that was
  // still waiting reads "Cancelled"; the run then ends as usual. why is the
  // failure class the cancelled jobs report.
  void CancelRun(FailureClass why = FailureClass::Cancelled);
  // The job time limit: from then on the tick cancels every job that has
  // run longer than seconds, with the report's class Timeout. 0 (the
  // default) sets no limit.
  void SetUnitTimeout(int seconds) { unitTimeoutSeconds_ = seconds; }
  // The run limits (RunLimits.h) for the runs started from then on. With
  // none set, every Pending unit starts at once.
  void SetRunLimits(const RunLimits& limits) { limits_ = limits; }
  // Whether the runs started from then on are checks (--check): their jobs
  // copy nothing, run no script and end "Ready" (InstallContext::dryRun).
  void SetCheckOnly(bool check) { context_.dryRun = check; }
  // Where every unit's status and each wave's start and end are told
  // (--events); null (the default) tells nobody. Not owned.
  void SetRunEvents(RunEvents* events) { events_ = events; }

  // A datagram on the discovery port (pool thread): a valid reply enters or
  // updates its unit, and a new unit has the next tick rebuild the list.
  void PacketReceived(const void* data, int size, const platform::SocketAddressIn* from) override;

  // The device-link interface's side (main thread). SetProbeSender gives
  // discovery the probe to send before each record query; the interface
  // calls OnUnitEnteredByProbe after it entered a new unit, and the list is
  // rebuilt at once.
  void SetProbeSender(std::function<void()> sendProbe);
  void OnUnitEnteredByProbe();
  // The run report's side: told when a wave and when the whole run ended.
  void SetRunObserver(RunObserver observer);

  // One discovery pass: the probe, then the record query's broadcast.
  void SendDiscoveryQuery();
  // Turns the list's selection into an install run; does nothing while one
  // is in progress. Returns 1.
  int StartInstall();
  // The units still busy with a job (Running, or cancelled and not yet out
  // of their job), redrawing the status cell of every unit not Idle.
  int CountRunning();

  const PackageManifest& manifest() const { return manifest_; }
  // Why Create found the package broken: the file and what is wrong with
  // it; "" when it was not.
  const std::string& brokenPackageReason() const { return brokenReason_; }
  DeviceList& list() { return list_; }
  // Whether the discovery receiver is listening (false after StopAll).
  bool receiving() const { return receiver_ != nullptr; }

 private:
  void start_services();
  void activate_during_run(int row);
  void queue_units_whose_job_ended();
  void cancel_overdue_jobs();
  std::uint32_t start_jobs();
  void tick_when_a_job_ends();
  std::size_t free_slots(std::size_t active) const;
  void apply_limits();
  std::string limit_reached();
  std::string canary_verdict();
  int stop_waiting_units();
  void tell_wave_started();

  unit_table& table_;
  ShellSeams seams_;
  DialogView* view_ = nullptr;
  PackageManifest manifest_;
  std::string brokenReason_;
  InstallContext context_;
  DeviceList list_;
  RunObserver observer_;
  bool tickRunning_ = false;
  int unitTimeoutSeconds_ = 0;
  RunLimits limits_;
  RunEvents* events_ = nullptr;
  // The run's state under its limits: stopped once a limit ended it; the
  // canary units are the first ones started, and until they all finished
  // no other starts.
  bool stopped_ = false;
  bool inCanary_ = false;
  std::vector<tarvo_object*> canaryUnits_;
  // Units queued for the next wave by a double-click while their cancelled
  // job was still ending: they keep CancelRequested, so that job still
  // fails out, and become Pending once it has left.
  std::set<tarvo_object*> queued_;
  std::unique_ptr<ZEQ::ThreadPool> pool_;
  std::unique_ptr<ZEQ::UDPReceiver> receiver_;
  std::unique_ptr<ZEQ::UDPSender> sender_;
};
