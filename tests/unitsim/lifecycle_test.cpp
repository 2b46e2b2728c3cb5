// The simulator as a process: readiness, a hundred units at once, the ends
// that leave nothing behind, and the command-line forms the fixture does not
// use itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "SimTest.h"
#include "platform/Process.h"
#include "platform/Threads.h"

namespace simtest {
namespace {

class LifecycleTest : public SimTest {};

std::string Address(int index) { return "127.0.0." + std::to_string(2 + index); }

TEST_F(LifecycleTest, HundredUnitsEachAnswerQueryProbeLoginAndPut) {
  sim.AddUnits(100);
  ASSERT_TRUE(sim.Start()) << sim.Error();
  Udp receiver;
  ASSERT_TRUE(receiver.Bind("0.0.0.0", 55330));
  Udp deviceLink;
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  ASSERT_TRUE(deviceLink.SendTo(QueryDatagram(), "127.255.255.255", 55330));
  std::set<std::uint32_t> replied;
  std::string reply;
  platform::SocketAddressIn from{};
  while (replied.size() < 100 && receiver.Receive(&reply, &from, 2000))
    replied.insert(from.address);
  EXPECT_EQ(replied.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    const std::string address = Address(i);
    SCOPED_TRACE(address);
    ASSERT_TRUE(
        deviceLink.SendTo(Probe(Ip("127.0.0.1"), deviceLink.port()), address.c_str(), 55329));
    ASSERT_TRUE(deviceLink.Receive(&reply, &from, 2000));
    EXPECT_EQ(from.address, Ip(address.c_str()));
    EXPECT_EQ(reply[18], static_cast<char>(i + 1)) << "node from the unit's place";
    Tcp telnet;
    EXPECT_TRUE(LoginAsRoot(telnet, address.c_str()));
    Tcp files;
    ASSERT_TRUE(files.Connect(address.c_str(), 4877));
    EXPECT_EQ(PutFile(files, "/rsa/f", address).size(), 24u);
  }
  EXPECT_TRUE(sim.WaitForCount("file", "", 100, 5000));
}

TEST_F(LifecycleTest, EndsWhenTheControlConnectionClosesAndClosesItsConnections) {
  ASSERT_TRUE(Start({SimUnit("127.0.0.2")})) << sim.Error();
  Tcp telnet;
  ASSERT_TRUE(LoginAsRoot(telnet, "127.0.0.2"));
  ASSERT_TRUE(sim.Stop());
  EXPECT_TRUE(telnet.WaitClosed(2000));
  int code = -1;
  ASSERT_TRUE(sim.ExitCode(&code));
  EXPECT_EQ(code, 0);
  const auto exits = sim.Events("exit");
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0].Str("reason"), "control connection closed");
  Tcp refused;
  EXPECT_FALSE(refused.Connect("127.0.0.2", 23));
}

std::string LastLine(const std::string& path) {
  std::ifstream events(path);
  std::string line;
  std::string last;
  while (std::getline(events, line)) last = line;
  return last;
}

// Without --control the simulator runs until a signal; its "ready" event
// says when it is up.
TEST_F(LifecycleTest, SigtermEndsItCleanly) {
  const std::string log = testsupport::ScratchDirectory("unitsim-sigterm") + "/events.jsonl";
  std::remove(log.c_str());
  platform::ProcessHandle* process =
      platform::StartProcess(testsupport::UnitSim::ProgramPath(),
                             {"--log", log, "--root", log + ".files", "--units", "2"}, nullptr);
  ASSERT_NE(process, nullptr);
  for (int wait = 0; wait < 500 && LastLine(log).find("\"ready\"") == std::string::npos; ++wait) {
    platform::SleepMilliseconds(10);
  }
  Tcp telnet;
  ASSERT_TRUE(telnet.Connect("127.0.0.3", 23));
  EXPECT_EQ(platform::TerminateChildProcess(process), 0);
  ASSERT_EQ(platform::WaitProcess(process, 5000), 1);
  int code = -1;
  EXPECT_TRUE(platform::ProcessExitCode(process, &code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(telnet.WaitClosed(1000));
  platform::CloseProcess(process);
  EXPECT_NE(LastLine(log).find("\"reason\":\"signal\""), std::string::npos) << LastLine(log);
}

TEST_F(LifecycleTest, ErrorsComeBackThroughTheControlConnection) {
  sim.AddUnit(SimUnit("127.0.0.2").Knob("no-such-knob"));
  EXPECT_FALSE(sim.Start());
  EXPECT_NE(sim.Error().find("unknown unit key no-such-knob"), std::string::npos) << sim.Error();
  testsupport::UnitSim twice;
  twice.AddUnit(SimUnit("127.0.0.2"));
  twice.AddUnit(SimUnit("127.0.0.2"));
  EXPECT_FALSE(twice.Start());
  EXPECT_NE(twice.Error().find("share an address"), std::string::npos) << twice.Error();
}

TEST_F(LifecycleTest, BindFailureIsReportedNotHidden) {
  const platform::SocketHandle taken = platform::OpenTcpSocket();
  ASSERT_EQ(platform::Bind(taken, Ip("127.0.0.2"), 4877), 0);
  ASSERT_EQ(platform::Listen(taken, 1), 0);
  sim.AddUnit(SimUnit("127.0.0.2"));
  EXPECT_FALSE(sim.Start());
  EXPECT_NE(sim.Error().find("127.0.0.2:4877"), std::string::npos) << sim.Error();
  platform::CloseSocket(taken);
}

TEST_F(LifecycleTest, PortOptionsAndConfigFile) {
  const std::string config = testsupport::ScratchDirectory("unitsim-config") + "/units.conf";
  std::ofstream(config) << "# two units\n"
                        << "telnet-port 2323\n"
                        << "defaults group=Far,version=9\n\n"
                        << "unit addr=127.0.0.7,node=70\n"
                        << "units 1\n";
  ASSERT_TRUE(Start({}, {"--config", config, "--file-port", "4878"})) << sim.Error();
  Tcp telnet;
  ASSERT_TRUE(telnet.Connect("127.0.0.8", 2323));
  EXPECT_NE(telnet.ReadUntil("login: ", 3000).find("login: "), std::string::npos);
  Tcp files;
  ASSERT_TRUE(files.Connect("127.0.0.7", 4878));
  EXPECT_EQ(PutFile(files, "/f", "x").size(), 24u);
  Udp deviceLink;
  ASSERT_TRUE(deviceLink.Bind("127.0.0.1", 0));
  ASSERT_TRUE(deviceLink.SendTo(Probe(Ip("127.0.0.1"), deviceLink.port()), "127.0.0.7", 55329));
  std::string response;
  ASSERT_TRUE(deviceLink.Receive(&response, nullptr, 2000));
  EXPECT_EQ(response[18], 70);
  EXPECT_NE(response.find(std::string("Far\x1f") + "9"), std::string::npos);
}

TEST(SimEventTest, ParsesTheFlatObjectsOfTheLog) {
  testsupport::SimEvent event;
  ASSERT_TRUE(testsupport::ParseSimEvent(
      R"({"t":12,"event":"telnet_line","unit":"127.0.0.2","text":"a\"b\\c\u000d\u00ff","ok":true,"n":-3})",
      &event));
  EXPECT_EQ(event.Int("t"), 12);
  EXPECT_EQ(event.event(), "telnet_line");
  EXPECT_EQ(event.unit(), "127.0.0.2");
  EXPECT_EQ(event.Str("text"), "a\"b\\c\r\xff");
  EXPECT_TRUE(event.Bool("ok"));
  EXPECT_EQ(event.Int("n"), -3);
  EXPECT_EQ(event.Int("missing", 42), 42);
  EXPECT_FALSE(testsupport::ParseSimEvent(R"({"t":1,"event":"cut)", &event));
  EXPECT_FALSE(testsupport::ParseSimEvent("not json", &event));
}

}  // namespace
}  // namespace simtest
