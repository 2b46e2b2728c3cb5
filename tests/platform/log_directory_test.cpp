// Where the install log goes on Linux: ZEQ_WINDOWS_DIR when set, /var/log for
// root, and the user's XDG state folder (created when missing) for everyone
// else, including root of a user namespace, who cannot write to /var/log.
// The folder depends on the user and the environment the program starts
// with, so every case runs this test program again as a child, under `env`
// (and `setpriv` to become an ordinary user when the test runs as root); the
// child compares the folder with the one it was told to expect. On Windows
// the folder is the Windows directory and these cases skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Files.h"
#include "platform/LocalFile.h"
#include "platform/Process.h"

namespace {

TEST(LogDirectoryChild, DISABLED_IsTheExpectedFolder) {
  const char* expected = std::getenv("ZEQ_EXPECT_LOG_DIR");
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(platform::SystemLogDirectory(), expected);
  EXPECT_TRUE(platform::FileExists(expected)) << expected;
}

bool RunningAsRoot() { return std::system("test \"$(id -u)\" = 0") == 0; }

class LogDirectoryTest : public testing::Test {
 protected:
  void SetUp() override {
    if (platform::kPathSeparator != '/') GTEST_SKIP() << "the Windows directory holds the log";
    root_ = RunningAsRoot();
    // An ordinary user writes here too, so the folder is open to everyone.
    // Each case has its own, as ctest runs the cases side by side.
    folder_ = testsupport::ScratchDirectory(
        std::string("log-directory-") +
        testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ + "/home");
    for (const std::string& path : {folder_, folder_ + "/home"}) {
      std::filesystem::permissions(path, std::filesystem::perms::all);
    }
  }

  // Runs the child with the given environment (names to clear are written
  // "-u NAME"), as an ordinary user when `ordinary` and the test runs as
  // root, inside a user namespace of its own when `userNamespace`. Returns
  // the child's exit code.
  int RunChild(const std::vector<std::string>& environment, bool ordinary,
               bool userNamespace = false) {
    std::vector<std::string> arguments;
    std::string program = "env";
    if (ordinary && root_) {
      program = "setpriv";
      arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", "env"};
    }
    if (userNamespace) {
      arguments.insert(arguments.end(), {"unshare", "--user", "--map-root-user", "env"});
      if (program == "env") {
        program = "unshare";
        arguments.erase(arguments.begin());
      }
    }
    arguments.insert(arguments.end(), {"-u", "ZEQ_WINDOWS_DIR", "-u", "XDG_STATE_HOME"});
    for (const std::string& setting : environment) {
      if (setting.rfind("-u ", 0) == 0) {
        arguments.insert(arguments.end(), {"-u", setting.substr(3)});
      } else {
        arguments.push_back(setting);
      }
    }
    arguments.insert(arguments.end(),
                     {platform::ProgramPath(), "--gtest_filter=LogDirectoryChild.*",
                      "--gtest_also_run_disabled_tests"});
    platform::ProcessHandle* child = platform::StartProcess(program, arguments, nullptr);
    int code = -1000;
    if (child != nullptr && platform::WaitProcess(child, 60000) == 1) {
      platform::ProcessExitCode(child, &code);
    }
    platform::CloseProcess(child);
    return code;
  }

  bool root_ = false;
  std::string folder_;
};

TEST_F(LogDirectoryTest, RootWritesBesideTheSystemLogs) {
  if (!root_) GTEST_SKIP() << "needs root";
  EXPECT_EQ(RunChild({"ZEQ_EXPECT_LOG_DIR=/var/log"}, false), 0);
}

TEST_F(LogDirectoryTest, OrdinaryUserGetsTheStateFolderCreatedWhenMissing) {
  const std::string state = folder_ + "/state";
  EXPECT_EQ(RunChild({"XDG_STATE_HOME=" + state, "HOME=" + folder_ + "/home",
                      "ZEQ_EXPECT_LOG_DIR=" + state + "/fieldloader"},
                     true),
            0);
  EXPECT_TRUE(std::filesystem::is_directory(state + "/fieldloader"));
}

TEST_F(LogDirectoryTest, WithoutXdgStateHomeTheDefaultUnderHome) {
  const std::string expected = folder_ + "/home/.local/state/fieldloader";
  EXPECT_EQ(RunChild({"HOME=" + folder_ + "/home", "ZEQ_EXPECT_LOG_DIR=" + expected}, true), 0);
  // A relative XDG_STATE_HOME is not a valid setting and falls back the same.
  EXPECT_EQ(RunChild({"XDG_STATE_HOME=relative/state", "HOME=" + folder_ + "/home",
                      "ZEQ_EXPECT_LOG_DIR=" + expected},
                     true),
            0);
  EXPECT_FALSE(std::filesystem::exists("relative"));
}

TEST_F(LogDirectoryTest, ConfiguredFolderWinsForEveryUser) {
  const std::string configured = folder_ + "/configured";
  std::filesystem::create_directories(configured);
  for (const bool ordinary : {false, true}) {
    EXPECT_EQ(RunChild({"ZEQ_WINDOWS_DIR=" + configured, "XDG_STATE_HOME=" + folder_ + "/state",
                        "ZEQ_EXPECT_LOG_DIR=" + configured},
                       ordinary),
              0);
  }
}

TEST_F(LogDirectoryTest, RootOfAUserNamespaceCountsAsAnOrdinaryUser) {
  const std::string asOrdinaryUser =
      root_ ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  if (std::system((asOrdinaryUser + "unshare --user --map-root-user true 2>/dev/null").c_str()) !=
      0) {
    if (testsupport::RunningInCi()) FAIL() << "no user namespaces for an ordinary user";
    GTEST_SKIP() << "user namespaces are not available to an ordinary user here";
  }
  const std::string state = folder_ + "/state";
  EXPECT_EQ(RunChild({"XDG_STATE_HOME=" + state, "HOME=" + folder_ + "/home",
                      "ZEQ_EXPECT_LOG_DIR=" + state + "/fieldloader"},
                     true, true),
            0);
}

}  // namespace
