// The entry point of fieldloader.exe: it makes the program's folder the
// current directory (the package files and the release notes are named
// relative to it), lets the controller start up behind the Win32 view, shows
// the release notes when they are there, and runs the one message loop of
// the main thread, which serves the dialog's keyboard navigation and the
// device link's hidden window alike.
//
// The device table is made before the controller and so outlives it: the
// controller's services, whose callbacks reach the table, are gone first.
#include <windows.h>

#include <string>

#include "DialogEvents.h"
#include "TarvoLoadDialog.h"
#include "Win32DialogView.h"
#include "discovery/MyTarvoInterface.h"
#include "discovery/unit_table.h"
#include "platform/Files.h"
#include "platform/MainLoop.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string folder = platform::ProgramDirectory();
  if (!folder.empty()) platform::SetCurrentDirectoryTo(folder.c_str());

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
  // A broken package has been reported by now, before any window exists.
  if (!controller.Create(&view)) return 1;
  controller.SetupColumns();
  controller.OpenReleaseNotes();

  loop.SetDialog(view.Handle());
  return loop.Run();
}
