// The device-link interface driven by the main loop: answers arriving at its
// socket are numbered, stored once per unit and replaced later, everything
// else is dropped; the installer's subclass enters probed units into the
// device table through the loop's Run; the timer ticks until teardown; and
// the inert and half-made interfaces send what they should.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "DeviceLinkProbe.h"
#include "DiscoveryDatagrams.h"
#include "DiscoveryTestSupport.h"
#include "MyTarvoInterface.h"
#include "TarvoInterface.h"
#include "UnitSim.h"
#include "platform/MainLoop.h"
#include "units/unit_table.h"

namespace {

using discoverytest::Answer;
using discoverytest::Hex;
using discoverytest::Received;
using discoverytest::ScratchFolder;
using testsupport::SimUnit;
using udptest::Address;

// Runs the loop until `done` holds (checked every 10 ms) or timeoutMs has
// passed; true when it held.
bool RunUntil(platform::MainLoop& loop, const std::function<bool()>& done, unsigned timeoutMs) {
  const int check = loop.AddTimer(10, [&] {
    if (done()) loop.Quit(0);
  });
  const int guard = loop.AddTimer(timeoutMs, [&] { loop.Quit(1); });
  const int code = loop.Run();
  loop.KillTimer(check);
  loop.KillTimer(guard);
  return code == 0;
}

void RunFor(platform::MainLoop& loop, unsigned ms) {
  RunUntil(
      loop, [] { return false; }, ms);
}

// Records the notification values it is given.
class RecordingInterface : public discovery::TarvoInterface {
 public:
  using TarvoInterface::TarvoInterface;
  std::vector<int> values;

 protected:
  void OnResponseAdded(int n) override { values.push_back(n); }
};

// A unit's socket on the loopback network that sends to the interface.
class FakeUnit {
 public:
  explicit FakeUnit(std::uint16_t interfacePort)
      : socket_(platform::OpenUdpSocket()), port_(interfacePort) {}
  ~FakeUnit() { platform::CloseSocket(socket_); }
  void Send(const std::vector<std::uint8_t>& bytes) const {
    platform::SendTo(socket_, bytes.data(), static_cast<int>(bytes.size()), Address("127.0.0.1"),
                     port_);
  }
  void Send(const Received& answer) const {
    platform::SendTo(socket_, answer.buffer.data(), answer.length, Address("127.0.0.1"), port_);
  }

 private:
  platform::SocketHandle socket_;
  std::uint16_t port_;
};

class TarvoInterfaceTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }
  platform::MainLoop loop;
};

TEST_F(TarvoInterfaceTest, AnswersAreNumberedStoredOnceAndEverythingElseDropped) {
  RecordingInterface link(loop);
  ASSERT_TRUE(link.listening());
  const FakeUnit unit(link.answerPort());
  // Not answers: another message kind, another first byte, and an answer
  // cut short before its strings.
  std::vector<std::uint8_t> other = Answer("10.0.0.5", 1, "X").buffer;
  other.resize(60);
  other[1] = 0x02;
  unit.Send(other);
  other[0] = 0x01;
  other[1] = 0x01;
  unit.Send(other);
  std::vector<std::uint8_t> cut = Answer("10.0.0.6", 1, "X").buffer;
  cut.resize(discovery::kResponseMinimum - 1);
  unit.Send(cut);
  unit.Send(Answer("10.0.0.7", 1,
                   "North\x1f"
                   "2.1"));
  unit.Send(Answer("10.0.0.8", 2, "South"));
  unit.Send(Answer("10.0.0.7", 1,
                   "North\x1f"
                   "3.0"));
  // A full-size answer whose strings have no terminators.
  std::vector<std::uint8_t> full(discovery::ResponseList::kReceiveSize, 'A');
  std::memcpy(full.data(), Answer("10.0.0.9", 3, "X").buffer.data(), discovery::kResponseMinimum);
  unit.Send(full);
  ASSERT_TRUE(RunUntil(
      loop, [&] { return link.responseCount() == 3; }, 5000));
  EXPECT_EQ(link.values, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(link.ResponseAt(0)->text3,
            "North\x1f"
            "3.0")
      << "replaced in its place";
  EXPECT_EQ(link.ResponseAt(1)->text3, "South");
  const discovery::Response* last = link.ResponseAt(2);
  EXPECT_EQ(last->addressText, "10.0.0.9:55329");
  EXPECT_EQ(last->text1, std::string(1500 - discovery::kResponseMinimum, 'A'));
  EXPECT_EQ(last->text2 + last->text3 + last->text4, "");
  EXPECT_EQ(link.ResponseAt(3), nullptr);
}

TEST_F(TarvoInterfaceTest, AThousandAnswersWaitingAtOnceAreAllNumbered) {
  RecordingInterface link(loop);
  ASSERT_TRUE(link.listening());
  const FakeUnit unit(link.answerPort());
  // All sent before the loop reads any, as while a probe run is still
  // sending its unicasts.
  constexpr int kAnswers = 1000;
  for (int i = 0; i < kAnswers; ++i) {
    const std::string address = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
    unit.Send(Answer(address.c_str(), 1, "North"));
  }
  EXPECT_TRUE(RunUntil(
      loop, [&] { return link.responseCount() == kAnswers; }, 10000))
      << link.responseCount() << " answers arrived";
  ASSERT_EQ(link.values.size(), static_cast<std::size_t>(link.responseCount()));
  EXPECT_EQ(link.values.back(), link.responseCount());
}

// The socket-layer calls the tests substitute, with what they were given.
struct SocketLayerLog {
  static inline int startResult = 0;
  static inline int starts = 0;
  static inline int cleanups = 0;
  static inline std::vector<std::string> messages;
  static int Start(int major, int minor) {
    ++starts;
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 0);
    return startResult;
  }
  static void Cleanup() { ++cleanups; }
  static bool Show(const char* caption, const char* text) {
    messages.push_back(std::string(caption) + "|" + text);
    return true;
  }
  static discovery::SocketLayerCalls Calls(int result) {
    startResult = result;
    starts = cleanups = 0;
    messages.clear();
    return discovery::SocketLayerCalls{Start, Cleanup, Show};
  }
};

TEST_F(TarvoInterfaceTest, WithoutTheSocketLayerTheUserIsToldAndNothingIsSent) {
  ScratchFolder folder("tarvo-interface-inert");
  folder.Write("tarvo_ip_list.txt", "127.0.0.7:4000\n");
  udptest::PacketCapture capture(4000);
  ASSERT_TRUE(capture.IsOpen());
  {
    RecordingInterface link(loop, SocketLayerLog::Calls(10092));
    EXPECT_FALSE(link.hasSocket());
    EXPECT_EQ(link.SendProbe(), 0);
    RunFor(loop, 700);
    EXPECT_EQ(link.timerTicks(), 0u);
  }
  EXPECT_TRUE(capture.CollectPackets(200).empty());
  ASSERT_EQ(SocketLayerLog::messages.size(), 1u);
  EXPECT_EQ(SocketLayerLog::messages[0],
            "Winsock Version Incorrect|Requires WINSOCK.dll version 2.0 or greater\n\r");
  EXPECT_EQ(SocketLayerLog::cleanups, 0) << "a failed start holds nothing to clean up";
}

// Without a working main loop (on Windows no hidden window; here a loop
// that cannot get its wake-up pipe because the process has no descriptor
// left for it) the interface stays inert: it never starts the socket layer,
// and a probe sends nothing and returns 0.
TEST_F(TarvoInterfaceTest, WithoutAWorkingMainLoopTheInterfaceStaysInert) {
  ScratchFolder folder("tarvo-interface-no-loop");
  folder.Write("tarvo_ip_list.txt", "127.0.0.7:4000\n");
  udptest::PacketCapture capture(4000);
  ASSERT_TRUE(capture.IsOpen());
  // Every descriptor taken but one, which is too few for the loop's pipe;
  // bounded, should the system allow a great many.
  constexpr int kMostTaken = 200000;
  std::vector<platform::SocketHandle> taken;
  for (int i = 0; i < kMostTaken; ++i) {
    const platform::SocketHandle socket = platform::OpenUdpSocket();
    if (socket == platform::kInvalidSocket) break;
    taken.push_back(socket);
  }
  if (!taken.empty()) {
    platform::CloseSocket(taken.back());
    taken.pop_back();
  }
  platform::MainLoop broken;
  // The descriptors go back at once: the loop stays without its pipe, and
  // the interface would have all it needs but the loop.
  for (const platform::SocketHandle socket : taken) platform::CloseSocket(socket);
  if (broken.IsValid()) GTEST_SKIP() << "the main loop could not be made to fail on this system";
  {
    RecordingInterface link(broken, SocketLayerLog::Calls(0));
    EXPECT_FALSE(link.hasSocket());
    EXPECT_EQ(link.SendProbe(), 0);
    EXPECT_EQ(SocketLayerLog::starts, 0) << "the socket layer is not started without a loop";
  }
  EXPECT_TRUE(capture.CollectPackets(200).empty());
  EXPECT_TRUE(SocketLayerLog::messages.empty());
}

TEST_F(TarvoInterfaceTest, TimerTicksUntilTeardownAndTeardownTwiceIsHarmless) {
  RecordingInterface link(loop, SocketLayerLog::Calls(0));
  ASSERT_TRUE(link.listening());
  EXPECT_TRUE(link.enabled());
  ASSERT_TRUE(RunUntil(
      loop, [&] { return link.timerTicks() >= 2; }, 5000));
  const FakeUnit unit(link.answerPort());
  unit.Send(Answer("10.0.0.7", 1, "North"));
  ASSERT_TRUE(RunUntil(
      loop, [&] { return link.responseCount() == 1; }, 5000));
  link.Teardown();
  EXPECT_FALSE(link.enabled());
  EXPECT_TRUE(link.stopAcknowledged());
  EXPECT_FALSE(link.hasSocket());
  EXPECT_EQ(link.responseCount(), 0);
  EXPECT_EQ(SocketLayerLog::cleanups, 1);
  const unsigned ticks = link.timerTicks();
  unit.Send(Answer("10.0.0.8", 2, "South"));
  RunFor(loop, 700);
  EXPECT_EQ(link.timerTicks(), ticks);
  EXPECT_EQ(link.values, (std::vector<int>{1}));
  link.Teardown();
  EXPECT_EQ(link.SendProbe(), 0);
  EXPECT_EQ(SocketLayerLog::starts, 1);
  EXPECT_EQ(SocketLayerLog::cleanups, 1) << "one start, one cleanup";
}

// Narrows this namespace's ephemeral ports to one, taken by another socket,
// so that a socket bound to port 0 cannot be bound; Release restores them.
class ExhaustedPorts {
 public:
  ExhaustedPorts() {
    for (const char* path :
         {"/proc/sys/net/ipv4/ip_local_port_range", "Z:/proc/sys/net/ipv4/ip_local_port_range"}) {
      std::ifstream in(path);
      if (std::getline(in, saved_) && Write(path, "61000 61000")) {
        path_ = path;
        break;
      }
    }
    blocker_ = platform::OpenUdpSocket();
    if (path_.empty() || platform::Bind(blocker_, 0, 61000) != 0) Release();
  }
  ~ExhaustedPorts() { Release(); }
  bool active() const { return !path_.empty(); }
  void Release() {
    if (!path_.empty()) Write(path_.c_str(), saved_);
    path_.clear();
    if (blocker_ != platform::kInvalidSocket) platform::CloseSocket(blocker_);
    blocker_ = platform::kInvalidSocket;
  }

 private:
  // Opened for update rather than rewritten: wine cannot truncate the file.
  static bool Write(const char* path, const std::string& range) {
    std::fstream out(path, std::ios::in | std::ios::out);
    return static_cast<bool>(out << range << '\n' << std::flush);
  }
  std::string path_;
  std::string saved_;
  platform::SocketHandle blocker_ = platform::kInvalidSocket;
};

TEST_F(TarvoInterfaceTest, UnboundSocketIsNotServicedButStillProbesNamingPortZero) {
  ScratchFolder folder("tarvo-interface-unbound");
  folder.Write("tarvo_ip_list.txt", "127.0.0.7:4000\n");
  udptest::PacketCapture capture(4000);
  ASSERT_TRUE(capture.IsOpen());
  ExhaustedPorts ports;
  if (!ports.active()) {
    GTEST_SKIP() << "cannot narrow this namespace's ephemeral ports (wine cannot write the "
                    "kernel setting)";
  }
  RecordingInterface link(loop);
  // The probe's own sockets need ephemeral ports again.
  ports.Release();
  EXPECT_TRUE(link.hasSocket());
  EXPECT_FALSE(link.listening());
  EXPECT_EQ(link.answerPort(), 0);
  EXPECT_EQ(link.SendProbe(), 1);
  RunFor(loop, 700);
  EXPECT_EQ(link.timerTicks(), 0u);
  const std::vector<udptest::Datagram> sent = capture.CollectPackets();
  ASSERT_EQ(sent.size(), 1u);
  std::uint8_t probe[discovery::kProbeLength];
  discovery::BuildProbe(0, 0, probe);
  EXPECT_EQ(Hex(sent[0].bytes.data() + 28, sent[0].bytes.size() - 28), Hex(probe, sizeof probe));
}

// The installer's interface with its notification values recorded.
class RecordingMyInterface : public discovery::MyTarvoInterface {
 public:
  using MyTarvoInterface::MyTarvoInterface;
  std::vector<int> values;

 protected:
  void OnResponseAdded(int n) override {
    values.push_back(n);
    MyTarvoInterface::OnResponseAdded(n);
  }
};

class MyTarvoInterfaceTest : public TarvoInterfaceTest {
 protected:
  void SetUp() override {
    TarvoInterfaceTest::SetUp();
    ZEQ_REQUIRE_UNITSIM();
  }
  std::size_t Units() {
    table.Lock();
    const std::size_t count = table.getCount();
    table.Unlock();
    return count;
  }
  testsupport::UnitSim sim;
  unit_table table;
  int refreshes = 0;
};

TEST_F(MyTarvoInterfaceTest, ProbedUnitsAreEnteredOnceThroughTheLoop) {
  sim.AddUnit(SimUnit("127.0.0.2").Node(5).Group("North").Version("2.1"));
  sim.AddUnit(SimUnit("127.0.0.3").Node(6).Group("South"));
  ASSERT_TRUE(sim.Start()) << sim.Error();
  ScratchFolder folder("my-tarvo-interface");
  folder.Write("tarvo_ip_list.txt", "127.0.0.2\n127.0.0.3\n");
  RecordingMyInterface link(loop, table, [&] {
    ++refreshes;
    if (Units() == 2) loop.Quit(0);
  });
  ASSERT_TRUE(link.listening());
  if ((link.answerAddress() & 0xFF) != 127 && link.answerAddress() != 0) {
    GTEST_SKIP() << "this computer's name resolves outside the loopback network";
  }
  ASSERT_EQ(link.SendProbe(), 1);
  const int guard = loop.AddTimer(10000, [&] { loop.Quit(1); });
  ASSERT_EQ(loop.Run(), 0) << "the units were not entered";
  loop.KillTimer(guard);
  EXPECT_EQ(link.values, (std::vector<int>{1, 2}));
  EXPECT_EQ(refreshes, 2);
  table.Lock();
  for (std::size_t i = 0; i < table.getCount(); ++i) {
    const tarvo_object* unit = table.getAddressUnit(i);
    const bool north = unit->address == Address("127.0.0.2");
    EXPECT_EQ(unit->node, north ? 5 : 6);
    EXPECT_EQ(unit->group, north ? "North" : "South");
    EXPECT_EQ(unit->version, north ? "2.1" : "");
    EXPECT_EQ(unit->gateway | unit->reachedFrom, 0u);
  }
  table.Unlock();
  // A second run, as after "Rescan": the answers replace the stored ones
  // and reach neither the table nor the list.
  ASSERT_EQ(link.SendProbe(), 1);
  ASSERT_TRUE(sim.WaitForCount("probe", "127.0.0.2", 2, 5000));
  ASSERT_TRUE(sim.WaitForCount("probe", "127.0.0.3", 2, 5000));
  RunFor(loop, 500);
  EXPECT_EQ(link.values, (std::vector<int>{1, 2}));
  EXPECT_EQ(link.responseCount(), 2);
  EXPECT_EQ(refreshes, 2);
  EXPECT_EQ(Units(), 2u);
}

}  // namespace
