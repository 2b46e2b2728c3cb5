// The entry point of fieldloader.exe: it makes the program's folder the
// current directory (the package files and the release notes are named
// relative to it), lets the controller start up behind the Win32 view, shows
// the release notes when they are there, and runs the one message loop of
// the main thread, which serves the dialog's keyboard navigation and the
// device link's hidden window alike.
#include <windows.h>

#include "DialogEvents.h"
#include "ShellDocument.h"
#include "TarvoLoadDialog.h"
#include "Win32DialogView.h"
#include "platform/Files.h"
#include "platform/MainLoop.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::SetCurrentDirectoryTo(platform::ProgramDirectory().c_str());

  // The view outlives nothing it reports to: it is destroyed first, and a
  // dialog still open then goes without a report.
  TarvoLoadDialog controller;
  ControllerEvents<TarvoLoadDialog> events(controller);
  Win32DialogView view(&events);
  // A broken package has been reported by now, before any window exists.
  if (!controller.Create(&view)) return 1;
  controller.SetupColumns();
  OpenDocumentIfPresent("whats_new.html");

  platform::MainLoop loop;
  loop.SetDialog(view.Handle());
  return loop.Run();
}
