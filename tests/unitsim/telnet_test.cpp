// The telnet service and the root shell, byte for byte as a client sees
// them, and every telnet knob's effect on the wire.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>
#include <iterator>

#include "SimTest.h"

namespace simtest {
namespace {

const std::string kNegotiation =
    Bytes({0xFF, 0xFB, 0x01, 0xFF, 0xFB, 0x03, 0xFF, 0xFD, 0x18, 0xFF, 0xFD, 0x1F});

class TelnetTest : public SimTest {
 protected:
  // Sends a command line and returns what came back up to the next prompt.
  std::string Run(const std::string& line) {
    telnet.Send(line);
    return telnet.ReadUntil("\n# ", 3000);
  }
  void PutScript(std::uint16_t mode) {
    Tcp files;
    ASSERT_TRUE(files.Connect("127.0.0.2", 4877));
    ASSERT_EQ(PutFile(files, "/rsa/install.script", "#!/bin/sh\r\nexit 0\r\n", mode).size(), 24u);
  }
  Tcp telnet;
};

TEST_F(TelnetTest, GreetsWithNegotiationThenTheLoginPrompt) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  EXPECT_EQ(Hex(telnet.ReadUntil("login: ", 3000)), Hex(kNegotiation + "\r\nlogin: "));
}

TEST_F(TelnetTest, LoginDialogueReachesTheRootPrompt) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  telnet.ReadUntil("login: ", 3000);
  telnet.Send("root\n");
  EXPECT_EQ(telnet.ReadUntil("password: ", 3000), "root\r\npassword: ");
  telnet.Send("qorvane\n");
  EXPECT_EQ(telnet.ReadUntil("# ", 3000), "\r\n# ");
  testsupport::SimEvent login;
  ASSERT_TRUE(sim.WaitForEvent("login", "127.0.0.2", 2000, &login));
  EXPECT_TRUE(login.Bool("ok"));
}

TEST_F(TelnetTest, InstallDialogueEchoesEveryCommandAndReportsTheStatus) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  PutScript(0644);
  ASSERT_TRUE(LoginAsRoot(telnet, "127.0.0.2"));
  EXPECT_EQ(Run("$rsa/install.script\n"),
            "$rsa/install.script\r\nsh: /rsa/install.script: Permission denied\r\n# ");
  EXPECT_EQ(Run("ditto -k /dev/con1\n"), "ditto -k /dev/con1\r\n# ");
  EXPECT_EQ(Run("chmod +x $rsa/install.script\n"), "chmod +x $rsa/install.script\r\n# ");
  EXPECT_EQ(Run("textto $rsa/install.script\n"), "textto $rsa/install.script\r\n# ");
  EXPECT_EQ(Run("$rsa/install.script\n"), "$rsa/install.script\r\n# ");
  telnet.Send("echo $?\n\n");
  EXPECT_EQ(telnet.ReadUntil("\n# \r\n# ", 3000), "echo $?\r\n0\r\n# \r\n# ");
  testsupport::SimEvent install;
  ASSERT_TRUE(sim.WaitForEvent("install", "127.0.0.2", 2000, &install));
  EXPECT_EQ(install.Str("path"), "/rsa/install.script");
  std::ifstream script(sim.StoredPath("127.0.0.2", "/rsa/install.script"), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(script)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "#!/bin/sh\nexit 0\n") << "textto turns CR LF into LF";
}

TEST_F(TelnetTest, MissingScriptAndUnknownCommandsFailLikeAShell) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("rsa=/opt/r")})) << sim.Error();
  ASSERT_TRUE(LoginAsRoot(telnet, "127.0.0.2"));
  EXPECT_EQ(Run("chmod +x ${rsa}/x\n"),
            "chmod +x ${rsa}/x\r\nchmod: /opt/r/x: No such file or "
            "directory\r\n# ");
  EXPECT_EQ(Run("$rsa/install.script\n"),
            "$rsa/install.script\r\nsh: /opt/r/install.script: not found\r\n# ");
  EXPECT_EQ(Run("echo $?\n"), "echo $?\r\n127\r\n# ");
  EXPECT_EQ(Run("frobnicate\n"), "frobnicate\r\nsh: frobnicate: not found\r\n# ");
}

TEST_F(TelnetTest, LogsTheClientsOptionAnswersAndHowLinesEnd) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  telnet.ReadUntil("login: ", 3000);
  // What the installer's client answers to the default negotiation.
  telnet.Send(Bytes({0xFF, 0xFE, 0x01, 0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x18, 0xFF, 0xFA,
                     0x18, 0x00, 'X',  'T',  'E',  'R',  'M',  0xFF, 0xF0, 0xFF, 0xFB,
                     0x1F, 0xFF, 0xFA, 0x1F, 0,    80,   0,    25,   0xFF, 0xF0}));
  telnet.Send("ro" + Bytes({0xFF, 0xFF}) + "t\r\n");
  ASSERT_TRUE(sim.WaitForEvent("telnet_line", "127.0.0.2", 2000));
  const auto options = sim.Events("telnet_option", "127.0.0.2");
  ASSERT_EQ(options.size(), 4u);
  EXPECT_EQ(options[0].Str("verb") + " " + options[0].Str("option"), "DONT 1");
  EXPECT_EQ(options[1].Str("verb") + " " + options[1].Str("option"), "DO 3");
  EXPECT_EQ(options[2].Str("verb") + " " + options[2].Str("option"), "WILL 24");
  EXPECT_EQ(options[3].Str("verb") + " " + options[3].Str("option"), "WILL 31");
  const auto subs = sim.Events("telnet_subneg", "127.0.0.2");
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0].Str("ttype"), "XTERM");
  EXPECT_EQ(subs[1].Int("width"), 80);
  EXPECT_EQ(subs[1].Int("height"), 25);
  const auto lines = sim.Events("telnet_line", "127.0.0.2");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Str("text"), "ro\xfft");
  EXPECT_EQ(lines[0].Str("end"), "CRLF");
  EXPECT_EQ(lines[0].Str("stage"), "user");
}

TEST_F(TelnetTest, NegotiationKnobSetsTheOpeningBytes) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("telnet-opts=none"),
                     SimUnit("127.0.0.3").Knob("telnet-opts=do24+ttype-send+xfff1")}))
      << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  EXPECT_EQ(Hex(telnet.ReadUntil("login: ", 3000)), Hex("\r\nlogin: "));
  Tcp other;
  ASSERT_TRUE(other.Connect("127.0.0.3", 23));
  EXPECT_EQ(Hex(other.ReadUntil("login: ", 3000)),
            Hex(Bytes({0xFF, 0xFD, 0x18, 0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xF0, 0xFF, 0xF1}) +
                "\r\nlogin: "));
}

TEST_F(TelnetTest, WrongPasswordAndRefusePasswordKnobShowTheLoginPromptAgain) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2"), SimUnit("127.0.0.3").Knob("refuse-password")}))
      << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  telnet.ReadUntil("login: ", 3000);
  telnet.Send("root\n");
  telnet.ReadUntil("password: ", 3000);
  telnet.Send("wrong\n");
  EXPECT_EQ(telnet.ReadUntil("login: ", 3000), "\r\nLogin incorrect\r\nlogin: ");
  Tcp refused;
  ASSERT_TRUE(refused.Connect("127.0.0.3", 23));
  refused.ReadUntil("login: ", 3000);
  refused.Send("root\n");
  refused.ReadUntil("password: ", 3000);
  refused.Send("qorvane\n");
  EXPECT_EQ(refused.ReadUntil("login: ", 3000), "\r\nLogin incorrect\r\nlogin: ");
  testsupport::SimEvent login;
  ASSERT_TRUE(sim.WaitForEvent("login", "127.0.0.3", 2000, &login));
  EXPECT_FALSE(login.Bool("ok"));
}

TEST_F(TelnetTest, CapitalPasswordKnobAsksWithCapitalP) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("capital-password")})) << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  telnet.ReadUntil("login: ", 3000);
  telnet.Send("root\n");
  EXPECT_EQ(telnet.ReadUntil("Password: ", 3000), "root\r\nPassword: ");
}

TEST_F(TelnetTest, BannerKnobPrintsALineBeforeTheLoginPrompt) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("telnet-opts=none").Knob("banner=Tarvo%20T7")}))
      << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  EXPECT_EQ(telnet.ReadUntil("login: ", 3000), "Tarvo T7\r\nlogin: ");
}

TEST_F(TelnetTest, BareLoginKnobSendsNoNewlineBeforeTheLoginPrompt) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("telnet-opts=none").Knob("bare-login")}))
      << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  EXPECT_EQ(telnet.ReadUntil("login: ", 3000), "login: ");
}

TEST_F(TelnetTest, NoPromptKnobWithholdsThePromptButHearsTheLines) {
  ASSERT_TRUE(
      Start({SimUnit("127.0.0.2").Knob("no-prompt"), SimUnit("127.0.0.3").Knob("no-prompt=shell")}))
      << sim.Error();
  ASSERT_TRUE(telnet.Connect("127.0.0.2", 23));
  EXPECT_EQ(Hex(telnet.ReadFor(400)), Hex(kNegotiation));
  telnet.Send("root\n");
  testsupport::SimEvent line;
  ASSERT_TRUE(sim.WaitForEvent("telnet_line", "127.0.0.2", 2000, &line));
  EXPECT_EQ(line.Str("stage"), "no-login-prompt");
  EXPECT_EQ(telnet.ReadFor(200), "");
  Tcp shell;
  ASSERT_TRUE(shell.Connect("127.0.0.3", 23));
  shell.ReadUntil("login: ", 3000);
  shell.Send("root\n");
  shell.ReadUntil("password: ", 3000);
  shell.Send("qorvane\n");
  EXPECT_EQ(shell.ReadFor(400), "\r\n");
}

TEST_F(TelnetTest, ExitKnobIsTheStatusThatEchoReports) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("exit=3")})) << sim.Error();
  PutScript(0755);
  ASSERT_TRUE(LoginAsRoot(telnet, "127.0.0.2"));
  EXPECT_EQ(Run("$rsa/install.script\n"), "$rsa/install.script\r\n# ");
  EXPECT_EQ(Run("echo $?\n"), "echo $?\r\n3\r\n# ");
  testsupport::SimEvent install;
  ASSERT_TRUE(sim.WaitForEvent("install", "127.0.0.2", 2000, &install));
  EXPECT_EQ(install.Int("status"), 3);
}

// exit-runs: the fault lasts for the first runs only, over connections,
// so that a second install gets past it.
TEST_F(TelnetTest, ExitRunsKnobFailsOnlyTheFirstRuns) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("exit=3").Knob("exit-runs=1")})) << sim.Error();
  PutScript(0755);
  ASSERT_TRUE(LoginAsRoot(telnet, "127.0.0.2"));
  EXPECT_EQ(Run("$rsa/install.script\n"), "$rsa/install.script\r\n# ");
  EXPECT_EQ(Run("echo $?\n"), "echo $?\r\n3\r\n# ");
  Tcp again;
  ASSERT_TRUE(LoginAsRoot(again, "127.0.0.2"));
  again.Send("$rsa/install.script\n");
  EXPECT_EQ(again.ReadUntil("\n# ", 3000), "$rsa/install.script\r\n# ");
  again.Send("echo $?\n");
  EXPECT_EQ(again.ReadUntil("\n# ", 3000), "echo $?\r\n0\r\n# ");
  std::vector<int> statuses;
  for (const testsupport::SimEvent& event : sim.Events("install", "127.0.0.2"))
    statuses.push_back(static_cast<int>(event.Int("status")));
  EXPECT_EQ(statuses, (std::vector<int>{3, 0}));
}

TEST_F(TelnetTest, RestartKnobClosesTheConnectionWhenTheScriptRuns) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2").Knob("restart-on-install")})) << sim.Error();
  PutScript(0755);
  ASSERT_TRUE(LoginAsRoot(telnet, "127.0.0.2"));
  EXPECT_EQ(Run("chmod +x $rsa/install.script\n"), "chmod +x $rsa/install.script\r\n# ");
  telnet.Send("$rsa/install.script\n");
  EXPECT_EQ(telnet.ReadUntil("\n# ", 3000), "$rsa/install.script\r\n");
  EXPECT_TRUE(telnet.WaitClosed(3000));
  EXPECT_TRUE(sim.WaitForEvent("restart", "127.0.0.2", 2000));
  EXPECT_TRUE(sim.Events("install", "127.0.0.2").empty());
}

// down-ms: the restarted unit answers no query and takes no connection for
// its time, then answers with the version of the release it took.
TEST_F(TelnetTest, RestartedUnitIsDownForItsTimeThenBackWithItsNewVersion) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")
                         .Version("1.0")
                         .Knob("new-version=2.0")
                         .Knob("restart-on-install")
                         .Knob("down-ms=3000")}))
      << sim.Error();
  Udp receiver;
  ASSERT_TRUE(receiver.Bind("0.0.0.0", 55330));
  PutScript(0755);
  ASSERT_TRUE(LoginAsRoot(telnet, "127.0.0.2"));
  telnet.Send("$rsa/install.script\n");
  EXPECT_TRUE(telnet.WaitClosed(3000));
  testsupport::SimEvent restart;
  ASSERT_TRUE(sim.WaitForEvent("restart", "127.0.0.2", 2000, &restart));
  EXPECT_EQ(restart.Int("down_ms"), 3000);

  Udp asker;
  std::string reply;
  ASSERT_TRUE(asker.SendTo(QueryDatagram(), "127.0.0.2", 55330));
  EXPECT_FALSE(receiver.Receive(&reply, nullptr, 300)) << "a down unit answered";
  Tcp again;
  if (again.Connect("127.0.0.2", 23)) {
    EXPECT_TRUE(again.WaitClosed(1000));
  }
  std::vector<std::string> downServices;
  for (const testsupport::SimEvent& down : sim.Events("down", "127.0.0.2"))
    downServices.push_back(down.Str("service"));
  EXPECT_EQ(downServices, (std::vector<std::string>{"query", "telnet"}));

  // Back after its time: asked until it answers, with the new version.
  bool answered = false;
  for (int tries = 0; tries < 40 && !answered; ++tries) {
    ASSERT_TRUE(asker.SendTo(QueryDatagram(), "127.0.0.2", 55330));
    answered = receiver.Receive(&reply, nullptr, 250);
  }
  ASSERT_TRUE(answered) << "the unit never came back";
  EXPECT_NE(reply.find(std::string("2.0") + '\0'), std::string::npos) << Hex(reply);
  EXPECT_EQ(reply.find(std::string("1.0") + '\0'), std::string::npos) << Hex(reply);
}

}  // namespace
}  // namespace simtest
