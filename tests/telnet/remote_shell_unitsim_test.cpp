// Login and the install command sequence against simulated units: the exit
// statuses the job tells apart (0, 1, 127), a refused password, a password
// prompt with a capital P that is never recognised, and a unit that restarts
// while its install script runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "platform/Sockets.h"
#include "telnet/RemoteShell.h"

namespace {

using testsupport::SimEvent;
using testsupport::SimUnit;
using testsupport::UnitSim;

const char kScript[] = "$rsa/install.script";

using testsupport::Address;

class RemoteShellUnitSimTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
  }

  // Starts the units, each holding the install script as if the job had
  // copied it already.
  void StartUnits(const std::vector<SimUnit>& units) {
    for (const SimUnit& unit : units) sim_.AddUnit(unit);
    ASSERT_TRUE(sim_.Start()) << sim_.Error();
    for (const SimUnit& unit : units) sim_.StoreInstallScript(unit.address);
  }

  // Runs Login on a job thread and stands in for the cancel from the main
  // thread: once Login has reached the stage and still waits, disconnects
  // the session. Returns what Login returned.
  static int LoginCancelledAtStage(TelnetSession& session, int stage) {
    std::atomic<int> result{99};
    std::thread job([&] { result = Login(session); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (session.getLoginStage() != stage && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(session.getLoginStage(), stage);
    EXPECT_EQ(result.load(), 99) << "Login ended before the cancel";
    session.Disconnect(0);
    job.join();
    return result.load();
  }

  UnitSim sim_;
};

TEST_F(RemoteShellUnitSimTest, InstallScriptExitStatusesReachTheJob) {
  StartUnits({SimUnit("127.0.0.2").Knob("exit=0"), SimUnit("127.0.0.3").Knob("exit=1"),
              SimUnit("127.0.0.4").Knob("exit=127")});
  const struct {
    const char* unit;
    int status;
  } cases[] = {{"127.0.0.2", 0}, {"127.0.0.3", 1}, {"127.0.0.4", 127}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    TelnetSession session("root", "qorvane");
    ASSERT_EQ(session.Connect(Address(c.unit), 23), 1);
    ASSERT_EQ(Login(session), 3);
    EXPECT_EQ(RunInstallScript(session, kScript), c.status);
    session.Disconnect(0);
    SimEvent install;
    ASSERT_TRUE(sim_.WaitForEvent("install", c.unit, 5000, &install));
    EXPECT_EQ(install.Int("status"), c.status);
  }
}

TEST_F(RemoteShellUnitSimTest, UnitSeesTheNegotiationAndTheFiveCommandsInOrder) {
  StartUnits({SimUnit("127.0.0.2")});
  TelnetSession session("root", "qorvane");
  ASSERT_EQ(session.Connect(Address("127.0.0.2"), 23), 1);
  ASSERT_EQ(Login(session), 3);
  EXPECT_EQ(RunInstallScript(session, kScript), 0);
  session.Disconnect(0);
  ASSERT_TRUE(sim_.WaitForEvent("disconnect", "127.0.0.2", 5000));
  SimEvent login;
  ASSERT_TRUE(sim_.WaitForEvent("login", "127.0.0.2", 1000, &login));
  EXPECT_EQ(login.Str("user"), "root");
  EXPECT_TRUE(login.Bool("ok"));
  std::vector<std::string> commands;
  for (const SimEvent& event : sim_.Events("telnet_line", "127.0.0.2")) {
    if (event.Str("stage") != "command") continue;
    commands.push_back(event.Str("text"));
    EXPECT_EQ(event.Str("end"), "LF") << event.line;
  }
  const std::vector<std::string> expected = {"ditto -k /dev/con1",
                                             "chmod +x $rsa/install.script",
                                             "textto $rsa/install.script",
                                             "$rsa/install.script",
                                             "echo $?",
                                             ""};
  EXPECT_EQ(commands, expected);
  bool sawTerminalType = false;
  bool sawWindowSize = false;
  for (const SimEvent& event : sim_.Events("telnet_subneg", "127.0.0.2")) {
    if (event.Str("ttype") == "XTERM") sawTerminalType = true;
    if (event.Int("width") == 80 && event.Int("height") == 25) sawWindowSize = true;
  }
  EXPECT_TRUE(sawTerminalType);
  EXPECT_TRUE(sawWindowSize);
  // $rsa was expanded by the unit in chmod, textto and the run itself.
  std::ifstream script(sim_.StoredPath("127.0.0.2", "/rsa/install.script"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(script)),
                         std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "#!/bin/sh\necho installing\n") << "textto turned the line ends";
}

TEST_F(RemoteShellUnitSimTest, BannerBeforeTheLoginPromptStillLogsIn) {
  StartUnits({SimUnit("127.0.0.2").Knob("banner=Tarvo field unit")});
  TelnetSession session("root", "qorvane");
  ASSERT_EQ(session.Connect(Address("127.0.0.2"), 23), 1);
  EXPECT_EQ(Login(session), 3);
}

TEST_F(RemoteShellUnitSimTest, RefusedPasswordEndsLoginAtStageZero) {
  StartUnits({SimUnit("127.0.0.2").Knob("refuse-password")});
  TelnetSession session("root", "qorvane");
  ASSERT_EQ(session.Connect(Address("127.0.0.2"), 23), 1);
  EXPECT_EQ(Login(session), 0);
  EXPECT_EQ(RunCommand(session, "echo $?"), "") << "nothing is sent when not logged in";
  SimEvent login;
  ASSERT_TRUE(sim_.WaitForEvent("login", "127.0.0.2", 5000, &login));
  EXPECT_FALSE(login.Bool("ok"));
}

TEST_F(RemoteShellUnitSimTest, CapitalPasswordPromptWaitsUntilCancelled) {
  StartUnits({SimUnit("127.0.0.2").Knob("banner=Tarvo").Knob("capital-password")});
  TelnetSession session("root", "qorvane");
  ASSERT_EQ(session.Connect(Address("127.0.0.2"), 23), 1);
  EXPECT_EQ(LoginCancelledAtStage(session, 1), 0);
  EXPECT_TRUE(sim_.Events("login", "127.0.0.2").empty()) << "the password never went out";
}

TEST_F(RemoteShellUnitSimTest, LoginWordWithoutNewlineWaitsUntilCancelled) {
  StartUnits({SimUnit("127.0.0.2").Knob("bare-login")});
  TelnetSession session("root", "qorvane");
  ASSERT_EQ(session.Connect(Address("127.0.0.2"), 23), 1);
  EXPECT_EQ(LoginCancelledAtStage(session, 0), 0);
  EXPECT_TRUE(sim_.Events("telnet_line", "127.0.0.2").empty()) << "no user name went out";
}

TEST_F(RemoteShellUnitSimTest, RestartDuringTheInstallGivesMinusOne) {
  StartUnits({SimUnit("127.0.0.2").Knob("restart-on-install")});
  TelnetSession session("root", "qorvane");
  ASSERT_EQ(session.Connect(Address("127.0.0.2"), 23), 1);
  ASSERT_EQ(Login(session), 3);
  EXPECT_EQ(RunInstallScript(session, kScript), -1);
  EXPECT_FALSE(session.isConnected());
  EXPECT_TRUE(sim_.WaitForEvent("restart", "127.0.0.2", 5000));
}

}  // namespace
