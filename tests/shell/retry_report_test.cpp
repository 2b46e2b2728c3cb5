// The reader of an earlier run's report for --retry: the strict JSON reader
// against malformed, cut and hostile text, and the report reader's choice of
// units on reports the program itself wrote, on hand-edited ones and on
// files that are no report at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "shell/JsonReader.h"
#include "shell/RetryReport.h"
#include "shell/RunReport.h"

namespace {

using testsupport::AddressOfOctets;

// Reads any JSON text whole; the error, or "" when it is valid.
std::string JsonError(const std::string& text) {
  JsonReader reader(text);
  reader.SkipValue();
  reader.ExpectEnd();
  return reader.error();
}

TEST(JsonReaderTest, AcceptsWhatTheGrammarAllows) {
  for (const char* text :
       {"{}", "[]", " [1, -0.5, 2e10, 3E-2, 0, true, false, null] ", "{\"a\": {\"b\": [\"\"]}}",
        "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\"", "\r\n\t7"}) {
    EXPECT_EQ(JsonError(text), "") << text;
  }
}

TEST(JsonReaderTest, RefusesWhatItDoesNotAllowWithTheLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "line 1: the text ends where a value should be"},
      {"{\n\"a\": 1,\n}", "line 3: expected a member's name in quotes"},
      {"[1,\n2,]", "line 2: expected a value"},
      {"[1 2]", "line 1: expected ',' or ']'"},
      {"{\"a\" 1}", "line 1: expected ':'"},
      {"{\"a\": 1", "line 1: the text ends where ',' or '}' should be"},
      {"\n\n\"abc", "line 3: the text ends inside a string"},
      {"\"a\nb\"", "line 2: a control byte inside a string"},
      {"\"\\x41\"", "line 1: an unknown escape in a string"},
      {"\"\\u12\"", "line 1: \\u needs four hex digits"},
      {"\"\\ud800\"", "line 1: a lone surrogate in a string"},
      {"\"\\udc00\\ud800\"", "line 1: a lone surrogate in a string"},
      {"\"\\ud800\\u0041\"", "line 1: a lone surrogate in a string"},
      {"012", "line 1: a malformed number"},
      {"-", "line 1: a malformed number"},
      {"1.", "line 1: a malformed number"},
      {"1e+", "line 1: a malformed number"},
      {"nul", "line 1: an unknown word"},
      {"// note\n{}", "line 1: expected a value"},
      {"{'a': 1}", "line 1: expected a member's name in quotes"},
      {"{} {}", "line 1: more text after the end"},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(JsonError(text), error) << text;
}

TEST(JsonReaderTest, NestingIsBoundedAndAHugeDepthDoesNotRecurse) {
  const std::size_t depth = JsonReader::kMaxDepth;
  EXPECT_EQ(JsonError(std::string(depth, '[') + std::string(depth, ']')), "");
  EXPECT_EQ(JsonError(std::string(depth + 1, '[') + std::string(depth + 1, ']')),
            "line 1: nested deeper than 64 levels");
  // Far deeper than any stack would take if each level recursed.
  EXPECT_NE(JsonError(std::string(1000000, '[')), "");
  EXPECT_NE(JsonError(std::string(500000, '{') + "\"a\":"), "");
}

TEST(JsonReaderTest, StringsAreUnescapedToUtf8AndTheFirstErrorStays) {
  JsonReader reader("[\"\\u00e9\\ud83d\\ude00\\u0000x\", 5]");
  std::string text;
  ASSERT_TRUE(reader.BeginArray());
  ASSERT_TRUE(reader.NextItem());
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ(text, std::string("\xc3\xa9\xf0\x9f\x98\x80", 6) + std::string(1, '\0') + "x");
  ASSERT_TRUE(reader.NextItem());
  EXPECT_FALSE(reader.ReadString(&text));
  EXPECT_EQ(reader.error(), "line 1: expected a string");
  EXPECT_FALSE(reader.SkipValue());
  EXPECT_FALSE(reader.NextItem());
  EXPECT_EQ(reader.error(), "line 1: expected a string");
}

UnitReportRow Row(int last, InstallState state, const std::string& status, FailureClass failure,
                  bool jobRan) {
  UnitReportRow row;
  row.address = AddressOfOctets(10, 0, 0, static_cast<unsigned char>(last));
  row.state = state;
  row.status = status;
  if (jobRan) {
    JobReport job;
    job.failure = failure;
    job.startedAt = 1796672847;
    row.job = std::make_shared<const JobReport>(std::move(job));
  } else {
    row.notStarted = failure;
  }
  return row;
}

// The program's own report: every failure and cancel is retried, nothing
// that finished or was not in the run.
TEST(RetryReportTest, PicksTheFailedAndCancelledUnitsOfTheProgramsOwnReport) {
  RunReport report;
  report.writtenAt = 1796672857;
  report.startedAt = 1796672800;
  report.units = {
      Row(1, InstallState::Finished, "Success", FailureClass::None, true),
      Row(2, InstallState::Failed, "Failed Connection", FailureClass::Login, true),
      Row(3, InstallState::Finished, "Connection Closed", FailureClass::ConnectionClosed, true),
      Row(4, InstallState::Failed, "Cancelled", FailureClass::Stopped, false),
      Row(5, InstallState::CancelRequested, "Cancelled", FailureClass::Cancelled, true),
      Row(6, InstallState::Idle, "", FailureClass::None, false),
      Row(7, InstallState::Failed, "Unknown Error", FailureClass::Timeout, true),
      Row(8, InstallState::Failed, "Failed", FailureClass::Script, true),
  };
  RetryUnits units;
  std::string error;
  ASSERT_TRUE(ReadRetryReport(ReportJson(report), &units, &error)) << error;
  EXPECT_EQ(units.addresses,
            (std::set<std::uint32_t>{AddressOfOctets(10, 0, 0, 2), AddressOfOctets(10, 0, 0, 4),
                                     AddressOfOctets(10, 0, 0, 5), AddressOfOctets(10, 0, 0, 7),
                                     AddressOfOctets(10, 0, 0, 8)}));
  EXPECT_EQ(units.runOf, "2026-12-07T19:46:40Z");
  EXPECT_EQ(units.listed, 8u);
}

TEST(RetryReportTest, CancelsCountByStateStatusOrClass) {
  EXPECT_TRUE(IsRetryOutcome("Failed", "", ""));
  EXPECT_TRUE(IsRetryOutcome("CancelRequested", "", ""));
  EXPECT_TRUE(IsRetryOutcome("Pending", "Cancelled", ""));
  for (const char* failure : {"cancelled", "timeout", "stopped"})
    EXPECT_TRUE(IsRetryOutcome("Idle", "", failure)) << failure;
  EXPECT_FALSE(IsRetryOutcome("Finished", "Cancelled", "timeout"));
  EXPECT_FALSE(IsRetryOutcome("Idle", "", ""));
  EXPECT_FALSE(IsRetryOutcome("Running", "Installing..", "connection closed"));
}

// An older report without "started" names its "written" time; keys of
// other versions are skipped, and a unit listed twice keeps its last row.
TEST(RetryReportTest, ReadsHandEditedAndOtherVersionsReports) {
  const std::string text =
      "{\"written\": \"2026-01-02T03:04:05Z\", \"extra\": {\"deep\": [1, {\"x\": null}]},\n"
      " \"units\": [\n"
      "  {\"address\": \"10.0.0.2\", \"state\": \"Failed\", \"new_column\": [true]},\n"
      "  {\"address\": \"10.0.0.3\", \"state\": \"Failed\"},\n"
      "  {\"address\": \"10.0.0.3\", \"state\": \"Finished\", \"failure_class\": null},\n"
      "  {\"address\": \"10.0.0.4\", \"status\": \"Cancelled\"}\n"
      " ]}";
  RetryUnits units;
  std::string error;
  ASSERT_TRUE(ReadRetryReport(text, &units, &error)) << error;
  EXPECT_EQ(units.addresses,
            (std::set<std::uint32_t>{AddressOfOctets(10, 0, 0, 2), AddressOfOctets(10, 0, 0, 4)}));
  EXPECT_EQ(units.runOf, "2026-01-02T03:04:05Z");
  ASSERT_TRUE(
      ReadRetryReport("{\"started\": \"2026-01-01T00:00:00Z\", \"written\": "
                      "\"2026-01-02T03:04:05Z\", \"units\": []}",
                      &units, &error))
      << error;
  EXPECT_EQ(units.runOf, "2026-01-01T00:00:00Z");
  EXPECT_TRUE(units.addresses.empty());
}

TEST(RetryReportTest, RefusesWhatIsNotAUsableReport) {
  const std::string head = "{\"written\": \"2026-01-02T03:04:05Z\", \"units\": [\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[]", "line 1: the report is not an object"},
      {"{\"program\": \"other\", \"units\": []}", "line 1: not a report of fieldloader"},
      {"{\"written\": \"2026-01-02T03:04:05Z\"}", "line 1: the report has no \"units\""},
      {"{\"units\": []}", "line 1: the report has no \"started\" or \"written\" time"},
      {"{\"written\": \"yesterday\", \"units\": []}",
       "line 1: \"written\" is not a time such as 2026-12-07T19:40:00Z"},
      {"{\"written\": \"2026-01-02T03:04:05Z\", \"units\": {}}", "line 1: \"units\" is not a list"},
      {head + "7]}", "line 2: a unit is not an object"},
      {head + "{\"state\": \"Failed\"}]}", "line 2: the unit that starts on line 2 has no address"},
      {head + "{\"address\": \"10.0.0.256\"}]}", "line 2: \"10.0.0.256\" is not a unit's address"},
      {head + "{\"address\": \"0.0.0.0\"}]}", "line 2: \"0.0.0.0\" is not a unit's address"},
      {head + "{\"address\": \"10.0.0.2\",\n\"state\": 4}]}",
       "line 3: \"state\" is neither a string nor null"},
      {head + "{\"address\": \"10.0.0.2\", \"state\": \"Failed\"}",
       "line 2: the text ends where ',' or ']' should be"},
      {head + "]} trailing", "line 2: more text after the end"},
  };
  for (const auto& [text, expected] : cases) {
    RetryUnits units;
    units.addresses.insert(1);
    std::string error;
    EXPECT_FALSE(ReadRetryReport(text, &units, &error)) << text;
    EXPECT_EQ(error, expected) << text;
    EXPECT_TRUE(units.addresses.empty()) << text;
  }
}

TEST(RetryReportTest, FilesThatCannotBeReadAreRefusedBeforeReading) {
  const std::filesystem::path folder = testsupport::ScratchDirectory("retry-report-files");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  RetryUnits units;
  std::string error;
  EXPECT_FALSE(LoadRetryReport((folder / "missing.json").string(), &units, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(LoadRetryReport(folder.string(), &units, &error));
  EXPECT_EQ(error, "it is not a file");
  // Larger than the limit: refused by its size, without reading it.
  const std::filesystem::path huge = folder / "huge.json";
  std::ofstream(huge, std::ios::binary) << "{";
  std::filesystem::resize_file(huge, RetryUnits::kMaxFileBytes + 1);
  EXPECT_FALSE(LoadRetryReport(huge.string(), &units, &error));
  EXPECT_EQ(error, "it is larger than 64 MiB");
  const std::filesystem::path good = folder / "good.json";
  std::ofstream(good, std::ios::binary)
      << "{\"written\": \"2026-01-02T03:04:05Z\", \"units\": [{\"address\": \"10.0.0.2\", "
         "\"state\": \"Failed\"}]}";
  ASSERT_TRUE(LoadRetryReport(good.string(), &units, &error)) << error;
  EXPECT_EQ(units.addresses.size(), 1u);
  std::filesystem::remove_all(folder);
}

TEST(RetryReportTest, TextsForTheUser) {
  RetryUnits units;
  units.runOf = "2026-12-07T19:40:00Z";
  EXPECT_EQ(NothingToRetryText(units),
            "Nothing to retry: no unit failed or was cancelled in the run of "
            "2026-12-07T19:40:00Z\n");
  units.addresses = {1};
  EXPECT_EQ(RetryingText(units), "Retrying 1 unit of the run of 2026-12-07T19:40:00Z\n");
  units.addresses = {1, 2};
  EXPECT_EQ(RetryingText(units), "Retrying 2 units of the run of 2026-12-07T19:40:00Z\n");
  EXPECT_EQ(UnusableRetryReportText("old\x1b.json", "line 2: \"\x07\" is not a unit's address"),
            "fieldloader: cannot use the report old\\x1b.json: line 2: \"\\x07\" is not a "
            "unit's address\n");
}

}  // namespace
