// The elevated route helper attacked as another local user would attack it,
// as root inside the test's own network namespace with the links of the
// route table test: a process of another user (nobody) that serves the pipe
// a helper is told to use, as after the installer ended and its process id
// was taken; the installer's own process running as another user than the
// one who asked for the helper; command lines the helper cannot read; a log
// file name turned into a link to another file; the rights the helper keeps;
// routes to this machine; and the routes an installer leaves behind when it
// is killed.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../general/udp_test_network.h"
#include "../HelperFolder.h"
#include "RouteRequestChannel.h"
#include "SystemRoutes.h"
#include "platform/HelperLauncher.h"
#include "platform/Process.h"
#include "platform/RequestPipe.h"

namespace {

using systemroutes::Routes;
using systemroutes::RunHelper;
using udptest::Address;

constexpr uid_t kNobody = 65534;
constexpr const char* kKey = "0a1b2c3d";

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Waits up to 20 s for `done`.
template <typename Condition>
bool Within20s(Condition done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

std::vector<std::uint8_t> AddRequestBytes(std::uint32_t destination) {
  std::uint8_t bytes[RouteRequest::kBytes];
  RouteRequest::HostRoute(RouteCommand::kAddHostRoute, destination, kHostRouteMask,
                          Address("192.168.1.1"), Address("192.168.1.10"))
      .Encode(bytes);
  return std::vector<std::uint8_t>(bytes, bytes + RouteRequest::kBytes);
}

// In a forked child: becomes nobody, serves the plain pipe name of its own
// process id and sends every client an add request; never returns. The
// parent learns from `ready` when the name is served.
[[noreturn]] void ServeAsNobody(int ready) {
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = platform::RequestPipeName(static_cast<unsigned long>(getpid()));
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 4) != 0) {
    _exit(4);
  }
  const std::vector<std::uint8_t> request = AddRequestBytes(Address("10.66.0.1"));
  if (write(ready, "r", 1) != 1) _exit(5);
  for (;;) {
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    if (send(client, request.data(), request.size(), MSG_NOSIGNAL) < 0) _exit(6);
  }
}

// A process of another user serving its own pipe name, ended at the end.
class NobodyServer {
 public:
  NobodyServer() {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) ServeAsNobody(ready[1]);
    close(ready[1]);
    char byte = 0;
    serving_ = pid_ > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
  }
  ~NobodyServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool IsServing() const { return serving_; }
  unsigned long Id() const { return static_cast<unsigned long>(pid_); }

 private:
  pid_t pid_ = -1;
  bool serving_ = false;
};

class HelperAttackTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_LINKS("192.168.1.10/24 10.0.0.5/8", "192.168.1.10");
    folder_ = std::make_unique<HelperFolder>();
  }
  void TearDown() override { folder_.reset(); }

  std::unique_ptr<HelperFolder> folder_;
};

// The pid-reuse attack: the helper was told a process id that another
// user's process now serves. It is not the helper's parent, so the helper
// reads nothing from it and ends.
TEST_F(HelperAttackTest, ServerThatIsNotTheHelpersParentIsRefused) {
  NobodyServer attacker;
  ASSERT_TRUE(attacker.IsServing());
  const std::string id = std::to_string(attacker.Id());
  EXPECT_EQ(RunHelper({id}), 1);
  EXPECT_EQ(folder_->Log(), "Could not open named pipe zeq" + id + ", error = 5\n");
  EXPECT_EQ(CountOf(Routes(), "10.66.0.1"), 0) << Routes();
}

// The helper's parent serves the pipe, but pkexec says another user asked
// for the helper: refused. Without that claim the same parent is accepted.
TEST_F(HelperAttackTest, ParentOfAnotherUserThanTheOneWhoAskedIsRefused) {
  const unsigned long self = platform::CurrentProcessId();
  auto server = platform::MakeRequestPipeServer();
  ASSERT_EQ(server->Create(self, kKey), 0);
  setenv("PKEXEC_UID", std::to_string(kNobody).c_str(), 1);
  const int refused = RunHelper({std::to_string(self), kKey});
  unsetenv("PKEXEC_UID");
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(folder_->Log(),
            "Could not open named pipe " + platform::RequestPipeName(self, kKey) + ", error = 5\n");

  // The refused helper's connection is still queued; the server turns it
  // away and goes on waiting for the one it launched.
  auto launcher = platform::MakeHelperLauncher();
  ASSERT_EQ(launcher->Launch(nullptr, "./pathkeeper", std::to_string(self) + " " + kKey, "."), 0);
  EXPECT_TRUE(Within20s([&] { return server->WaitForClient(launcher->ProcessId(), 100) == 1; }));
  server->Close();
}

TEST_F(HelperAttackTest, CommandLinesThatAreNotAProcessIdAndKeyAreRefused) {
  const std::vector<std::vector<std::string>> refused = {{"abc"},
                                                         {""},
                                                         {"-1"},
                                                         {"0"},
                                                         {"+5"},
                                                         {"4294967296"},
                                                         {"12x"},
                                                         {" 12"},
                                                         {"12", ""},
                                                         {"12", "ABCD"},
                                                         {"12", "../x"},
                                                         {"12", std::string(65, 'a')},
                                                         {"12", "ab", "cd"}};
  for (const std::vector<std::string>& arguments : refused) {
    EXPECT_EQ(RunHelper(arguments), 1) << arguments[0];
  }
  EXPECT_EQ(CountOf(folder_->Log(), "usage: pathkeeper INSTALLER_PROCESS_ID [PIPE_KEY]\n"),
            static_cast<int>(refused.size()));
}

// pathkeeper.log in the user's folder replaced by a symbolic link, a hard
// link or a FIFO: the root helper writes through none of them.
TEST_F(HelperAttackTest, LogIsNeverWrittenThroughALink) {
  const std::filesystem::path victim = std::filesystem::absolute("victim.txt");
  std::ofstream(victim) << "keep\n";
  const auto victimText = [&] {
    std::ifstream file(victim);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  };
  std::filesystem::create_symlink(victim, "pathkeeper.log");
  EXPECT_EQ(RunHelper({"abc"}), 1);
  std::filesystem::remove("pathkeeper.log");
  std::filesystem::create_symlink("made-by-root", "pathkeeper.log");
  EXPECT_EQ(RunHelper({"abc"}), 1);
  EXPECT_FALSE(std::filesystem::exists("made-by-root"));
  std::filesystem::remove("pathkeeper.log");
  std::filesystem::create_hard_link(victim, "pathkeeper.log");
  EXPECT_EQ(RunHelper({"abc"}), 1);
  std::filesystem::remove("pathkeeper.log");
  ASSERT_EQ(mkfifo("pathkeeper.log", 0666), 0);
  EXPECT_EQ(RunHelper({"abc"}), 1);  // would block on a FIFO without a reader
  std::filesystem::remove("pathkeeper.log");
  EXPECT_EQ(victimText(), "keep\n");
  // A plain file is written, with mode 0644, and one that the helper makes
  // goes to the user who asked for it, whose installer appends to it too.
  setenv("PKEXEC_UID", std::to_string(kNobody).c_str(), 1);
  const int exitCode = RunHelper({"abc"});
  unsetenv("PKEXEC_UID");
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(std::filesystem::status("pathkeeper.log").permissions(), std::filesystem::perms(0644));
  struct stat status {};
  ASSERT_EQ(stat("pathkeeper.log", &status), 0);
  EXPECT_EQ(status.st_uid, kNobody);
}

std::string StatusLine(unsigned long process, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return line.substr(field.size() + 1);
  }
  return "";
}

// Only CAP_NET_ADMIN (12) and CAP_NET_RAW (13) are left, in every set that
// could give a capability back, and no program it started could gain more.
TEST_F(HelperAttackTest, HelperKeepsOnlyTheNetworkCapabilities) {
  const unsigned long self = platform::CurrentProcessId();
  auto server = platform::MakeRequestPipeServer();
  ASSERT_EQ(server->Create(self, kKey), 0);
  auto launcher = platform::MakeHelperLauncher();
  ASSERT_EQ(launcher->Launch(nullptr, "./pathkeeper", std::to_string(self) + " " + kKey, "."), 0);
  ASSERT_EQ(server->WaitForClient(launcher->ProcessId(), 10000), 1);
  const unsigned long helper = launcher->ProcessId();
  EXPECT_EQ(StatusLine(helper, "CapEff"), "\t0000000000003000");
  EXPECT_EQ(StatusLine(helper, "CapPrm"), "\t0000000000003000");
  EXPECT_EQ(StatusLine(helper, "CapBnd"), "\t0000000000003000");
  EXPECT_EQ(StatusLine(helper, "CapInh"), "\t0000000000000000");
  EXPECT_EQ(StatusLine(helper, "CapAmb"), "\t0000000000000000");
  EXPECT_EQ(StatusLine(helper, "NoNewPrivs"), "\t1");
  // With those rights it still does its work.
  const std::vector<std::uint8_t> add = AddRequestBytes(Address("10.9.0.7"));
  ASSERT_EQ(server->Write(add.data(), static_cast<int>(add.size())), 24);
  EXPECT_TRUE(Within20s([] { return CountOf(Routes(), "10.9.0.7 via 192.168.1.1") == 1; }));
  server->Close();
}

TEST_F(HelperAttackTest, RoutesToThisMachineAreRefused) {
  RouteRequestChannel channel;
  for (const char* own : {"192.168.1.10", "10.0.0.5", "127.0.0.9"}) {
    ASSERT_NE(channel.AddHostRoute(Address(own), kHostRouteMask, Address("192.168.1.1"),
                                   Address("192.168.1.10")),
              0);
  }
  ASSERT_NE(channel.RemoveHostRoute(Address("10.99.99.99"), kHostRouteMask), 0);  // settles
  EXPECT_EQ(CountOf(Routes(), "via 192.168.1.1"), 0) << Routes();
  EXPECT_EQ(CountOf(folder_->Log(), ": an address of this computer\n"), 2) << folder_->Log();
  EXPECT_EQ(CountOf(folder_->Log(), ": not a unit's address\n"), 1) << folder_->Log();
}

// In a forked child: an installer that starts the helper, asks for `count`
// routes, tells the parent and waits to be killed.
[[noreturn]] void InstallerAskingForRoutes(int count, int ready) {
  const unsigned long self = static_cast<unsigned long>(getpid());
  auto server = platform::MakeRequestPipeServer();
  auto launcher = platform::MakeHelperLauncher();
  if (server->Create(self, kKey) != 0 ||
      launcher->Launch(nullptr, "./pathkeeper", std::to_string(self) + " " + kKey, ".") != 0 ||
      server->WaitForClient(launcher->ProcessId(), 10000) != 1) {
    _exit(3);
  }
  for (int i = 0; i < count; ++i) {
    const std::vector<std::uint8_t> add = AddRequestBytes(
        Address("10.10." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1)));
    if (server->Write(add.data(), static_cast<int>(add.size())) != 24) _exit(4);
  }
  server->Flush();
  if (write(ready, "r", 1) != 1) _exit(5);
  for (;;) pause();
}

// The installer is killed with its routes in place: the helper sees its
// pipe close and removes every one of them.
TEST_F(HelperAttackTest, RoutesOfAKilledInstallerAreAllRemoved) {
  constexpr int kRoutes = 1000;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t installer = fork();
  if (installer == 0) InstallerAskingForRoutes(kRoutes, ready[1]);
  close(ready[1]);
  char byte = 0;
  const bool asked = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  const bool added = asked && Within20s([] { return CountOf(Routes(), " proto 142") == kRoutes; });
  kill(installer, SIGKILL);
  waitpid(installer, nullptr, 0);
  ASSERT_TRUE(added) << CountOf(Routes(), " proto 142") << " routes";
  EXPECT_TRUE(Within20s([] { return CountOf(Routes(), " proto 142") == 0; }))
      << CountOf(Routes(), " proto 142") << " routes left";
  EXPECT_TRUE(Within20s([&] { return CountOf(folder_->Log(), "Removed route ") == kRoutes; }))
      << folder_->Log().substr(0, 400);
}

}  // namespace
