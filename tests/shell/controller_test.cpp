// The main dialog's controller on a recording view: start-up with a good and
// a broken package, the title and the release notes, the stop sequence run
// twice, install runs in waves with double-clicks that cancel and queue, the
// rebuild that resets selections, and discovery and an install end to end
// against simulated units on the loopback network.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "../install/job/JobFakes.h"
#include "RecordingView.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "discovery/DiscoveryEntry.h"
#include "install/InstallLog.h"
#include "platform/Files.h"
#include "shell/TarvoLoadDialog.h"
#include "units/ControllerFlags.h"
#include "units/DisplayOrder.h"
#include "units/unit_table.h"

namespace {

using jobtest::Address;
using testsupport::SimUnit;

class ControllerTest : public testing::Test {
 protected:
  void SetUp() override {
    // The controller binds the discovery port and broadcasts its query.
    ZEQ_REQUIRE_NETNS();
    folder_ = testsupport::ScratchDirectory(
        std::string("shell-") + testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    SetInstallLogDirectoryForTesting(folder_);
    runInProgressFlag = 0;
    listRebuildFlag = 0;
    CurrentDisplaySort() = DisplaySort{};
    channel_.Watch(&table_);
  }

  void TearDown() override {
    if (dialog_ != nullptr) dialog_->StopAll();
    pinger_.Release();
    table_.WaitForJobs(20000);
    dialog_.reset();
    runInProgressFlag = 0;
    listRebuildFlag = 0;
    SetInstallLogDirectoryForTesting("");
    if (!previous_.empty()) std::filesystem::current_path(previous_);
  }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
  }

  // A release of one 20,000-byte file and the install script.
  void WriteRelease() {
    Write("payload.bin", std::string(20000, 'x'));
    Write("ftpdwnld.txt", "# test release\ncd /opt/tarvo\nsend payload.bin\nauto_install\n");
  }

  ShellSeams Seams() {
    ShellSeams seams;
    seams.versionString = [this](const char* name) -> std::optional<std::string> {
      versionAskedFor_ = name;
      return version_;
    };
    seams.fileExists = platform::FileExists;
    seams.openDocument = [this](const char* path) {
      opened_.push_back(path);
      return true;
    };
    seams.sendProbe = [this] { ++probes_; };
    return seams;
  }

  bool Start() {
    dialog_ = std::make_unique<TarvoLoadDialog>(table_, Seams());
    if (!dialog_->Create(&view_)) return false;
    dialog_->SetupColumns();
    dialog_->SetTitle();
    return true;
  }

  // Types the address and presses "Add": a unit entered by hand.
  void AddByHand(int a, int b, int c, int d) {
    view_.Type(a, b, c, d);
    dialog_->OnAdd();
  }

  int Row(const std::string& address) {
    const std::uint32_t value = Address(address);
    const auto* octets = reinterpret_cast<const unsigned char*>(&value);
    char text[20];
    std::snprintf(text, sizeof text, "%3d.%3d.%3d.%3d", octets[0], octets[1], octets[2], octets[3]);
    return view_.FindRow(text);
  }

  // A field of the unit's record, read under the table lock.
  template <typename Field>
  Field Read(const std::string& address, Field tarvo_object::*field) {
    tarvo_object* unit = jobtest::FindUnit(table_, Address(address));
    table_.Lock();
    const Field value = unit->*field;
    table_.Unlock();
    return value;
  }
  InstallState StateOf(const std::string& address) { return Read(address, &tarvo_object::state); }
  bool JobActive(const std::string& address) { return Read(address, &tarvo_object::jobActive); }

  // Ticks as the view would, every 50 ms, until the condition holds.
  bool TickUntil(const std::function<bool()>& done, unsigned timeoutMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      dialog_->OnTick();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string folder_;
  std::filesystem::path previous_;
  jobtest::RecordingChannel channel_;
  jobtest::ScriptedPinger pinger_;
  unit_table table_{&channel_, &pinger_};
  RecordingView view_;
  std::optional<std::string> version_;
  std::string versionAskedFor_;
  std::vector<std::string> opened_;
  int probes_ = 0;
  std::unique_ptr<TarvoLoadDialog> dialog_;
};

TEST_F(ControllerTest, BrokenPackageIsReportedAndNothingStarts) {
  // No manifest at all, then a manifest naming a file that is not there.
  for (const bool withManifest : {false, true}) {
    if (withManifest) Write("ftpdwnld.txt", "cd /opt\nsend missing.bin\n");
    RecordingView view;
    TarvoLoadDialog dialog(table_, Seams());
    EXPECT_FALSE(dialog.Create(&view));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, "Install corrupted, missing files needed for install.");
    EXPECT_EQ(view.messages[0].second, "Error");
    EXPECT_FALSE(view.tickActive);
    EXPECT_FALSE(dialog.receiving());
    EXPECT_EQ(probes_, 0) << "no discovery";
    dialog.SetupColumns();
    EXPECT_TRUE(view.columns.empty());
    EXPECT_FALSE(view.shown);
  }
}

TEST_F(ControllerTest, StartUpRunsServicesTickAndTitle) {
  WriteRelease();
  version_ = "4.5.6";
  ASSERT_TRUE(Start());
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(dialog_->manifest().entries.size(), 1u);
  EXPECT_TRUE(dialog_->receiving());
  EXPECT_EQ(probes_, 1) << "the first discovery pass probes";
  EXPECT_TRUE(view_.tickActive);
  EXPECT_EQ(view_.tickPeriodMs, 800u);
  EXPECT_EQ(view_.columns.size(), DeviceList::Columns().size());
  EXPECT_TRUE(view_.shown);
  EXPECT_EQ(versionAskedFor_, "ProductVersion");
  EXPECT_EQ(view_.title, "Tarvo Installer (Version 4.5.6)");
  version_.reset();
  dialog_->SetTitle();
  EXPECT_EQ(view_.title, "Tarvo Installer (Version Unknown)");
  dialog_->OnRescan();
  EXPECT_EQ(probes_, 2);
}

TEST_F(ControllerTest, ReleaseNotesOpenOnlyWhenPresent) {
  WriteRelease();
  ASSERT_TRUE(Start());
  EXPECT_FALSE(dialog_->OpenReleaseNotes());
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(view_.messages.empty());
  Write("whats_new.html", "<html></html>");
  EXPECT_TRUE(dialog_->OpenReleaseNotes());
  EXPECT_EQ(opened_, (std::vector<std::string>{"whats_new.html"}));
}

TEST_F(ControllerTest, StopTwiceIsHarmless) {
  WriteRelease();
  ASSERT_TRUE(Start());
  AddByHand(127, 0, 0, 2);
  dialog_->StopAll();
  EXPECT_FALSE(view_.tickActive);
  EXPECT_EQ(view_.tickStops, 1);
  EXPECT_FALSE(dialog_->receiving());
  EXPECT_EQ(StateOf("127.0.0.2"), InstallState::CancelRequested);
  dialog_->StopAll();
  EXPECT_EQ(view_.tickStops, 1) << "the tick is already gone";
  EXPECT_EQ(StateOf("127.0.0.2"), InstallState::CancelRequested);
}

TEST_F(ControllerTest, StartWithNoRowSelectedStartsNothing) {
  WriteRelease();
  ASSERT_TRUE(Start());
  AddByHand(127, 0, 0, 2);
  AddByHand(127, 0, 0, 3);
  ASSERT_EQ(view_.RowCount(), 2);
  view_.Select(0, false);
  view_.Select(1, false);
  dialog_->OnStartInstall();
  EXPECT_EQ(StateOf("127.0.0.2"), InstallState::Idle);
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Idle);
  EXPECT_EQ(view_.Status(0), "");
  EXPECT_TRUE(view_.startEnabled);
  EXPECT_EQ(runInProgressFlag, 0);
  EXPECT_FALSE(JobActive("127.0.0.2"));
}

// Units on loopback addresses where nothing listens: each job fails its
// login at once once its ping is let go, so the pinger decides how long a
// job stays Running.
TEST_F(ControllerTest, RunGoesInWavesWithCancelAndQueue) {
  WriteRelease();
  ASSERT_TRUE(Start());
  AddByHand(127, 0, 0, 2);
  AddByHand(127, 0, 0, 3);
  const int first = Row("127.0.0.2");
  const int second = Row("127.0.0.3");
  pinger_.HoldUntil(0, 30000);
  view_.Select(second, false);
  dialog_->OnStartInstall();
  ASSERT_TRUE(pinger_.WaitHeld(1, 10000));
  EXPECT_EQ(StateOf("127.0.0.2"), InstallState::Running);
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Idle);
  EXPECT_FALSE(view_.startEnabled);
  // A second start during the run does nothing.
  view_.Select(second, true);
  dialog_->OnStartInstall();
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Idle);
  // A double-click cancels the running unit; the next one queues it again,
  // behind its job that is still ending. The other unit is queued too.
  dialog_->OnItemActivate(first);
  EXPECT_EQ(StateOf("127.0.0.2"), InstallState::CancelRequested);
  dialog_->OnItemActivate(first);
  EXPECT_EQ(view_.Status(first), "Pending");
  dialog_->OnItemActivate(second);
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Pending);
  // While the first job has not ended, the next wave waits.
  for (int i = 0; i < 5; ++i) dialog_->OnTick();
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Pending);
  EXPECT_FALSE(JobActive("127.0.0.3"));
  pinger_.Release();
  // Then both go in one wave, fail their login, and the run ends.
  ASSERT_TRUE(TickUntil([&] { return runInProgressFlag == 0; }));
  EXPECT_TRUE(view_.startEnabled);
  for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
    EXPECT_EQ(StateOf(address), InstallState::Failed) << address;
    EXPECT_EQ(view_.Status(Row(address)), "Failed Connection") << address;
  }
  EXPECT_EQ(channel_.CallCount(), 0u);
}

// Without limits the tick alone paces a run; with them each ended job asks
// for a tick at once, so a freed slot does not wait for the next one.
TEST_F(ControllerTest, OnlyALimitedRunAsksForATickWhenAJobEnds) {
  WriteRelease();
  ASSERT_TRUE(Start());
  AddByHand(127, 0, 0, 2);
  AddByHand(127, 0, 0, 3);
  const auto jobsEnded = [this] { return !JobActive("127.0.0.2") && !JobActive("127.0.0.3"); };
  dialog_->OnStartInstall();
  ASSERT_TRUE(TickUntil([&] { return runInProgressFlag == 0 && jobsEnded(); }));
  const auto tickSoonCalls = [this] {
    table_.Lock();
    const int calls = view_.tickSoonCalls;
    table_.Unlock();
    return calls;
  };
  EXPECT_EQ(tickSoonCalls(), 0);

  dialog_->SetRunLimits(RunLimits{1, 0, 0});
  pinger_.HoldUntil(0, 30000);
  view_.Select(Row("127.0.0.2"));
  view_.Select(Row("127.0.0.3"));
  dialog_->OnStartInstall();
  ASSERT_TRUE(pinger_.WaitHeld(1, 10000));
  EXPECT_EQ(tickSoonCalls(), 0);
  pinger_.Release();
  // The first job ends on its own; the asked-for tick starts the second.
  ASSERT_TRUE(table_.WaitUntil([&] { return view_.tickSoonCalls == 1; },
                               std::chrono::steady_clock::now() + std::chrono::seconds(20)));
  dialog_->OnTick();
  ASSERT_TRUE(TickUntil([&] { return runInProgressFlag == 0 && jobsEnded(); }));
  EXPECT_EQ(tickSoonCalls(), 2);
  EXPECT_EQ(pinger_.MostHeldAtOnce(), 1);
}

// A unit queued during a run waits while another unit's job is genuinely
// Running (not ending after a cancel), and goes in the next wave.
TEST_F(ControllerTest, QueuedUnitWaitsWhileAnotherIsRunning) {
  WriteRelease();
  ASSERT_TRUE(Start());
  AddByHand(127, 0, 0, 2);
  AddByHand(127, 0, 0, 3);
  pinger_.HoldUntil(0, 30000);
  view_.Select(Row("127.0.0.3"), false);
  dialog_->OnStartInstall();
  ASSERT_TRUE(pinger_.WaitHeld(1, 10000));
  dialog_->OnItemActivate(Row("127.0.0.3"));
  ASSERT_EQ(StateOf("127.0.0.3"), InstallState::Pending);
  for (int i = 0; i < 5; ++i) dialog_->OnTick();
  EXPECT_EQ(StateOf("127.0.0.2"), InstallState::Running);
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Pending);
  EXPECT_FALSE(JobActive("127.0.0.3"));
  EXPECT_EQ(pinger_.MostHeldAtOnce(), 1) << "the queued unit's job began beside the running one";
  pinger_.Release();
  ASSERT_TRUE(TickUntil([&] { return runInProgressFlag == 0; }));
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Failed);
  EXPECT_EQ(view_.Status(Row("127.0.0.3")), "Failed Connection");
}

// An interrupted headless run: the running unit is cancelled, the one queued
// behind its ending job and the one waiting for the next wave are taken back,
// and the unit outside the run is left alone; the run then ends.
TEST_F(ControllerTest, CancelRunTakesBackEveryUnitOfTheRun) {
  WriteRelease();
  ASSERT_TRUE(Start());
  AddByHand(127, 0, 0, 2);
  AddByHand(127, 0, 0, 3);
  AddByHand(127, 0, 0, 4);
  pinger_.HoldUntil(0, 30000);
  view_.Select(Row("127.0.0.3"), false);
  view_.Select(Row("127.0.0.4"), false);
  dialog_->OnStartInstall();
  ASSERT_TRUE(pinger_.WaitHeld(1, 10000));
  dialog_->OnItemActivate(Row("127.0.0.2"));  // cancelled
  dialog_->OnItemActivate(Row("127.0.0.2"));  // queued behind its ending job
  dialog_->OnItemActivate(Row("127.0.0.3"));  // waits for the next wave
  ASSERT_EQ(view_.Status(Row("127.0.0.2")), "Pending");
  ASSERT_EQ(StateOf("127.0.0.3"), InstallState::Pending);

  dialog_->CancelRun();
  EXPECT_EQ(view_.Status(Row("127.0.0.2")), "Cancelled");
  EXPECT_EQ(view_.Status(Row("127.0.0.3")), "Cancelled");
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::CancelRequested);
  EXPECT_EQ(StateOf("127.0.0.4"), InstallState::Idle);
  pinger_.Release();
  ASSERT_TRUE(TickUntil([&] { return runInProgressFlag == 0; }));
  EXPECT_FALSE(JobActive("127.0.0.3")) << "no second wave";
  EXPECT_EQ(view_.Status(Row("127.0.0.3")), "Cancelled");
  EXPECT_NE(StateOf("127.0.0.2"), InstallState::Running);
  EXPECT_EQ(StateOf("127.0.0.4"), InstallState::Idle);
}

TEST_F(ControllerTest, FullRefreshResetsSelectionsFromStates) {
  WriteRelease();
  ASSERT_TRUE(Start());
  AddByHand(127, 0, 0, 5);  // Pending: shown selected
  table_.AddOrUpdateUnit(0, 0, Address("127.0.0.3"), nullptr, 3, "North", "1.0");
  dialog_->OnTick();
  const int idle = Row("127.0.0.3");
  ASSERT_GE(idle, 0);
  EXPECT_FALSE(view_.rows[static_cast<std::size_t>(idle)].selected);
  view_.Select(idle, true);
  // A unit that answers discovery rebuilds the list at the next tick.
  table_.AddOrUpdateUnit(0, 0, Address("127.0.0.4"), nullptr, 4, "South", "1.0");
  listRebuildFlag = 1;
  dialog_->OnTick();
  EXPECT_EQ(listRebuildFlag, 0);
  ASSERT_EQ(view_.RowCount(), 3);
  EXPECT_FALSE(view_.rows[static_cast<std::size_t>(Row("127.0.0.3"))].selected);
  EXPECT_FALSE(view_.rows[static_cast<std::size_t>(Row("127.0.0.4"))].selected);
  EXPECT_TRUE(view_.rows[static_cast<std::size_t>(Row("127.0.0.5"))].selected);
  // A merge that changes a unit's version redraws its cell, without a row.
  const int rebuilds = view_.rebuilds;
  table_.AddOrUpdateUnit(0, 0, Address("127.0.0.3"), nullptr, 3, "North", "1.1");
  dialog_->OnTick();
  EXPECT_EQ(view_.rebuilds, rebuilds);
  EXPECT_EQ(view_.RowCount(), 3);
  EXPECT_EQ(view_.Cell(Row("127.0.0.3"), 3), "1.1");
}

TEST_F(ControllerTest, UnitAnsweringTheProbeIsListedAtOnce) {
  WriteRelease();
  ASSERT_TRUE(Start());
  DiscoveredUnit unit;
  unit.address = Address("127.0.0.7");
  unit.node = 12;
  unit.group = "East";
  unit.version = "3.0";
  ASSERT_EQ(discovery::EnterDiscoveredUnit(table_, unit), 1);
  dialog_->OnUnitEnteredByProbe();
  ASSERT_EQ(view_.RowCount(), 1) << "no tick needed";
  EXPECT_EQ(view_.rows[0].cells,
            (std::vector<std::string>{"127.  0.  0.  7", "12", "East", "3.0", ""}));
}

class ControllerUnitSimTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    if (IsSkipped()) return;
    ZEQ_REQUIRE_UNITSIM();
  }

  void StartUnits(const std::vector<SimUnit>& units) {
    for (const SimUnit& unit : units) sim_.AddUnit(unit);
    ASSERT_TRUE(sim_.Start()) << sim_.Error();
    for (const SimUnit& unit : units) sim_.StoreInstallScript(unit.address);
  }

  testsupport::UnitSim sim_;
};

TEST_F(ControllerUnitSimTest, DiscoveryReplyBecomesARowAtTheNextTick) {
  StartUnits({SimUnit("127.0.0.2").Node(7).Group("North").Version("2.1"),
              SimUnit("127.0.0.3").Node(9).Group("South")});
  WriteRelease();
  ASSERT_TRUE(Start());
  ASSERT_TRUE(TickUntil([&] { return view_.RowCount() == 2; }, 10000))
      << "rows: " << view_.RowCount();
  EXPECT_EQ(view_.countText, "2");
  const int north = Row("127.0.0.2");
  ASSERT_GE(north, 0);
  EXPECT_EQ(view_.rows[static_cast<std::size_t>(north)].cells,
            (std::vector<std::string>{"127.  0.  0.  2", "7", "North", "2.1", ""}));
  EXPECT_FALSE(view_.rows[static_cast<std::size_t>(north)].selected);
  EXPECT_EQ(view_.Cell(Row("127.0.0.3"), 3), "Unknown");
  // A rescan's replies merge into the known units.
  dialog_->OnRescan();
  ASSERT_TRUE(sim_.WaitForCount("query", "127.0.0.2", 2, 5000));
  for (int i = 0; i < 5; ++i) dialog_->OnTick();
  EXPECT_EQ(view_.RowCount(), 2);
}

TEST_F(ControllerUnitSimTest, SelectedUnitInstallsToSuccessThroughTicks) {
  StartUnits({SimUnit("127.0.0.2").Node(7).Group("North"), SimUnit("127.0.0.3").Node(8)});
  WriteRelease();
  ASSERT_TRUE(Start());
  ASSERT_TRUE(TickUntil([&] { return view_.RowCount() == 2; }, 10000));
  const int chosen = Row("127.0.0.2");
  view_.Select(chosen, true);
  dialog_->OnStartInstall();
  EXPECT_FALSE(view_.startEnabled);
  ASSERT_TRUE(TickUntil([&] { return runInProgressFlag == 0; }, 60000));
  EXPECT_TRUE(view_.startEnabled);
  EXPECT_EQ(view_.Status(chosen), "Success");
  EXPECT_EQ(StateOf("127.0.0.2"), InstallState::Finished);
  EXPECT_EQ(StateOf("127.0.0.3"), InstallState::Idle);
  EXPECT_EQ(view_.Status(Row("127.0.0.3")), "");
  // The cell showed the run's start and its end (the steps between come and
  // go faster than the ticks that draw them).
  std::vector<std::string> shown;
  for (const std::string& text : view_.statusTrail) {
    if (!text.empty()) shown.push_back(text);
  }
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), "Pending");
  EXPECT_EQ(shown.back(), "Success");
  EXPECT_TRUE(sim_.WaitForEvent("install", "127.0.0.2", 5000));
  EXPECT_TRUE(sim_.Events("install", "127.0.0.3").empty());
}

}  // namespace
