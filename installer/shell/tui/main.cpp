// The Linux entry point of fieldloader: the command line is read (--help,
// --version and a headless run end there, see ProgramStart.h), the
// program's folder becomes the current directory (the release's files are
// read relative to it), the controller starts behind the text dialog, and
// the main loop runs until "Exit", Esc or "q". A broken package is reported
// in a message box and ends the program with exit code 1 before any service
// is started. The run report is written at the end of every wave.
//
// The screen is drawn on the terminal itself, and standard output, which
// carries the program's diagnostics, goes to "fieldloader-output.log" in the
// program's folder.
//
// The device table is made before the controller and so outlives it: the
// controller's services, whose callbacks reach the table, are gone first.
// The device-link interface is made last, so it is torn down first, while
// the controller it reports to and the loop it runs on still exist.
#include <cstdio>
#include <string>
#include <vector>

#include "discovery/MyTarvoInterface.h"
#include "discovery/unit_table.h"
#include "platform/MainLoop.h"
#include "platform/ProgramVersion.h"
#include "shell/ProgramStart.h"
#include "shell/RunReporter.h"
#include "shell/TarvoLoadDialog.h"
#include "shell/tui/TuiView.h"

int main(int argc, char** argv) {
  const ProgramStart start = StartProgram(std::vector<std::string>(argv + 1, argv + argc));
  if (start.done) return start.exitCode;
  if (std::freopen(kOutputLogName, "a", stdout) != nullptr) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
  }
  unit_table table;
  platform::MainLoop loop;
  TarvoLoadDialog dialog(table);
  // The device-link interface answers probes on the main loop; a unit it
  // enters is listed at once. It goes first at the end, while the loop that
  // serves its socket still exists.
  discovery::MyTarvoInterface deviceLink(loop, table, [&dialog] { dialog.OnUnitEnteredByProbe(); });
  dialog.SetProbeSender([&deviceLink] { deviceLink.SendProbe(); });
  TuiView view(loop, dialog);
  RunReporter reporter(loop, table, dialog, start.reportFolder,
                       platform::ProgramVersionString("ProductVersion").value_or("Unknown"));
  ReportEveryWave(dialog, reporter, view);
  if (!loop.IsValid() || !dialog.Create(&view)) {
    view.Close();
    return 1;
  }
  dialog.SetTitle();
  dialog.SetupColumns();
  dialog.OpenReleaseNotes();
  const int code = loop.Run();
  dialog.StopAll();
  view.Close();
  return code;
}
