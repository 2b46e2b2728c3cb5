// The route-request channel against a fake pipe and a fake launcher: the
// launch sequence (plain, then "runas" on 740), the log lines of a failed
// pipe or start, the end of the wait when the helper dies unconnected, one
// helper for many threads, a new pipe and helper after the helper ended, the
// pipe's random key, the installed helper, and the removals written at
// destruction (only for requests that reached the helper).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PathkeeperLog.h"
#include "RouteRequestChannel.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the fakes saw and how they answer; shared, so that it outlives the
// channel that owns the fakes.
struct Script {
  std::mutex lock;
  std::vector<unsigned long> created;
  std::vector<std::string> keys;
  int createError = 0;
  bool writes_fail = false;
  int closes = 0;
  int flushes = 0;
  std::vector<Bytes> writes;
  bool connects = true;
  struct Launch {
    std::string verb, program, parameter, directory;
  };
  std::vector<Launch> launches;
  std::vector<int> launchResults;  // taken in order; 0 when used up
  bool running = false;
  int runningChecksLeft = -1;  // -1: no limit
  int exitCode = 0;
};

class FakePipe : public platform::RequestPipeServer {
 public:
  explicit FakePipe(std::shared_ptr<Script> script) : script_(std::move(script)) {}
  int Create(unsigned long number, const std::string& key) override {
    script_->created.push_back(number);
    script_->keys.push_back(key);
    open_ = script_->createError == 0;
    return script_->createError;
  }
  bool IsOpen() const override { return open_; }
  int WaitForClient(unsigned long, unsigned) override { return script_->connects ? 1 : 0; }
  int Write(const void* data, int length) override {
    if (!open_ || script_->writes_fail) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::lock_guard<std::mutex> hold(script_->lock);
    script_->writes.emplace_back(bytes, bytes + length);
    return length;
  }
  bool Flush() override {
    ++script_->flushes;
    return open_;
  }
  void Close() override {
    if (open_) ++script_->closes;
    open_ = false;
  }

 private:
  std::shared_ptr<Script> script_;
  bool open_ = false;
};

class FakeLauncher : public platform::HelperLauncher {
 public:
  explicit FakeLauncher(std::shared_ptr<Script> script) : script_(std::move(script)) {}
  int Launch(const char* verb, const std::string& program, const std::string& parameter,
             const std::string& directory) override {
    script_->launches.push_back({verb != nullptr ? verb : "", program, parameter, directory});
    int result = 0;
    if (!script_->launchResults.empty()) {
      result = script_->launchResults.front();
      script_->launchResults.erase(script_->launchResults.begin());
    }
    has_ = result == 0;
    script_->running = has_;
    return result;
  }
  bool HasProcess() const override { return has_; }
  bool IsRunning(int* exitCode) override {
    if (script_->runningChecksLeft == 0) script_->running = false;
    if (script_->runningChecksLeft > 0) --script_->runningChecksLeft;
    if (!script_->running && exitCode != nullptr) *exitCode = script_->exitCode;
    return has_ && script_->running;
  }
  unsigned long ProcessId() const override { return 77; }
  void Forget() override { has_ = false; }

 private:
  std::shared_ptr<Script> script_;
  bool has_ = false;
};

constexpr std::uint32_t kUnit = 0x0700090Au;       // 10.9.0.7
constexpr std::uint32_t kOtherUnit = 0x0800090Au;  // 10.9.0.8
constexpr std::uint32_t kGateway = 0x0101A8C0u;    // 192.168.1.1
constexpr std::uint32_t kLocal = 0x0A01A8C0u;      // 192.168.1.10
const std::uint8_t kMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::uint8_t kOtherMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66};

Bytes Request(const RouteRequest& request) {
  std::uint8_t bytes[RouteRequest::kBytes];
  request.Encode(bytes);
  return Bytes(bytes, bytes + RouteRequest::kBytes);
}

class RouteChannelTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    folder_ = testsupport::ScratchDirectory("route-channel-" + name);
    std::filesystem::remove(folder_ + "/pathkeeper.log");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  std::unique_ptr<RouteRequestChannel> MakeChannel(unsigned long processId = 4120,
                                                   const std::string& installed = "") {
    return std::make_unique<RouteRequestChannel>(std::make_unique<FakePipe>(script_),
                                                 std::make_unique<FakeLauncher>(script_), processId,
                                                 "", installed);
  }

  std::string Log() const {
    std::ifstream file(folder_ + "/pathkeeper.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::shared_ptr<Script> script_ = std::make_shared<Script>();
  std::string folder_;
  std::filesystem::path previous_;
};

TEST_F(RouteChannelTest, FirstRequestCreatesThePipeLaunchesAndWrites) {
  auto channel = MakeChannel(4120);
  EXPECT_EQ(channel->AddHostRoute(kUnit, kHostRouteMask, kGateway, kLocal), RouteRequest::kBytes);
  EXPECT_EQ(script_->created, (std::vector<unsigned long>{4120}));
  ASSERT_EQ(script_->launches.size(), 1u);
  EXPECT_EQ(script_->launches[0].verb, "");
  // The pipe's key is the helper's second argument.
  ASSERT_EQ(script_->keys.size(), 1u);
  EXPECT_EQ(script_->launches[0].parameter, "4120 " + script_->keys[0]);
  const std::string directory = std::filesystem::current_path().string();
  EXPECT_EQ(script_->launches[0].directory, directory);
  // Without the helper beside the installer, the "Tarvo Locator" folder is tried.
  EXPECT_EQ(
      script_->launches[0].program,
      (std::filesystem::path(directory) / "Tarvo Locator" / platform::kHelperProgramName).string());
  EXPECT_EQ(script_->writes,
            (std::vector<Bytes>{Request(RouteRequest::HostRoute(
                RouteCommand::kAddHostRoute, kUnit, kHostRouteMask, kGateway, kLocal))}));
  EXPECT_EQ(script_->flushes, 1);
}

// The key is 128 random bits, new for each channel, so that nobody can
// take the pipe's name before the installer does.
TEST_F(RouteChannelTest, EachChannelNamesItsPipeWithARandomKey) {
  MakeChannel()->EnsureHelper();
  MakeChannel()->EnsureHelper();
  ASSERT_EQ(script_->keys.size(), 2u);
  for (const std::string& key : script_->keys) {
    EXPECT_EQ(key.size(), 32u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos) << key;
  }
  EXPECT_NE(script_->keys[0], script_->keys[1]);
}

TEST_F(RouteChannelTest, InstalledHelperIsStartedWhateverLiesBesideTheInstaller) {
  std::ofstream(platform::kHelperProgramName) << "helper";
  auto channel = MakeChannel(4120, "/usr/lib/fieldloader/pathkeeper");
  channel->EnsureHelper();
  ASSERT_EQ(script_->launches.size(), 1u);
  EXPECT_EQ(script_->launches[0].program, "/usr/lib/fieldloader/pathkeeper");
}

TEST_F(RouteChannelTest, HelperBesideTheInstallerIsPreferred) {
  std::ofstream(platform::kHelperProgramName) << "helper";
  auto channel = MakeChannel();
  channel->RemoveHostRoute(kUnit, kHostRouteMask);
  ASSERT_EQ(script_->launches.size(), 1u);
  EXPECT_EQ(script_->launches[0].program,
            (std::filesystem::current_path() / platform::kHelperProgramName).string());
}

TEST_F(RouteChannelTest, ElevationRequiredLaunchesAgainWithRunas) {
  script_->launchResults = {platform::kErrorElevationRequired, 0};
  auto channel = MakeChannel();
  EXPECT_EQ(channel->EnsureHelper(), 1);
  ASSERT_EQ(script_->launches.size(), 2u);
  EXPECT_EQ(script_->launches[0].verb, "");
  EXPECT_EQ(script_->launches[1].verb, "runas");
  EXPECT_EQ(Log(), "");
}

TEST_F(RouteChannelTest, DeclinedElevationLogsSendsNothingAndIsAskedAgainNextTime) {
  constexpr int kCancelled = 1223;
  script_->launchResults = {platform::kErrorElevationRequired, kCancelled,
                            platform::kErrorElevationRequired, kCancelled};
  auto channel = MakeChannel();
  EXPECT_EQ(channel->AnnounceUnitRoute(kLocal, kMac), 0);
  EXPECT_EQ(Log(), platform::HelperLaunchFailureLine(1223));
  EXPECT_TRUE(script_->writes.empty());
  EXPECT_EQ(channel->AddHostRoute(kUnit, kHostRouteMask, kGateway, kLocal), 0);
  EXPECT_EQ(script_->launches.size(), 4u);
  EXPECT_EQ(Log(),
            platform::HelperLaunchFailureLine(1223) + platform::HelperLaunchFailureLine(1223));
  // The pipe stays for the next attempt, which succeeds now.
  EXPECT_EQ(script_->created.size(), 1u);
  EXPECT_NE(channel->AddHostRoute(kUnit, kHostRouteMask, kGateway, kLocal), 0);
  EXPECT_EQ(script_->writes.size(), 1u);
}

// Where the system cannot give the helper administrator rights at all, one
// line per unit says what would (on Windows the start failure's own line).
TEST_F(RouteChannelTest, NoWayToElevateIsExplainedOncePerUnit) {
  script_->launchResults = {platform::kErrorElevationRequired, platform::kErrorPrivilegeNotHeld,
                            platform::kErrorElevationRequired, platform::kErrorPrivilegeNotHeld};
  auto channel = MakeChannel();
  EXPECT_EQ(channel->AnnounceUnitRoute(kLocal, kMac), 0);
  EXPECT_EQ(channel->AddHostRoute(kUnit, kHostRouteMask, kGateway, kLocal), 0);
  const std::string remedy = platform::HelperElevationRemedy(platform::kErrorPrivilegeNotHeld);
  if (remedy.empty()) {
    EXPECT_EQ(Log(),
              platform::HelperLaunchFailureLine(1314) + platform::HelperLaunchFailureLine(1314));
  } else {
    EXPECT_EQ(Log(), "cannot add a route to 10.9.0.7: " + remedy + "\n");
  }
}

TEST_F(RouteChannelTest, PipeThatCannotBeCreatedIsLoggedAndNothingStarts) {
  script_->createError = 183;
  auto channel = MakeChannel();
  EXPECT_EQ(channel->WithdrawUnitRoute(kLocal, kMac), 0);
  EXPECT_EQ(Log(), "Could not create named pipe 183\n");
  EXPECT_TRUE(script_->launches.empty());
}

TEST_F(RouteChannelTest, HelperThatEndsWithoutConnectingEndsTheWait) {
  script_->connects = false;
  script_->runningChecksLeft = 3;
  script_->exitCode = 1;
  auto channel = MakeChannel();
  EXPECT_EQ(channel->RemoveHostRoute(kUnit, kHostRouteMask), 0);
  EXPECT_EQ(Log(), platform::HelperEndedFailureLine(1));
  EXPECT_TRUE(script_->writes.empty());
  // The next request starts a new helper.
  script_->connects = true;
  script_->runningChecksLeft = -1;
  EXPECT_NE(channel->RemoveHostRoute(kUnit, kHostRouteMask), 0);
  EXPECT_EQ(script_->launches.size(), 2u);
}

TEST_F(RouteChannelTest, RunningHelperGetsRequestsWithoutALaunch) {
  auto channel = MakeChannel();
  channel->AnnounceUnitRoute(kLocal, kMac);
  channel->AddHostRoute(kUnit, kHostRouteMask, kLocal, kLocal);
  channel->WithdrawUnitRoute(kLocal, kMac);
  EXPECT_EQ(script_->launches.size(), 1u);
  EXPECT_EQ(script_->created.size(), 1u);
  EXPECT_EQ(script_->writes.size(), 3u);
}

TEST_F(RouteChannelTest, EndedHelperIsReplacedWithANewPipeAndHelper) {
  auto channel = MakeChannel(99);
  channel->AddHostRoute(kUnit, kHostRouteMask, kGateway, kLocal);
  script_->running = false;
  EXPECT_NE(channel->AddHostRoute(kOtherUnit, kHostRouteMask, kGateway, kLocal), 0);
  EXPECT_EQ(script_->created, (std::vector<unsigned long>{99, 99}));
  EXPECT_EQ(script_->closes, 1);
  EXPECT_EQ(script_->launches.size(), 2u);
}

TEST_F(RouteChannelTest, DestructionRemovesEveryRouteOfTheRunInOrder) {
  auto channel = MakeChannel();
  channel->AnnounceUnitRoute(kLocal, kMac);
  channel->AddHostRoute(kUnit, kHostRouteMask, kLocal, kLocal);
  channel->AddHostRoute(kOtherUnit, kHostRouteMask, kGateway, kLocal);
  channel->AnnounceUnitRoute(kLocal, kOtherMac);
  // Removals by the jobs do not shorten the list.
  channel->WithdrawUnitRoute(kLocal, kMac);
  channel->RemoveHostRoute(kUnit, kHostRouteMask);
  script_->writes.clear();
  channel.reset();

  RouteRequest removeFirst =
      RouteRequest::HostRoute(RouteCommand::kAddHostRoute, kUnit, kHostRouteMask, kLocal, kLocal);
  removeFirst.command = RouteCommand::kRemoveHostRoute;
  RouteRequest removeSecond = RouteRequest::HostRoute(RouteCommand::kAddHostRoute, kOtherUnit,
                                                      kHostRouteMask, kGateway, kLocal);
  removeSecond.command = RouteCommand::kRemoveHostRoute;
  EXPECT_EQ(
      script_->writes,
      (std::vector<Bytes>{
          Request(RouteRequest::UnitRoute(RouteCommand::kWithdrawUnitRoute, kLocal, kMac)),
          Request(removeFirst), Request(removeSecond),
          Request(RouteRequest::UnitRoute(RouteCommand::kWithdrawUnitRoute, kLocal, kOtherMac))}));
  EXPECT_EQ(script_->closes, 1);
  // No helper is started at exit for a run without routes.
  script_ = std::make_shared<Script>();
  MakeChannel().reset();
  EXPECT_TRUE(script_->launches.empty());
  EXPECT_TRUE(script_->writes.empty());
}

// A route whose request never reached the helper is not the installer's:
// nothing is sent to remove it at exit.
TEST_F(RouteChannelTest, RequestsThatWereNotWrittenAreNotReversedAtExit) {
  auto channel = MakeChannel();
  script_->writes_fail = true;
  EXPECT_EQ(channel->AddHostRoute(kUnit, kHostRouteMask, kGateway, kLocal), 0);
  EXPECT_EQ(channel->AnnounceUnitRoute(kLocal, kMac), 0);
  script_->writes_fail = false;
  channel.reset();
  EXPECT_TRUE(script_->writes.empty());
}

TEST_F(RouteChannelTest, LogStopsGrowingAtItsLimit) {
  std::ofstream("pathkeeper.log", std::ios::binary) << std::string(kPathkeeperLogLimit - 1, 'x');
  AppendPathkeeperLog("one more line\n");
  AppendPathkeeperLog("and no other\n");
  EXPECT_EQ(std::filesystem::file_size("pathkeeper.log"),
            static_cast<std::uintmax_t>(kPathkeeperLogLimit - 1 + 14));
}

TEST_F(RouteChannelTest, EightThreadsAtOnceStartOneHelperAndWriteWholeRequests) {
  auto channel = MakeChannel();
  std::atomic<int> go{0};
  std::vector<std::thread> threads;
  for (std::uint32_t i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      while (go.load() == 0) std::this_thread::yield();
      channel->AddHostRoute(kUnit + (i << 24), kHostRouteMask, kGateway, kLocal);
    });
  }
  go = 1;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(script_->launches.size(), 1u);
  EXPECT_EQ(script_->created.size(), 1u);
  ASSERT_EQ(script_->writes.size(), 8u);
  for (const Bytes& write : script_->writes) EXPECT_EQ(write.size(), 24u);
}

}  // namespace
