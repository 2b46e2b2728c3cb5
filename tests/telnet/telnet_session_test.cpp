// TelnetSession against a scripted peer on loopback: the option replies as
// they appear on the wire, the prompt waits and what they leave in the
// response buffer, and the ways a connection ends (peer close, Disconnect
// from another thread, destruction while the receive thread is in recv).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "TestSupport.h"
#include "telnet/TelnetSession.h"
#include "telnet_peer.h"

namespace {

using telnettest::Bytes;
using telnettest::Loopback;
using telnettest::Printable;
using telnettest::ScriptedPeer;

const std::string kXterm = Bytes({255, 250, 24, 0, 88, 84, 69, 82, 77, 255, 240});
const std::string kNaws = Bytes({255, 250, 31, 0, 80, 0, 25, 255, 240});

// Polls until the condition holds; false after the time limit. The limit
// only keeps a broken session from hanging the run.
bool Eventually(const std::function<bool()>& condition, unsigned timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class TelnetSessionTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }

  // Starts the peer's script and connects the session to it.
  void Connect(ScriptedPeer& peer, TelnetSession& session) {
    ASSERT_TRUE(peer.isListening());
    peer.Start();
    ASSERT_EQ(session.Connect(Loopback(), peer.getPort()), 1);
  }

  // Waits until the receive thread has put exactly these bytes in the buffer.
  void ExpectBuffered(TelnetSession& session, const std::string& bytes) {
    EXPECT_TRUE(Eventually([&] { return session.getResponseBuffer() == bytes; }))
        << "buffer holds \"" << Printable(session.getResponseBuffer()) << "\"";
  }
};

struct NegotiationCase {
  const char* name;
  std::string fromUnit;
  std::string reply;
};

TEST_F(TelnetSessionTest, AnswersEveryNegotiationOnTheWire) {
  const NegotiationCase cases[] = {
      {"DO 24", Bytes({255, 253, 24}), Bytes({255, 251, 24}) + kXterm},
      {"WILL 1", Bytes({255, 251, 1}), Bytes({255, 254, 1})},
      {"DO 1", Bytes({255, 253, 1}), Bytes({255, 252, 1})},
      {"WONT 3", Bytes({255, 252, 3}), Bytes({255, 253, 3})},
      {"DONT 31", Bytes({255, 254, 31}), Bytes({255, 253, 31}) + kNaws},
  };
  for (const NegotiationCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Send(c.fromUnit).Expect(c.reply).Send("ok\n# ").ExpectClose();
    TelnetSession session("root", "qorvane");
    Connect(peer, session);
    std::string result;
    EXPECT_EQ(session.WaitFor("\n# ", result, ""), 1);
    EXPECT_EQ(result, "ok");
    session.Disconnect(0);
    EXPECT_EQ(peer.Finish(), "");
  }
}

TEST_F(TelnetSessionTest, RepliesToABurstInArrivalOrder) {
  // A typical opening: several requests in one segment, answered one by one.
  ScriptedPeer peer;
  peer.Send(Bytes({255, 253, 1, 255, 253, 31, 255, 251, 1, 255, 251, 3}))
      .Expect(Bytes({255, 252, 1, 255, 251, 31}) + kNaws + Bytes({255, 254, 1, 255, 253, 3}))
      .Send("\n# ")
      .ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  std::string result;
  EXPECT_EQ(session.WaitFor("\n# ", result, ""), 1);
  session.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(TelnetSessionTest, IacIacArrivesAsOneByte255) {
  ScriptedPeer peer;
  peer.Send("a" + Bytes({255, 255}) + "b").ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  ExpectBuffered(session, Bytes({'a', 255, 'b'}));
}

TEST_F(TelnetSessionTest, SubNegotiationIsReportedTwiceAndItsBytesKept) {
  ScriptedPeer peer;
  // The '!' after SE shows that the second report has been written.
  peer.Send(Bytes({255, 250, 24, 1, 255, 240, '!'})).ExpectClose();
  TelnetSession session("root", "qorvane");
  testing::internal::CaptureStdout();
  Connect(peer, session);
  ExpectBuffered(session, Bytes({24, 1, '!'}));
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "unknown command 250\nunknown command 240\n");
  session.Disconnect(0);
  peer.Finish();
  EXPECT_EQ(peer.getReceived(), "") << "nothing is answered to a sub-negotiation";
}

TEST_F(TelnetSessionTest, ShellPromptMatchGivesTheTextBeforeItAndEmptiesTheBuffer) {
  ScriptedPeer peer;
  peer.Send("ls\r\nbin\r\n# ").ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  ExpectBuffered(session, "ls\r\nbin\r\n# ");
  std::string result;
  EXPECT_EQ(session.WaitFor("\n# ", result, "\nlogin:"), 1);
  EXPECT_EQ(result, "ls\r\nbin\r");
  EXPECT_EQ(session.getResponseBuffer(), "");
}

TEST_F(TelnetSessionTest, MatchDiscardsWhateverFollowedIt) {
  ScriptedPeer peer;
  peer.Send("x\n# \n# tail").ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  ExpectBuffered(session, "x\n# \n# tail");
  std::string result;
  EXPECT_EQ(session.WaitFor("\n# ", result, ""), 1);
  EXPECT_EQ(result, "x");
  EXPECT_EQ(session.getResponseBuffer(), "") << "the second prompt went with the first";
}

TEST_F(TelnetSessionTest, FailureTextGivesMinusOneAndTheFailureText) {
  ScriptedPeer peer;
  peer.Send("Login incorrect\r\nlogin: ").ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  ExpectBuffered(session, "Login incorrect\r\nlogin: ");
  std::string result = "unchanged";
  EXPECT_EQ(session.WaitFor("\n# ", result, "\nlogin:"), -1);
  EXPECT_EQ(result, "\nlogin:");
  EXPECT_EQ(session.getResponseBuffer(), "");
}

TEST_F(TelnetSessionTest, ExpectedTextWinsOverFailureTextInTheSameBuffer) {
  ScriptedPeer peer;
  peer.Send("\nlogin: root\r\n# ").ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  ExpectBuffered(session, "\nlogin: root\r\n# ");
  std::string result;
  EXPECT_EQ(session.WaitFor("\n# ", result, "\nlogin:"), 1);
  EXPECT_EQ(result, "\nlogin: root\r");
}

TEST_F(TelnetSessionTest, PromptsAreMatchedCaseSensitively) {
  ScriptedPeer peer;
  peer.Send("Password: ").Pause(200).Close();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  std::string result = "unchanged";
  EXPECT_EQ(session.WaitFor("password:", result, ""), 0) << "ended only by the close";
  EXPECT_EQ(result, "unchanged");
}

TEST_F(TelnetSessionTest, WaitOnAClosedSessionIgnoresTextReceivedBeforeTheClose) {
  ScriptedPeer peer;
  peer.Send("done\r\n# ").Close();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  ASSERT_TRUE(Eventually([&] { return !session.isConnected(); }));
  EXPECT_EQ(session.getResponseBuffer(), "done\r\n# ") << "the text did arrive";
  std::string result = "unchanged";
  EXPECT_EQ(session.WaitFor("\n# ", result, ""), 0);
  EXPECT_EQ(result, "unchanged");
}

TEST_F(TelnetSessionTest, SendAppendsOneLineFeedAndReturnsTheCount) {
  ScriptedPeer peer;
  peer.Expect("ls -l\n").ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  EXPECT_EQ(session.Send("ls -l"), 6);
  session.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

TEST_F(TelnetSessionTest, SendOnAClosedSessionReturnsZeroAndSendsNothing) {
  ScriptedPeer peer;
  peer.ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  session.Disconnect(0);
  EXPECT_EQ(session.Send("reboot"), 0);
  EXPECT_EQ(peer.Finish(), "");
  EXPECT_EQ(peer.getReceived(), "");
}

TEST_F(TelnetSessionTest, PeerCloseEndsTheConnection) {
  ScriptedPeer peer;
  peer.Close();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  EXPECT_TRUE(Eventually([&] { return !session.isConnected(); }));
  std::string result;
  EXPECT_EQ(session.WaitFor("\nlogin:", result, ""), 0);
  EXPECT_EQ(session.Send("root"), 0);
}

TEST_F(TelnetSessionTest, RefusedConnectReturnsZeroAndEveryWaitEndsAtOnce) {
  // A port that was just bound and released has no listener.
  std::uint16_t port = 0;
  {
    ScriptedPeer closed;
    port = closed.getPort();
  }
  TelnetSession session("root", "qorvane");
  EXPECT_EQ(session.Connect(Loopback(), port), 0);
  EXPECT_FALSE(session.isConnected());
  std::string result;
  EXPECT_EQ(session.WaitFor("\nlogin:", result, ""), 0);
  EXPECT_EQ(session.Send("root"), 0);
}

TEST_F(TelnetSessionTest, ReconnectClosesThePreviousConnection) {
  ScriptedPeer first;
  first.ExpectClose();
  ScriptedPeer second;
  second.Send("\nlogin: ").ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(first, session);
  second.Start();
  ASSERT_EQ(session.Connect(Loopback(), second.getPort()), 1);
  EXPECT_EQ(first.Finish(), "") << "the first connection was closed by the second Connect";
  std::string result;
  EXPECT_EQ(session.WaitFor("\nlogin:", result, ""), 1);
}

TEST_F(TelnetSessionTest, DisconnectReportsOnlyAnErrorAndOnlyOnce) {
  ScriptedPeer peer;
  peer.ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  testing::internal::CaptureStdout();
  session.Disconnect(104);
  session.Disconnect(105);
  session.Disconnect(0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Disconnected error 104\n");
  EXPECT_FALSE(session.isConnected());
  EXPECT_EQ(peer.Finish(), "");
}

// The cancel path: the job thread waits for a prompt that never comes while
// the receive thread sits in recv; Disconnect from other threads ends both.
TEST_F(TelnetSessionTest, DisconnectFromOtherThreadsEndsWaitAndReceive) {
  ScriptedPeer peer;
  peer.Send("banner\r\n").ExpectClose();
  auto session = std::make_unique<TelnetSession>("root", "qorvane");
  Connect(peer, *session);
  ExpectBuffered(*session, "banner\r\n");
  std::atomic<int> waitResult{99};
  std::thread job([&] {
    std::string result;
    waitResult = session->WaitFor("\n# ", result, "\nlogin:");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<std::thread> cancels;
  for (int i = 0; i < 4; ++i) cancels.emplace_back([&] { session->Disconnect(0); });
  for (std::thread& cancel : cancels) cancel.join();
  ASSERT_TRUE(Eventually([&] { return waitResult.load() != 99; })) << "WaitFor still blocked";
  job.join();
  EXPECT_EQ(waitResult.load(), 0);
  EXPECT_EQ(peer.Finish(), "");
  // Destruction waits for the receive thread, which must have left recv.
  session.reset();
}

TEST_F(TelnetSessionTest, DestructionWhileRecvBlocksReturns) {
  ScriptedPeer peer;
  peer.ExpectClose();
  auto session = std::make_unique<TelnetSession>("root", "qorvane");
  Connect(peer, *session);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::atomic<bool> destroyed{false};
  std::thread owner([&] {
    session.reset();
    destroyed = true;
  });
  ASSERT_TRUE(Eventually([&] { return destroyed.load(); })) << "destructor still waiting";
  owner.join();
  EXPECT_EQ(peer.Finish(), "");
}

// Linux shows a socket's keep-alive timer in /proc/net/tcp: timer kind 2
// with the time left in hundredths of a second, at most 30 s when idle.
TEST_F(TelnetSessionTest, KeepAliveProbesAfterThirtySecondsIdle) {
  std::ifstream probe("/proc/net/tcp");
  if (!probe) GTEST_SKIP() << "the socket timers are only visible in Linux's /proc/net/tcp";
  ScriptedPeer peer;
  peer.Pause(100).ExpectClose();
  TelnetSession session("root", "qorvane");
  Connect(peer, session);
  ASSERT_TRUE(Eventually([&] { return peer.getClientPort() != 0; }));
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", peer.getClientPort());
  std::ifstream table("/proc/net/tcp");
  std::string line;
  bool found = false;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, localAddress, remote, state, queues, timer;
    fields >> slot >> localAddress >> remote >> state >> queues >> timer;
    if (localAddress != local) continue;
    found = true;
    const int kind = std::stoi(timer.substr(0, 2), nullptr, 16);
    const long left = std::stol(timer.substr(3), nullptr, 16);
    EXPECT_EQ(kind, 2) << line;
    EXPECT_GT(left, 2500) << line;
    EXPECT_LE(left, 3000) << line;
  }
  EXPECT_TRUE(found) << "no entry for " << local;
  session.Disconnect(0);
  EXPECT_EQ(peer.Finish(), "");
}

}  // namespace

namespace {

TEST_F(TelnetSessionTest, DisconnectFromAnotherThreadEndsAConnectUnderWay) {
  testsupport::FullListener unit;
  if (!unit.isFull()) GTEST_SKIP() << "the system accepted every connection";
  TelnetSession session("root", "secret");
  std::atomic<bool> returned{false};
  int result = -1;
  std::thread job([&] {
    result = session.Connect(Loopback(), unit.port());
    returned = true;
  });
  // Disconnects until the connect gives up, so a disconnect that came before
  // the connect began is repeated once it is under way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!returned && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    session.Disconnect(0);
  }
  EXPECT_TRUE(returned.load()) << "the connect went on after the disconnect";
  job.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(session.isConnected());
  EXPECT_EQ(session.Send("ls"), 0);
}

}  // namespace
