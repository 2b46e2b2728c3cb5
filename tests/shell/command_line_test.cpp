// fieldloader's command line: the modes, both forms of option values,
// repeated --add, the informational options winning over the rest, and
// every kind of mistake with its reason; the strict address reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "LoopbackNet.h"
#include "shell/CommandLine.h"

namespace {

using Mode = CommandLine::Mode;

CommandLine Parse(const std::vector<std::string>& arguments) { return ParseCommandLine(arguments); }

using testsupport::AddressOfOctets;

TEST(CommandLineTest, NoArgumentIsTheDialog) {
  const CommandLine line = Parse({});
  EXPECT_EQ(line.mode, Mode::Dialog);
  EXPECT_EQ(line.discoverSeconds, 3);
  EXPECT_TRUE(line.addresses.empty());
  EXPECT_TRUE(line.reportFolder.empty());
}

TEST(CommandLineTest, HeadlessWithEveryOptionInBothForms) {
  const CommandLine line = Parse({"--headless", "--discover-seconds", "7", "--add", "10.0.0.9",
                                  "--add=192.168.1.20", "--report=out dir"});
  ASSERT_EQ(line.mode, Mode::Headless) << line.error;
  EXPECT_EQ(line.discoverSeconds, 7);
  EXPECT_EQ(line.addresses, (std::vector<std::uint32_t>{AddressOfOctets(10, 0, 0, 9),
                                                        AddressOfOctets(192, 168, 1, 20)}));
  EXPECT_EQ(line.reportFolder, "out dir");
  // Options may come before --headless, and 0 seconds is allowed.
  const CommandLine before = Parse({"--discover-seconds=0", "--headless"});
  ASSERT_EQ(before.mode, Mode::Headless) << before.error;
  EXPECT_EQ(before.discoverSeconds, 0);
}

// --unit-timeout serves the text dialog too; --run-timeout ends a headless
// run only. Neither limits anything when absent.
TEST(CommandLineTest, TimeLimits) {
  EXPECT_EQ(Parse({}).unitTimeoutSeconds, 0);
  EXPECT_EQ(Parse({"--headless"}).runTimeoutSeconds, 0);
  const CommandLine headless = Parse({"--headless", "--unit-timeout=90", "--run-timeout", "600"});
  ASSERT_EQ(headless.mode, Mode::Headless) << headless.error;
  EXPECT_EQ(headless.unitTimeoutSeconds, 90);
  EXPECT_EQ(headless.runTimeoutSeconds, 600);
  const CommandLine dialog = Parse({"--unit-timeout", "604800"});
  ASSERT_EQ(dialog.mode, Mode::Dialog) << dialog.error;
  EXPECT_EQ(dialog.unitTimeoutSeconds, 604800);
}

TEST(CommandLineTest, RunLimitsForHeadlessAndTheTextDialog) {
  EXPECT_FALSE(Parse({"--headless"}).limits.any());
  const CommandLine headless =
      Parse({"--headless", "--max-parallel", "50", "--stop-after-failures=3", "--canary", "2"});
  ASSERT_EQ(headless.mode, Mode::Headless) << headless.error;
  EXPECT_EQ(headless.limits.maxParallel, 50);
  EXPECT_EQ(headless.limits.stopAfterFailures, 3);
  EXPECT_EQ(headless.limits.canary, 2);
  const CommandLine dialog = Parse({"--max-parallel=100000"});
  ASSERT_EQ(dialog.mode, Mode::Dialog) << dialog.error;
  EXPECT_EQ(dialog.limits.maxParallel, 100000);
}

// A file for both front ends; the standard output only for a headless run.
TEST(CommandLineTest, EventsGoToAFileOrTheHeadlessOutput) {
  EXPECT_EQ(Parse({"--headless"}).eventsPath, "");
  EXPECT_EQ(Parse({"--events", "run.jsonl"}).eventsPath, "run.jsonl");
  const CommandLine headless = Parse({"--headless", "--events=-"});
  ASSERT_EQ(headless.mode, Mode::Headless) << headless.error;
  EXPECT_EQ(headless.eventsPath, "-");
  const CommandLine dialog = Parse({"--events", "-"});
  EXPECT_EQ(dialog.mode, Mode::Error);
  EXPECT_EQ(dialog.error, "--events is only for a headless run (--headless)");
  EXPECT_EQ(Parse({"--events="}).error, "--events needs a file, or - for the standard output");
}

// --verify for both front ends, with or without the version to expect,
// which may be any bytes but nothing, and means nothing without --verify.
TEST(CommandLineTest, VerifyWithAnOptionalExpectedVersion) {
  const VerifyOptions none = Parse({"--headless"}).verify;
  EXPECT_FALSE(none.asked());
  EXPECT_FALSE(none.expectedVersion.has_value());
  const CommandLine headless =
      Parse({"--headless", "--verify", "300", "--expect-version=2.1 \"rc\",\xff"});
  ASSERT_EQ(headless.mode, Mode::Headless) << headless.error;
  EXPECT_EQ(headless.verify.seconds, 300);
  EXPECT_EQ(headless.verify.expectedVersion, "2.1 \"rc\",\xff");
  // The order does not matter, and the text dialog takes them too.
  const CommandLine dialog = Parse({"--expect-version", "--x", "--verify=604800"});
  ASSERT_EQ(dialog.mode, Mode::Dialog) << dialog.error;
  EXPECT_EQ(dialog.verify.seconds, 604800);
  EXPECT_EQ(dialog.verify.expectedVersion, "--x");
  EXPECT_FALSE(Parse({"--headless", "--verify", "5"}).verify.expectedVersion.has_value());
}

TEST(CommandLineTest, ReportAndReleaseFoldersAlsoForTheDialog) {
  const CommandLine line = Parse({"--report", "C:\\reports", "--release=D:\\rel 2"});
  ASSERT_EQ(line.mode, Mode::Dialog) << line.error;
  EXPECT_EQ(line.reportFolder, "C:\\reports");
  EXPECT_EQ(line.releaseFolder, "D:\\rel 2");
  EXPECT_EQ(Parse({"--headless", "--release", "r"}).releaseFolder, "r");
  EXPECT_EQ(Parse({"--release"}).error, "--release needs a value");
  EXPECT_EQ(Parse({"--release="}).error, "--release needs a folder");
}

// A file dropped on the program or a shortcut's argument: the dialog
// ignores what is not an option, but still refuses an unknown option, and a
// headless run refuses both.
TEST(CommandLineTest, DialogIgnoresArgumentsThatAreNotOptions) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"C:\\Users\\me\\notes.txt"}, {"stray", "-"}, {"--report", "r", "stray"}}) {
    const CommandLine line = Parse(arguments);
    EXPECT_EQ(line.mode, Mode::Dialog) << arguments.front() << ": " << line.error;
  }
  EXPECT_EQ(Parse({"stray", "--report", "r"}).reportFolder, "r");
  EXPECT_EQ(Parse({"stray", "--bogus"}).error, "unknown option --bogus");
  EXPECT_EQ(Parse({"stray", "--headless"}).error, "unexpected argument \"stray\"");
  EXPECT_EQ(Parse({"stray", "--help"}).mode, Mode::Help);
}

TEST(CommandLineTest, HelpAndVersionWinOverTheRest) {
  EXPECT_EQ(Parse({"--help"}).mode, Mode::Help);
  EXPECT_EQ(Parse({"-h"}).mode, Mode::Help);
  EXPECT_EQ(Parse({"--version"}).mode, Mode::Version);
  EXPECT_EQ(Parse({"--headless", "--add", "10.0.0.1", "--help"}).mode, Mode::Help);
  EXPECT_EQ(Parse({"--version", "--help"}).mode, Mode::Version);
  // ... but not over a mistake, which is reported.
  EXPECT_EQ(Parse({"--help", "--bogus"}).mode, Mode::Error);
}

TEST(CommandLineTest, MistakesAreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> arguments;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"-x"}, "unknown option -x"},
      {{"--headless", "stray"}, "unexpected argument \"stray\""},
      {{"--headless", "--discover-seconds"}, "--discover-seconds needs a value"},
      {{"--headless", "--discover-seconds", "-1"},
       "--discover-seconds needs a whole number of seconds from 0 to 3600, not \"-1\""},
      {{"--headless", "--discover-seconds=2.5"},
       "--discover-seconds needs a whole number of seconds from 0 to 3600, not \"2.5\""},
      {{"--headless", "--discover-seconds", "3601"},
       "--discover-seconds needs a whole number of seconds from 0 to 3600, not \"3601\""},
      {{"--headless", "--discover-seconds", "99999999999"},
       "--discover-seconds needs a whole number of seconds from 0 to 3600, not \"99999999999\""},
      {{"--headless", "--add", "10.0.0"},
       "--add needs an IPv4 address such as 192.168.1.20, not \"10.0.0\""},
      {{"--headless", "--add", "0.0.0.0"}, "--add 0.0.0.0 is not a unit's address"},
      {{"--headless", "--add", "255.255.255.255"}, "--add 255.255.255.255 is not a unit's address"},
      {{"--headless", "--add"}, "--add needs a value"},
      {{"--headless", "--report="}, "--report needs a folder"},
      {{"--headless=yes"}, "--headless takes no value"},
      {{"--help=1"}, "--help takes no value"},
      {{"--add", "10.0.0.1"}, "--add is only for a headless run (--headless)"},
      {{"--discover-seconds", "1", "--add", "10.0.0.1"},
       "--discover-seconds is only for a headless run (--headless)"},
      {{"--run-timeout", "60"}, "--run-timeout is only for a headless run (--headless)"},
      {{"--headless", "--unit-timeout", "0"},
       "--unit-timeout needs a whole number of seconds from 1 to 604800, not \"0\""},
      {{"--headless", "--run-timeout=604801"},
       "--run-timeout needs a whole number of seconds from 1 to 604800, not \"604801\""},
      {{"--headless", "--max-parallel", "0"},
       "--max-parallel needs a whole number from 1 to 100000, not \"0\""},
      {{"--canary=100001"}, "--canary needs a whole number from 1 to 100000, not \"100001\""},
      {{"--stop-after-failures"}, "--stop-after-failures needs a value"},
      {{"--headless", "--unit-timeout", "1m"},
       "--unit-timeout needs a whole number of seconds from 1 to 604800, not \"1m\""},
      {{"--headless", "--verify", "0"},
       "--verify needs a whole number of seconds from 1 to 604800, not \"0\""},
      {{"--headless", "--verify=604801"},
       "--verify needs a whole number of seconds from 1 to 604800, not \"604801\""},
      {{"--verify"}, "--verify needs a value"},
      {{"--headless", "--expect-version", "2.1"},
       "--expect-version is only for a verified run (--verify)"},
      {{"--expect-version=2.1"}, "--expect-version is only for a verified run (--verify)"},
      {{"--headless", "--verify", "9", "--expect-version="},
       "--expect-version needs the version text"},
      {{"--headless", "--verify", "9", "--expect-version"}, "--expect-version needs a value"},
      {{"--headless", "--check", "--verify", "9"},
       "--verify is not for a check (--check), which installs nothing"},
  };
  for (const Case& c : cases) {
    const CommandLine line = Parse(c.arguments);
    EXPECT_EQ(line.mode, Mode::Error) << c.arguments.front();
    EXPECT_EQ(line.error, c.reason);
  }
}

TEST(CommandLineTest, AddressesAreReadStrictly) {
  std::uint32_t address = 0;
  ASSERT_TRUE(ParseUnitAddress("127.0.0.5", &address));
  EXPECT_EQ(address, AddressOfOctets(127, 0, 0, 5));
  ASSERT_TRUE(ParseUnitAddress("255.0.10.0", &address));
  EXPECT_EQ(address, AddressOfOctets(255, 0, 10, 0));
  for (const char* bad :
       {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "1.2.3.4 ", " 1.2.3.4", "+1.2.3.4",
        "1.2.3.-4", "01.2.3.4", "1.2.3.0004", "a.b.c.d", "1.2.3.4:23", "host"}) {
    EXPECT_FALSE(ParseUnitAddress(bad, &address)) << bad;
  }
}

// --retry names a report for a headless run and the text dialog alike;
// the report itself is read later, before anything starts.
TEST(CommandLineTest, RetryNamesAnEarlierReport) {
  EXPECT_TRUE(Parse({"--headless"}).retryReport.empty());
  const CommandLine headless =
      Parse({"--headless", "--retry", "old/report.json", "--add=10.0.0.9"});
  ASSERT_EQ(headless.mode, Mode::Headless) << headless.error;
  EXPECT_EQ(headless.retryReport, "old/report.json");
  EXPECT_TRUE(headless.retry.addresses.empty());
  const CommandLine dialog = Parse({"--retry=r.json"});
  ASSERT_EQ(dialog.mode, Mode::Dialog) << dialog.error;
  EXPECT_EQ(dialog.retryReport, "r.json");
  EXPECT_EQ(Parse({"--headless", "--retry"}).error, "--retry needs a value");
  EXPECT_EQ(Parse({"--headless", "--retry="}).error, "--retry needs the report of an earlier run");
}

// --check makes a headless run a dry run; the text dialog refuses it.
TEST(CommandLineTest, CheckIsForAHeadlessRun) {
  EXPECT_FALSE(Parse({"--headless"}).check);
  const CommandLine check = Parse({"--headless", "--check", "--retry", "r.json"});
  ASSERT_EQ(check.mode, Mode::Headless) << check.error;
  EXPECT_TRUE(check.check);
  EXPECT_EQ(check.retryReport, "r.json");
  EXPECT_EQ(Parse({"--check"}).error, "--check is only for a headless run (--headless)");
  EXPECT_EQ(Parse({"--headless", "--check=yes"}).error, "--check takes no value");
}

TEST(CommandLineTest, TextsForTheUser) {
  const std::string usage = UsageText();
  for (const char* option :
       {"--headless", "--discover-seconds N", "--add ADDRESS", "--report PATH", "--release DIR",
        "--unit-timeout S", "--run-timeout S", "--max-parallel N", "--stop-after-failures K",
        "--canary N", "--events FILE", "--verify S", "--expect-version TEXT", "--retry REPORT",
        "--check", "--help", "--version"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(usage.back(), '\n');
  EXPECT_NE(usage.find("3 when the run report could not be written"), std::string::npos);
  EXPECT_NE(usage.find("1 when some unit failed, was\ncancelled or was not verified"),
            std::string::npos);
  EXPECT_EQ(VersionText("1.0.0"), "fieldloader 1.0.0\n");
  EXPECT_EQ(UsageErrorText("unknown option --x"),
            "fieldloader: unknown option --x\nTry 'fieldloader --help' for more information.\n");
}

}  // namespace
