// The real fieldloader program in a headless run against simulated units,
// checked from the report it leaves beside the release: every unit present
// with the right state, status and failure class, the versions before and
// after, transcripts that never show the password, and the exit code: 1
// when a unit failed, 0 when all finished, 2 for a broken package, for no
// unit found and for a mistake on the command line.
//
// Each test copies the program into a release folder of its own, as a
// release ships it, and runs it there as a child process; the same source
// runs the Linux program natively and the Windows one under wine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UnitSim.h"
#include "platform/Process.h"
#include "platform/Threads.h"

namespace {

using testsupport::SimUnit;
using Row = std::map<std::string, std::string>;

// RFC 4180: fields separated by commas, records by CRLF, quoted fields with
// doubled quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1);
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      records.back().push_back(field);
      field.clear();
      records.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  if (records.back().empty()) records.pop_back();
  return records;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class HeadlessRunTest : public testing::Test {
 protected:
  void SetUp() override {
    // The program binds the discovery port and broadcasts.
    ZEQ_REQUIRE_NETNS();
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    folder_ = testsupport::ScratchDirectory("headless-" + name + "-" +
                                            std::to_string(platform::CurrentProcessId()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    program_ = folder_ / std::filesystem::path(ZEQ_FIELDLOADER).filename();
    std::filesystem::copy_file(ZEQ_FIELDLOADER, program_);
  }

  void TearDown() override {
    if (sim_.running()) sim_.Stop();
    if (HasFailure()) return;
    std::filesystem::remove_all(folder_);
    std::filesystem::remove(OutputPath("stdout"));
    std::filesystem::remove(OutputPath("stderr"));
  }

  // Where the latest run's standard output and error are kept: beside the
  // release folder, so that they are no file of the run's.
  std::filesystem::path OutputPath(const char* stream) const {
    return folder_.string() + "." + stream + ".txt";
  }
  // The Windows program writes its streams in text mode: its lines end in
  // CR LF, read here as LF.
  std::string StandardOutput() const { return LineFeeds(ReadFile(OutputPath("stdout"))); }
  std::string StandardError() const { return LineFeeds(ReadFile(OutputPath("stderr"))); }
  static std::string LineFeeds(std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream(folder_ / name, std::ios::binary) << content;
  }

  // A release of a 20,000-byte payload and the install script, which the
  // simulated units run from $rsa.
  void WriteRelease() {
    Write("payload.bin", std::string(20000, 'x'));
    Write("install.script", "#!/bin/sh\r\necho installing\r\n");
    Write("ftpdwnld.txt",
          "# test release\ncd /opt/tarvo\nsend payload.bin payload.bin\n"
          "cd /rsa\nsend install.script install.script\nauto_install\n");
  }

  void StartUnits(const std::vector<SimUnit>& units) {
    for (const SimUnit& unit : units) sim_.AddUnit(unit);
    ASSERT_TRUE(sim_.Start()) << sim_.Error();
  }

  // Starts the program in its folder; null (with a failure) when it cannot.
  platform::ProcessHandle* Start(const std::vector<std::string>& arguments) {
    const platform::ProcessOutput output{OutputPath("stdout").string(),
                                         OutputPath("stderr").string()};
    platform::ProcessHandle* process =
        platform::StartProcess(program_.string(), arguments, folder_.string().c_str(), output);
    if (process == nullptr) {
      ADD_FAILURE() << "cannot start " << program_ << ": " << platform::LastProcessError();
    }
    return process;
  }

  // Waits for the program; its exit code, or -1 when it did not end in time
  // (it is then ended).
  int Finish(platform::ProcessHandle* process, unsigned timeoutMs) {
    int code = -1;
    if (platform::WaitProcess(process, timeoutMs) != 1) {
      ADD_FAILURE() << "fieldloader did not end within " << timeoutMs << " ms";
      platform::TerminateChildProcess(process);
      platform::WaitProcess(process, 5000);
    } else if (!platform::ProcessExitCode(process, &code)) {
      ADD_FAILURE() << "no exit code";
    }
    platform::CloseProcess(process);
    return code;
  }

  int Run(const std::vector<std::string>& arguments, unsigned timeoutMs = 30000) {
    platform::ProcessHandle* process = Start(arguments);
    return process != nullptr ? Finish(process, timeoutMs) : -1;
  }

  // A run that installed nothing leaves no report files and no transcripts.
  void ExpectNoReport() {
    for (const char* name : {"fieldloader-report.json", "fieldloader-report.csv",
                             "fieldloader-report.html", "transcripts"})
      EXPECT_FALSE(std::filesystem::exists(folder_ / name)) << name;
  }

  // The CSV report's rows by address; the JSON report and the page must be
  // there too.
  std::map<std::string, Row> Report(const std::filesystem::path& folder) {
    EXPECT_TRUE(std::filesystem::exists(folder / "fieldloader-report.json"));
    EXPECT_TRUE(std::filesystem::exists(folder / "fieldloader-report.html"));
    const auto records = ParseCsv(ReadFile(folder / "fieldloader-report.csv"));
    std::map<std::string, Row> rows;
    if (records.empty()) {
      ADD_FAILURE() << "no CSV report in " << folder;
      return rows;
    }
    const std::vector<std::string>& header = records.front();
    for (std::size_t r = 1; r < records.size(); ++r) {
      EXPECT_EQ(records[r].size(), header.size()) << "record " << r;
      Row row;
      for (std::size_t i = 0; i < header.size() && i < records[r].size(); ++i) {
        row[header[i]] = records[r][i];
      }
      rows[row["address"]] = row;
    }
    return rows;
  }
  std::map<std::string, Row> Report() { return Report(folder_); }

  // The unit's telnet connection as the simulator saw it: the times of its
  // connect and disconnect, in ms of the simulator's clock.
  std::pair<long long, long long> TelnetSpan(const std::string& unit) {
    long long connect = -1;
    long long disconnect = -1;
    for (const testsupport::SimEvent& event : sim_.Events()) {
      if (event.unit() != unit || event.Str("service") != "telnet") continue;
      if (event.event() == "connect" && connect < 0) connect = event.Int("t");
      if (event.event() == "disconnect") disconnect = event.Int("t");
    }
    EXPECT_GE(connect, 0) << unit << " never connected";
    EXPECT_GE(disconnect, 0) << unit << " never disconnected";
    return {connect, disconnect};
  }

  // The units were stopped before their job: never connected, "Cancelled"
  // with the class "stopped".
  void ExpectStopped(const std::map<std::string, Row>& rows,
                     const std::vector<std::string>& units) {
    for (const std::string& unit : units) {
      ASSERT_EQ(rows.count(unit), 1u) << unit;
      EXPECT_EQ(rows.at(unit).at("status"), "Cancelled") << unit;
      EXPECT_EQ(rows.at(unit).at("failure_class"), "stopped") << unit;
      EXPECT_TRUE(sim_.Events("connect", unit).empty()) << unit << " was started";
    }
  }

  std::filesystem::path folder_;
  std::filesystem::path program_;
  testsupport::UnitSim sim_;
};

TEST_F(HeadlessRunTest, MixedFleetIsReportedUnitByUnit) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Group("North").Version("2.0"),
              SimUnit("127.0.0.3").Knob("refuse-password"), SimUnit("127.0.0.4").Knob("exit=3"),
              SimUnit("127.0.0.5").Knob("restart-on-install"),
              // Silent to discovery: installed only because it is named.
              SimUnit("127.0.0.6").Knob("no-query").Knob("no-probe")});
  WriteRelease();
  // 127.0.0.9 is nobody: its telnet connection is refused.
  EXPECT_EQ(
      Run({"--headless", "--discover-seconds", "1", "--add", "127.0.0.6", "--add", "127.0.0.9"}),
      1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 6u);
  const std::map<std::string, std::vector<std::string>> expected = {
      // address: state, status, failure class
      {"127.0.0.2", {"Finished", "Success", ""}},
      {"127.0.0.3", {"Failed", "Failed Connection", "login"}},
      {"127.0.0.4", {"Failed", "Unknown Error", "script"}},
      {"127.0.0.5", {"Finished", "Connection Closed", "connection closed"}},
      {"127.0.0.6", {"Finished", "Success", ""}},
      {"127.0.0.9", {"Failed", "Failed Connection", "unreachable"}},
  };
  for (const auto& [address, outcome] : expected) {
    ASSERT_EQ(rows.count(address), 1u) << address;
    const Row& row = rows.at(address);
    EXPECT_EQ(row.at("state"), outcome[0]) << address;
    EXPECT_EQ(row.at("status"), outcome[1]) << address;
    EXPECT_EQ(row.at("failure_class"), outcome[2]) << address;
    const std::string transcript = ReadFile(folder_ / "transcripts" / (address + ".txt"));
    EXPECT_FALSE(transcript.empty()) << address;
    EXPECT_EQ(transcript.find("qorvane"), std::string::npos) << address << "\n" << transcript;
  }
  EXPECT_EQ(rows.at("127.0.0.4").at("install_error"), "3");
  EXPECT_EQ(rows.at("127.0.0.2").at("bytes_sent"), "20028");
  EXPECT_EQ(rows.at("127.0.0.3").at("bytes_sent"), "0");
  EXPECT_NE(ReadFile(folder_ / "transcripts" / "127.0.0.2.txt").find("********"),
            std::string::npos);
  // The versions: before as discovery found it, after from the rescan; a
  // unit that never answers discovery has no version after.
  EXPECT_EQ(rows.at("127.0.0.2").at("group"), "North");
  EXPECT_EQ(rows.at("127.0.0.2").at("version_before"), "2.0");
  EXPECT_EQ(rows.at("127.0.0.2").at("version_after"), "2.0");
  EXPECT_EQ(rows.at("127.0.0.6").at("version_after"), "");
  EXPECT_EQ(rows.at("127.0.0.9").at("version_after"), "");
  // Every step of a finished job has its time.
  for (const char* step : {"start_s", "ping_s", "login_s", "copy_s", "outcome_s", "end_s"}) {
    EXPECT_FALSE(rows.at("127.0.0.2").at(step).empty()) << step;
  }
  EXPECT_FALSE(sim_.Events("install", "127.0.0.6").empty());
  EXPECT_TRUE(sim_.Events("install", "127.0.0.3").empty());
  // The page shows the same run, with each file the jobs put on the timeline.
  const std::string page = ReadFile(folder_ / "fieldloader-report.html");
  EXPECT_NE(page.find(">Unknown Error &middot; 1 job</text>"), std::string::npos);
  EXPECT_NE(page.find("payload.bin 20000 B "), std::string::npos);
  EXPECT_NE(page.find("install.script 28 B "), std::string::npos);
}

TEST_F(HeadlessRunTest, AllFinishedExitsZeroAndReportGoesWhereAsked) {
  ZEQ_REQUIRE_UNITSIM();
  // Both take the release; one then reports its new version.
  StartUnits({SimUnit("127.0.0.2").Version("2.0").Knob("new-version=2.1"),
              SimUnit("127.0.0.3").Version("2.0")});
  WriteRelease();
  const std::filesystem::path elsewhere = folder_ / "reports" / "today";
  EXPECT_EQ(Run({"--headless", "--discover-seconds=1", "--report", elsewhere.string()}), 0);
  const std::map<std::string, Row> rows = Report(elsewhere);
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& [address, row] : rows) {
    EXPECT_EQ(row.at("status"), "Success") << address;
    EXPECT_EQ(row.at("version_before"), "2.0") << address;
    EXPECT_TRUE(std::filesystem::exists(elsewhere / "transcripts" / (address + ".txt")));
  }
  EXPECT_EQ(rows.at("127.0.0.2").at("version_after"), "2.1");
  EXPECT_EQ(rows.at("127.0.0.3").at("version_after"), "2.0");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "fieldloader-report.csv"));
}

// A report folder that cannot be made ends the run before discovery; one
// that goes away during the run gives exit code 3 at its end.
TEST_F(HeadlessRunTest, BadReportFolderExitsTwoAndAnUnwrittenReportThree) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2")});
  WriteRelease();
  Write("plain", "a file, not a folder");
  const std::filesystem::path below = folder_ / "plain" / "reports";
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "0", "--report", below.string()}), 2);
  EXPECT_TRUE(sim_.Events("query", "127.0.0.2").empty()) << "discovery ran";
  const std::filesystem::path reports = folder_ / "reports";
  platform::ProcessHandle* process =
      Start({"--headless", "--discover-seconds", "3", "--report", reports.string()});
  ASSERT_NE(process, nullptr);
  // The folder is checked (a file written in it and removed) before
  // discovery starts; taking it away any sooner races that check, which
  // Windows refuses while the file is open.
  for (int tries = 0; tries < 200 && StandardOutput().find("Discovering") == std::string::npos;
       ++tries)
    platform::SleepMilliseconds(50);
  ASSERT_TRUE(std::filesystem::is_directory(reports));
  std::filesystem::remove_all(reports);
  Write("reports", "a file where the report folder was");
  EXPECT_EQ(Finish(process, 30000), 3);
}

// --release names the release folder, from where the program was started:
// the program elsewhere reads it, writes its log and report there, and
// leaves its own folder as it was.
TEST_F(HeadlessRunTest, ReleaseFolderIsNamedAndTheProgramsOwnIsLeftAlone) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2")});
  WriteRelease();
  const std::filesystem::path programs = folder_ / "programs";
  std::filesystem::create_directories(programs / "start");
  std::filesystem::rename(program_, programs / program_.filename());
  program_ = programs / program_.filename();
  platform::ProcessHandle* process = platform::StartProcess(
      program_.string(), {"--headless", "--discover-seconds=1", "--release", "../.."},
      (programs / "start").string().c_str());
  ASSERT_NE(process, nullptr) << platform::LastProcessError();
  EXPECT_EQ(Finish(process, 30000), 0);
  EXPECT_EQ(Report().at("127.0.0.2").at("status"), "Success");
  EXPECT_TRUE(std::filesystem::exists(folder_ / "fieldloader-output.log"));
  std::size_t inProgramFolder = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(programs)) {
    if (entry.path() != program_ && entry.path() != programs / "start") ++inProgramFolder;
  }
  EXPECT_EQ(inProgramFolder, 0u) << "the program wrote into its own folder";
  EXPECT_EQ(Run({"--headless", "--release", (folder_ / "missing").string()}), 2);
}

TEST_F(HeadlessRunTest, NothingCouldStartExitsTwoWithoutAReport) {
  // No unit answers and none is named.
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "0"}), 2);
  ExpectNoReport();
  // A package whose files are missing: nothing starts at all, and the
  // output log says why after the message.
  Write("ftpdwnld.txt", "cd /opt\nsend missing.bin missing.bin\nauto_install\n");
  EXPECT_EQ(Run({"--headless", "--add", "127.0.0.2"}), 2);
  ExpectNoReport();
  const std::string log = ReadFile(folder_ / "fieldloader-output.log");
  const std::size_t message = log.find("Install corrupted, missing files needed for install.");
  ASSERT_NE(message, std::string::npos) << log;
  EXPECT_NE(log.find("ftpdwnld.txt line 2: \"missing.bin\" is missing", message), std::string::npos)
      << log;
}

#ifndef _WIN32
// SIGTERM here; Ctrl-C (SIGINT) takes the same path. A console's Ctrl-C
// cannot be sent to a program under wine.
TEST_F(HeadlessRunTest, InterruptEndsTheRunWithItsReport) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Knob("no-prompt")});
  WriteRelease();
  // During the discovery wait: nothing starts, long before the wait is over.
  platform::ProcessHandle* process = Start({"--headless", "--discover-seconds", "60"});
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(sim_.WaitForEvent("query", "127.0.0.2", 20000));
  platform::TerminateChildProcess(process);
  EXPECT_EQ(Finish(process, 10000), 2);
  ExpectNoReport();

  // During the install: the unit waits for a login prompt that never comes,
  // which no time limit would end; the interrupt cancels it and the run
  // ends as usual, with the report.
  process = Start({"--headless", "--discover-seconds", "1"});
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(sim_.WaitForEvent("connect", "127.0.0.2", 20000));
  platform::TerminateChildProcess(process);
  EXPECT_EQ(Finish(process, 15000), 1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.count("127.0.0.2"), 1u);
  EXPECT_EQ(rows.at("127.0.0.2").at("failure_class"), "cancelled");
  EXPECT_NE(rows.at("127.0.0.2").at("state"), "Running");
}

// During the verify phase the interrupt ends the phase, not the program:
// the report is written, the unit still waited for reads "no", and the run
// exits 1 long before the phase's ten minutes.
TEST_F(HeadlessRunTest, InterruptEndsTheVerifyPhaseWithItsReport) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Version("1.0")});
  WriteRelease();
  platform::ProcessHandle* process = Start(
      {"--headless", "--discover-seconds", "1", "--verify", "600", "--events", "events.jsonl"});
  ASSERT_NE(process, nullptr);
  for (int tries = 0; tries < 600; ++tries) {
    if (ReadFile(folder_ / "events.jsonl").find("verify_start") != std::string::npos) break;
    platform::SleepMilliseconds(50);
  }
  ASSERT_NE(ReadFile(folder_ / "events.jsonl").find("verify_start"), std::string::npos);
  platform::TerminateChildProcess(process);
  EXPECT_EQ(Finish(process, 15000), 1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.count("127.0.0.2"), 1u);
  EXPECT_EQ(rows.at("127.0.0.2").at("status"), "Success");
  EXPECT_EQ(rows.at("127.0.0.2").at("verified"), "no");
  EXPECT_NE(ReadFile(folder_ / "events.jsonl")
                .find("\"event\":\"verify_end\",\"verified\":0,"
                      "\"not_verified\":1}"),
            std::string::npos);
}
#endif

// A unit that never sends its login prompt would hold the run for ever:
// the job time limit cancels its job alone, and the others finish.
TEST_F(HeadlessRunTest, UnitTimeoutCutsOnlyTheSilentUnit) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Knob("no-prompt=login"), SimUnit("127.0.0.3")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--unit-timeout", "3"}), 1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.at("127.0.0.2").at("failure_class"), "timeout");
  EXPECT_NE(rows.at("127.0.0.2").at("state"), "Running");
  EXPECT_NE(rows.at("127.0.0.2").at("state"), "Finished");
  EXPECT_EQ(rows.at("127.0.0.3").at("status"), "Success");
  EXPECT_EQ(rows.at("127.0.0.3").at("failure_class"), "");
}

// The run's time limit cancels every job still going, writes the report
// and exits 1, whatever the jobs would have done.
TEST_F(HeadlessRunTest, RunTimeoutEndsTheRunWithItsReport) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Knob("no-prompt=login"),
              SimUnit("127.0.0.3").Knob("no-prompt=password")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--run-timeout", "3"}), 1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& [address, row] : rows) {
    EXPECT_EQ(row.at("failure_class"), "timeout") << address;
    EXPECT_NE(row.at("state"), "Running") << address;
  }
}

// One job at a time, in the list's order: each unit's telnet connection
// opens only after the one before it closed, and every unit finishes.
TEST_F(HeadlessRunTest, MaxParallelStartsWaitingUnitsAsSlotsFree) {
  ZEQ_REQUIRE_UNITSIM();
  // A second of copying each, so that jobs started together would overlap.
  StartUnits({SimUnit("127.0.0.2").Knob("rate=20000"), SimUnit("127.0.0.3").Knob("rate=20000"),
              SimUnit("127.0.0.4").Knob("rate=20000")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--max-parallel", "1"}, 60000), 0);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& [address, row] : rows) EXPECT_EQ(row.at("status"), "Success") << address;
  const auto first = TelnetSpan("127.0.0.2");
  const auto second = TelnetSpan("127.0.0.3");
  const auto third = TelnetSpan("127.0.0.4");
  EXPECT_GE(second.first, first.second);
  EXPECT_GE(third.first, second.second);
}

// Two failed units stop the run: the two still waiting never start, and
// the run exits 1.
TEST_F(HeadlessRunTest, StopAfterFailuresLeavesTheWaitingUnitsUnstarted) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Knob("refuse-password"),
              SimUnit("127.0.0.3").Knob("refuse-password"), SimUnit("127.0.0.4"),
              SimUnit("127.0.0.5")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--max-parallel=1",
                 "--stop-after-failures", "2"}),
            1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows.at("127.0.0.2").at("failure_class"), "login");
  EXPECT_EQ(rows.at("127.0.0.3").at("failure_class"), "login");
  ExpectStopped(rows, {"127.0.0.4", "127.0.0.5"});
  EXPECT_NE(StandardOutput().find("Stopping: 2 units failed; 2 waiting units not started, running "
                                  "jobs finish\n"),
            std::string::npos)
      << StandardOutput();
}

// A canary that does not finish whole stops the units after it.
TEST_F(HeadlessRunTest, FailedCanaryStopsTheRest) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Knob("exit=3"), SimUnit("127.0.0.3"), SimUnit("127.0.0.4")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--canary", "1"}), 1);
  std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows.at("127.0.0.2").at("failure_class"), "script");
  ExpectStopped(rows, {"127.0.0.3", "127.0.0.4"});
  EXPECT_NE(StandardOutput().find("Stopping: 1 of 1 canary units did not finish; 2 waiting units "
                                  "not started, running jobs finish\n"),
            std::string::npos)
      << StandardOutput();

  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--add", "127.0.0.3", "--add",
                 "127.0.0.4", "--canary", "2"}),
            1);
  rows = Report();
  EXPECT_EQ(rows.at("127.0.0.2").at("failure_class"), "script");
  EXPECT_EQ(rows.at("127.0.0.3").at("failure_class"), "");
  ExpectStopped(rows, {"127.0.0.4"});
}

// A canary that finished lets the others go, only after it ended.
TEST_F(HeadlessRunTest, FinishedCanaryLetsTheRestGo) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Knob("rate=20000"), SimUnit("127.0.0.3").Knob("rate=20000"),
              SimUnit("127.0.0.4")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--canary", "2"}), 0);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& [address, row] : rows) EXPECT_EQ(row.at("status"), "Success") << address;
  const long long canaryEnd =
      std::max(TelnetSpan("127.0.0.2").second, TelnetSpan("127.0.0.3").second);
  EXPECT_GE(TelnetSpan("127.0.0.4").first, canaryEnd);
}

// The event lines follow the run: a wave with both units, each unit's
// statuses in their order up to its outcome, and the wave's end last.
TEST_F(HeadlessRunTest, EventsFileFollowsTheRun) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Knob("rate=20000"), SimUnit("127.0.0.3").Knob("exit=3")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--events", "events.jsonl"}), 1);
  std::istringstream text(ReadFile(folder_ / "events.jsonl"));
  std::vector<testsupport::SimEvent> lines;
  std::map<std::string, std::vector<std::string>> statuses;
  for (std::string line; std::getline(text, line);) {
    testsupport::SimEvent event;
    ASSERT_TRUE(testsupport::ParseSimEvent(line, &event)) << line;
    if (event.event() == "status") statuses[event.unit()].push_back(event.Str("status"));
    lines.push_back(event);
  }
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front().event(), "wave_start");
  EXPECT_EQ(lines.front().Int("units"), 2);
  EXPECT_EQ(lines.back().event(), "wave_end");
  ASSERT_FALSE(statuses["127.0.0.2"].empty());
  EXPECT_EQ(statuses["127.0.0.2"].back(), "Success");
  EXPECT_EQ(statuses["127.0.0.3"].back(), "Unknown Error");
  EXPECT_FALSE(sim_.Events("install", "127.0.0.2").empty());
  // A second of copying shows at least one percentage on the way.
  bool progress = false;
  for (const auto& line : lines)
    progress |= line.event() == "progress" && line.unit() == "127.0.0.2";
  EXPECT_TRUE(progress);
}

// With "--events -" the standard output carries the event lines and
// nothing else; the run's own lines and summary go to the error stream.
TEST_F(HeadlessRunTest, EventsOnStandardOutputLeaveTheRunsLinesToTheErrorStream) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--events", "-"}), 0);
  std::istringstream text(StandardOutput());
  std::vector<std::string> events;
  for (std::string line; std::getline(text, line);) {
    testsupport::SimEvent event;
    ASSERT_TRUE(testsupport::ParseSimEvent(line, &event)) << line;
    events.push_back(event.event() == "status" ? event.Str("status") : event.event());
  }
  ASSERT_GE(events.size(), 3u) << StandardOutput();
  EXPECT_EQ(events.front(), "wave_start");
  EXPECT_EQ(events[events.size() - 2], "Success");
  EXPECT_EQ(events.back(), "wave_end");
  const std::string err = StandardError();
  EXPECT_NE(err.find("Discovering units for 1 s\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Installing on 1 unit\n"), std::string::npos) << err;
  EXPECT_NE(err.find("1 finished, 0 failed or cancelled\n"), std::string::npos) << err;
}

// --verify: a unit that restarts during its script is silent for a while
// and then answers with the release's version; the phase waits for it and
// ends once every finished unit is verified, long before its two minutes.
TEST_F(HeadlessRunTest, RestartedUnitIsVerifiedOnceBackAndThePhaseEndsEarly) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2")
                  .Version("1.0")
                  .Knob("new-version=2.0")
                  .Knob("restart-on-install")
                  .Knob("down-ms=2500"),
              SimUnit("127.0.0.3").Version("1.0").Knob("new-version=2.0")});
  WriteRelease();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--verify", "120", "--expect-version",
                 "2.0", "--events", "events.jsonl"},
                90000),
            0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.at("127.0.0.2").at("status"), "Connection Closed");
  EXPECT_EQ(rows.at("127.0.0.3").at("status"), "Success");
  for (const auto& [address, row] : rows) {
    EXPECT_EQ(row.at("verified"), "yes") << address;
    EXPECT_EQ(row.at("version_after"), "2.0") << address;
    // Times in one format compare as text: after the job's start, by the
    // time the report was written.
    EXPECT_GE(row.at("verified_at"), row.at("started")) << address;
    EXPECT_LE(row.at("verified_at"), row.at("wave_ended")) << address;
  }
  // The phase asked while the restarted unit was still down.
  EXPECT_FALSE(sim_.Events("down", "127.0.0.2").empty());
  std::istringstream text(ReadFile(folder_ / "events.jsonl"));
  std::vector<std::string> verifyEvents;
  for (std::string line; std::getline(text, line);) {
    testsupport::SimEvent event;
    ASSERT_TRUE(testsupport::ParseSimEvent(line, &event)) << line;
    if (event.event().rfind("verif", 0) != 0) continue;
    verifyEvents.push_back(event.event() + " " + event.Str("unit") + event.Str("units"));
  }
  ASSERT_EQ(verifyEvents.size(), 4u);
  EXPECT_EQ(verifyEvents.front(), "verify_start 2");
  EXPECT_EQ(verifyEvents.back(), "verify_end ");
  EXPECT_EQ(std::set<std::string>(verifyEvents.begin() + 1, verifyEvents.end() - 1),
            (std::set<std::string>{"verified 127.0.0.2", "verified 127.0.0.3"}));
}

// Without --expect-version a unit must come back with another version than
// before: one that restarted and kept its old version is not verified and
// the run exits 1. A unit whose job failed is not asked.
TEST_F(HeadlessRunTest, UnitBackWithItsOldVersionIsNotVerified) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Version("1.0").Knob("restart-on-install").Knob("down-ms=500"),
              SimUnit("127.0.0.3").Version("1.0").Knob("refuse-password")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--verify", "3"}), 1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.at("127.0.0.2").at("state"), "Finished");
  EXPECT_EQ(rows.at("127.0.0.2").at("version_after"), "1.0");
  EXPECT_EQ(rows.at("127.0.0.2").at("verified"), "no");
  EXPECT_EQ(rows.at("127.0.0.2").at("verified_at"), "");
  EXPECT_EQ(rows.at("127.0.0.3").at("state"), "Failed");
  EXPECT_EQ(rows.at("127.0.0.3").at("verified"), "not asked");
}

// With --expect-version a new version is not enough: it must be that one.
// Without --verify nothing is asked, and the same units exit 0.
TEST_F(HeadlessRunTest, OtherVersionThanTheExpectedOneIsNotVerified) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2").Version("1.0").Knob("new-version=2.1")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--verify=2", "--expect-version=2.0"}),
            1);
  std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.at("127.0.0.2").at("version_after"), "2.1");
  EXPECT_EQ(rows.at("127.0.0.2").at("verified"), "no");
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1"}), 0);
  rows = Report();
  EXPECT_EQ(rows.at("127.0.0.2").at("verified"), "not asked");
}

// The program's own report of a run where one unit failed: the retry
// installs on that unit alone, and its row names the run it retries.
TEST_F(HeadlessRunTest, RetryOfARealReportInstallsOnlyTheFailedUnit) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2"), SimUnit("127.0.0.3").Knob("refuse-password")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1"}), 1);
  const std::string earlier = ReadFile(folder_ / "fieldloader-report.json");
  const std::size_t at = earlier.find("\"started\": \"");
  ASSERT_NE(at, std::string::npos) << earlier;
  const std::string started = earlier.substr(at + 12, 20);
  std::filesystem::rename(folder_ / "fieldloader-report.json", folder_ / "earlier.json");
  ASSERT_EQ(sim_.Events("install", "127.0.0.2").size(), 1u);

  EXPECT_EQ(Run({"--headless", "--discover-seconds", "1", "--retry", "earlier.json"}), 1);
  const std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.at("127.0.0.3").at("failure_class"), "login");
  EXPECT_EQ(rows.at("127.0.0.3").at("retry_of"), started);
  EXPECT_EQ(rows.at("127.0.0.2").at("state"), "Idle");
  EXPECT_EQ(rows.at("127.0.0.2").at("retry_of"), "");
  EXPECT_EQ(sim_.Events("install", "127.0.0.2").size(), 1u) << "the finished unit ran again";
  int logins = 0;
  for (const testsupport::SimEvent& event : sim_.Events("connect", "127.0.0.3"))
    logins += event.Str("service") == "telnet" ? 1 : 0;
  EXPECT_EQ(logins, 2);
}

// A report written elsewhere: the failed and cancelled units are retried,
// the one discovery cannot find is added by its address, --add adds its own
// unit, and the finished and untouched units are left alone.
TEST_F(HeadlessRunTest, RetryAddsUnfoundUnitsAndTakesTheAddedOnesToo) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2"), SimUnit("127.0.0.3"), SimUnit("127.0.0.4"),
              SimUnit("127.0.0.5").Knob("no-query").Knob("no-probe"), SimUnit("127.0.0.6"),
              SimUnit("127.0.0.7")});
  WriteRelease();
  Write("old.json",
        "{\"written\": \"2026-12-01T10:00:00Z\", \"units\": [\n"
        "{\"address\": \"127.0.0.2\", \"state\": \"Finished\", \"status\": \"Success\"},\n"
        "{\"address\": \"127.0.0.3\", \"state\": \"Failed\", \"failure_class\": \"copy\"},\n"
        "{\"address\": \"127.0.0.4\", \"state\": \"Failed\", \"status\": \"Cancelled\", "
        "\"failure_class\": \"stopped\"},\n"
        "{\"address\": \"127.0.0.5\", \"state\": \"Failed\", \"failure_class\": "
        "\"unreachable\"},\n"
        "{\"address\": \"127.0.0.6\", \"state\": \"Idle\", \"status\": \"\"}]}\n");
  EXPECT_EQ(
      Run({"--headless", "--discover-seconds", "1", "--retry", "old.json", "--add", "127.0.0.7"}),
      0);
  const std::map<std::string, Row> rows = Report();
  for (const char* retried : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    ASSERT_EQ(rows.count(retried), 1u) << retried;
    EXPECT_EQ(rows.at(retried).at("status"), "Success") << retried;
    EXPECT_EQ(rows.at(retried).at("retry_of"), "2026-12-01T10:00:00Z") << retried;
  }
  EXPECT_EQ(rows.at("127.0.0.7").at("status"), "Success");
  EXPECT_EQ(rows.at("127.0.0.7").at("retry_of"), "");
  for (const char* left : {"127.0.0.2", "127.0.0.6"}) {
    EXPECT_EQ(rows.at(left).at("state"), "Idle") << left;
    EXPECT_TRUE(sim_.Events("connect", left).empty()) << left;
  }
}

// A report that cannot be used stops the run before discovery; one with
// nothing to retry ends it at once with 0. Neither writes a report.
TEST_F(HeadlessRunTest, RetryOfAnUnusableOrCleanReportStartsNothing) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2")});
  WriteRelease();
  Write("cut.json", "{\"written\": \"2026-12-01T10:00:00Z\", \"units\": [\n{\"address\": ");
  Write("clean.json",
        "{\"written\": \"2026-12-01T10:00:00Z\", \"units\": [\n"
        "{\"address\": \"127.0.0.2\", \"state\": \"Finished\"}]}");
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "0", "--retry", "cut.json"}), 2);
  EXPECT_EQ(StandardError().rfind("fieldloader: cannot use the report cut.json: line 2: ", 0), 0u)
      << StandardError();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "0", "--retry", "absent.json"}), 2);
  EXPECT_EQ(StandardError().rfind("fieldloader: cannot use the report absent.json: ", 0), 0u)
      << StandardError();
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "0", "--retry", "clean.json"}), 0);
  EXPECT_EQ(StandardOutput(),
            "Nothing to retry: no unit failed or was cancelled in the run of "
            "2026-12-01T10:00:00Z\n");
  EXPECT_TRUE(sim_.Events("query", "127.0.0.2").empty()) << "discovery ran";
  ExpectNoReport();
}

// A check logs in and copies nothing: the unit's folder stays without the
// release, no script runs; each unit is "Ready" or names the failing step,
// and the run exits 1 unless every unit is ready. With --retry it checks
// the retry set alone, which is ready here, and exits 0.
TEST_F(HeadlessRunTest, CheckCopiesNothingAndReportsEachUnitReadyOrItsFailingStep) {
  ZEQ_REQUIRE_UNITSIM();
  StartUnits({SimUnit("127.0.0.2"), SimUnit("127.0.0.3").Knob("refuse-password")});
  WriteRelease();
  EXPECT_EQ(Run({"--headless", "--check", "--discover-seconds", "1", "--add", "127.0.0.9"}), 1);
  std::map<std::string, Row> rows = Report();
  ASSERT_EQ(rows.size(), 3u);
  const std::map<std::string, std::vector<std::string>> expected = {
      {"127.0.0.2", {"Finished", "Ready", ""}},
      {"127.0.0.3", {"Failed", "Failed Connection", "login"}},
      {"127.0.0.9", {"Failed", "Failed Connection", "unreachable"}},
  };
  for (const auto& [address, outcome] : expected) {
    EXPECT_EQ(rows.at(address).at("state"), outcome[0]) << address;
    EXPECT_EQ(rows.at(address).at("status"), outcome[1]) << address;
    EXPECT_EQ(rows.at(address).at("failure_class"), outcome[2]) << address;
    EXPECT_EQ(rows.at(address).at("bytes_sent"), "0") << address;
  }
  ASSERT_TRUE(sim_.WaitForEvent("disconnect", "127.0.0.2", 5000));
  EXPECT_FALSE(sim_.Events("login", "127.0.0.2").empty());
  EXPECT_TRUE(sim_.Events("put").empty()) << "a file was sent";
  EXPECT_TRUE(sim_.Events("install").empty()) << "a script ran";
  EXPECT_FALSE(std::filesystem::exists(sim_.StoredPath("127.0.0.2", "/opt/tarvo/payload.bin")));

  Write("old.json",
        "{\"written\": \"2026-12-01T10:00:00Z\", \"units\": [\n"
        "{\"address\": \"127.0.0.2\", \"state\": \"Failed\"},\n"
        "{\"address\": \"127.0.0.3\", \"state\": \"Finished\"}]}\n");
  EXPECT_EQ(Run({"--headless", "--check", "--discover-seconds", "1", "--retry", "old.json"}), 0);
  rows = Report();
  EXPECT_EQ(rows.at("127.0.0.2").at("status"), "Ready");
  EXPECT_EQ(rows.at("127.0.0.2").at("retry_of"), "2026-12-01T10:00:00Z");
  EXPECT_EQ(rows.at("127.0.0.3").at("state"), "Idle");
  EXPECT_TRUE(sim_.Events("put").empty()) << "a file was sent";
}

TEST_F(HeadlessRunTest, CommandLineMistakesExitTwoAndHelpExitsZero) {
  EXPECT_EQ(Run({"--headless", "--bogus"}), 2);
  EXPECT_EQ(Run({"--headless", "--discover-seconds", "soon"}), 2);
  EXPECT_EQ(Run({"--headless", "--run-timeout", "0"}), 2);
  EXPECT_EQ(Run({"--headless", "--expect-version", "2.0"}), 2);
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_EQ(Run({"--version"}), 0);
  // None of them read the release or wrote a report.
  EXPECT_FALSE(std::filesystem::exists(folder_ / "fieldloader-report.json"));
}

}  // namespace
