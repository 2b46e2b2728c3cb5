// What the main dialog's window procedure reports: the dialog was made, the
// tick fired, a button or list header was clicked, a row was activated, or
// the window is going away. The Win32 view calls this interface rather than
// the controller itself so that the message handling can be driven and
// checked with a recording sink, and ControllerEvents forwards each report
// to any class with the controller's operations of the same names.
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
  // The window is closing or being destroyed; may come more than once.
  virtual void StopAll() = 0;
};

// Forwards every report to a controller by name, so that the program needs
// no hand-written adapter: ControllerEvents<TarvoLoadDialog>.
template <typename Controller>
class ControllerEvents : public DialogEvents {
 public:
  explicit ControllerEvents(Controller& controller) : controller_(controller) {}

  void SetTitle() override { controller_.SetTitle(); }
  void OnTick() override { controller_.OnTick(); }
  void OnStartInstall() override { controller_.OnStartInstall(); }
  void OnAdd() override { controller_.OnAdd(); }
  void OnRescan() override { controller_.OnRescan(); }
  void OnColumnClick(int column) override { controller_.OnColumnClick(column); }
  void OnItemActivate(int row) override { controller_.OnItemActivate(row); }
  void StopAll() override { controller_.StopAll(); }

 private:
  Controller& controller_;
};
