// The controller of the main dialog: it starts the background services
// (thread pool, discovery receiver and sender), triggers discovery, reacts to
// the buttons and the device list, runs the tick that drives an install run
// in waves, and stops everything at exit. It draws through a DialogView, so
// the same controller runs behind the Win32 dialog, the Linux text UI and the
// headless runner, and tests drive it with a recording view.
//
// Every operation runs on the main thread, except PacketReceived, which the
// discovery receiver calls on a pool thread.
#pragma once

#include <cstdint>

#include "IUDPReceiver.h"

class DialogView;

class TarvoLoadDialog : public ZEQ::IUDPReceiver {
 public:
  // Start-up: reads the release manifest in the current directory; for a
  // broken package shows "Install corrupted, missing files needed for
  // install." / "Error" and returns false before anything else is started.
  // Otherwise binds the view, starts the pool, receiver and sender, sends
  // the first discovery query and starts the tick.
  bool Create(DialogView* view);
  // Inserts the five list columns and shows the dialog.
  void SetupColumns();
  // Sets "Tarvo Installer (Version %s)" from the program's version.
  void SetTitle();

  // What the user did, reported by the view.
  void OnTick();
  void OnStartInstall();           // "Start Install" (1005) or Enter
  void OnAdd();                    // "Add" (1007)
  void OnRescan();                 // "Rescan" (1008)
  void OnColumnClick(int column);  // a list header
  void OnItemActivate(int row);    // double-click or Enter on a row
  // "Exit" (1018), Esc or the close box: the stop sequence. Safe to call
  // any number of times.
  void StopAll();
};
