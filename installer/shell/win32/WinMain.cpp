// The entry point of fieldloader.exe: it reads the command line as UTF-8
// (--help, --version and a headless run end there, see ProgramStart.h; they
// print on the parent's console), makes the program's folder the current
// directory (the package files and the release notes are named relative to
// it), lets the controller start up behind the Win32 view, shows
// the release notes when they are there, and runs the one message loop of
// the main thread, which serves the dialog's keyboard navigation and the
// device link's hidden window alike.
//
// The run report is written at the end of every wave.
//
// The device table is made before the controller and so outlives it: the
// controller's services, whose callbacks reach the table, are gone first.
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <string>
#include <vector>

#include "DialogEvents.h"
#include "TarvoLoadDialog.h"
#include "Win32DialogView.h"
#include "discovery/MyTarvoInterface.h"
#include "discovery/unit_table.h"
#include "platform/MainLoop.h"
#include "platform/ProgramVersion.h"
#include "shell/ProgramStart.h"
#include "shell/RunReporter.h"

namespace {

// The arguments after the program's name, split as the runtime splits them
// and converted from UTF-16 to UTF-8.
std::vector<std::string> Arguments() {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    // The size counts the terminating NUL, which the string does not keep.
    const int size = WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    if (size > 0)
      WideCharToMultiByte(CP_UTF8, 0, words[i], -1, text.data(), size, nullptr, nullptr);
    text.pop_back();
    arguments.push_back(std::move(text));
  }
  LocalFree(words);
  return arguments;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const ProgramStart start = StartProgram(Arguments());
  if (start.done) return start.exitCode;

  unit_table table;
  platform::MainLoop loop;
  TarvoLoadDialog controller(table);
  // The device-link interface answers probes on the same loop; a unit it
  // enters is listed at once. Made last, it is torn down first, while the
  // controller it reports to and the loop it runs on still exist.
  discovery::MyTarvoInterface deviceLink(loop, table,
                                         [&controller] { controller.OnUnitEnteredByProbe(); });
  controller.SetProbeSender([&deviceLink] { deviceLink.SendProbe(); });
  // The view outlives nothing it reports to: it is destroyed first, and a
  // dialog still open then goes without a report.
  ControllerEvents<TarvoLoadDialog> events(controller);
  Win32DialogView view(&events);
  RunReporter reporter(loop, table, controller, start.reportFolder,
                       platform::ProgramVersionString("ProductVersion").value_or("Unknown"));
  ReportEveryWave(controller, reporter, view);
  // A broken package has been reported by now, before any window exists.
  if (!controller.Create(&view)) return 1;
  controller.SetupColumns();
  controller.OpenReleaseNotes();

  loop.SetDialog(view.Handle());
  return loop.Run();
}
