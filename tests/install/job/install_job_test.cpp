// Install jobs end to end against simulated units on loopback: the route
// requests around a unit that does not answer the ping, every outcome of the
// login, the copy and the install script, cancels at each stage, thirty
// units at once, and every fault knob of the simulator leaving its unit out
// of Running. The route channel records its requests and the pinger answers
// as each test says, so the same tests run natively and under wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "JobFakes.h"
#include "JobRig.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "install/InstallJob.h"
#include "install/InstallLog.h"
#include "transfer/PackageManifest.h"
#include "units/ControllerFlags.h"

namespace {

using jobtest::Address;
using jobtest::MacOf;
using jobtest::ReadAll;
using jobtest::RouteCall;
using testsupport::SimEvent;
using testsupport::SimUnit;

// The position of a step in the job's step table.
std::size_t StepIndex(const std::string& name) {
  const auto names = InstallJobStepNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (name == names[i]) return i;
  }
  ADD_FAILURE() << "no step " << name;
  return 0;
}

const char kFrom[] = "127.0.0.1";

std::string Pattern(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + seed);
  return bytes;
}

struct Outcome {
  InstallState state;
  std::string text;
  JobReport report;
  bool jobActive;
};

class InstallJobTest : public jobtest::JobRig<> {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
    PrepareFolderForThisTest("install_job-");
  }

  void AddFile(const std::string& name, std::size_t size) {
    JobRig::AddFile(name, Pattern(size, static_cast<int>(manifest_.entries.size())));
  }

  void Cancel(tarvo_object* unit) {
    table_.Lock();
    table_.CancelUnit(unit);
    table_.Unlock();
  }

  void WaitForAllJobs(unsigned timeoutMs = 60000) {
    ASSERT_TRUE(table_.WaitForJobs(timeoutMs)) << "a job did not end";
  }

  Outcome Final(tarvo_object* unit) {
    table_.Lock();
    Outcome outcome{unit->state, unit->statusText, unit->report ? *unit->report : JobReport(),
                    unit->jobActive};
    table_.Unlock();
    return outcome;
  }

  void ExpectOutcome(tarvo_object* unit, InstallState state, const std::string& text) {
    const Outcome outcome = Final(unit);
    EXPECT_EQ(outcome.text, text);
    EXPECT_EQ(outcome.state, state) << outcome.text;
    EXPECT_FALSE(outcome.jobActive);
  }

  int LogLines(const std::string& address) {
    const std::string log = ReadAll(InstallLogPath());
    int lines = 0;
    const std::string needle = " " + address + " Install Started";
    for (std::size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
      ++lines;
    return lines;
  }
};

// The status runs "Connecting", the percentages, "Installing..", "Success";
// two files of 1000 and 3000 bytes read 25.0% between them. The unit reads
// slowly so that every text stays long enough to be seen.
TEST_F(InstallJobTest, ReachableUnitIsInstalledWithoutRouteTraffic) {
  AddFile("first.bin", 1000);
  AddFile("second.bin", 3000);
  StartUnits({SimUnit("127.0.0.2").Knob("rate=4000")});
  tarvo_object* unit = Add("127.0.0.2");
  jobtest::StatusTrail trail(table_, unit);
  runInProgressFlag = 0;
  EXPECT_EQ(StartInstallJobs(context_), Address("127.0.0.2"));
  EXPECT_EQ(runInProgressFlag.load(), 1);
  WaitForAllJobs();
  const std::vector<std::string> texts = trail.Stop();
  ExpectOutcome(unit, InstallState::Finished, "Success");
  EXPECT_EQ(channel_.CallCount(), 0u);

  const std::vector<std::string> order = {"Connecting", "25.0%", "100.0%", "Installing..",
                                          "Success"};
  auto at = texts.begin();
  for (const std::string& text : order) {
    at = std::find(at, texts.end(), text);
    ASSERT_NE(at, texts.end()) << "missing or out of order: " << text << " in "
                               << testing::PrintToString(texts);
  }
  for (const std::string& text : texts) {
    const bool known = std::find(order.begin(), order.end(), text) != order.end() || text == "" ||
                       text == "0.0%" || text == "50.0%" || text == "62.5%" || text == "75.0%";
    EXPECT_TRUE(known) << text;
  }
  EXPECT_EQ(ReadAll(sim_.StoredPath("127.0.0.2", "/opt/tarvo/second.bin")), Pattern(3000, 1));
  std::vector<std::string> puts;
  for (const SimEvent& event : sim_.Events("put", "127.0.0.2")) puts.push_back(event.Str("name"));
  EXPECT_EQ(puts, (std::vector<std::string>{"/opt/tarvo/first.bin", "/opt/tarvo/second.bin"}));
  EXPECT_EQ(LogLines("127.0.0.2"), 1);
}

// Every job's copy counts from 0 again, so that its first file starts at
// "0.0%" rather than where the unit's previous job ended: a second job on
// the same unit reads no percentage above 100.0% and reports the package's
// bytes once.
TEST_F(InstallJobTest, EveryJobCountsItsCopyFromZero) {
  AddFile("first.bin", 1000);
  AddFile("second.bin", 3000);
  StartUnits({SimUnit("127.0.0.2").Knob("rate=8000")});
  tarvo_object* unit = Add("127.0.0.2");
  StartInstallJobs(context_);
  WaitForAllJobs();
  ExpectOutcome(unit, InstallState::Finished, "Success");
  table_.Lock();
  unit->MarkPending();
  table_.Unlock();
  jobtest::StatusTrail trail(table_, unit);
  StartInstallJobs(context_);
  WaitForAllJobs();
  const std::vector<std::string> texts = trail.Stop();
  ExpectOutcome(unit, InstallState::Finished, "Success");
  EXPECT_EQ(Final(unit).report.bytesSent, 4000u);
  bool sawPercentage = false;
  for (const std::string& text : texts) {
    if (text.empty() || text.back() != '%') continue;
    sawPercentage = true;
    EXPECT_LE(std::stod(text), 100.0) << text;
  }
  EXPECT_TRUE(sawPercentage) << testing::PrintToString(texts);
}

TEST_F(InstallJobTest, ReportCarriesStepTimesBytesVersionAndAMaskedTranscript) {
  AddFile("first.bin", 5000);
  StartUnits({SimUnit("127.0.0.2")});
  tarvo_object* unit = Add("127.0.0.2");
  StartInstallJobs(context_);
  WaitForAllJobs();
  const JobReport report = Final(unit).report;
  EXPECT_EQ(report.bytesSent, 5000u);
  EXPECT_EQ(report.versionBefore, "???");
  EXPECT_EQ(report.installError, 0);
  EXPECT_EQ(report.failure, FailureClass::None);
  EXPECT_GT(report.startedAt, 0);
  long long previous = 0;
  ASSERT_EQ(report.steps.size(), InstallJobStepNames().size());
  for (std::size_t step = 0; step < report.steps.size(); ++step) {
    EXPECT_GE(report.steps[step].startMs, previous) << step + 1;
    EXPECT_GE(report.steps[step].endMs, report.steps[step].startMs) << step + 1;
    previous = report.steps[step].endMs;
  }
  bool sawMask = false;
  for (const std::string& line : report.transcript.lines()) {
    EXPECT_EQ(line.find(kUnitPassword), std::string::npos) << line;
    if (line.find("********") != std::string::npos) sawMask = true;
  }
  EXPECT_TRUE(sawMask);
  // The real dialogue, line by line: what was sent and what the unit said.
  const std::vector<std::string>& lines = report.transcript.lines();
  const auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  for (const char* line : {"> root", "> ********", "# logged in", "> ditto -k /dev/con1",
                           "> echo $?", "# exit status 0"}) {
    EXPECT_TRUE(has(line)) << line;
  }
  // The unit's bytes arrive one by one, so the wait for "login:" may end
  // before the space after it has come: that space then opens the next text.
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.rfind("< login:", 0) == 0; }));
  for (const std::string& line : lines) EXPECT_EQ(line.find('\r'), std::string::npos) << line;
}

// Each file's put is timed on the job's clock, inside the copy step and one
// after the other, and the job's start is on the wall clock, so that the
// jobs of a run share one time axis in the report.
TEST_F(InstallJobTest, ReportTimesEveryFileOfTheCopyOnTheWallClock) {
  AddFile("first.bin", 30000);
  AddFile("second.bin", 10000);
  AddFile("third.bin", 1);
  StartUnits({SimUnit("127.0.0.2").Knob("rate=200000")});
  tarvo_object* unit = Add("127.0.0.2");
  const auto wallMs = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const long long before = wallMs();
  StartInstallJobs(context_);
  WaitForAllJobs();
  const long long after = wallMs();
  const JobReport report = Final(unit).report;
  EXPECT_GE(report.startedAtMs, before - 1);
  EXPECT_LE(report.startedAtMs, after);
  EXPECT_NEAR(static_cast<double>(report.startedAtMs) / 1000, report.startedAt, 1.0);
  ASSERT_EQ(report.files.size(), 3u);
  const StepTime copy = report.steps[StepIndex("copy")];
  long long previous = copy.startMs;
  const char* names[] = {"/opt/tarvo/first.bin", "/opt/tarvo/second.bin", "/opt/tarvo/third.bin"};
  const std::uint32_t sizes[] = {30000, 10000, 1};
  for (std::size_t i = 0; i < 3; ++i) {
    const FileTime& file = report.files[i];
    EXPECT_EQ(file.remoteName, names[i]);
    EXPECT_EQ(file.bytes, sizes[i]) << names[i];
    EXPECT_GE(file.startMs, previous) << names[i];
    EXPECT_GE(file.endMs, file.startMs) << names[i];
    previous = file.endMs;
  }
  EXPECT_LE(previous, copy.endMs);
  // 30000 bytes at 200000 bytes a second take a while.
  EXPECT_GE(report.files[0].endMs - report.files[0].startMs, 100);
}

// Without a gateway the route goes via the reached-from address and the unit
// is told to route back; with one, only the host route is asked for. Both
// get the removals after the outcome, and the pause before the login.
TEST_F(InstallJobTest, UnitsThatDoNotAnswerThePingGetRouteRequestsAroundTheJob) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2"), SimUnit("127.0.0.3")});
  tarvo_object* direct = Add("127.0.0.2");
  tarvo_object* behind = Add("127.0.0.3", "127.0.0.254");
  pinger_.Silence(Address("127.0.0.2"));
  pinger_.Silence(Address("127.0.0.3"));
  StartInstallJobs(context_);
  WaitForAllJobs();
  ExpectOutcome(direct, InstallState::Finished, "Success");
  ExpectOutcome(behind, InstallState::Finished, "Success");
  const std::uint32_t from = Address(kFrom);
  const std::uint32_t host = 0xFFFFFFFFu;

  const auto macDirect = MacOf("127.0.0.2");
  const std::vector<RouteCall> first = channel_.CallsFor(Address("127.0.0.2"), macDirect.data());
  ASSERT_EQ(first.size(), 4u);
  EXPECT_EQ(first[0].kind, "announce");
  EXPECT_EQ(first[0].interfaceAddress, from);
  EXPECT_EQ(first[1].kind, "add");
  EXPECT_EQ(first[1].destination, Address("127.0.0.2"));
  EXPECT_EQ(first[1].mask, host);
  EXPECT_EQ(first[1].nextHop, from);
  EXPECT_EQ(first[1].interfaceAddress, from);
  EXPECT_EQ(first[2].kind, "withdraw");
  EXPECT_EQ(first[2].interfaceAddress, from);
  EXPECT_EQ(first[3].kind, "remove");
  EXPECT_EQ(first[3].mask, host);
  EXPECT_EQ(first[1].unitStatus, "Connecting") << "asked for before the login";
  EXPECT_EQ(first[2].unitStatus, "Success") << "removed after the outcome";

  const auto macBehind = MacOf("127.0.0.3");
  const std::vector<RouteCall> second = channel_.CallsFor(Address("127.0.0.3"), macBehind.data());
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[0].kind, "add");
  EXPECT_EQ(second[0].nextHop, Address("127.0.0.254"));
  EXPECT_EQ(second[0].interfaceAddress, from);
  EXPECT_EQ(second[1].kind, "withdraw") << "withdrawn whatever the gateway";
  EXPECT_EQ(second[2].kind, "remove");

  for (tarvo_object* unit : {direct, behind}) {
    const StepTime pause = Final(unit).report.steps[StepIndex("route")];
    EXPECT_GE(pause.endMs - pause.startMs, static_cast<long long>(kRouteSettleMs));
  }
}

// A host route whose request never reached the helper is not the job's to
// remove: an administrator's route to the unit must not be asked away. The
// unit is still told to drop its route back, as it is whatever the gateway.
TEST_F(InstallJobTest, RouteRequestsThatFailedAreNotReversed) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2")});
  tarvo_object* unit = Add("127.0.0.2");
  pinger_.Silence(Address("127.0.0.2"));
  channel_.FailAdds();
  StartInstallJobs(context_);
  WaitForAllJobs();
  ExpectOutcome(unit, InstallState::Finished, "Success");
  const auto mac = MacOf("127.0.0.2");
  std::vector<std::string> kinds;
  for (const RouteCall& call : channel_.CallsFor(Address("127.0.0.2"), mac.data())) {
    kinds.push_back(call.kind);
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"announce", "add", "withdraw"}));
}

TEST_F(InstallJobTest, LoginThatFailsOrIsCancelledEndsInFailedConnectionWithoutCopying) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2").Knob("refuse-password"),
              SimUnit("127.0.0.3").Knob("no-prompt=login"),
              SimUnit("127.0.0.4").Knob("no-prompt=password"),
              SimUnit("127.0.0.5").Knob("capital-password")});
  tarvo_object* refused = Add("127.0.0.2");
  std::vector<tarvo_object*> silent = {Add("127.0.0.3"), Add("127.0.0.4"), Add("127.0.0.5")};
  StartInstallJobs(context_);
  ASSERT_TRUE(sim_.WaitForCount("connect", "", 4, 10000));
  ASSERT_TRUE(sim_.WaitForEvent("login", "127.0.0.2", 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (tarvo_object* unit : silent) {
    EXPECT_EQ(Final(unit).state, InstallState::Running) << "waits for its prompt";
    Cancel(unit);
  }
  WaitForAllJobs(20000);
  ExpectOutcome(refused, InstallState::Failed, "Failed Connection");
  EXPECT_EQ(Final(refused).report.failure, FailureClass::Login);
  EXPECT_EQ(Final(refused).report.installError, 1) << "login 30, then the copy skipped";
  for (tarvo_object* unit : silent) {
    ExpectOutcome(unit, InstallState::Failed, "Failed Connection");
    EXPECT_EQ(Final(unit).report.failure, FailureClass::Cancelled);
  }
  EXPECT_TRUE(sim_.Events("put").empty()) << "no file is sent";
  EXPECT_TRUE(sim_.Events("command").empty()) << "the install command is not run";
}

// A check takes every step up to the file channel, route requests and
// their removal included, but sends no file, runs no command and writes
// nothing to the install log: a healthy unit ends "Ready" (finished, no
// failure class), the others with the failure a real run would meet.
TEST_F(InstallJobTest, CheckCopiesAndRunsNothingAndEndsReadyOrWithTheFailingStep) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2"), SimUnit("127.0.0.3").Knob("refuse-password")});
  tarvo_object* ready = Add("127.0.0.2");
  tarvo_object* refused = Add("127.0.0.3");
  // 127.0.0.9 is nobody: its telnet connection is refused.
  tarvo_object* absent = Add("127.0.0.9");
  pinger_.Silence(Address("127.0.0.2"));
  context_.dryRun = true;
  StartInstallJobs(context_);
  WaitForAllJobs();
  ExpectOutcome(ready, InstallState::Finished, "Ready");
  EXPECT_EQ(Final(ready).report.failure, FailureClass::None);
  EXPECT_EQ(Final(ready).report.bytesSent, 0u);
  ExpectOutcome(refused, InstallState::Failed, "Failed Connection");
  EXPECT_EQ(Final(refused).report.failure, FailureClass::Login);
  ExpectOutcome(absent, InstallState::Failed, "Failed Connection");
  EXPECT_EQ(Final(absent).report.failure, FailureClass::Unreachable);

  const auto mac = MacOf("127.0.0.2");
  std::vector<std::string> kinds;
  for (const RouteCall& call : channel_.CallsFor(Address("127.0.0.2"), mac.data()))
    kinds.push_back(call.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"announce", "add", "withdraw", "remove"}));
  ASSERT_TRUE(sim_.WaitForEvent("disconnect", "127.0.0.2", 5000));
  EXPECT_FALSE(sim_.Events("login", "127.0.0.2").empty()) << "the check logs in";
  EXPECT_TRUE(sim_.Events("put").empty()) << "no file is sent";
  EXPECT_TRUE(sim_.Events("command").empty()) << "no command is run";
  EXPECT_FALSE(std::filesystem::exists(sim_.StoredPath("127.0.0.2", "/opt/tarvo/first.bin")));
  for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.9"})
    EXPECT_EQ(LogLines(address), 0) << address;
}

TEST_F(InstallJobTest, PackageWithoutInstallLineEndsAtRebootRequired) {
  manifest_.autoInstall = 0;
  AddFile("first.bin", 2000);
  StartUnits({SimUnit("127.0.0.2")});
  tarvo_object* unit = Add("127.0.0.2");
  StartInstallJobs(context_);
  WaitForAllJobs();
  ExpectOutcome(unit, InstallState::Finished, "Reboot Required");
  EXPECT_EQ(sim_.Events("put", "127.0.0.2").size(), 1u);
  ASSERT_TRUE(sim_.WaitForEvent("disconnect", "127.0.0.2", 5000));
  for (const SimEvent& event : sim_.Events("telnet_line", "127.0.0.2")) {
    EXPECT_NE(event.Str("stage"), "command") << "no shell command after the login";
  }
}

// Exit 1 is a failure and reads "Failed", never "Success".
TEST_F(InstallJobTest, ExitStatusOrRestartDecidesTheOutcome) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2").Knob("exit=0"), SimUnit("127.0.0.3").Knob("exit=1"),
              SimUnit("127.0.0.4").Knob("exit=7"),
              SimUnit("127.0.0.5").Knob("restart-on-install")});
  const struct {
    const char* address;
    InstallState state;
    const char* text;
    FailureClass failure;
    int error;
  } cases[] = {
      {"127.0.0.2", InstallState::Finished, "Success", FailureClass::None, 0},
      {"127.0.0.3", InstallState::Failed, "Failed", FailureClass::Script, 1},
      {"127.0.0.4", InstallState::Failed, "Unknown Error", FailureClass::Script, 7},
      {"127.0.0.5", InstallState::Finished, "Connection Closed", FailureClass::ConnectionClosed,
       -1},
  };
  std::vector<tarvo_object*> units;
  for (const auto& c : cases) units.push_back(Add(c.address));
  StartInstallJobs(context_);
  WaitForAllJobs();
  for (std::size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(cases[i].address);
    ExpectOutcome(units[i], cases[i].state, cases[i].text);
    EXPECT_EQ(Final(units[i]).report.failure, cases[i].failure);
    EXPECT_EQ(Final(units[i]).report.installError, cases[i].error);
  }
}

// A cancel during the pause after the route request ends the pause at once
// instead of after the full settle time.
TEST_F(InstallJobTest, CancelDuringTheRoutePauseEndsThePauseAtOnce) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2")});
  tarvo_object* unit = Add("127.0.0.2");
  pinger_.Silence(Address("127.0.0.2"));
  const auto mac = MacOf("127.0.0.2");
  StartInstallJobs(context_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (channel_.CallsFor(Address("127.0.0.2"), mac.data()).size() < 2 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Cancel(unit);
  WaitForAllJobs();
  ExpectOutcome(unit, InstallState::CancelRequested, "Cancelled");
  const StepTime pause = Final(unit).report.steps[StepIndex("route")];
  EXPECT_LT(pause.endMs - pause.startMs, static_cast<long long>(kRouteSettleMs) / 2);
}

// A cancel while the job pings: it still logs in, but copies nothing.
TEST_F(InstallJobTest, CancelBeforeTheLoginCopiesNothingAndEndsCancelled) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2")});
  tarvo_object* unit = Add("127.0.0.2");
  pinger_.HoldUntil(0, 10000);
  StartInstallJobs(context_);
  ASSERT_TRUE(pinger_.WaitHeld(1, 10000));
  Cancel(unit);
  pinger_.Release();
  WaitForAllJobs();
  ExpectOutcome(unit, InstallState::CancelRequested, "Cancelled");
  EXPECT_EQ(Final(unit).report.failure, FailureClass::Cancelled);
  SimEvent login;
  ASSERT_TRUE(sim_.WaitForEvent("login", "127.0.0.2", 5000, &login));
  EXPECT_TRUE(login.Bool("ok"));
  EXPECT_TRUE(sim_.Events("put").empty());
  EXPECT_TRUE(sim_.Events("install").empty());
}

TEST_F(InstallJobTest, CancelDuringTheCopyEndsCancelledWithoutACopyFailure) {
  AddFile("big.bin", 400000);
  StartUnits({SimUnit("127.0.0.2").Knob("rate=40000")});
  tarvo_object* unit = Add("127.0.0.2");
  jobtest::StatusTrail trail(table_, unit);
  StartInstallJobs(context_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (trail.Latest().find('%') == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_NE(trail.Latest().find('%'), std::string::npos) << "the copy never started";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Cancel(unit);
  WaitForAllJobs();
  const std::vector<std::string> texts = trail.Stop();
  ExpectOutcome(unit, InstallState::CancelRequested, "Cancelled");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "File Copy Fail"), 0);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Failed Connection"), 0);
  EXPECT_TRUE(sim_.Events("install").empty());
  for (const SimEvent& event : sim_.Events("file", "127.0.0.2")) {
    EXPECT_FALSE(event.Bool("stored")) << "the put was cut short";
  }
  EXPECT_NE(Final(unit).report.installError, 0);
  // The file broken off counts the bytes that got through.
  const std::vector<FileTime> files = Final(unit).report.files;
  ASSERT_EQ(files.size(), 1u);
  EXPECT_GT(files[0].bytes, 0u);
  EXPECT_LT(files[0].bytes, 400000u);
}

// The shell holds the install script: a cancel then closes the session, no
// exit status can be read, and the outcome step has the last word.
TEST_F(InstallJobTest, CancelDuringTheScriptReadsConnectionClosed) {
  AddFile("first.bin", 1000);
  sim_.AddArguments({"--telnet-port", "2323"});
  StartUnits({SimUnit("127.0.0.2")});
  jobtest::HoldingShell shell("127.0.0.2", kDefaultInstallScript);
  ASSERT_TRUE(shell.listening());
  tarvo_object* unit = Add("127.0.0.2");
  StartInstallJobs(context_);
  ASSERT_TRUE(shell.WaitHolding(20000));
  EXPECT_EQ(Final(unit).text, "Installing..");
  Cancel(unit);
  WaitForAllJobs();
  EXPECT_TRUE(shell.WaitClosed(5000));
  ExpectOutcome(unit, InstallState::Finished, "Connection Closed");
  EXPECT_EQ(Final(unit).report.failure, FailureClass::Cancelled);
}

TEST_F(InstallJobTest, ThirtyUnitsStartAtOnceAndAllSucceed) {
  constexpr int kUnits = 30;
  AddFile("first.bin", 3000);
  std::vector<SimUnit> units;
  for (int i = 0; i < kUnits; ++i) units.push_back(SimUnit("127.0.1." + std::to_string(i + 1)));
  StartUnits(units);
  std::vector<tarvo_object*> added;
  for (const SimUnit& unit : units) added.push_back(Add(unit.address));
  // Every ping waits until all thirty are in flight at once.
  pinger_.HoldUntil(kUnits, 20000);
  EXPECT_NE(StartInstallJobs(context_), 0u);
  table_.Lock();
  for (tarvo_object* unit : added) EXPECT_NE(unit->state, InstallState::Pending);
  table_.Unlock();
  WaitForAllJobs(120000);
  EXPECT_EQ(pinger_.MostHeldAtOnce(), kUnits);
  for (tarvo_object* unit : added) ExpectOutcome(unit, InstallState::Finished, "Success");
  EXPECT_EQ(sim_.Events("install").size(), static_cast<std::size_t>(kUnits));
}

TEST_F(InstallJobTest, StarterSkipsUnitsThatAreNotPending) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2"), SimUnit("127.0.0.3")});
  tarvo_object* idle = Add("127.0.0.2");
  Add("127.0.0.3");
  table_.Lock();
  idle->state = InstallState::Idle;
  table_.Unlock();
  EXPECT_EQ(StartInstallJobs(context_), Address("127.0.0.3"));
  WaitForAllJobs();
  EXPECT_EQ(Final(idle).state, InstallState::Idle);
  EXPECT_EQ(StartInstallJobs(context_), 0u) << "nothing left to start";
  EXPECT_EQ(LogLines("127.0.0.2"), 0);
  EXPECT_EQ(LogLines("127.0.0.3"), 1);
}

// The second thread cannot be started: its unit fails at once, the others
// go on.
TEST_F(InstallJobTest, UnitWhoseThreadCannotStartFailsAndTheOthersGoOn) {
  AddFile("first.bin", 1000);
  StartUnits({SimUnit("127.0.0.2"), SimUnit("127.0.0.3"), SimUnit("127.0.0.4")});
  const std::vector<tarvo_object*> units = {Add("127.0.0.2"), Add("127.0.0.3"), Add("127.0.0.4")};
  static std::atomic<int> calls{0};
  calls = 0;
  context_.startThread = [](platform::ThreadProc proc, void* argument, unsigned stackSize,
                            unsigned long* threadId) -> platform::ThreadHandle* {
    if (++calls == 2) return nullptr;
    return platform::StartThread(proc, argument, stackSize, threadId);
  };
  EXPECT_EQ(StartInstallJobs(context_), Address("127.0.0.4"));
  WaitForAllJobs();
  ExpectOutcome(units[0], InstallState::Finished, "Success");
  ExpectOutcome(units[1], InstallState::Failed, "Failed");
  ExpectOutcome(units[2], InstallState::Finished, "Success");
  EXPECT_EQ(LogLines("127.0.0.3"), 0);
}

// Whatever the unit does, its job ends and leaves Running, so a next wave can
// follow. Units that wait for ever are cancelled after a while, as the user
// would.
TEST_F(InstallJobTest, EveryFaultKnobLeavesItsUnitOutOfRunning) {
  AddFile("first.bin", 6000);
  const std::vector<std::string> knobs = {"fs-silent",          "fs-fault=crc",
                                          "fs-fault=len13",     "fs-fault=errflag",
                                          "fs-fault=status:9",  "fs-fault-at=trailer,fs-fault=crc",
                                          "fs-close-after=500", "fs-fault-put=1,fs-fault=status:4",
                                          "rate=1000",          "bare-login",
                                          "banner=Tarvo",       "no-prompt=shell",
                                          "capital-password",   "refuse-password",
                                          "exit=127",           "restart-on-install",
                                          "telnet-opts=none",   "no-echo"};
  std::vector<SimUnit> units;
  for (std::size_t i = 0; i < knobs.size(); ++i) {
    SimUnit unit("127.0.2." + std::to_string(i + 1));
    std::string rest = knobs[i];
    for (std::size_t comma; (comma = rest.find(',')) != std::string::npos; rest.erase(0, comma + 1))
      unit.Knob(rest.substr(0, comma));
    units.push_back(unit.Knob(rest));
  }
  StartUnits(units);
  std::vector<tarvo_object*> added;
  for (const SimUnit& unit : units) added.push_back(Add(unit.address));
  pinger_.Silence(Address("127.0.2.18"));
  StartInstallJobs(context_);
  if (!table_.WaitForJobs(5000)) {
    table_.Lock();
    for (tarvo_object* unit : added) {
      if (unit->state == InstallState::Running) table_.CancelUnit(unit);
    }
    table_.Unlock();
  }
  WaitForAllJobs(60000);
  for (std::size_t i = 0; i < knobs.size(); ++i) {
    SCOPED_TRACE(knobs[i]);
    const Outcome outcome = Final(added[i]);
    EXPECT_NE(outcome.state, InstallState::Running);
    EXPECT_NE(outcome.state, InstallState::Pending);
    EXPECT_FALSE(outcome.jobActive);
    EXPECT_NE(outcome.text, "Connecting");
    EXPECT_NE(outcome.text, "Installing..");
  }
  for (std::size_t i : {1, 2, 3, 4, 5, 6, 7}) {
    SCOPED_TRACE(knobs[i]);
    ExpectOutcome(added[i], InstallState::Failed, "Failed Connection");
    EXPECT_EQ(Final(added[i]).report.failure, FailureClass::Copy);
  }
  ExpectOutcome(added[14], InstallState::Failed, "Unknown Error");
  ExpectOutcome(added[17], InstallState::Finished, "Success");
}

}  // namespace
