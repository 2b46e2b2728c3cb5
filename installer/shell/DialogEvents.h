// What a view of the main dialog reports, whatever draws it: the dialog was
// made, the tick fired, a button or list header was clicked, a row was
// activated, or the dialog is going away. The controller implements it, and
// every view (the Win32 dialog, the text UI, the headless view) reports
// through it and nothing else, so the user's actions reach the controller
// one way; tests put a recording sink in its place.
#pragma once

class DialogEvents {
 public:
  virtual ~DialogEvents() = default;

  // The dialog exists (WM_INITDIALOG): the title can be set.
  virtual void SetTitle() = 0;
  virtual void OnTick() = 0;
  virtual void OnStartInstall() = 0;
  virtual void OnAdd() = 0;
  virtual void OnRescan() = 0;
  virtual void OnColumnClick(int column) = 0;
  virtual void OnItemActivate(int row) = 0;
  // The dialog is closing or being destroyed; may come more than once.
  virtual void StopAll() = 0;
};
