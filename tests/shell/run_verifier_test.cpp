// The verify phase without a network: which answers confirm a release, and
// the phase's course on a real main loop, with a fake discovery pass that
// enters the answers a test scripts into the device table as discovery
// would. The bounds on the loop are generous guards, not timings.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../install/job/JobFakes.h"
#include "LoopbackNet.h"
#include "TestSupport.h"
#include "install/JobReport.h"
#include "platform/MainLoop.h"
#include "shell/RunReport.h"
#include "shell/RunVerifier.h"
#include "units/unit_table.h"

namespace {

using testsupport::Address;

VerifyOptions Options(int seconds, std::optional<std::string> expected = std::nullopt) {
  VerifyOptions options;
  options.seconds = seconds;
  options.expectedVersion = std::move(expected);
  return options;
}

TEST(ConfirmsReleaseTest, ExpectedVersionMustBeReportedExactly) {
  const VerifyOptions expect = Options(60, "2.1");
  EXPECT_TRUE(ConfirmsRelease("2.1", "2.0", expect));
  EXPECT_FALSE(ConfirmsRelease("2.10", "2.0", expect));
  EXPECT_FALSE(ConfirmsRelease("2.2", "2.0", expect));
  // Reinstalling the version a unit had is confirmed by that version.
  EXPECT_TRUE(ConfirmsRelease("2.1", "2.1", expect));
}

TEST(ConfirmsReleaseTest, WithoutAnExpectedVersionAnyOtherVersionConfirms) {
  const VerifyOptions changed = Options(60);
  EXPECT_TRUE(ConfirmsRelease("2.1", "2.0", changed));
  EXPECT_FALSE(ConfirmsRelease("2.0", "2.0", changed));
  // Nothing to differ from: a hand-added unit's placeholder, a reply
  // without a version, no version at all.
  EXPECT_TRUE(ConfirmsRelease("2.1", "???", changed));
  EXPECT_TRUE(ConfirmsRelease("2.1", "Unknown", changed));
  EXPECT_TRUE(ConfirmsRelease("2.1", std::nullopt, changed));
}

TEST(ConfirmsReleaseTest, AnAnswerWithoutAVersionNeverConfirms) {
  for (const VerifyOptions& options : {Options(60), Options(60, "Unknown"), Options(60, "x")}) {
    EXPECT_FALSE(ConfirmsRelease(std::nullopt, "2.0", options));
    EXPECT_FALSE(ConfirmsRelease("", "2.0", options));
    EXPECT_FALSE(ConfirmsRelease("Unknown", "2.0", options));
  }
}

class RunVerifierTest : public testing::Test {
 protected:
  static constexpr unsigned kPaceMs = 50;

  RunVerifierTest()
      : verifier_(
            loop_, table_, [this] { discovery_pass(); }, kPaceMs) {}

  void SetUp() override { ASSERT_TRUE(loop_.IsValid()); }

  // A unit of the table whose job ended in state with the version before.
  void AddUnit(const char* address, InstallState state, const char* before) {
    table_.AddOrUpdateUnit(0, 0, Address(address), nullptr, 1, "g", before);
    table_.Lock();
    for (std::size_t i = 0; i < table_.getCount(); ++i) {
      tarvo_object* unit = table_.getAddressUnit(i);
      if (unit->address != Address(address)) continue;
      unit->setState(state);
      if (state == InstallState::Idle) continue;
      JobReport job;
      job.versionBefore = before;
      unit->report = std::make_shared<const JobReport>(std::move(job));
    }
    table_.Unlock();
  }

  // From the given discovery pass on (1 is the first), the unit answers
  // with this version.
  void Answer(const char* address, int fromPass, const char* version) {
    answers_[address] = {fromPass, version};
  }

  // Runs the phase to its end; false when it did not start or did not end
  // within the guard.
  bool RunPhase() {
    if (!verifier_.Start([this] {
          ++ended_;
          loop_.Quit(0);
        }))
      return false;
    const int guard = loop_.AddTimer(20000, [this] { loop_.Quit(1); });
    const int code = loop_.Run();
    loop_.KillTimer(guard);
    return code == 0;
  }

  std::map<std::string, Verification> Verdicts() {
    std::vector<UnitReportRow> rows = CollectReportRows(table_);
    verifier_.Apply(rows);
    std::map<std::string, Verification> verdicts;
    for (const UnitReportRow& row : rows) {
      verdicts[testsupport::AddressText(row.address)] = row.verified;
      EXPECT_EQ(row.verifiedAt != 0, row.verified == Verification::Yes);
    }
    return verdicts;
  }

  jobtest::RecordingChannel channel_;
  jobtest::ScriptedPinger pinger_;
  unit_table table_{&channel_, &pinger_};
  platform::MainLoop loop_;
  RunVerifier verifier_;
  int passes_ = 0;
  int ended_ = 0;

 private:
  void discovery_pass() {
    ++passes_;
    for (const auto& [address, answer] : answers_) {
      if (passes_ >= answer.first) table_.NoteAnswer(Address(address), answer.second.c_str());
    }
  }

  std::map<std::string, std::pair<int, std::string>> answers_;
};

// A unit that restarted answers only from the third pass on; once it has
// the phase ends, long before its minute. Units that failed or were not in
// the run are not asked.
TEST_F(RunVerifierTest, EndsOnceEveryFinishedUnitIsVerified) {
  AddUnit("127.0.0.2", InstallState::Finished, "2.0");
  AddUnit("127.0.0.3", InstallState::Finished, "2.0");
  AddUnit("127.0.0.4", InstallState::Failed, "2.0");
  AddUnit("127.0.0.5", InstallState::Idle, "2.0");
  Answer("127.0.0.2", 1, "2.1");
  Answer("127.0.0.3", 3, "2.1");
  Answer("127.0.0.4", 1, "2.1");
  int started = 0;
  std::pair<int, int> told;
  verifier_.SetOptions(
      Options(60), nullptr, [&started](int units) { started = units; },
      [&told](int verified, int notVerified) { told = {verified, notVerified}; });
  ASSERT_TRUE(RunPhase());
  EXPECT_EQ(started, 2);
  EXPECT_EQ(told, std::make_pair(2, 0));
  EXPECT_EQ(ended_, 1);
  EXPECT_GE(passes_, 3);
  EXPECT_EQ(Verdicts(),
            (std::map<std::string, Verification>{{"127.0.0.2", Verification::Yes},
                                                 {"127.0.0.3", Verification::Yes},
                                                 {"127.0.0.4", Verification::NotAsked},
                                                 {"127.0.0.5", Verification::NotAsked}}));
}

// An answer from before the phase is not the unit's word after the run,
// and a unit that keeps its old version or reports another than the one
// expected is not verified when the time is up.
TEST_F(RunVerifierTest, StaleOldOrWrongVersionsAreNotVerified) {
  AddUnit("127.0.0.2", InstallState::Finished, "2.0");
  AddUnit("127.0.0.3", InstallState::Finished, "2.0");
  AddUnit("127.0.0.4", InstallState::Finished, "2.0");
  table_.NoteAnswer(Address("127.0.0.2"), "2.1");  // silent since
  Answer("127.0.0.3", 1, "2.0");
  Answer("127.0.0.4", 1, "2.2");
  verifier_.SetOptions(Options(1, "2.1"), nullptr);
  ASSERT_TRUE(RunPhase());
  EXPECT_GE(passes_, 2) << "the query is sent again at the pace";
  EXPECT_EQ(Verdicts(), (std::map<std::string, Verification>{{"127.0.0.2", Verification::No},
                                                             {"127.0.0.3", Verification::No},
                                                             {"127.0.0.4", Verification::No}}));
}

TEST(VerifyEndTextTest, CountsTheVerifiedAndNamesTheOthers) {
  EXPECT_EQ(VerifyEndText(1, 0), "Verified 1 of 1 unit");
  EXPECT_EQ(VerifyEndText(3, 1), "Verified 3 of 4 units, 1 not verified");
  EXPECT_EQ(VerifyEndText(0, 2), "Verified 0 of 2 units, 2 not verified");
}

TEST_F(RunVerifierTest, NoPhaseWithoutTheOptionOrAFinishedUnit) {
  AddUnit("127.0.0.2", InstallState::Failed, "2.0");
  verifier_.SetOptions(Options(60), nullptr);
  EXPECT_FALSE(verifier_.Start([this] { ++ended_; }));
  AddUnit("127.0.0.3", InstallState::Finished, "2.0");
  verifier_.SetOptions(VerifyOptions{}, nullptr);
  EXPECT_FALSE(verifier_.Start([this] { ++ended_; }));
  EXPECT_EQ(passes_, 0);
  EXPECT_EQ(ended_, 0);
  EXPECT_EQ(Verdicts()["127.0.0.3"], Verification::NotAsked);
}

// An interrupt ends the phase at once; a report that cannot wait drops it
// without its end being told.
TEST_F(RunVerifierTest, EndNowAndCancelStopThePhase) {
  AddUnit("127.0.0.2", InstallState::Finished, "2.0");
  verifier_.SetOptions(Options(600), nullptr);
  ASSERT_TRUE(verifier_.Start([this] { ++ended_; }));
  EXPECT_TRUE(verifier_.running());
  verifier_.EndNow();
  EXPECT_FALSE(verifier_.running());
  EXPECT_EQ(ended_, 1);
  EXPECT_EQ(Verdicts()["127.0.0.2"], Verification::No);
  ASSERT_TRUE(verifier_.Start([this] { ++ended_; }));
  verifier_.Cancel();
  verifier_.EndNow();
  EXPECT_FALSE(verifier_.running());
  EXPECT_EQ(ended_, 1);
}

}  // namespace
