// The route-request channel with the real pipe, the real launcher and the
// real pathkeeper process: one helper for eight threads at once, requests
// to a running helper without a launch, a new pipe and helper after the
// helper ended, and the withdrawals written at destruction, which the
// helper's broadcasts show in order on the loopback subnet. Also the two
// ends' checks of each other: a second server on a taken name, a client of
// another process, what the client learns of its server and the helper's
// judgement of it, and a name taken by another process that cannot stop the
// channel, whose name has a key nobody else knows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../general/udp_test_network.h"
#include "HelperFolder.h"
#include "HelperTrust.h"
#include "RouteRequestChannel.h"
#include "platform/RouteTable.h"
#include "platform/Threads.h"

namespace {

struct Counts {
  std::atomic<int> launches{0};
  std::atomic<int> creates{0};
};

// The system's launcher, counting its launches.
class CountingLauncher : public platform::HelperLauncher {
 public:
  CountingLauncher(std::shared_ptr<Counts> counts, CountingLauncher** self)
      : inner_(platform::MakeHelperLauncher()), counts_(std::move(counts)) {
    *self = this;
  }
  int Launch(const char* verb, const std::string& program, const std::string& parameter,
             const std::string& directory) override {
    ++counts_->launches;
    return inner_->Launch(verb, program, parameter, directory);
  }
  bool HasProcess() const override { return inner_->HasProcess(); }
  bool IsRunning(int* exitCode) override { return inner_->IsRunning(exitCode); }
  unsigned long ProcessId() const override { return inner_->ProcessId(); }
  void Forget() override { inner_->Forget(); }

 private:
  std::unique_ptr<platform::HelperLauncher> inner_;
  std::shared_ptr<Counts> counts_;
};

// The system's pipe, counting its creations; the test may close it, which
// ends the helper as the installer's exit would.
class CountingPipe : public platform::RequestPipeServer {
 public:
  explicit CountingPipe(std::shared_ptr<Counts> counts, CountingPipe** self)
      : inner_(platform::MakeRequestPipeServer()), counts_(std::move(counts)) {
    *self = this;
  }
  int Create(unsigned long number, const std::string& key) override {
    ++counts_->creates;
    return inner_->Create(number, key);
  }
  bool IsOpen() const override { return inner_->IsOpen(); }
  int WaitForClient(unsigned long id, unsigned timeoutMs) override {
    return inner_->WaitForClient(id, timeoutMs);
  }
  int Write(const void* data, int length) override { return inner_->Write(data, length); }
  bool Flush() override { return inner_->Flush(); }
  void Close() override { inner_->Close(); }

 private:
  std::unique_ptr<platform::RequestPipeServer> inner_;
  std::shared_ptr<Counts> counts_;
};

constexpr std::uint32_t kMissing = 0x0909090Au;  // 10.9.9.9, in no table
constexpr std::uint32_t kLocal = 0x0100007Fu;    // 127.0.0.1
constexpr std::uint16_t kRoutePort = 55330;

class RealHelperTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    folder_ = std::make_unique<HelperFolder>();
    channel_ = MakeChannel("");
  }

  std::unique_ptr<RouteRequestChannel> MakeChannel(const std::string& key) {
    return std::make_unique<RouteRequestChannel>(
        std::make_unique<CountingPipe>(counts_, &pipe_),
        std::make_unique<CountingLauncher>(counts_, &launcher_), platform::CurrentProcessId(), key);
  }
  void TearDown() override {
    channel_.reset();
    folder_.reset();
  }

  std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
  CountingPipe* pipe_ = nullptr;
  CountingLauncher* launcher_ = nullptr;
  std::unique_ptr<HelperFolder> folder_;
  std::unique_ptr<RouteRequestChannel> channel_;
};

TEST_F(RealHelperTest, EightThreadsAtOnceStartExactlyOneHelper) {
  std::atomic<int> go{0};
  std::atomic<int> written{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      while (go.load() == 0) std::this_thread::yield();
      if (channel_->RemoveHostRoute(kMissing, kHostRouteMask) == RouteRequest::kBytes) ++written;
    });
  }
  go = 1;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counts_->launches.load(), 1);
  EXPECT_EQ(written.load(), 8);
  EXPECT_EQ(folder_->Log(), "");
}

TEST_F(RealHelperTest, RunningHelperTakesRequestsWithoutALaunch) {
  ASSERT_EQ(channel_->EnsureHelper(), 1);
  EXPECT_EQ(channel_->RemoveHostRoute(kMissing, kHostRouteMask), RouteRequest::kBytes);
  EXPECT_EQ(channel_->RemoveHostRoute(kMissing, kHostRouteMask), RouteRequest::kBytes);
  EXPECT_EQ(counts_->launches.load(), 1);
  EXPECT_EQ(counts_->creates.load(), 1);
}

TEST_F(RealHelperTest, AfterTheHelperEndedANewPipeAndHelperServeTheNextRequest) {
  ASSERT_EQ(channel_->EnsureHelper(), 1);
  // Closing the pipe ends the helper, as the installer's exit does.
  pipe_->Close();
  for (int i = 0; i < 500 && launcher_->IsRunning(nullptr); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(launcher_->IsRunning(nullptr));
  EXPECT_EQ(channel_->RemoveHostRoute(kMissing, kHostRouteMask), RouteRequest::kBytes);
  EXPECT_EQ(counts_->launches.load(), 2);
  EXPECT_EQ(counts_->creates.load(), 2);
  EXPECT_EQ(folder_->Log(), "");
}

// The withdrawals at exit reach the wire as the helper's mode-1 records, in
// the order the announcements were made.
TEST_F(RealHelperTest, DestructionWithdrawsEveryAnnouncedRouteInOrder) {
  udptest::DatagramCapture capture(kRoutePort);
  ASSERT_TRUE(capture.IsOpen());
  const std::uint8_t first[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x01};
  const std::uint8_t second[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x02};
  ASSERT_NE(channel_->AnnounceUnitRoute(kLocal, first), 0);
  ASSERT_NE(channel_->AnnounceUnitRoute(kLocal, second), 0);
  channel_.reset();
  std::vector<std::string> seen;
  for (const udptest::Datagram& datagram : capture.Collect(1000)) {
    ASSERT_EQ(datagram.bytes.size(), 49u);
    // The MAC's last byte and the mode byte of the data section.
    seen.push_back(std::to_string(datagram.bytes[40]) + "/" + std::to_string(datagram.bytes[41]));
  }
  // The start-up announcement (01:01:01:01:01:01) comes first.
  EXPECT_EQ(seen, (std::vector<std::string>{"1/0", "1/0", "2/0", "1/1", "2/1"}));
}

// The plain name is no use to a squatter: the channel's pipe has a key.
TEST_F(RealHelperTest, ASquatterOnThePlainNameDoesNotStopTheChannel) {
  auto squatter = platform::MakeRequestPipeServer();
  ASSERT_EQ(squatter->Create(platform::CurrentProcessId(), ""), 0);
  EXPECT_EQ(channel_->RemoveHostRoute(kMissing, kHostRouteMask), RouteRequest::kBytes);
  EXPECT_EQ(counts_->launches.load(), 1);
  EXPECT_EQ(folder_->Log(), "");
}

// Whoever holds the installer's exact pipe name first gets no helper to talk
// to: the channel cannot create the pipe, logs it and starts nothing.
TEST_F(RealHelperTest, TakenPipeNameIsLoggedAndNoHelperStarts) {
  channel_ = MakeChannel("0123abcd");
  auto squatter = platform::MakeRequestPipeServer();
  ASSERT_EQ(squatter->Create(platform::CurrentProcessId(), "0123abcd"), 0);
  EXPECT_EQ(channel_->RemoveHostRoute(kMissing, kHostRouteMask), 0);
  EXPECT_EQ(counts_->launches.load(), 0);
  const std::string log = folder_->Log();
  EXPECT_EQ(log.rfind("Could not create named pipe ", 0), 0u) << log;
  EXPECT_NE(log, "Could not create named pipe 0\n");
}

TEST(RequestPipeTest, NameIsTheProcessNumberAndTheKey) {
  const std::string plain = platform::RequestPipeName(4120);
  ASSERT_GE(plain.size(), 7u);
  EXPECT_EQ(plain.substr(plain.size() - 7), "zeq4120");
  EXPECT_EQ(plain.find("zeq"), plain.size() - 7);
  EXPECT_EQ(platform::RequestPipeName(4120, "9f00"), plain + "-9f00");
}

// Each test serves a name of its own, away from any installer's.
class RequestPipeServedTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(server_->Create(number_, kKey), 0); }

  static constexpr const char* kKey = "5eed";

  const unsigned long self_ = platform::CurrentProcessId();
  const unsigned long number_ = 900000 + self_ % 100000;
  std::unique_ptr<platform::RequestPipeServer> server_ = platform::MakeRequestPipeServer();
};

TEST_F(RequestPipeServedTest, SecondServerOnATakenNameIsRefused) {
  auto second = platform::MakeRequestPipeServer();
  EXPECT_NE(second->Create(number_, kKey), 0);
  EXPECT_FALSE(second->IsOpen());
  // Once the name is free again it can be served anew.
  server_->Close();
  EXPECT_EQ(second->Create(number_, kKey), 0);
}

TEST_F(RequestPipeServedTest, ServerTurnsAwayAClientOfTheWrongProcess) {
  platform::RequestPipeClient client;
  platform::PipeServerFacts facts;
  ASSERT_EQ(client.Open(number_, kKey, &facts), 0);
  EXPECT_EQ(server_->WaitForClient(self_ + 1, 200), 0);
  EXPECT_EQ(server_->Write("x", 1), 0);
}

// The client learns that this process serves the pipe; the helper's check
// still refuses it, since this process is not the client's parent.
TEST_F(RequestPipeServedTest, ClientLearnsItsServerAndTheHelperWantsItsParent) {
  platform::RequestPipeClient client;
  platform::PipeServerFacts facts;
  ASSERT_EQ(client.Open(number_, kKey, &facts), 0);
  EXPECT_EQ(facts.processId, self_);
  EXPECT_NE(facts.parentId, self_);
  EXPECT_TRUE(facts.expectedUser);
  EXPECT_FALSE(IsTrustedPipeServer(facts, self_));
  platform::RequestPipeClient elsewhere;
  EXPECT_NE(elsewhere.Open(number_, "5eee", &facts), 0) << "a name with another key";
}

TEST_F(RequestPipeServedTest, WrittenBytesReachTheClientAndFlushWaitsForTheRead) {
  platform::RequestPipeClient client;
  platform::PipeServerFacts facts;
  ASSERT_EQ(client.Open(number_, kKey, &facts), 0);
  ASSERT_EQ(server_->WaitForClient(self_, 1000), 1);
  // The reader starts late; the flush cannot return before it has begun.
  std::atomic<bool> reading{false};
  bool read = false;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    char bytes[24];
    reading = true;
    read = client.ReadExactly(bytes, 24);
  });
  char request[24] = {3};
  EXPECT_EQ(server_->Write(request, 24), 24);
  EXPECT_TRUE(server_->Flush());
  EXPECT_TRUE(reading.load());
  reader.join();
  EXPECT_TRUE(read);
  server_->Close();
  char more[24];
  EXPECT_FALSE(client.ReadExactly(more, 24));
}

}  // namespace

namespace {

// The pipe's access list: full access for this process's user, read access
// for Administrators (a helper elevated with another administrator's
// account must open it), nobody else. Linux sockets have no such list.
TEST(RequestPipeAccessTest, InstallersUserAndAdministratorsOnly) {
  const std::vector<platform::PipeAccessEntry> entries = platform::RequestPipeAccessList();
#ifdef _WIN32
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].access, 0x10000000u) << "GENERIC_ALL for " << entries[0].account;
  EXPECT_EQ(entries[0].account.rfind("S-1-5-", 0), 0u) << entries[0].account;
  EXPECT_NE(entries[0].account, "S-1-5-32-544");
  EXPECT_EQ(entries[1], (platform::PipeAccessEntry{"S-1-5-32-544", 0x80000000u}));
#else
  EXPECT_TRUE(entries.empty());
#endif
}

// The system's adapter list: the loopback adapter owns 127.0.0.1, nobody
// owns an address of no link.
TEST(SystemRouteTableTest, AdapterIndexIsFoundOnlyForAnOwnAddress) {
  ZEQ_REQUIRE_NETNS();
  const std::unique_ptr<platform::RouteTable> table = platform::MakeRouteTable();
  EXPECT_NE(table->AdapterIndex(kLocal), platform::kNoInterfaceIndex);
  EXPECT_EQ(table->AdapterIndex(0x0909A8C0u), platform::kNoInterfaceIndex);  // 192.168.9.9
}

}  // namespace
