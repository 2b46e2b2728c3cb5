// The run report's texts against golden text: a unit with a job and a unit
// without one, in JSON and CSV, byte for byte; the escaping of every kind of
// byte a unit may report (quotes, commas, line ends, control bytes, valid
// and broken UTF-8); the locale-proof numbers; the files written, with the
// transcripts; and the headless run's exit code and summary drawn from a
// report.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../install/job/JobFakes.h"
#include "LoopbackNet.h"
#include "TestSupport.h"
#include "install/InstallJob.h"
#include "shell/HeadlessRunner.h"
#include "shell/RunReport.h"
#include "transfer/PackageManifest.h"
#include "units/unit_table.h"

namespace {

using testsupport::AddressOfOctets;

// Every awkward byte at once: quotes, a comma, a line end, a control byte,
// a stray 0xFF, valid UTF-8, DEL, a cut UTF-8 sequence and a backslash.
const std::string kAwkward = "Nord \"A\",\n\x01\xff \xc3\xa9\x7f\xe2\x82\\";

UnitReportRow InstalledUnit() {
  UnitReportRow row;
  row.address = AddressOfOctets(127, 0, 0, 5);
  row.node = 5;
  row.group = kAwkward;
  row.versionAfter = "2.1";
  row.state = InstallState::Finished;
  row.status = "Success";
  JobReport job;
  job.versionBefore = "2.0";
  job.installError = 0;
  job.bytesSent = 4000;
  job.startedAt = 1796672847;
  job.steps.resize(InstallJobStepNames().size());
  job.steps[0] = {0, 12};
  job.steps[1] = {12, 1012};
  job.steps[7] = {2000, 63456};
  job.transcript.Sent("login root password ********");
  job.transcript.Seen("a\tb");
  row.job = std::make_shared<const JobReport>(std::move(job));
  row.wave = 1;
  row.waveEndedAt = 1796672857;
  row.retryOf = "2026-12-06T08:00:00Z";
  row.verified = Verification::Yes;
  row.verifiedAt = 1796672861;
  return row;
}

UnitReportRow UntouchedUnit() {
  UnitReportRow row;
  row.address = AddressOfOctets(10, 0, 0, 19);
  row.node = -3;
  row.group = "???";
  return row;
}

UnitReportRow FailedUnit(InstallState state, FailureClass failure) {
  UnitReportRow row;
  row.address = AddressOfOctets(10, 0, 0, 7);
  row.node = 7;
  row.state = state;
  row.status = "Failed Connection";
  JobReport job;
  job.installError = 30;
  job.failure = failure;
  job.steps.resize(InstallJobStepNames().size());
  row.job = std::make_shared<const JobReport>(std::move(job));
  return row;
}

RunReport Report() {
  RunReport report;
  report.programVersion = "1.0.0";
  report.writtenAt = 1796672857;
  report.startedAt = 1796672847;
  report.units = {InstalledUnit(), UntouchedUnit()};
  return report;
}

TEST(RunReportTest, JsonIsExactlyTheGoldenText) {
  const std::string expected =
      "{\n"
      "  \"program\": \"fieldloader\",\n"
      "  \"program_version\": \"1.0.0\",\n"
      "  \"written\": \"2026-12-07T19:47:37Z\",\n"
      "  \"started\": \"2026-12-07T19:47:27Z\",\n"
      "  \"units\": [\n"
      "    {\n"
      "      \"address\": \"127.0.0.5\",\n"
      "      \"node\": 5,\n"
      "      \"group\": \"Nord \\\"A\\\",\\n\\u0001\\u00ff \xc3\xa9\\u007f\\u00e2\\u0082\\\\\",\n"
      "      \"version_before\": \"2.0\",\n"
      "      \"version_after\": \"2.1\",\n"
      "      \"state\": \"Finished\",\n"
      "      \"status\": \"Success\",\n"
      "      \"install_error\": 0,\n"
      "      \"failure_class\": null,\n"
      "      \"bytes_sent\": 4000,\n"
      "      \"started\": \"2026-12-07T19:47:27Z\",\n"
      "      \"step_seconds\": {\"start\": 0.012, \"ping\": 1.000, \"gateway\": null, "
      "\"route\": null, \"log\": null, \"login\": null, \"channel\": null, \"copy\": 61.456, "
      "\"outcome\": null, \"cancel_check\": null, \"clean_up\": null, \"route_removal\": null, "
      "\"end\": null},\n"
      "      \"transcript\": \"transcripts/127.0.0.5.txt\",\n"
      "      \"wave\": 1,\n"
      "      \"wave_ended\": \"2026-12-07T19:47:37Z\",\n"
      "      \"retry_of\": \"2026-12-06T08:00:00Z\",\n"
      "      \"verified\": \"yes\",\n"
      "      \"verified_at\": \"2026-12-07T19:47:41Z\"\n"
      "    },\n"
      "    {\n"
      "      \"address\": \"10.0.0.19\",\n"
      "      \"node\": -3,\n"
      "      \"group\": \"???\",\n"
      "      \"version_before\": null,\n"
      "      \"version_after\": null,\n"
      "      \"state\": \"Idle\",\n"
      "      \"status\": \"\",\n"
      "      \"install_error\": null,\n"
      "      \"failure_class\": null,\n"
      "      \"bytes_sent\": null,\n"
      "      \"started\": null,\n"
      "      \"step_seconds\": null,\n"
      "      \"transcript\": null,\n"
      "      \"wave\": null,\n"
      "      \"wave_ended\": null,\n"
      "      \"retry_of\": null,\n"
      "      \"verified\": \"not asked\",\n"
      "      \"verified_at\": null\n"
      "    }\n"
      "  ]\n"
      "}\n";
  EXPECT_EQ(ReportJson(Report()), expected);
}

TEST(RunReportTest, CsvIsExactlyTheGoldenText) {
  const std::string expected =
      "address,node,group,version_before,version_after,state,status,install_error,"
      "failure_class,bytes_sent,started,start_s,ping_s,gateway_s,route_s,log_s,login_s,"
      "channel_s,copy_s,outcome_s,cancel_check_s,clean_up_s,route_removal_s,end_s,transcript,"
      "wave,wave_ended,retry_of,verified,verified_at\r\n"
      "127.0.0.5,5,\"Nord \"\"A\"\",\n\x01\xff "
      "\xc3\xa9\x7f\xe2\x82\\\",2.0,2.1,Finished,Success,0,,"
      "4000,2026-12-07T19:47:27Z,0.012,1.000,,,,,,61.456,,,,,,transcripts/127.0.0.5.txt,"
      "1,2026-12-07T19:47:37Z,2026-12-06T08:00:00Z,yes,2026-12-07T19:47:41Z\r\n"
      "10.0.0.19,-3,???,,,Idle,,,,,,,,,,,,,,,,,,,,,,,not asked,\r\n";
  EXPECT_EQ(ReportCsv(Report()), expected);
}

// A later wave keeps what earlier ones did: wave 1 installs three units,
// wave 2 one unit found later, with the first three no longer selected
// (Idle, empty status, their wave-1 job still theirs); the report holds
// all four, each with the wave that installed it. A unit that is in a wave
// again reports its new outcome.
TEST(RunReportTest, LaterWaveKeepsTheEarlierWavesOutcomes) {
  const auto unit = [](int last, InstallState state, const char* status) {
    UnitReportRow row;
    row.address = AddressOfOctets(127, 0, 0, last);
    row.node = last;
    row.state = state;
    row.status = status;
    if (state != InstallState::Idle) row.job = std::make_shared<const JobReport>();
    return row;
  };
  ReportHistory history;
  std::vector<UnitReportRow> first = {unit(2, InstallState::Finished, "Success"),
                                      unit(3, InstallState::Finished, "Success"),
                                      unit(4, InstallState::Finished, "Success")};
  first = history.Merge(first, 1000);
  std::vector<UnitReportRow> second = first;
  for (UnitReportRow& row : second) {
    row.state = InstallState::Idle;
    row.status.clear();
    row.group = "moved";
  }
  second.push_back(unit(9, InstallState::Finished, "Success"));
  const std::vector<UnitReportRow> merged = history.Merge(second, 2000);
  ASSERT_EQ(merged.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(merged[i].state, InstallState::Finished) << i;
    EXPECT_EQ(merged[i].status, "Success") << i;
    EXPECT_EQ(merged[i].job, first[i].job) << i;
    EXPECT_EQ(merged[i].wave, 1) << i;
    EXPECT_EQ(merged[i].waveEndedAt, 1000) << i;
    EXPECT_EQ(merged[i].group, "moved") << "what the unit reports now";
  }
  EXPECT_EQ(merged[3].wave, 2);
  EXPECT_EQ(merged[3].waveEndedAt, 2000);

  // Wave 3: the first unit fails this time; the others keep theirs.
  std::vector<UnitReportRow> third = second;
  third[0] = unit(2, InstallState::Failed, "Failed Connection");
  third[3].state = InstallState::Idle;
  const std::vector<UnitReportRow> latest = history.Merge(third, 3000);
  EXPECT_EQ(latest[0].status, "Failed Connection");
  EXPECT_EQ(latest[0].wave, 3);
  EXPECT_EQ(latest[1].wave, 1);
  EXPECT_EQ(latest[3].status, "Success");
  EXPECT_EQ(latest[3].wave, 2);
  // A unit never in a wave stays as it is.
  EXPECT_EQ(history.Merge({unit(50, InstallState::Idle, "")}, 4000)[0].wave, 0);
}

TEST(RunReportTest, EmptyReportIsStillWellFormed) {
  RunReport report;
  report.writtenAt = 951782400;  // a leap day
  report.startedAt = 951782399;
  EXPECT_EQ(ReportJson(report),
            "{\n  \"program\": \"fieldloader\",\n  \"program_version\": \"\",\n"
            "  \"written\": \"2000-02-29T00:00:00Z\",\n"
            "  \"started\": \"2000-02-28T23:59:59Z\",\n  \"units\": []\n}\n");
  EXPECT_EQ(ReportCsv(report).find("\r\n") + 2, ReportCsv(report).size());
}

TEST(RunReportTest, JsonEscapesEveryByteThatNeedsIt) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("plain text 1.2"), "\"plain text 1.2\"");
  EXPECT_EQ(JsonString("\b\f\n\r\t\"\\/"), "\"\\b\\f\\n\\r\\t\\\"\\\\/\"");
  EXPECT_EQ(JsonString(std::string("\x00\x1f\x7f", 3)), "\"\\u0000\\u001f\\u007f\"");
  // Valid UTF-8 of two, three and four bytes goes through.
  EXPECT_EQ(JsonString("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
            "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"");
  // Overlong forms, surrogates, values past U+10FFFF, stray continuation
  // bytes and cut sequences are bytes, one escape each.
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");
  EXPECT_EQ(JsonString("\xe0\x80\xaf"), "\"\\u00e0\\u0080\\u00af\"");
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
  EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");
  EXPECT_EQ(JsonString("\x80x"), "\"\\u0080x\"");
  EXPECT_EQ(JsonString("x\xf0\x9f\x98"), "\"x\\u00f0\\u009f\\u0098\"");
}

TEST(RunReportTest, CsvQuotesOnlyWhatMustBeQuoted) {
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("North 2"), "North 2");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("a\rb"), "\"a\rb\"");
  EXPECT_EQ(CsvField("a\nb"), "\"a\nb\"");
  // Other bytes stay as they are, unquoted.
  EXPECT_EQ(CsvField("\x01\xff\xc3\xa9;'"), "\x01\xff\xc3\xa9;'");
}

// A group or version that a spreadsheet would run as a formula is written
// to the CSV with a leading ', and kept exactly in the JSON.
TEST(RunReportTest, CsvDefusesFormulasAndJsonKeepsThem) {
  const std::pair<const char*, const char*> fields[] = {
      {"=1+2", "'=1+2"},
      {"+49", "'+49"},
      {"-2.0", "'-2.0"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx"},
      {"\rx", "\"'\rx\""},
      {"=HYPERLINK(\"h\",\"x\")", "\"'=HYPERLINK(\"\"h\"\",\"\"x\"\")\""},
      {"a=b", "a=b"},  // only the first character counts
  };
  for (const auto& [text, field] : fields) EXPECT_EQ(CsvField(text), field) << text;
  RunReport report = Report();
  report.units[0].group = "=cmd|' /C calc'!A0";
  report.units[0].versionAfter = "-1";
  EXPECT_NE(ReportCsv(report).find(",'=cmd|' /C calc'!A0,2.0,'-1,"), std::string::npos)
      << ReportCsv(report);
  EXPECT_NE(ReportJson(report).find("\"group\": \"=cmd|' /C calc'!A0\""), std::string::npos);
  EXPECT_NE(ReportJson(report).find("\"version_after\": \"-1\""), std::string::npos);
}

TEST(RunReportTest, PrintableTextDefusesTerminalBytes) {
  EXPECT_EQ(PrintableText("North \xc3\xa9"), "North \xc3\xa9");
  EXPECT_EQ(PrintableText("\x1b[2J\\"), "\\x1b[2J\\x5c");
  EXPECT_EQ(PrintableText("\xff\n"), "\\xff\\x0a");
}

TEST(RunReportTest, NumbersDoNotDependOnTheLocale) {
  EXPECT_EQ(SecondsText(0), "0.000");
  EXPECT_EQ(SecondsText(5), "0.005");
  EXPECT_EQ(SecondsText(1250), "1.250");
  EXPECT_EQ(SecondsText(-1500), "-1.500");
  EXPECT_EQ(SecondsText(123456789), "123456.789");
  EXPECT_EQ(UtcTimeText(0), "1970-01-01T00:00:00Z");
}

TEST(RunReportTest, FilesAndTranscriptsAreWritten) {
  const std::filesystem::path folder =
      std::filesystem::path(testsupport::ScratchDirectory("run-report-files")) / "nested" / "dir";
  std::filesystem::remove_all(folder.parent_path());
  std::string error;
  const RunReport report = Report();
  ASSERT_TRUE(WriteRunReport(folder.string(), report, &error)) << error;
  const auto read = [&](const std::string& name) {
    std::ifstream file(folder / name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  };
  EXPECT_EQ(read("fieldloader-report.json"), ReportJson(report));
  EXPECT_EQ(read("fieldloader-report.csv"), ReportCsv(report));
  EXPECT_EQ(read("transcripts/127.0.0.5.txt"), "> login root password ********\n< a\tb\n");
  // A unit without a job has no transcript.
  EXPECT_FALSE(std::filesystem::exists(folder / "transcripts" / "10.0.0.19.txt"));
  // A folder that cannot be made is reported.
  std::ofstream(folder / "blocker") << "a file, not a folder";
  EXPECT_FALSE(WriteRunReport((folder / "blocker").string(), report, &error));
  EXPECT_NE(error.find("fieldloader-report.json: "), std::string::npos) << error;
}

// The folder is made and tried before a run: a folder in the place of a
// file is refused with the system's reason, a good one is left as it was.
TEST(RunReportTest, ReportFolderIsMadeAndTriedBeforeTheRun) {
  const std::filesystem::path folder =
      std::filesystem::path(testsupport::ScratchDirectory("run-report-check")) / "new";
  std::filesystem::remove_all(folder.parent_path());
  std::string error;
  ASSERT_TRUE(CheckReportFolder(folder.string(), &error)) << error;
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder)) << "the trial file is removed again";
  std::ofstream(folder / "plain") << "a file, not a folder";
  EXPECT_FALSE(CheckReportFolder((folder / "plain" / "below").string(), &error));
  EXPECT_EQ(error.rfind("cannot make the report folder ", 0), 0u) << error;
  EXPECT_NE(error.find("plain"), std::string::npos) << error;
  EXPECT_NE(error.find(": ", error.find("below")), std::string::npos) << "no reason: " << error;
  // A report of units that never ran a job makes no transcripts folder.
  RunReport idle;
  ASSERT_TRUE(WriteRunReport((folder / "idle").string(), idle, &error)) << error;
  EXPECT_FALSE(std::filesystem::exists(folder / "idle" / "transcripts"));
}

// The table keeps addresses in the order of their stored values, which is
// not the dotted order a reader scans; the report lists them dotted.
TEST(RunReportTest, RowsFollowTheDottedOrderOfTheAddresses) {
  jobtest::RecordingChannel channel;
  jobtest::ScriptedPinger pinger;
  unit_table table(&channel, &pinger);
  for (const char* address : {"10.20.2.21", "10.20.1.22", "10.20.1.21", "9.255.255.255"}) {
    table.AddOrUpdateUnit(0, testsupport::Address("10.20.1.10"), testsupport::Address(address),
                          jobtest::MacOf(address).data(), 0, "g", "v");
  }
  std::vector<std::string> order;
  for (const UnitReportRow& row : CollectReportRows(table)) {
    order.push_back(testsupport::AddressText(row.address));
  }
  EXPECT_EQ(order,
            (std::vector<std::string>{"9.255.255.255", "10.20.1.21", "10.20.1.22", "10.20.2.21"}));
}

TEST(RunReportTest, ExitCodeIsTheWorstOutcome) {
  RunReport report;
  EXPECT_EQ(HeadlessExitCode(report), 2);
  report.units = {UntouchedUnit()};
  EXPECT_EQ(HeadlessExitCode(report), 2);
  report.units.push_back(InstalledUnit());
  EXPECT_EQ(HeadlessExitCode(report), 0);
  UnitReportRow closed = InstalledUnit();
  closed.status = "Connection Closed";
  JobReport closedJob = *closed.job;
  closedJob.failure = FailureClass::ConnectionClosed;
  closed.job = std::make_shared<const JobReport>(std::move(closedJob));
  report.units.push_back(closed);
  EXPECT_EQ(HeadlessExitCode(report), 0);
  report.units.push_back(FailedUnit(InstallState::CancelRequested, FailureClass::Cancelled));
  EXPECT_EQ(HeadlessExitCode(report), 1);
  report.units.back() = FailedUnit(InstallState::Failed, FailureClass::Login);
  EXPECT_EQ(HeadlessExitCode(report), 1);
  // A finished unit that did not come back with its release fails the run.
  report.units.pop_back();
  report.units.back().verified = Verification::No;
  EXPECT_EQ(HeadlessExitCode(report), 1);
}

// A unit the verify phase gave up on: "no", without a time, in both files.
TEST(RunReportTest, UnitNotVerifiedReadsNoWithoutATime) {
  RunReport report = Report();
  report.units.resize(1);
  report.units[0].verified = Verification::No;
  report.units[0].verifiedAt = 0;
  const std::string json = ReportJson(report);
  EXPECT_NE(json.find("\"retry_of\": \"2026-12-06T08:00:00Z\",\n"
                      "      \"verified\": \"no\",\n"
                      "      \"verified_at\": null\n    }"),
            std::string::npos)
      << json;
  const std::string csv = ReportCsv(report);
  EXPECT_EQ(csv.substr(csv.size() - 26), "2026-12-06T08:00:00Z,no,\r\n");
}

TEST(RunReportTest, SummaryListsTheUnitsOfTheRun) {
  RunReport report = Report();
  report.units.push_back(FailedUnit(InstallState::Failed, FailureClass::Login));
  EXPECT_EQ(
      HeadlessSummary(report),
      "Address    Node  Group                                    Before  After  Status      "
      "       Failure\n"
      "127.0.0.5  5     Nord \"A\",\\x0a\\x01\\xff \xc3\xa9\\x7f\\xe2\\x82\\x5c  2.0     2.1    "
      "Success            -\n"
      "10.0.0.7   7     -                                        -       -      Failed "
      "Connection  login\n"
      "1 finished, 1 failed or cancelled\n");
}

// With --verify the table gains its column and the count line the units
// not verified; the lines before it name each unit the phase waited for.
TEST(RunReportTest, VerifiedRunsSummaryAndLinesNameTheVerdicts) {
  RunReport report = Report();
  UnitReportRow late = InstalledUnit();
  late.address = AddressOfOctets(127, 0, 0, 6);
  late.group = "g";
  late.versionAfter = std::nullopt;
  late.verified = Verification::No;
  late.verifiedAt = 0;
  report.units.push_back(late);
  UnitReportRow old = late;
  old.address = AddressOfOctets(127, 0, 0, 7);
  old.versionAfter = "2.0\x1b";
  report.units.push_back(old);
  report.units.push_back(FailedUnit(InstallState::Failed, FailureClass::Login));
  EXPECT_EQ(
      HeadlessSummary(report, {.verified = true}),
      "Address    Node  Group                                    Before  After    Status    "
      "         Failure  Verified\n"
      "127.0.0.5  5     Nord \"A\",\\x0a\\x01\\xff \xc3\xa9\\x7f\\xe2\\x82\\x5c  2.0     2.1      "
      "Success            -        yes\n"
      "127.0.0.6  5     g                                        2.0     -        Success   "
      "         -        no\n"
      "127.0.0.7  5     g                                        2.0     2.0\\x1b  Success   "
      "         -        no\n"
      "10.0.0.7   7     -                                        -       -        Failed "
      "Connection  login    not asked\n"
      "3 finished, 1 failed or cancelled, 2 not verified\n");
  EXPECT_EQ(VerifyStartText(1, 60), "Verifying 1 unit for up to 60 s\n");
  EXPECT_EQ(VerifyStartText(3, 604800), "Verifying 3 units for up to 604800 s\n");
  EXPECT_EQ(VerifyLines(report),
            "Verified 127.0.0.5: 2.1\n"
            "Not verified 127.0.0.6: no answer\n"
            "Not verified 127.0.0.7: reports 2.0\\x1b\n");
}

// After a check the count line counts ready units; the release summary
// names the files, their bytes and the script, or that there is none.
TEST(RunReportTest, CheckSummaryAndReleaseSummary) {
  RunReport report;
  UnitReportRow ready = InstalledUnit();
  ready.group = "North";
  ready.status = "Ready";
  report.units = {ready, FailedUnit(InstallState::Failed, FailureClass::Unreachable)};
  const std::string summary = HeadlessSummary(report, {.check = true});
  EXPECT_NE(summary.find("  Ready              -\n"), std::string::npos) << summary;
  EXPECT_EQ(summary.substr(summary.rfind('\n', summary.size() - 2) + 1),
            "1 ready, 1 failed or cancelled\n");
  PackageManifest manifest;
  manifest.entries.resize(2);
  manifest.totalSize = 20028;
  manifest.autoInstall = 1;
  manifest.installScript = "$rsa/install.script";
  EXPECT_EQ(ReleaseSummaryText(manifest),
            "Release: 2 files, 20028 bytes, install script $rsa/install.script\n");
  manifest.entries.resize(1);
  manifest.autoInstall = 0;
  manifest.installScript.clear();
  EXPECT_EQ(ReleaseSummaryText(manifest), "Release: 1 file, 20028 bytes, no install script\n");
}

}  // namespace
