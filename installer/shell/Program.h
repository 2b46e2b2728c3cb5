// The program's services, owned in one place and made in their order: the
// device table first, so it outlives everything whose callbacks reach it;
// the main loop; the controller; the device-link interface, which answers
// probes on the loop and reports to the controller, so it is torn down
// before both; last the run reporter. Every entry point (the Win32 dialog,
// the text UI, the headless run) makes one, builds its view on the loop and
// the controller's events, and hands the program only that view.
#pragma once

#include <memory>
#include <string>

class DialogEvents;
class DialogView;
class RunReporter;
class TarvoLoadDialog;
class unit_table;
namespace platform {
class MainLoop;
}
namespace discovery {
class MyTarvoInterface;
}

class Program {
 public:
  // reportFolder: where the run report goes ("" beside the release).
  explicit Program(const std::string& reportFolder);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // What a view is built on: the loop it runs on and the controller it
  // reports to.
  platform::MainLoop& loop() { return *loop_; }
  DialogEvents& events();

  // Start-up behind the view: the controller reads the release and starts
  // its services, the title is set and the columns are shown. False when
  // there is no main loop or the package is broken (the view has shown
  // the message); nothing is running then.
  bool Start(DialogView& view);
  // Runs the loop to its end, then the stop sequence; the loop's exit code.
  int Run();
  // The dialog's whole program (Win32 dialog, text UI): start-up, the
  // release notes, a report after every wave (a failure to write it shown
  // by the view), the loop, and a report still waiting when the loop ended
  // written at once. 1 when the start-up failed.
  int RunDialog(DialogView& view);
  // Whether the latest report of RunDialog could not be written.
  bool reportFailed() const { return reportFailed_; }
  // After the text dialog's loop has ended: when a run was still in
  // progress (Exit, Esc or a lost terminal cancelled it), waits a bounded
  // time for the cancelled jobs to end and writes the report at once,
  // without the rescan. True when a run was cancelled.
  bool ReportCancelledRun();

  unit_table& table() { return *table_; }
  TarvoLoadDialog& controller() { return *controller_; }
  RunReporter& reporter() { return *reporter_; }
  const std::string& version() const { return version_; }

 private:
  const std::string version_;
  std::unique_ptr<unit_table> table_;
  std::unique_ptr<platform::MainLoop> loop_;
  std::unique_ptr<TarvoLoadDialog> controller_;
  std::unique_ptr<discovery::MyTarvoInterface> deviceLink_;
  std::unique_ptr<RunReporter> reporter_;
  bool reportFailed_ = false;
};
