// The root-shell dialogue: reading the exit status from the answer to
// "echo $?", and Login, RunCommand and RunInstallScript against a scripted
// peer that checks every line the installer sends, in order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

#include "TestSupport.h"
#include "telnet/RemoteShell.h"
#include "telnet_peer.h"

namespace {

using telnettest::Loopback;
using telnettest::ScriptedPeer;

TEST(ReadExitStatusTest, ReadsTheNumberAfterTheEchoedCommand) {
  EXPECT_EQ(ReadExitStatus("echo $?\r\n0\r\n"), 0);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n1\r"), 1);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n127\r"), 127);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n12abc"), 12) << "digits up to the first non-digit";
}

TEST(ReadExitStatusTest, SkipsWhiteSpaceAndTakesASign) {
  // A terminal that echoes the empty second line before the status.
  EXPECT_EQ(ReadExitStatus("echo $?\r\n\r\n0\r\n"), 0);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n \t5\r"), 5);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n+7\r"), 7);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n-3\r"), -3);
}

TEST(ReadExitStatusTest, ShortResponseMeansNoStatus) {
  EXPECT_EQ(ReadExitStatus(""), -1);
  EXPECT_EQ(ReadExitStatus("echo $?\r"), -1);
}

TEST(ReadExitStatusTest, UnreadableTextNeverReadsAsSuccessOrNoAnswer) {
  EXPECT_NE(kUnreadableExitStatus, 0);
  EXPECT_NE(kUnreadableExitStatus, -1);
  EXPECT_NE(kUnreadableExitStatus, 1) << "1 would be shown as \"Success\"";
  EXPECT_EQ(ReadExitStatus("echo $?\r\n"), kUnreadableExitStatus) << "exactly 9 characters";
  EXPECT_EQ(ReadExitStatus("echo $?\r\nsh: not found\r"), kUnreadableExitStatus);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n-\r"), kUnreadableExitStatus);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n   "), kUnreadableExitStatus);
}

TEST(ReadExitStatusTest, NumbersBeyondAnIntAreUnreadable) {
  EXPECT_EQ(ReadExitStatus("echo $?\r\n2147483647\r"), INT_MAX);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n-2147483648\r"), INT_MIN);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n2147483648\r"), kUnreadableExitStatus);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n-2147483649\r"), kUnreadableExitStatus);
  EXPECT_EQ(ReadExitStatus("echo $?\r\n99999999999999999999999\r"), kUnreadableExitStatus);
}

class RemoteShellTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }

  void Start(ScriptedPeer& peer) {
    ASSERT_TRUE(peer.isListening());
    peer.Start();
    ASSERT_EQ(session_.Connect(Loopback(), peer.getPort()), 1);
  }

  // The unit's side of a successful login, as the scripted peer plays it.
  static void AcceptLogin(ScriptedPeer& peer) {
    peer.Send("Tarvo unit\r\nlogin: ")
        .Expect("root\n")
        .Send("password: ")
        .Expect("qorvane\n")
        .Send("\r\n# ");
  }

  // One command of the shell: the installer's line, the unit's echo, its
  // output and the next prompt.
  static void Command(ScriptedPeer& peer, const std::string& line, const std::string& output) {
    peer.Expect(line + "\n").Send(line + "\r\n" + output + "# ");
  }

  TelnetSession session_{"root", "qorvane"};
};

TEST_F(RemoteShellTest, LoginSendsUserAndPasswordAndReachesTheShell) {
  ScriptedPeer peer;
  AcceptLogin(peer);
  peer.ExpectClose();
  Start(peer);
  EXPECT_EQ(Login(session_), 3);
  EXPECT_EQ(session_.getLoginStage(), 3);
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(RemoteShellTest, RefusedPasswordBringsTheLoginPromptBack) {
  ScriptedPeer peer;
  peer.Send("\r\nlogin: ")
      .Expect("root\n")
      .Send("password: ")
      .Expect("qorvane\n")
      .Send("\r\nLogin incorrect\r\nlogin: ")
      .ExpectClose();
  Start(peer);
  EXPECT_EQ(Login(session_), 0);
  EXPECT_EQ(session_.getLoginStage(), 0);
  EXPECT_TRUE(session_.isConnected()) << "a refused login leaves the connection to the job";
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(RemoteShellTest, CapitalPasswordPromptWaitsUntilCancelled) {
  ScriptedPeer peer;
  peer.Send("Banner\r\nlogin: ").Expect("root\n").Send("Password: ").ExpectClose();
  Start(peer);
  std::atomic<int> stage{99};
  std::thread job([&] { stage = Login(session_); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (session_.getLoginStage() != 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(session_.getLoginStage(), 1) << "the user name went out";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(stage.load(), 99) << "still waiting for \"password:\"";
  session_.Disconnect(0);  // the cancel
  job.join();
  EXPECT_EQ(stage.load(), 0);
  EXPECT_EQ(peer.Finish(), "");
  EXPECT_EQ(peer.getReceived(), "root\n") << "no password after \"Password:\"";
}

TEST_F(RemoteShellTest, LoginWordWithoutANewlineIsNotTheLoginPrompt) {
  ScriptedPeer peer;
  peer.Send("login: ").Pause(200).Close();
  Start(peer);
  EXPECT_EQ(Login(session_), 0);
  EXPECT_EQ(peer.Finish(), "");
  EXPECT_EQ(peer.getReceived(), "");
}

TEST_F(RemoteShellTest, RunCommandBeforeLoginSendsNothing) {
  ScriptedPeer peer;
  peer.ExpectClose();
  Start(peer);
  EXPECT_EQ(RunCommand(session_, "reboot"), "");
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
  EXPECT_EQ(peer.getReceived(), "");
}

TEST_F(RemoteShellTest, RunCommandReturnsEchoAndOutputBeforeThePrompt) {
  ScriptedPeer peer;
  AcceptLogin(peer);
  Command(peer, "uname", "Tarvo\r\n");
  peer.ExpectClose();
  Start(peer);
  ASSERT_EQ(Login(session_), 3);
  EXPECT_EQ(RunCommand(session_, "uname"), "uname\r\nTarvo\r");
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(RemoteShellTest, OutputLineStartingWithHashEndsTheCommandEarly) {
  ScriptedPeer peer;
  AcceptLogin(peer);
  Command(peer, "cat notes", "first\r\n# second\r\n");
  peer.ExpectClose();
  Start(peer);
  ASSERT_EQ(Login(session_), 3);
  EXPECT_EQ(RunCommand(session_, "cat notes"), "cat notes\r\nfirst\r");
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(RemoteShellTest, InstallScriptRunsTheFiveCommandsInOrder) {
  ScriptedPeer peer;
  AcceptLogin(peer);
  Command(peer, "ditto -k /dev/con1", "");
  Command(peer, "chmod +x $rsa/install.script", "");
  Command(peer, "textto $rsa/install.script", "");
  Command(peer, "$rsa/install.script", "installing\r\n");
  peer.Expect("echo $?\n\n").Send("echo $?\r\n1\r\n# \r\n# ").ExpectClose();
  Start(peer);
  ASSERT_EQ(Login(session_), 3);
  EXPECT_EQ(RunInstallScript(session_, "$rsa/install.script"), 1);
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(RemoteShellTest, FailingPreparationDoesNotStopTheSequence) {
  ScriptedPeer peer;
  AcceptLogin(peer);
  Command(peer, "ditto -k /dev/con1", "sh: ditto: not found\r\n");
  Command(peer, "chmod +x /opt/rel/install.script", "chmod: No such file\r\n");
  Command(peer, "textto /opt/rel/install.script", "");
  Command(peer, "/opt/rel/install.script", "");
  peer.Expect("echo $?\n\n").Send("echo $?\r\n0\r\n# ").ExpectClose();
  Start(peer);
  ASSERT_EQ(Login(session_), 3);
  EXPECT_EQ(RunInstallScript(session_, "/opt/rel/install.script"), 0);
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(RemoteShellTest, ConnectionLostDuringTheInstallGivesMinusOne) {
  ScriptedPeer peer;
  AcceptLogin(peer);
  Command(peer, "ditto -k /dev/con1", "");
  Command(peer, "chmod +x $rsa/install.script", "");
  Command(peer, "textto $rsa/install.script", "");
  peer.Expect("$rsa/install.script\n").Send("$rsa/install.script\r\nrestarting\r\n").Close();
  Start(peer);
  ASSERT_EQ(Login(session_), 3);
  EXPECT_EQ(RunInstallScript(session_, "$rsa/install.script"), -1);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(RemoteShellTest, StatusTextThatIsNoNumberIsUnreadable) {
  ScriptedPeer peer;
  AcceptLogin(peer);
  Command(peer, "ditto -k /dev/con1", "");
  Command(peer, "chmod +x s", "");
  Command(peer, "textto s", "");
  Command(peer, "s", "");
  peer.Expect("echo $?\n\n").Send("echo $?\r\nlost\r\n# ").ExpectClose();
  Start(peer);
  ASSERT_EQ(Login(session_), 3);
  EXPECT_EQ(RunInstallScript(session_, "s"), kUnreadableExitStatus);
  session_.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

}  // namespace
