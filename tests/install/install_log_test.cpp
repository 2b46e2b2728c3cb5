// The install log: line format, creation, appending up to the size limit and
// emptying beyond it, text written as it is, and parallel writers.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "install/InstallLog.h"
#include "platform/Files.h"
#include "platform/LocalFile.h"
#include "platform/Sockets.h"

namespace {

using testsupport::Address;

const std::regex kLine(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d 192\.168\.10\.20 Install Started)");

class InstallLogTest : public testing::Test {
 protected:
  void SetUp() override {
    // A folder per test: ctest runs the tests of this file in processes of
    // their own, side by side, and a shared log would mix their lines.
    folder_ = testsupport::ScratchDirectory(
        std::string("install_log-") +
        testing::UnitTest::GetInstance()->current_test_info()->name());
    SetInstallLogDirectoryForTesting(folder_);
    std::filesystem::remove(InstallLogPath());
  }
  void TearDown() override { SetInstallLogDirectoryForTesting(std::string()); }

  // The log's lines as text (line ends read in text mode).
  static std::vector<std::string> Lines() {
    std::ifstream file(InstallLogPath());
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  // A log of exactly count bytes on disk: x's and a line feed.
  static void WriteBytes(std::size_t count) {
    std::ofstream(InstallLogPath(), std::ios::binary) << std::string(count - 1, 'x') << '\n';
  }
  static std::uintmax_t Size() { return std::filesystem::file_size(InstallLogPath()); }

  std::string folder_;
};

TEST_F(InstallLogTest, FirstEventCreatesTheLogWithOneLine) {
  LogInstallEvent(Address("192.168.10.20"), "Install Started");
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], kLine)) << lines[0];
  const std::time_t now = std::time(nullptr);
  char year[3];
  std::strftime(year, sizeof year, "%y", std::localtime(&now));
  EXPECT_EQ(lines[0].substr(0, 2), year);
}

TEST_F(InstallLogTest, LogLivesInTheSystemFolderUnderItsName) {
  SetInstallLogDirectoryForTesting(std::string());
  EXPECT_EQ(InstallLogPath(),
            platform::SystemLogDirectory() + platform::kPathSeparator + "zeqtarvo_install.log");
}

TEST_F(InstallLogTest, AppendsUpToTheLimitAndEmptiesBeyondIt) {
  WriteBytes(10240);
  LogInstallEvent(Address("192.168.10.20"), "Install Started");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(10239, 'x'));
  EXPECT_TRUE(std::regex_match(lines[1], kLine)) << lines[1];

  WriteBytes(10241);
  LogInstallEvent(Address("192.168.10.20"), "Install Started");
  lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], kLine)) << lines[0];
}

TEST_F(InstallLogTest, TextIsWrittenUnchanged) {
  LogInstallEvent(Address("10.0.0.7"), "100% done %s %d %n");
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(17), " 10.0.0.7 100% done %s %d %n");
}

TEST_F(InstallLogTest, MissingFolderDropsTheEventSilently) {
  SetInstallLogDirectoryForTesting(folder_ + "/no/such/folder");
  EXPECT_EQ(OpenInstallLog(), nullptr);
  LogInstallEvent(Address("10.0.0.7"), "Install Started");
  EXPECT_FALSE(std::filesystem::exists(InstallLogPath()));
}

TEST_F(InstallLogTest, ParallelWritersProduceWholeLines) {
  constexpr int kThreads = 4;
  constexpr int kEvents = 50;  // 200 short lines stay below the size limit
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([] {
      for (int i = 0; i < kEvents; ++i)
        LogInstallEvent(Address("192.168.10.20"), "Install Started");
    });
  }
  for (std::thread& writer : writers) writer.join();
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEvents));
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, kLine)) << line;
}

TEST_F(InstallLogTest, ParallelWritersEmptyAnOverfullLogOnlyOnce) {
  // Writers that start together on an overfull log: the first empties it and
  // every line then follows. Were the size check and the emptying not under
  // the one lock, a second writer could also find the log too long and empty
  // it again, losing the lines written meanwhile.
  constexpr int kThreads = 8;
  for (int round = 0; round < 30; ++round) {
    WriteBytes(10241);
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&waiting] {
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        LogInstallEvent(Address("192.168.10.20"), "Install Started");
      });
    }
    for (std::thread& writer : writers) writer.join();
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads)) << "round " << round;
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, kLine)) << line;
  }
}

}  // namespace
