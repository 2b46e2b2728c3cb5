// The Linux entry point of fieldloader: the command line is read (--help,
// --version and a headless run end there, see ProgramStart.h), the
// release folder becomes the current directory (the release's files are
// read relative to it), the terminal is checked (a missing, unknown or too
// small one ends the program with one line on standard error and exit code
// 2, before anything starts), and the program runs behind the text dialog
// until "Exit", Esc, "q" or the loss of its terminal (see Program.h). A
// broken package is reported in a message box and ends the program with
// exit code 1 before any service is started; the reason follows the
// message on standard error once the screen is gone.
//
// The screen is drawn on the terminal itself, and standard output, which
// carries the program's diagnostics, goes to "fieldloader-output.log" in the
// release folder.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Console.h"
#include "platform/MainLoop.h"
#include "shell/HeadlessRunner.h"
#include "shell/Program.h"
#include "shell/ProgramStart.h"
#include "shell/RunEvents.h"
#include "shell/RunReporter.h"
#include "shell/TarvoLoadDialog.h"
#include "shell/tui/TerminalCheck.h"
#include "shell/tui/TuiView.h"
#include "units/DisplayOrder.h"

namespace {

// The units of --retry are marked at once; those that discovery has not
// found after its usual wait are added by their address. timer holds the
// wait's timer, which lives as long as the loop.
void RetryInTextDialog(Program& program, TuiView& view, const RetryUnits& retry, int& timer) {
  if (retry.addresses.empty()) return;
  program.reporter().SetRetry(retry);
  view.MarkReportFailures(retry.addresses);
  platform::MainLoop& loop = program.loop();
  timer = loop.AddTimer(CommandLine::kDefaultDiscoverSeconds * 1000u, [&] {
    loop.KillTimer(timer);
    for (const std::uint32_t address : retry.addresses) {
      if (!program.controller().list().HasUnit(address)) view.AddUnit(address);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  const ProgramStart start = StartProgram(std::vector<std::string>(argv + 1, argv + argc));
  if (start.done) return start.exitCode;
  const std::string unusable = tui::UnusableTerminalReason();
  if (!unusable.empty()) {
    std::fprintf(stderr,
                 "fieldloader: %s, so the text dialog cannot run; use --headless to install "
                 "without a screen\n",
                 unusable.c_str());
    return CommandLine::kUsageExitCode;
  }
  tui::IgnoreHangUp();
  CurrentDisplaySort().statusByText = true;
  platform::AppendStandardOutputTo(kOutputLogName);
  std::unique_ptr<RunEvents> events;
  if (!start.options.eventsPath.empty()) {
    events = RunEvents::OpenFile(start.options.eventsPath, stderr);
    if (events == nullptr) return CommandLine::kUsageExitCode;
  }
  Program program(start.reportFolder);
  program.controller().SetRunEvents(events.get());
  // Made after the program, the view is torn down first and gives the
  // terminal back before the services end.
  TuiView view(program.loop(), program.events());
  program.controller().SetUnitTimeout(start.options.unitTimeoutSeconds);
  program.controller().SetRunLimits(start.options.limits);
  // The verify phase can take minutes after the last job: the status line
  // says it runs, and how it ended.
  program.reporter().verifier().SetOptions(
      start.options.verify, events.get(),
      [&view, &start](int units) {
        std::string text = VerifyStartText(units, start.options.verify.seconds);
        text.pop_back();
        view.ShowNote(text);
      },
      [&view](int verified, int notVerified) {
        view.ShowNote(VerifyEndText(verified, notVerified));
      });
  int retryTimer = 0;
  RetryInTextDialog(program, view, start.options.retry, retryTimer);
  int code = program.RunDialog(view);
  // Exit during a run (or a lost terminal) cancelled it: its report is
  // written now, and the exit code says that units were cancelled.
  if (program.ReportCancelledRun() && code == 0) code = kHeadlessSomeFailed;
  if (program.reportFailed()) code = kHeadlessReportNotWritten;
  // The reason for a broken package goes below the shell's prompt, after
  // the screen is gone.
  const std::string& broken = program.controller().brokenPackageReason();
  if (!broken.empty()) {
    view.Close();
    std::fprintf(stderr, "%s\n%s\n", TarvoLoadDialog::kBrokenPackageText, broken.c_str());
  }
  return code;
}
