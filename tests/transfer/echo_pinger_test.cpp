// The reachability ping inside the test's private network namespace: the
// payload pattern, a loopback reply with its line on standard output, an
// address with no route, an address routed to a link where nothing answers,
// parallel pings through one pinger, and (on Linux) both kinds of ICMP socket.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <thread>
#include <vector>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "platform/Icmp.h"
#include "platform/Sockets.h"
#include "transfer/EchoPinger.h"

namespace {

using testsupport::Address;

// Runs a shell command; false where there is no such shell (under wine the C
// library's system() runs Windows commands).
bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

bool UnderWine() { return std::getenv("WINEPREFIX") != nullptr; }

// The link for the time-out test, made by the launcher or here.
bool HaveSilentLink() {
  const char* made = std::getenv("ZEQ_TEST_INTERFACES");
  if (made != nullptr && std::string(made).find("192.0.2.1/24") != std::string::npos) return true;
  return !UnderWine() && Shell(std::string("ZEQ_TEST_INTERFACES=192.0.2.1/24 sh ") +
                               ZEQ_SOURCE_DIR + "/tests/support/netns-links.sh");
}

TEST(PingPayloadTest, PrintableCharactersRepeated) {
  std::uint8_t payload[100];
  FillPingPayload(payload, sizeof payload);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(payload[i], 32 + i);
  EXPECT_EQ(payload[93], 125);
  EXPECT_EQ(payload[94], 32) << "the 95th byte starts again at space";
  EXPECT_EQ(payload[99], 37);
}

class EchoPingerTest : public testing::Test {
 protected:
  void SetUp() override { ZEQ_REQUIRE_NETNS(); }

  // Pings and returns the reply with what the ping wrote to standard output.
  platform::IcmpEchoReply Ping(const char* address, unsigned timeoutMs, unsigned size,
                               std::string* output) {
    testing::internal::CaptureStdout();
    const platform::IcmpEchoReply reply = pinger_.Ping(Address(address), timeoutMs, 255, size);
    std::fflush(stdout);
    *output = testing::internal::GetCapturedStdout();
    return reply;
  }

  EchoPinger pinger_;
};

TEST_F(EchoPingerTest, LoopbackAnswers) {
  std::string output;
  const platform::IcmpEchoReply reply = Ping("127.0.0.1", 1000, 32, &output);
  EXPECT_EQ(reply.status, 0u);
  EXPECT_EQ(reply.address, Address("127.0.0.1"));
  EXPECT_EQ(reply.dataSize, 32);
  EXPECT_GT(reply.ttl, 0);
  EXPECT_TRUE(std::regex_match(
      output, std::regex(R"(Reply from 127\.0\.0\.1: bytes=32 time=\d+ms TTL=\d+\n)")))
      << output;
}

TEST_F(EchoPingerTest, LargestPayloadComesBack) {
  std::string output;
  const platform::IcmpEchoReply reply = Ping("127.0.0.1", 1000, EchoPinger::kMaxPayload, &output);
  EXPECT_EQ(reply.status, 0u) << output;
  EXPECT_EQ(reply.dataSize, EchoPinger::kMaxPayload);
}

TEST_F(EchoPingerTest, OversizedPayloadFails) {
  std::string output;
  const platform::IcmpEchoReply reply =
      Ping("127.0.0.1", 1000, EchoPinger::kMaxPayload + 1, &output);
  EXPECT_EQ(reply.status, static_cast<std::uint32_t>(platform::kErrorInvalidParameter));
  EXPECT_EQ(output, platform::EchoFailureText(platform::kErrorInvalidParameter));
}

TEST_F(EchoPingerTest, AddressWithoutRouteFailsWithinTheTimeout) {
  // Only loopback exists in the namespace, so nothing routes to 10.255.0.1.
  std::string output;
  const auto start = std::chrono::steady_clock::now();
  const platform::IcmpEchoReply reply = Ping("10.255.0.1", 1000, 32, &output);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_NE(reply.status, 0u);
  EXPECT_EQ(reply.address, 0u);
  EXPECT_EQ(output, platform::EchoFailureText(static_cast<int>(reply.status)));
}

TEST_F(EchoPingerTest, SilentAddressTimesOut) {
  // A link 192.0.2.1/24 whose far end is down: the request to 192.0.2.2 goes
  // out and nothing ever answers. Under wine the test cannot build the link;
  // ctest runs it in an entry of its own for which the launcher builds it.
  if (!HaveSilentLink()) {
    if (testsupport::RunningInCi()) FAIL() << "cannot build the test link 192.0.2.1/24";
    GTEST_SKIP() << "cannot build the test link here; ctest runs this test with "
                    "ZEQ_TEST_INTERFACES=192.0.2.1/24";
  }
  std::string output;
  const auto start = std::chrono::steady_clock::now();
  const platform::IcmpEchoReply reply = Ping("192.0.2.2", 300, 32, &output);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(reply.status, platform::kIpReqTimedOut);
  EXPECT_GE(waited, std::chrono::milliseconds(250)) << "it waited for a reply";
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(output, platform::EchoFailureText(static_cast<int>(reply.status)));
}

TEST_F(EchoPingerTest, ParallelPingsGetTheirOwnReplies) {
  constexpr int kThreads = 6;
  std::vector<platform::IcmpEchoReply> replies(kThreads);
  std::vector<std::thread> threads;
  testing::internal::CaptureStdout();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &replies] {
      replies[t] = pinger_.Ping(Address("127.0.0.1"), 1000, 64, 16 + 8 * t);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::fflush(stdout);
  testing::internal::GetCapturedStdout();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(replies[t].status, 0u) << t;
    EXPECT_EQ(replies[t].dataSize, 16 + 8 * t) << "thread " << t << " got another ping's reply";
  }
}

TEST_F(EchoPingerTest, DatagramAndRawSocketsBothWork) {
  // The namespace's default ping_group_range allows no ICMP datagram sockets,
  // so the pings above went through the raw fallback; open the range and
  // ping again through a datagram socket.
  if (UnderWine()) GTEST_SKIP() << "Linux sockets only: wine goes through IcmpSendEcho";
  ASSERT_TRUE(Shell("sysctl -q -w net.ipv4.ping_group_range='0 2147483647'"));
  std::string output;
  const platform::IcmpEchoReply datagram = Ping("127.0.0.1", 1000, 32, &output);
  Shell("sysctl -q -w net.ipv4.ping_group_range='1 0'");
  const platform::IcmpEchoReply raw = Ping("127.0.0.1", 1000, 32, &output);
  EXPECT_EQ(datagram.status, 0u);
  EXPECT_EQ(datagram.dataSize, 32);
  EXPECT_GT(datagram.ttl, 0);
  EXPECT_EQ(raw.status, 0u);
  EXPECT_EQ(raw.ttl, datagram.ttl);
}

}  // namespace
