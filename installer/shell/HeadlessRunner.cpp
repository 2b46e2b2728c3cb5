// The headless run (see HeadlessRunner.h).
#include "shell/HeadlessRunner.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "platform/Console.h"
#include "platform/MainLoop.h"
#include "shell/HeadlessView.h"
#include "shell/Program.h"
#include "shell/RunEvents.h"
#include "shell/RunReporter.h"
#include "shell/TarvoLoadDialog.h"
#include "transfer/PackageManifest.h"

namespace {

bool InRun(const UnitReportRow& row) { return row.jobRan() || row.state != InstallState::Idle; }

std::string Text(const NullableText& text) { return text ? PrintableText(*text) : "-"; }

// The characters of a printable text: its bytes that do not continue a
// UTF-8 sequence.
std::size_t Width(const std::string& text) {
  std::size_t width = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

// Lines of cells, each column as wide as its widest cell, two spaces apart.
std::string Table(const std::vector<std::vector<std::string>>& lines) {
  std::vector<std::size_t> widths;
  for (const auto& cells : lines) {
    widths.resize(std::max(widths.size(), cells.size()));
    for (std::size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], Width(cells[i]));
  }
  std::string out;
  for (const auto& cells : lines) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      line += cells[i];
      if (i + 1 < cells.size()) line += std::string(widths[i] - Width(cells[i]) + 2, ' ');
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace

int HeadlessExitCode(const RunReport& report) {
  int inRun = 0;
  bool failed = false;
  for (const UnitReportRow& row : report.units) {
    if (!InRun(row)) continue;
    ++inRun;
    if (row.state != InstallState::Finished || row.verified == Verification::No) failed = true;
  }
  if (inRun == 0) return kHeadlessNothingStarted;
  return failed ? kHeadlessSomeFailed : kHeadlessAllFinished;
}

std::string HeadlessSummary(const RunReport& report, SummaryForm form) {
  std::vector<std::vector<std::string>> lines = {
      {"Address", "Node", "Group", "Before", "After", "Status", "Failure"}};
  if (form.verified) lines.front().push_back("Verified");
  int finished = 0;
  int others = 0;
  int notVerified = 0;
  for (const UnitReportRow& row : report.units) {
    if (!InRun(row)) continue;
    (row.state == InstallState::Finished ? finished : others) += 1;
    if (row.verified == Verification::No) ++notVerified;
    const char* failure = FailureClassName(row.failure());
    lines.push_back({DottedAddress(row.address), std::to_string(row.node), Text(row.group),
                     Text(row.jobRan() ? row.job->versionBefore : NullableText()),
                     Text(row.versionAfter), PrintableText(row.status), *failure ? failure : "-"});
    if (form.verified) lines.back().push_back(VerificationName(row.verified));
  }
  return Table(lines) + std::to_string(finished) + (form.check ? " ready, " : " finished, ") +
         std::to_string(others) + " failed or cancelled" +
         (form.verified ? ", " + std::to_string(notVerified) + " not verified" : "") + "\n";
}

std::string VerifyStartText(int units, int seconds) {
  return "Verifying " + std::to_string(units) + (units == 1 ? " unit" : " units") + " for up to " +
         std::to_string(seconds) + " s\n";
}

std::string VerifyLines(const RunReport& report) {
  std::string out;
  for (const UnitReportRow& row : report.units) {
    if (row.verified == Verification::Yes) {
      out += "Verified " + DottedAddress(row.address) + ": " + Text(row.versionAfter) + "\n";
    } else if (row.verified == Verification::No) {
      out += "Not verified " + DottedAddress(row.address) + ": " +
             (row.versionAfter ? "reports " + PrintableText(*row.versionAfter) : "no answer") +
             "\n";
    }
  }
  return out;
}

std::string ReleaseSummaryText(const PackageManifest& manifest) {
  const std::size_t files = manifest.entries.size();
  return "Release: " + std::to_string(files) + (files == 1 ? " file, " : " files, ") +
         std::to_string(manifest.totalSize) + " bytes, " +
         (manifest.autoInstall != 0 ? "install script " + PrintableText(manifest.installScript)
                                    : std::string("no install script")) +
         "\n";
}

HeadlessRunner::HeadlessRunner(Program& program, HeadlessView& view, const CommandLine& options,
                               RunEvents* events, std::FILE* out, std::FILE* err)
    : loop_(program.loop()),
      dialog_(program.controller()),
      view_(view),
      reporter_(program.reporter()),
      options_(options),
      events_(events),
      out_(out),
      err_(err) {}

HeadlessRunner::~HeadlessRunner() {
  if (discoveryTimer_ != 0) loop_.KillTimer(discoveryTimer_);
  stop_run_timer();
}

void HeadlessRunner::Start() {
  dialog_.SetRunObserver(RunObserver{
      nullptr, [this] { on_run_ended(); },
      [this](const std::string& why, int notStarted) { on_run_stopped(why, notStarted); }});
  dialog_.SetUnitTimeout(options_.unitTimeoutSeconds);
  dialog_.SetRunLimits(options_.limits);
  reporter_.verifier().SetOptions(options_.verify, events_, [this](int units) {
    std::fputs(VerifyStartText(units, options_.verify.seconds).c_str(), out_);
    std::fflush(out_);
  });
  dialog_.SetCheckOnly(options_.check);
  if (options_.check) std::fputs(ReleaseSummaryText(dialog_.manifest()).c_str(), out_);
  std::fprintf(out_, "Discovering units for %d s\n", options_.discoverSeconds);
  std::fflush(out_);
  const unsigned waitMs = std::max(1u, static_cast<unsigned>(options_.discoverSeconds) * 1000u);
  discoveryTimer_ = loop_.AddTimer(waitMs, [this] {
    loop_.KillTimer(discoveryTimer_);
    discoveryTimer_ = 0;
    start_install();
  });
  if (discoveryTimer_ == 0) end_without_run("cannot set a timer");
}

void HeadlessRunner::Interrupt() {
  if (interrupted_) return;
  interrupted_ = true;
  std::fprintf(err_, "fieldloader: interrupted; a second interrupt ends the program at once\n");
  if (discoveryTimer_ != 0) {
    loop_.KillTimer(discoveryTimer_);
    discoveryTimer_ = 0;
    end_without_run("interrupted before the install");
    return;
  }
  if (reporter_.verifier().running()) {
    reporter_.verifier().EndNow();
    return;
  }
  stop_run_timer();
  dialog_.CancelRun();
}

// The user's part of the dialog: every address typed and added, the list
// brought up to date, the units selected, "Start Install".
void HeadlessRunner::start_install() {
  add_named_units();
  dialog_.list().RefreshList(true);
  if (view_.RowCount() == 0) {
    end_without_run("no unit found");
    return;
  }
  select_units();
  int selected = 0;
  for (int row = 0; row < view_.RowCount(); ++row) selected += view_.IsRowSelected(row) ? 1 : 0;
  std::fprintf(out_, "%s %d unit%s\n", options_.check ? "Checking" : "Installing on", selected,
               selected == 1 ? "" : "s");
  std::fflush(out_);
  dialog_.OnStartInstall();
  start_run_timer();
}

// The --add and --retry units. An address that discovery found already is
// not typed: "Add" would replace the node, group and version it reported
// with the placeholders of a hand entry.
void HeadlessRunner::add_named_units() {
  std::vector<std::uint32_t> named = options_.addresses;
  named.insert(named.end(), options_.retry.addresses.begin(), options_.retry.addresses.end());
  for (const std::uint32_t address : named) {
    if (dialog_.list().HasUnit(address)) continue;
    view_.TypeAddress(address);
    dialog_.OnAdd();
  }
}

void HeadlessRunner::select_units() {
  if (options_.retryReport.empty()) {
    view_.SelectAll();
    return;
  }
  std::set<std::uint32_t> units = options_.retry.addresses;
  units.insert(options_.addresses.begin(), options_.addresses.end());
  view_.SelectOnly(units);
  std::fputs(RetryingText(options_.retry).c_str(), out_);
}

void HeadlessRunner::start_run_timer() {
  if (options_.runTimeoutSeconds <= 0) return;
  runTimer_ = loop_.AddTimer(static_cast<unsigned>(options_.runTimeoutSeconds) * 1000u,
                             [this] { on_run_timeout(); });
  if (runTimer_ == 0) std::fprintf(err_, "fieldloader: cannot set a timer; --run-timeout is off\n");
}

// The limit is not a choice of the unit's, so the report names it: the
// cancelled jobs report "timeout", and the run exits 1 however they ended.
void HeadlessRunner::on_run_timeout() {
  stop_run_timer();
  timedOut_ = true;
  std::fprintf(out_, "Run timeout of %d s reached: cancelling the units still waiting or running\n",
               options_.runTimeoutSeconds);
  std::fflush(out_);
  dialog_.CancelRun(FailureClass::Timeout);
}

void HeadlessRunner::stop_run_timer() {
  if (runTimer_ == 0) return;
  loop_.KillTimer(runTimer_);
  runTimer_ = 0;
}

void HeadlessRunner::on_run_stopped(const std::string& why, int notStarted) {
  std::fprintf(out_, "Stopping: %s; %d waiting unit%s not started, running jobs finish\n",
               why.c_str(), notStarted, notStarted == 1 ? "" : "s");
  std::fflush(out_);
}

void HeadlessRunner::on_run_ended() {
  stop_run_timer();
  reporter_.Report([this](const RunReport& report, bool ok,
                          const std::string& error) { finish(report, ok, error); },
                   !interrupted_ && !timedOut_);
}

void HeadlessRunner::finish(const RunReport& report, bool ok, const std::string& error) {
  std::fprintf(out_, "%s\n%s", VerifyLines(report).c_str(),
               HeadlessSummary(report, {options_.verify.asked(), options_.check}).c_str());
  std::fflush(out_);
  if (!ok) std::fprintf(err_, "fieldloader: the run report was not written: %s\n", error.c_str());
  int code = ok ? HeadlessExitCode(report) : kHeadlessReportNotWritten;
  if (timedOut_ && code == kHeadlessAllFinished) code = kHeadlessSomeFailed;
  loop_.Quit(code);
}

// Nothing was started, so nothing is reported: no report files and no
// transcripts are written.
void HeadlessRunner::end_without_run(const std::string& reason) {
  std::fprintf(err_, "fieldloader: %s\n", reason.c_str());
  loop_.Quit(kHeadlessNothingStarted);
}

int RunHeadless(const CommandLine& options, const std::string& reportFolder, std::FILE* out,
                std::FILE* err) {
  if (!options.retryReport.empty() && options.retry.addresses.empty() &&
      options.addresses.empty()) {
    std::fputs(NothingToRetryText(options.retry).c_str(), out);
    return kHeadlessAllFinished;
  }
  // With the events on the standard output, the run's own lines go to the
  // error stream, so that a reader of the events sees nothing else.
  std::unique_ptr<RunEvents> events;
  if (options.eventsPath == "-") {
    events = std::make_unique<RunEvents>(out);
    out = err;
  } else if (!options.eventsPath.empty()) {
    events = RunEvents::OpenFile(options.eventsPath, err);
    if (events == nullptr) return kHeadlessNothingStarted;
  }
  // Made before the program, the events outlive its controller.
  Program program(reportFolder);
  program.reporter().SetRetry(options.retry);
  // Before any thread starts (see WatchInterrupts); the runner exists by the
  // time the loop runs, which is when an interrupt is handled.
  // Without the watch the system's default simply holds.
  HeadlessRunner* interruptible = nullptr;
  platform::WatchInterrupts(program.loop(), [&interruptible] {
    if (interruptible != nullptr) interruptible->Interrupt();
  });
  struct InterruptWatch {
    ~InterruptWatch() { platform::StopWatchingInterrupts(); }
  } interruptWatch;
  program.controller().SetRunEvents(events.get());
  HeadlessView view(program.loop(), program.events(), out, err);
  if (!program.loop().IsValid()) {
    std::fprintf(err, "fieldloader: cannot start the main loop\n");
    return kHeadlessNothingStarted;
  }
  // A broken package has been reported on err by the view; its reason
  // follows. Nothing was installed, so no report is written.
  if (!program.Start(view)) {
    const std::string& broken = program.controller().brokenPackageReason();
    if (!broken.empty()) std::fprintf(err, "%s\n", broken.c_str());
    return kHeadlessNothingStarted;
  }
  HeadlessRunner runner(program, view, options, events.get(), out, err);
  interruptible = &runner;
  runner.Start();
  return program.Run();
}
