// The command line of fieldloader. With no argument the program is the
// dialog; "--headless" runs the same controller without a screen, and
// "--help" and "--version" only print. Parsing is plain text work, written
// once for both platforms and tested on its own: each entry point hands in
// its arguments as UTF-8 and acts on the result.
//
//   fieldloader [--release DIR] [--report PATH] [--unit-timeout S]
//               [--max-parallel N] [--stop-after-failures K] [--canary N]
//               [--events FILE] [--verify S [--expect-version TEXT]]
//               [--retry REPORT]
//   fieldloader --headless [--discover-seconds N] [--add ADDRESS]...
//               [--release DIR] [--report PATH] [--unit-timeout S]
//               [--run-timeout S] [--max-parallel N]
//               [--stop-after-failures K] [--canary N] [--events FILE|-]
//               [--verify S [--expect-version TEXT]] [--retry REPORT] [--check]
//   fieldloader --help | --version
//
// Options take their value as the next argument or after "=". A mistake
// (an unknown option, a missing or bad value, an option that only a headless
// run takes, an argument that is not an option in a headless run) gives the
// Error mode with a one-line reason; the program then exits with
// kUsageExitCode. Without --headless an argument that is not an option is
// ignored, as the dialog ignores its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/RetryReport.h"
#include "shell/RunLimits.h"
#include "shell/VerifyOptions.h"

struct CommandLine {
  enum class Mode { Dialog, Headless, Help, Version, Error };

  static constexpr int kDefaultDiscoverSeconds = 3;
  static constexpr int kMaxDiscoverSeconds = 3600;
  // The longest time limit: a week.
  static constexpr int kMaxTimeoutSeconds = 7 * 24 * 3600;
  // The largest count --max-parallel, --stop-after-failures and --canary
  // take.
  static constexpr int kMaxUnitCount = 100000;
  // The exit code of a usage mistake; the same as a headless run that could
  // not start anything.
  static constexpr int kUsageExitCode = 2;

  Mode mode = Mode::Dialog;
  int discoverSeconds = kDefaultDiscoverSeconds;
  // The --add addresses in network byte order, in the order given.
  std::vector<std::uint32_t> addresses;
  // The folder named by --report as given (empty: beside the release).
  std::string reportFolder;
  // The release folder named by --release as given (empty: the program's
  // own folder, or the current one for a program installed under /usr).
  std::string releaseFolder;
  // --unit-timeout: a job running longer is cancelled (0: no limit). The
  // text dialog takes it too; the Win32 dialog does not.
  int unitTimeoutSeconds = 0;
  // --run-timeout: a headless run's install is cut after this long, counted
  // from its start (0: no limit).
  int runTimeoutSeconds = 0;
  // --max-parallel, --stop-after-failures and --canary (the text dialog
  // takes them too; the Win32 dialog does not).
  RunLimits limits;
  // --events: the file for the run's event lines as given, "-" for the
  // standard output (headless only); empty: none.
  std::string eventsPath;
  // --verify and --expect-version (the text dialog takes them too; the
  // Win32 dialog does not).
  VerifyOptions verify;
  // --retry: the earlier run's JSON report as given (empty: none), and the
  // units read from it before anything starts (StartProgram). The text
  // dialog takes it too; the Win32 dialog does not.
  std::string retryReport;
  RetryUnits retry;
  // --check: the headless run checks every selected unit (a dry run) instead
  // of installing.
  bool check = false;
  // Why the command line was refused (Error mode only).
  std::string error;
};

// Parses the arguments after the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// A strict dotted quad: four decimal numbers of at most three digits, each
// at most 255 and without a leading zero. Gives the address in network byte order.
bool ParseUnitAddress(const std::string& text, std::uint32_t* address);
// Whether a unit can have the address: not 0, which the job starter skips,
// and not the broadcast address. Either would be a unit that silently never
// installs.
constexpr bool CanBeUnitAddress(std::uint32_t address) {
  return address != 0 && address != 0xFFFFFFFFu;
}

// The text of --help, ending with a line end.
std::string UsageText();
// "fieldloader VERSION" and a line end, for --version.
std::string VersionText(const std::string& version);
// What a refused command line prints on standard error.
std::string UsageErrorText(const std::string& reason);
