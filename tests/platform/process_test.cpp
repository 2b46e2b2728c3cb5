// Child processes through the platform seam, on both platforms. The children
// are this test program itself, run with a filter that picks one of the
// disabled ProcessChild tests below, so the same test works natively and
// under wine without any other program. The last test starts the simulated
// unit through the fixture, which is how the installer's tests use it.
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UnitSim.h"
#include "platform/Files.h"
#include "platform/Sockets.h"
#include "platform/Threads.h"

namespace {

// The children. They run only when a parent asks for them by name.
TEST(ProcessChild, DISABLED_Fails) { FAIL() << "failing on purpose: the parent wants exit code 1"; }

TEST(ProcessChild, DISABLED_WritesMarker) { std::ofstream("process-marker.txt") << "here"; }

TEST(ProcessChild, DISABLED_Prints) {
  std::fputs("to standard output\n", stdout);
  std::fputs("to standard error\n", stderr);
}

TEST(ProcessChild, DISABLED_Sleeps) { platform::SleepMilliseconds(30000); }

std::vector<std::string> Child(const char* name) {
  return {std::string("--gtest_filter=ProcessChild.DISABLED_") + name,
          "--gtest_also_run_disabled_tests"};
}

int RunToEnd(const std::vector<std::string>& arguments, const char* directory) {
  platform::ProcessHandle* child =
      platform::StartProcess(platform::ProgramPath(), arguments, directory);
  if (child == nullptr) return -1000;
  int code = -1001;
  if (platform::WaitProcess(child, 60000) != 1 || !platform::ProcessExitCode(child, &code)) {
    platform::TerminateChildProcess(child);
  }
  platform::CloseProcess(child);
  return code;
}

TEST(ProcessTest, ReportsTheChildsExitCode) {
  EXPECT_EQ(RunToEnd(Child("Fails"), nullptr), 1);
  EXPECT_EQ(RunToEnd({"--gtest_filter=NoSuchSuite.NoSuchTest"}, nullptr), 0);
}

TEST(ProcessTest, StartsTheChildInTheGivenWorkingDirectory) {
  const std::string folder = testsupport::ScratchDirectory("process-cwd");
  const std::string marker = folder + "/process-marker.txt";
  std::remove(marker.c_str());
  EXPECT_EQ(RunToEnd(Child("WritesMarker"), folder.c_str()), 0);
  EXPECT_TRUE(std::ifstream(marker).good()) << marker;
}

// Each stream goes to its own file, made anew; a stream not named stays
// the caller's.
TEST(ProcessTest, OutputGoesToTheFilesAsked) {
  const std::string folder = testsupport::ScratchDirectory("process-output");
  const std::string out = folder + "/out.txt";
  const std::string err = folder + "/err.txt";
  std::ofstream(out) << "left from before, and longer than what comes";
  platform::ProcessHandle* child =
      platform::StartProcess(platform::ProgramPath(), Child("Prints"), nullptr, {out, err});
  ASSERT_NE(child, nullptr);
  int code = -1;
  EXPECT_EQ(platform::WaitProcess(child, 60000), 1);
  EXPECT_TRUE(platform::ProcessExitCode(child, &code));
  platform::CloseProcess(child);
  EXPECT_EQ(code, 0);
  const auto text = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  EXPECT_NE(text(out).find("to standard output"), std::string::npos) << text(out);
  EXPECT_EQ(text(out).find("left from before"), std::string::npos);
  EXPECT_EQ(text(out).find("to standard error"), std::string::npos);
  // Windows's C runtime writes text mode: the line may end in CR LF.
  EXPECT_EQ(text(err).rfind("to standard error", 0), 0u) << text(err);
  EXPECT_EQ(text(err).find("to standard output"), std::string::npos);

  EXPECT_EQ(platform::StartProcess(platform::ProgramPath(), Child("Prints"), nullptr,
                                   {folder + "/no/such/folder/out.txt", ""}),
            nullptr);
}

TEST(ProcessTest, WaitTimesOutAndTerminateEndsTheChild) {
  platform::ProcessHandle* child =
      platform::StartProcess(platform::ProgramPath(), Child("Sleeps"), nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(platform::WaitProcess(child, 200), 0);
  int code = 0;
  EXPECT_FALSE(platform::ProcessExitCode(child, &code)) << "still running";
  EXPECT_EQ(platform::TerminateChildProcess(child), 0);
  EXPECT_EQ(platform::WaitProcess(child, 20000), 1);
  ASSERT_TRUE(platform::ProcessExitCode(child, &code));
  EXPECT_NE(code, 0);
  platform::CloseProcess(child);
}

TEST(ProcessTest, MissingProgramDoesNotStart) {
  EXPECT_EQ(platform::StartProcess("/no/such/folder/program", {}, nullptr), nullptr);
  EXPECT_NE(platform::LastProcessError(), 0);
}

// Reads from the socket until the text has arrived or the time is up.
bool ReadUntil(platform::SocketHandle socket, const std::string& text, int timeoutMs,
               std::string* seen) {
  for (int waited = 0; seen->find(text) == std::string::npos; waited += 50) {
    if (waited >= timeoutMs) return false;
    if (platform::WaitReadable(socket, 50) != 1) continue;
    char buffer[256];
    const int got = platform::Recv(socket, buffer, sizeof buffer);
    if (got <= 0) return false;
    seen->append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

TEST(ProcessTest, SimulatedUnitStartsAndGreetsOverTelnet) {
  ZEQ_REQUIRE_NETNS();
  ZEQ_REQUIRE_UNITSIM();
  testsupport::UnitSim sim;
  sim.AddUnit(testsupport::SimUnit("127.0.0.2").Group("North"));
  ASSERT_TRUE(sim.Start()) << sim.Error();
  std::uint32_t unit = 0;
  ASSERT_TRUE(platform::ParseAddress("127.0.0.2", &unit));
  const platform::SocketHandle telnet = platform::OpenTcpSocket();
  ASSERT_EQ(platform::Connect(telnet, unit, 23), 0);
  std::string seen;
  EXPECT_TRUE(ReadUntil(telnet, "\nlogin:", 5000, &seen)) << seen;
  platform::CloseSocket(telnet);
  EXPECT_TRUE(sim.WaitForEvent("connect", "127.0.0.2", 5000));
  EXPECT_TRUE(sim.Stop()) << sim.Error();
  EXPECT_EQ(sim.Events("exit").size(), 1u);
}

}  // namespace
