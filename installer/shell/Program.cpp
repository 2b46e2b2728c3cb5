// The program's services in their order (see Program.h).
#include "shell/Program.h"

#include "discovery/MyTarvoInterface.h"
#include "platform/MainLoop.h"
#include "platform/ProgramVersion.h"
#include "shell/DialogView.h"
#include "shell/RunReporter.h"
#include "shell/TarvoLoadDialog.h"
#include "units/ControllerFlags.h"
#include "units/unit_table.h"

namespace {

// Cancelled jobs fail out of their step at once, their connections closed;
// the bound only keeps a stuck one from holding the exit.
constexpr unsigned kCancelledJobsWaitMs = 5000;

}  // namespace

Program::Program(const std::string& reportFolder)
    : version_(platform::ProgramVersionString("ProductVersion").value_or("Unknown")),
      table_(std::make_unique<unit_table>()),
      loop_(std::make_unique<platform::MainLoop>()),
      controller_(std::make_unique<TarvoLoadDialog>(*table_)) {
  TarvoLoadDialog& controller = *controller_;
  deviceLink_ = std::make_unique<discovery::MyTarvoInterface>(
      *loop_, *table_, [&controller] { controller.OnUnitEnteredByProbe(); });
  controller.SetProbeSender([this] { deviceLink_->SendProbe(); });
  reporter_ = std::make_unique<RunReporter>(*loop_, *table_, controller, reportFolder, version_);
}

// The members go in reverse order: the reporter, the device-link
// interface, the controller, the loop, the table.
Program::~Program() = default;

DialogEvents& Program::events() { return *controller_; }

bool Program::Start(DialogView& view) {
  if (!loop_->IsValid() || !controller_->Create(&view)) return false;
  controller_->SetTitle();
  controller_->SetupColumns();
  return true;
}

int Program::Run() {
  const int code = loop_->Run();
  controller_->StopAll();
  return code;
}

bool Program::ReportCancelledRun() {
  if (runInProgressFlag == 0) return false;
  table_->WaitForJobs(kCancelledJobsWaitMs);
  reporter_->ReportNow(
      [this](const RunReport&, bool ok, const std::string&) { reportFailed_ = !ok; });
  return true;
}

int Program::RunDialog(DialogView& view) {
  controller_->SetRunObserver(RunObserver{
      [this, &view] {
        reporter_->Report([this, &view](const RunReport&, bool ok, const std::string& error) {
          reportFailed_ = !ok;
          if (!ok) view.ShowMessage("The run report was not written: " + error, "Run report");
        });
      },
      nullptr, nullptr});
  if (!Start(view)) return 1;
  controller_->OpenReleaseNotes();
  const int code = Run();
  // A report still waiting for answers (the verify phase can take long)
  // is written with what it has rather than lost.
  reporter_->Flush();
  return code;
}
