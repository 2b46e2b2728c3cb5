// Interoperation with a real telnet server and a real POSIX shell rather than
// our own simulator: inetutils telnetd, started by inetutils inetd on
// 127.0.0.1 inside the private namespace and given a login program that shows
// the unit's prompts (remote_shell_telnetd.sh). Login and RunInstallScript
// must get through the server's own option negotiation, the terminal's echo
// and line ends, and read the true exit status of a real script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "platform/Sockets.h"
#include "telnet/RemoteShell.h"
#include "telnet_peer.h"

namespace {

const std::string kServerScript =
    std::string(ZEQ_SOURCE_DIR) + "/tests/telnet/remote_shell_telnetd.sh";

int Shell(const std::string& command) { return std::system(command.c_str()); }

// A port nothing listens on: bound once and released. Nothing else binds
// ports in the test's own namespace in between.
std::uint16_t FreePort() {
  const platform::SocketHandle socket = platform::OpenTcpSocket();
  std::uint16_t port = 0;
  platform::Bind(socket, telnettest::Loopback(), 0);
  platform::GetLocalAddress(socket, nullptr, &port);
  platform::CloseSocket(socket);
  return port;
}

class RemoteShellTelnetdTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    // Under wine std::system runs the Windows command interpreter, which
    // finds no POSIX shell: the test needs Linux.
    if (Shell("sh -c true") != 0)
      GTEST_SKIP() << "Linux only: starts a Linux telnet server and /bin/sh, which the "
                      "Windows build cannot";
    if (Shell("sh " + kServerScript + " check") != 0) {
      if (testsupport::RunningInCi()) FAIL() << "inetutils-telnetd or inetutils-inetd missing";
      GTEST_SKIP() << "needs the Debian packages inetutils-telnetd and inetutils-inetd";
    }
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    folder_ = testsupport::ScratchDirectory(std::string("telnetd-") + test->name());
    port_ = FreePort();
  }

  void TearDown() override {
    if (started_) Shell("sh " + kServerScript + " stop " + folder_);
  }

  // Starts the server with an install script that exits with that status.
  void StartServer(int exitStatus) {
    ASSERT_EQ(Shell("sh " + kServerScript + " start " + folder_ + " " + std::to_string(port_) +
                    " " + std::to_string(exitStatus)),
              0);
    started_ = true;
  }

  bool ScriptRan() const { return std::filesystem::exists(folder_ + "/rsa/installed"); }

  std::string folder_;
  std::uint16_t port_ = 0;
  bool started_ = false;
};

TEST_F(RemoteShellTelnetdTest, LoginAndInstallReadTheScriptsTrueExitStatus) {
  for (int status : {0, 1, 127, 3}) {
    SCOPED_TRACE(status);
    StartServer(status);
    TelnetSession session("root", "qorvane");
    ASSERT_EQ(session.Connect(telnettest::Loopback(), port_), 1);
    ASSERT_EQ(Login(session), 3);
    EXPECT_EQ(RunInstallScript(session, "$rsa/install.script"), status);
    EXPECT_TRUE(ScriptRan()) << "chmod and textto made the script runnable";
    session.Disconnect(0);
    Shell("sh " + kServerScript + " stop " + folder_);
  }
}

TEST_F(RemoteShellTelnetdTest, RunCommandGetsTheShellsEchoAndOutput) {
  StartServer(0);
  TelnetSession session("root", "qorvane");
  ASSERT_EQ(session.Connect(telnettest::Loopback(), port_), 1);
  ASSERT_EQ(Login(session), 3);
  EXPECT_EQ(RunCommand(session, "echo $((6 * 7))"), "echo $((6 * 7))\r\n42\r");
  EXPECT_EQ(RunCommand(session, "false"), "false\r");
  EXPECT_EQ(ReadExitStatus(RunCommand(session, "echo $?")), 1);
}

TEST_F(RemoteShellTelnetdTest, WrongPasswordIsRefused) {
  StartServer(0);
  TelnetSession session("root", "wrong");
  ASSERT_EQ(session.Connect(telnettest::Loopback(), port_), 1);
  EXPECT_EQ(Login(session), 0);
  EXPECT_EQ(RunInstallScript(session, "$rsa/install.script"), -1) << "nothing was sent";
  EXPECT_FALSE(ScriptRan());
}

}  // namespace
