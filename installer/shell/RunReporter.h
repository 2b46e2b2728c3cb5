// Writes the run report at the end of an install run (or a wave of one):
// it first sends the discovery query again and waits a short, bounded time
// for the units to answer, so that the report's "version after" shows what
// each unit reports now, then copies the table and writes the files.
//
// The wait runs on the main loop's timer, so the dialog and the text UI stay
// responsive and the headless runner simply goes on looping. It ends as soon
// as every unit that had answered discovery before has answered again, and
// after kRescanMs at the latest (a unit that restarts may not answer at all).
// A report asked for while another still waits finishes that one at once.
//
// With --verify the verify phase (RunVerifier.h) comes first, and the
// rescan follows it; its verdicts go into the report's rows.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>

#include "shell/RetryReport.h"
#include "shell/RunReport.h"
#include "shell/RunVerifier.h"

namespace platform {
class MainLoop;
}
class TarvoLoadDialog;
class unit_table;

class RunReporter {
 public:
  static constexpr unsigned kRescanMs = 3000;
  // The discovery pace: how often the query goes out again while answers
  // are awaited (the rescan and the verify phase).
  static constexpr unsigned kRequeryMs = 1000;
  static constexpr unsigned kPollMs = 100;

  // Called when the report has been written (ok) or could not be (ok false,
  // error says why).
  using Done = std::function<void(const RunReport& report, bool ok, const std::string& error)>;

  // folder: where the files go ("" for the current directory, which is the
  // release folder).
  RunReporter(platform::MainLoop& loop, unit_table& table, TarvoLoadDialog& dialog,
              std::string folder, std::string programVersion);
  ~RunReporter();
  RunReporter(const RunReporter&) = delete;
  RunReporter& operator=(const RunReporter&) = delete;

  // verify false skips the verify phase (a run that was cut short).
  void Report(Done done, bool verify = true);
  // The report at once, without the rescan (the program is ending).
  void ReportNow(Done done);
  // Writes a report still waiting for answers now (the program is ending).
  void Flush();
  // The units of a --retry run: their rows name the run they retry.
  void SetRetry(const RetryUnits& retry) { retry_ = retry; }
  bool waiting() const { return timer_ != 0 || verifier_.running(); }
  const std::string& folder() const { return folder_; }
  // The verify phase of the reports from then on (see RunVerifier.h).
  RunVerifier& verifier() { return verifier_; }

 private:
  struct Answers {
    std::uint32_t count = 0;
    NullableText version;
  };
  std::map<std::uint32_t, Answers> answers() const;
  void rescan();
  void poll();
  void finish();

  platform::MainLoop& loop_;
  unit_table& table_;
  TarvoLoadDialog& dialog_;
  const std::string folder_;
  const std::string programVersion_;
  ReportHistory history_;
  RunVerifier verifier_;
  // Whether the report being made had a verify phase, whose verdicts it
  // then carries.
  bool verified_ = false;
  RetryUnits retry_;
  // The start of the program run's first job; 0 until one has run.
  std::time_t firstJobAt_ = 0;
  Done done_;
  std::map<std::uint32_t, Answers> before_;
  int timer_ = 0;
  std::chrono::steady_clock::time_point started_;
  bool requeried_ = false;
};
