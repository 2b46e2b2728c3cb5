// Broken release folders meet the real controller. A folder that is broken
// at start-up (an empty manifest, a directory or a file the program may not
// read where a file is named, a name that is no UTF-8, a 100 MB line) must
// give the one start-up message and start nothing; a folder that breaks
// after start-up (a file gone, turned into a directory or made unreadable)
// must end the unit's job in a copy failure, never in a success or a crash.
// Names outside ASCII that are valid UTF-8 are an ordinary release.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "../install/job/JobFakes.h"
#include "RecordingView.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "install/InstallLog.h"
#include "shell/TarvoLoadDialog.h"
#include "units/ControllerFlags.h"
#include "units/unit_table.h"

namespace {

using testsupport::SimEvent;
using testsupport::SimUnit;

namespace fs = std::filesystem;

// "café", "ünïcode" and a CJK name as the manifest holds them: UTF-8 bytes.
const char kCafe[] = "caf\xC3\xA9.bin";
const char kUnicode[] =
    "\xC3\xBCn\xC3\xAF"
    "code.bin";
const char kCjk[] = "\xE6\x97\xA5\xE6\x9C\xAC.bin";

fs::path Utf8Path(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

void Write(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Makes a file the program may not read: a named pipe, which the program
// refuses as it refuses every file that is not a regular one (permission
// bits would not stop the root user the tests run as). False where the
// system has no mkfifo command.
bool MakeUnreadable(const std::string& name) {
  fs::remove_all(name);
  return std::system(("mkfifo " + name + " 2>/dev/null").c_str()) == 0 &&
         fs::is_fifo(fs::status(name));
}

class BadReleaseTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    folder_ = testsupport::ScratchDirectory(
        std::string("bad-release-") +
        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    previous_ = fs::current_path();
    fs::current_path(folder_);
    SetInstallLogDirectoryForTesting(folder_);
    runInProgressFlag = 0;
    listRebuildFlag = 0;
    channel_.Watch(&table_);
  }
  void TearDown() override {
    if (dialog_ != nullptr) dialog_->StopAll();
    table_.WaitForJobs(20000);
    dialog_.reset();
    runInProgressFlag = 0;
    listRebuildFlag = 0;
    SetInstallLogDirectoryForTesting("");
    if (!previous_.empty()) fs::current_path(previous_);
  }

  bool Start() {
    view_ = RecordingView();
    dialog_ = std::make_unique<TarvoLoadDialog>(table_);
    if (!dialog_->Create(&view_)) return false;
    dialog_->SetupColumns();
    return true;
  }

  // The start-up refuses the folder: the one message, no service, no tick.
  void ExpectRefusedAtStartUp(const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(Start());
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(view_.messages[0].first, TarvoLoadDialog::kBrokenPackageText);
    EXPECT_EQ(view_.messages[0].second, TarvoLoadDialog::kBrokenPackageCaption);
    EXPECT_FALSE(view_.tickActive);
    EXPECT_FALSE(dialog_->receiving());
    dialog_.reset();
  }

  // Starts an install of the unit, typed in by hand, and ticks until the
  // run has ended.
  void InstallByHand(int lastOctet) {
    view_.Type(127, 0, 0, lastOctet);
    dialog_->OnAdd();
    // When discovery entered the unit first, the add merged into it and the
    // next tick lists it.
    const std::string address = "127.  0.  0.  " + std::to_string(lastOctet);
    if (view_.FindRow(address) < 0) dialog_->OnTick();
    const int row = view_.FindRow(address);
    ASSERT_GE(row, 0);
    view_.Select(row);
    dialog_->OnStartInstall();
    for (int i = 0; i < 1200 && runInProgressFlag != 0; ++i) {
      dialog_->OnTick();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(runInProgressFlag, 0) << "the run did not end";
  }

  struct Outcome {
    InstallState state;
    std::string text;
    JobReport report;
  };
  Outcome Final(const std::string& address) {
    tarvo_object* unit = jobtest::FindUnit(table_, jobtest::Address(address));
    table_.Lock();
    Outcome outcome{unit->state, unit->statusText, unit->report ? *unit->report : JobReport()};
    table_.Unlock();
    return outcome;
  }

  std::string folder_;
  fs::path previous_;
  jobtest::RecordingChannel channel_;
  jobtest::ScriptedPinger pinger_;
  unit_table table_{&channel_, &pinger_};
  RecordingView view_;
  std::unique_ptr<TarvoLoadDialog> dialog_;
};

TEST_F(BadReleaseTest, EmptyManifestsAreRefusedAtStartUp) {
  Write("ftpdwnld.txt", "");
  ExpectRefusedAtStartUp("an empty manifest");
  Write("ftpdwnld.txt", "# nothing but a comment\n\n   \ncd /opt/tarvo\nauto_install\n");
  ExpectRefusedAtStartUp("a manifest that sends nothing");
  Write("empty.bin", "");
  Write("ftpdwnld.txt", "send empty.bin\nsend empty.bin other.bin\nauto_install\n");
  ExpectRefusedAtStartUp("a manifest of empty files");
}

TEST_F(BadReleaseTest, WhatIsNoReadableFileIsRefusedAtStartUp) {
  Write("good.bin", "good");
  fs::create_directory("folder.bin");
  Write("ftpdwnld.txt", "send good.bin\nsend folder.bin\n");
  ExpectRefusedAtStartUp("a directory where a file is named");
  if (MakeUnreadable("pipe.bin")) {
    Write("ftpdwnld.txt", "send good.bin\nsend pipe.bin\n");
    ExpectRefusedAtStartUp("a file that may not be read");
  }
  // A Latin-1 "é": no UTF-8, whatever the disk holds under that name.
  Write("caf\xE9.bin", "latin-1");
  Write("ftpdwnld.txt", "send good.bin\nsend caf\xE9.bin\n");
  ExpectRefusedAtStartUp("a name that is no UTF-8");
}

// A 100 MB line: as a file name it names no file; as an unknown command it
// is skipped, and the release around it loads.
TEST_F(BadReleaseTest, HundredMegabyteLinesAreRefusedOrSkipped) {
  const std::string huge(100u << 20, 'a');
  Write("good.bin", "good");
  {
    std::ofstream manifest("ftpdwnld.txt", std::ios::binary);
    manifest << "send good.bin\nsend " << huge << "\n";
  }
  ExpectRefusedAtStartUp("a 100 MB file name");
  {
    std::ofstream manifest("ftpdwnld.txt", std::ios::binary);
    manifest << huge << "\nsend good.bin good.bin\nauto_install\n";
  }
  ASSERT_TRUE(Start()) << "a 100 MB unknown command is skipped";
  EXPECT_TRUE(view_.messages.empty());
  ASSERT_EQ(dialog_->manifest().entries.size(), 1u);
  EXPECT_EQ(dialog_->manifest().totalSize, 4u);
}

class BadReleaseUnitSimTest : public BadReleaseTest {
 protected:
  void SetUp() override {
    BadReleaseTest::SetUp();
    if (IsSkipped()) return;
    ZEQ_REQUIRE_UNITSIM();
    sim_.AddUnit(SimUnit("127.0.0.2"));
    ASSERT_TRUE(sim_.Start()) << sim_.Error();
    sim_.StoreInstallScript("127.0.0.2");
  }

  // A release of three files whose second one the test spoils after
  // start-up.
  void StartGoodRelease() {
    Write("first.bin", std::string(1000, '1'));
    Write("second.bin", std::string(2000, '2'));
    Write("third.bin", std::string(3000, '3'));
    Write("ftpdwnld.txt",
          "cd /opt/tarvo\nsend first.bin first.bin\nsend second.bin second.bin\n"
          "send third.bin third.bin\nauto_install\n");
    ASSERT_TRUE(Start());
  }

  // The job stopped at the second file: a copy failure, the first file on
  // the unit, nothing after it, and no install script.
  void ExpectCopyFailureAtTheSecondFile(const std::string& what) {
    SCOPED_TRACE(what);
    const Outcome outcome = Final("127.0.0.2");
    EXPECT_EQ(outcome.text, "Failed Connection");
    EXPECT_EQ(outcome.state, InstallState::Failed);
    EXPECT_EQ(outcome.report.failure, FailureClass::Copy);
    EXPECT_NE(outcome.report.installError, 0);
    std::vector<std::string> stored;
    for (const SimEvent& event : sim_.Events("file", "127.0.0.2")) {
      if (event.Bool("stored")) stored.push_back(event.Str("name"));
    }
    EXPECT_EQ(stored, std::vector<std::string>{"/opt/tarvo/first.bin"});
    EXPECT_TRUE(sim_.Events("install").empty());
  }

  testsupport::UnitSim sim_;
};

TEST_F(BadReleaseUnitSimTest, FileThatVanishesAfterStartUpFailsTheCopy) {
  StartGoodRelease();
  fs::remove("second.bin");
  InstallByHand(2);
  ExpectCopyFailureAtTheSecondFile("a file removed");
}

TEST_F(BadReleaseUnitSimTest, FileTurnedIntoADirectoryAfterStartUpFailsTheCopy) {
  StartGoodRelease();
  fs::remove("second.bin");
  fs::create_directory("second.bin");
  InstallByHand(2);
  ExpectCopyFailureAtTheSecondFile("a directory");
}

TEST_F(BadReleaseUnitSimTest, FileMadeUnreadableAfterStartUpFailsTheCopy) {
  StartGoodRelease();
  if (!MakeUnreadable("second.bin")) GTEST_SKIP() << "no mkfifo command here";
  InstallByHand(2);
  ExpectCopyFailureAtTheSecondFile("a file that may not be read");
}

TEST_F(BadReleaseUnitSimTest, NamesOutsideAsciiAreCopiedUnderTheirOwnNames) {
  for (const char* name : {kCafe, kUnicode, kCjk}) Write(Utf8Path(name), name);
  std::string manifest = "cd /opt/tarvo\n";
  for (const char* name : {kCafe, kUnicode, kCjk})
    manifest += std::string("send ") + name + " " + name + "\n";
  Write("ftpdwnld.txt", manifest + "auto_install\n");
  ASSERT_TRUE(Start());
  ASSERT_EQ(dialog_->manifest().entries.size(), 3u);
  InstallByHand(2);
  const Outcome outcome = Final("127.0.0.2");
  EXPECT_EQ(outcome.text, "Success");
  EXPECT_EQ(outcome.state, InstallState::Finished);
  for (const char* name : {kCafe, kUnicode, kCjk}) {
    std::ifstream stored(Utf8Path(sim_.StoredPath("127.0.0.2", std::string("/opt/tarvo/") + name)),
                         std::ios::binary);
    std::string content;
    std::getline(stored, content);
    EXPECT_EQ(content, name);
  }
}

}  // namespace
