// The headless run: the dialog's controller and install engine without a
// screen. Discovery runs as at start-up; after the discovery wait every
// answering unit and each --add address is selected and the install runs in
// waves, with one line per status change on the output stream. When the run
// has ended the reporter rescans and writes the report, the runner prints a
// summary table, and the main loop ends with the run's exit code:
//
//   0  every selected unit ended Finished (the outcomes of that state in
//      units/UnitOutcome.h)
//   1  some unit ended Failed or was cancelled, a unit that finished was
//      not verified (--verify), or --run-timeout cut the run
//   2  nothing could start: a broken package, or no unit found
//
// With --retry only the report's failed and cancelled units (and each
// --add address) are selected, added by address when discovery did not find
// them; a report without such a unit, and no --add, ends the run at once
// with 0 and without a report.
//
// With --check the run is a dry run (TarvoLoadDialog::SetCheckOnly): a
// summary of the release comes first, each unit ends "Ready" or with the
// failure of the step that would fail, and the exit code is read the same
// way ("Ready" is a finished outcome).
//
// The run limits (--max-parallel, --stop-after-failures, --canary) are the
// controller's too; when one stops the run, the runner prints why.
// --unit-timeout goes to the controller, whose tick cancels a job past it;
// --run-timeout is the runner's own timer from the install's start, which
// cancels what is left as an interrupt does.
//
// With --verify the report waits for the verify phase (RunVerifier.h),
// which the runner announces; a run cut short by an interrupt or the run
// timeout skips it, and an interrupt during it ends it with the units not
// yet verified reading "no".
//
// RunHeadless makes the program's services (Program.h), hands them the
// headless view and runs the loop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "shell/CommandLine.h"
#include "shell/RunReport.h"

namespace platform {
class MainLoop;
}
class HeadlessView;
struct PackageManifest;
class Program;
class RunEvents;
class RunReporter;
class TarvoLoadDialog;

constexpr int kHeadlessAllFinished = 0;
constexpr int kHeadlessSomeFailed = 1;
constexpr int kHeadlessNothingStarted = 2;
// The run ended, but its report could not be written.
constexpr int kHeadlessReportNotWritten = 3;

// The run's exit code from its report: the units that were part of the run
// (a job ran, or their state is not Idle) decide, a finished one that was
// not verified as a failed one does; none at all gives 2.
int HeadlessExitCode(const RunReport& report);
// The table printed after the run: one line per unit of the run with its
// address, node, group, versions before and after, status and failure
// class (and whether it was verified, after a verify phase), then a count
// line; after a check the count line counts ready units. Unit texts are
// made printable.
struct SummaryForm {
  bool verified = false;
  bool check = false;
};
std::string HeadlessSummary(const RunReport& report, SummaryForm form = {});
// The line that starts the verify phase: "Verifying 2 units for up to 60 s".
std::string VerifyStartText(int units, int seconds);
// One line per unit the verify phase waited for: verified, or not and
// what it reports now.
std::string VerifyLines(const RunReport& report);
// The release a check would install: its files, their bytes and the
// install script, or that it has none.
std::string ReleaseSummaryText(const PackageManifest& manifest);

class HeadlessRunner {
 public:
  // events (null: none) also hears the verify phase.
  HeadlessRunner(Program& program, HeadlessView& view, const CommandLine& options,
                 RunEvents* events, std::FILE* out, std::FILE* err);
  ~HeadlessRunner();
  HeadlessRunner(const HeadlessRunner&) = delete;
  HeadlessRunner& operator=(const HeadlessRunner&) = delete;

  // After the controller's Create: waits for discovery, then starts.
  void Start();
  // The user's interrupt (Ctrl-C): during the discovery wait the run ends as
  // one with no unit (2); during the install every unit still waiting or
  // running is cancelled and the run ends as usual, with its report and
  // summary (1); during the verify phase that phase ends at once. Later
  // calls do nothing.
  void Interrupt();

 private:
  void start_install();
  void start_run_timer();
  void on_run_timeout();
  void stop_run_timer();
  void add_named_units();
  void select_units();
  void on_run_stopped(const std::string& why, int notStarted);
  void on_run_ended();
  void finish(const RunReport& report, bool ok, const std::string& error);
  void end_without_run(const std::string& reason);

  platform::MainLoop& loop_;
  TarvoLoadDialog& dialog_;
  HeadlessView& view_;
  RunReporter& reporter_;
  const CommandLine& options_;
  RunEvents* events_;
  std::FILE* out_;
  std::FILE* err_;
  int discoveryTimer_ = 0;
  int runTimer_ = 0;
  bool interrupted_ = false;
  bool timedOut_ = false;
};

// The whole headless program after the command line was read: returns the
// exit code. out receives the status lines and the summary, err the
// problems; reportFolder is where the report goes ("" beside the release).
int RunHeadless(const CommandLine& options, const std::string& reportFolder, std::FILE* out,
                std::FILE* err);
