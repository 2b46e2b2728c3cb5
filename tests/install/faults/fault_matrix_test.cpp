// Every fault a simulated unit can show, each against the job step it hits,
// one unit and one install job per case: the status text and state the job
// ends with, its failure class and install error, what the unit stored and
// ran, the install log's one line, and the route requests (only for a unit
// that does not answer the ping). A unit that never sends a prompt makes its
// job wait for ever, as it should; the test then cancels it, as the user
// would, and the job must end at once. No case may leave its unit Running.
//
// The release is two files of 1000 and 3000 bytes, so a fault can hit the
// first or the second put. A unit stores a file whose trailer reply it
// spoils with a bad check value or length, and refuses one whose reply
// carries the error flag or a status; either way the job sends no further
// file. The pinger is the program's own, so the no-echo
// knob is met by a real ICMP echo; route requests are recorded.
//
// The matrix is labelled slow: without ZEQ_FULL=1 only the cases marked for
// the sample run (the file service's 30-second silence is never among them).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <thread>

#include "../job/JobFakes.h"
#include "../job/JobRig.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "install/InstallJob.h"
#include "install/InstallLog.h"
#include "transfer/PackageManifest.h"
#include "units/unit_table.h"

namespace {

using testsupport::SimEvent;
using testsupport::SimUnit;

constexpr int kAnyNonZero = 0x7FFFFFFF;
const char kUnit[] = "127.0.0.2";

struct FaultCase {
  const char* name;
  const char* knobs;  // comma-separated, as unitsim's DESC takes them
  const char* step;   // the job step the fault hits
  bool stalls;        // the job waits for a prompt that never comes
  InstallState state;
  const char* text;
  FailureClass failure;
  int installError;  // or kAnyNonZero
  int storedFiles;
  const char* scriptEvent;  // the unit's event for its install script, or null
  bool sampled;             // runs without ZEQ_FULL=1
  unsigned jobLimitMs;      // the longest the job may take
};

constexpr InstallState kFinished = InstallState::Finished;
constexpr InstallState kFailed = InstallState::Failed;
constexpr unsigned kQuick = 20000;
// The file service's 30-second wait for a reply, and room beside it.
constexpr unsigned kReplyWait = 45000;

// clang-format off
const FaultCase kCases[] = {
  // name                           knobs                                         step
  //   stalls state  text                 failure                         error stored script sampled limit
  {"RefusedPassword",              "refuse-password",                              "login",
     false, kFailed, "Failed Connection", FailureClass::Login,            1,    0, nullptr, true, kQuick},
  {"NoLoginPrompt",                "no-prompt=login",                              "login",
     true, kFailed, "Failed Connection", FailureClass::Cancelled,         1,    0, nullptr, true, kQuick},
  {"NoPasswordPrompt",             "no-prompt=password",                           "login",
     true, kFailed, "Failed Connection", FailureClass::Cancelled,         1,    0, nullptr, false, kQuick},
  {"NoShellPrompt",                "no-prompt=shell",                              "login",
     true, kFailed, "Failed Connection", FailureClass::Cancelled,         1,    0, nullptr, false, kQuick},
  {"CapitalPasswordPrompt",        "capital-password",                             "login",
     true, kFailed, "Failed Connection", FailureClass::Cancelled,         1,    0, nullptr, true, kQuick},
  {"BannerAndCapitalPassword",     "banner=Tarvo,capital-password",                "login",
     true, kFailed, "Failed Connection", FailureClass::Cancelled,         1,    0, nullptr, false, kQuick},
  {"BareLoginPrompt",              "bare-login",                                   "login",
     true, kFailed, "Failed Connection", FailureClass::Cancelled,         1,    0, nullptr, false, kQuick},
  {"Banner",                       "banner=Tarvo",                                 "login",
     false, kFinished, "Success",        FailureClass::None,              0,    2, "install", true, kQuick},
  {"NoTelnetOptions",              "telnet-opts=none",                             "login",
     false, kFinished, "Success",        FailureClass::None,              0,    2, "install", false, kQuick},
  {"BadCheckOnFirstRequest",       "fs-fault=crc",                                 "copy, first put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1001,    0, nullptr, true, kQuick},
  {"LongReplyOnFirstRequest",      "fs-fault=len13",                               "copy, first put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1002,    0, nullptr, false, kQuick},
  {"ErrorFlagOnFirstRequest",      "fs-fault=errflag",                             "copy, first put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,           275,    0, nullptr, false, kQuick},
  {"StatusOnFirstRequest",         "fs-fault=status:9",                            "copy, first put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,             9,    0, nullptr, false, kQuick},
  {"BadCheckOnFirstTrailer",       "fs-fault-at=trailer,fs-fault=crc",             "copy, first trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1001,    1, nullptr, false, kQuick},
  {"LongReplyOnFirstTrailer",      "fs-fault-at=trailer,fs-fault=len13",           "copy, first trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1002,    1, nullptr, true, kQuick},
  {"ErrorFlagOnFirstTrailer",      "fs-fault-at=trailer,fs-fault=errflag",         "copy, first trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,           275,    0, nullptr, false, kQuick},
  {"StatusOnFirstTrailer",         "fs-fault-at=trailer,fs-fault=status:3",        "copy, first trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,             3,    0, nullptr, false, kQuick},
  {"BadCheckOnSecondRequest",      "fs-fault-put=2,fs-fault=crc",                  "copy, second put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1001,    1, nullptr, false, kQuick},
  {"LongReplyOnSecondRequest",     "fs-fault-put=2,fs-fault=len13",                "copy, second put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1002,    1, nullptr, false, kQuick},
  {"ErrorFlagOnSecondRequest",     "fs-fault-put=2,fs-fault=errflag",              "copy, second put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,           275,    1, nullptr, true, kQuick},
  {"StatusOnSecondRequest",        "fs-fault-put=2,fs-fault=status:4",             "copy, second put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,             4,    1, nullptr, false, kQuick},
  {"BadCheckOnSecondTrailer",      "fs-fault-put=2,fs-fault-at=trailer,fs-fault=crc", "copy, second trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1001,    2, nullptr, false, kQuick},
  {"LongReplyOnSecondTrailer",     "fs-fault-put=2,fs-fault-at=trailer,fs-fault=len13", "copy, second trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1002,    2, nullptr, false, kQuick},
  {"ErrorFlagOnSecondTrailer",     "fs-fault-put=2,fs-fault-at=trailer,fs-fault=errflag", "copy, second trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,           275,    1, nullptr, false, kQuick},
  {"StatusOnSecondTrailer",        "fs-fault-put=2,fs-fault-at=trailer,fs-fault=status:3", "copy, second trailer",
     false, kFailed, "Failed Connection", FailureClass::Copy,             3,    1, nullptr, true, kQuick},
  {"SilentFileService",            "fs-silent",                                    "copy, first put request",
     false, kFailed, "Failed Connection", FailureClass::Copy,   kAnyNonZero,    0, nullptr, false, kReplyWait},
  {"CloseInFirstFile",             "fs-close-after=500",                           "copy, first file's data",
     false, kFailed, "Failed Connection", FailureClass::Copy,   kAnyNonZero,    0, nullptr, true, kQuick},
  {"CloseInSecondFile",            "fs-close-after=2500",                          "copy, second file's data",
     false, kFailed, "Failed Connection", FailureClass::Copy,   kAnyNonZero,    1, nullptr, false, kQuick},
  {"SlowLink",                     "rate=8000",                                    "copy",
     false, kFinished, "Success",        FailureClass::None,              0,    2, "install", false, kQuick},
  {"ScriptExits0",                 "exit=0",                                       "script",
     false, kFinished, "Success",        FailureClass::None,              0,    2, "install", false, kQuick},
  {"ScriptExits1",                 "exit=1",                                       "script",
     false, kFailed, "Failed",           FailureClass::Script,            1,    2, "install", true, kQuick},
  {"ScriptExits2",                 "exit=2",                                       "script",
     false, kFailed, "Unknown Error",    FailureClass::Script,            2,    2, "install", false, kQuick},
  {"ScriptExits127",               "exit=127",                                     "script",
     false, kFailed, "Unknown Error",    FailureClass::Script,          127,    2, "install", true, kQuick},
  {"ScriptExits255",               "exit=255",                                     "script",
     false, kFailed, "Unknown Error",    FailureClass::Script,          255,    2, "install", false, kQuick},
  {"RestartDuringScript",          "restart-on-install",                           "script",
     false, kFinished, "Connection Closed", FailureClass::ConnectionClosed, -1, 2, "restart", true, kQuick},
  {"NoEcho",                       "no-echo",                                      "ping, routes",
     false, kFinished, "Success",        FailureClass::None,              0,    2, "install", true, kQuick},
  {"NoEchoAndRefusedPassword",     "no-echo,refuse-password",                      "ping, routes, login",
     false, kFailed, "Failed Connection", FailureClass::Login,            1,    0, nullptr, false, kQuick},
  {"NoEchoAndBadCheck",            "no-echo,fs-fault=crc",                         "ping, routes, copy",
     false, kFailed, "Failed Connection", FailureClass::Copy,         -1001,    0, nullptr, false, kQuick},
  {"NoEchoAndRestart",             "no-echo,restart-on-install",                   "ping, routes, script",
     false, kFinished, "Connection Closed", FailureClass::ConnectionClosed, -1, 2, "restart", false, kQuick},
};
// clang-format on

// Test names and failure messages show the case by its name.
void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

bool RunWholeMatrix() {
  const char* full = std::getenv("ZEQ_FULL");
  return full != nullptr && std::strcmp(full, "1") == 0;
}

using jobtest::ReadAll;

class FaultMatrixTest : public jobtest::JobRig<testing::TestWithParam<FaultCase>> {
 protected:
  // The program's own pinger; the route channel records.
  FaultMatrixTest() : JobRig(jobtest::Pinger::kProgramsOwn) {}

  void SetUp() override {
    if (!GetParam().sampled && !RunWholeMatrix()) GTEST_SKIP() << "outside the sample (ZEQ_FULL=1)";
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
    PrepareFolder(std::string("fault-") + GetParam().name);
    AddFile("first.bin", 1000);
    AddFile("second.bin", 3000);
  }

  void AddFile(const std::string& name, std::size_t size) {
    JobRig::AddFile(name, std::string(size, static_cast<char>('a' + size % 7)));
  }

  tarvo_object* StartUnit() {
    sim_.AddUnit(SimUnit(kUnit).Knob(GetParam().knobs));
    if (!sim_.Start()) return nullptr;
    sim_.StoreInstallScript(kUnit);
    return Add(kUnit);
  }

  // The job waits for a prompt: it must still be Running a while after the
  // telnet connection, and end at once when cancelled.
  void CancelStalledJob(tarvo_object* unit) {
    ASSERT_TRUE(sim_.WaitFor(
        [](const SimEvent& e) { return e.event() == "connect" && e.Str("service") == "telnet"; },
        10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    table_.Lock();
    EXPECT_EQ(unit->state, InstallState::Running) << "waits for its prompt";
    table_.CancelUnit(unit);
    table_.Unlock();
  }

  int StoredFiles() {
    int stored = 0;
    for (const SimEvent& event : sim_.Events("file", kUnit)) stored += event.Bool("stored") ? 1 : 0;
    return stored;
  }
};

TEST_P(FaultMatrixTest, JobEndsWithTheSpecifiedOutcome) {
  const FaultCase& c = GetParam();
  SCOPED_TRACE(std::string(c.knobs) + " hitting " + c.step);
  tarvo_object* unit = StartUnit();
  ASSERT_NE(unit, nullptr) << sim_.Error();
  jobtest::StatusTrail trail(table_, unit);
  ASSERT_EQ(StartInstallJobs(context_), jobtest::Address(kUnit));
  if (c.stalls) {
    CancelStalledJob(unit);
    ASSERT_TRUE(table_.WaitForJobs(5000)) << "the cancelled job did not end";
  }
  ASSERT_TRUE(table_.WaitForJobs(c.jobLimitMs)) << "the job hangs";
  const std::vector<std::string> texts = trail.Stop();

  table_.Lock();
  const InstallState state = unit->state;
  const std::string text = unit->statusText;
  const JobReport report = unit->report ? *unit->report : JobReport();
  const bool active = unit->jobActive;
  table_.Unlock();
  EXPECT_EQ(text, c.text);
  EXPECT_EQ(state, c.state) << text;
  EXPECT_FALSE(active);
  EXPECT_EQ(report.failure, c.failure) << FailureClassName(report.failure);
  if (c.installError == kAnyNonZero) {
    EXPECT_NE(report.installError, 0);
  } else {
    EXPECT_EQ(report.installError, c.installError);
  }

  // "File Copy Fail" gives way to the outcome within microseconds, too fast
  // to be seen; a job that never ran its script never showed its text.
  if (c.scriptEvent == nullptr) {
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Installing.."), 0)
        << testing::PrintToString(texts);
  }
  EXPECT_EQ(StoredFiles(), c.storedFiles);
  if (c.scriptEvent != nullptr) {
    EXPECT_TRUE(sim_.WaitForEvent(c.scriptEvent, kUnit, 5000)) << c.scriptEvent;
  } else {
    EXPECT_TRUE(sim_.Events("install").empty());
    EXPECT_TRUE(sim_.Events("restart").empty());
  }

  const std::string log = ReadAll(InstallLogPath());
  EXPECT_NE(log.find(std::string(" ") + kUnit + " Install Started"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;

  const auto mac = jobtest::MacOf(kUnit);
  std::vector<std::string> kinds;
  for (const jobtest::RouteCall& call : channel_.CallsFor(jobtest::Address(kUnit), mac.data()))
    kinds.push_back(call.kind);
  const bool noEcho = std::strstr(c.knobs, "no-echo") != nullptr;
  const std::vector<std::string> expected =
      noEcho ? std::vector<std::string>{"announce", "add", "withdraw", "remove"}
             : std::vector<std::string>();
  EXPECT_EQ(kinds, expected);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
