// The phase after an install run that confirms the units came back with
// their release: for up to --verify seconds it sends the discovery query
// (probe and record query) at the discovery pace and watches the answers
// the device table counts per unit. A unit whose job Finished ("Success",
// "Connection Closed", "Reboot Required") is verified by an answer, newer
// than the phase's start, that confirms the release (ConfirmsRelease). The
// phase ends as soon as every such unit is verified, or when its time is up;
// units that failed, were cancelled or were not in the run are not asked.
//
// Units that restart during their script are the reason for the phase:
// they go silent for a while and answer with the new version once back, so
// the phase waits on the main loop's timers (no thread, no busy wait), and
// the dialog and the text UI stay responsive meanwhile. The table's lock is
// held only to read the counts, never while a query goes out.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/VerifyOptions.h"

namespace platform {
class MainLoop;
}
class RunEvents;
class tarvo_object;
class unit_table;
struct UnitReportRow;

enum class Verification { NotAsked, Yes, No };

// "not asked", "yes" or "no": the report's text.
const char* VerificationName(Verification verification);
// The end of a phase in a line: "Verified 3 of 4 units, 1 not verified".
std::string VerifyEndText(int verified, int notVerified);

// Whether a unit's answer shows the release it took: the expected version
// when one is given, else any version other than the one its job started
// from. An answer without a version (none, empty, or the placeholder of a
// reply that carried none) confirms nothing; a unit that had no version
// before (found by hand or by a reply without one) is confirmed by any
// version it reports now, since it has nothing else to differ from.
bool ConfirmsRelease(const std::optional<std::string>& answered,
                     const std::optional<std::string>& before, const VerifyOptions& options);

class RunVerifier {
 public:
  static constexpr unsigned kPollMs = 100;

  // sendQuery sends one discovery pass; paceMs is how often it goes out.
  RunVerifier(platform::MainLoop& loop, unit_table& table, std::function<void()> sendQuery,
              unsigned paceMs);
  ~RunVerifier();
  RunVerifier(const RunVerifier&) = delete;
  RunVerifier& operator=(const RunVerifier&) = delete;

  // What the phases from then on confirm, and where a unit verified and
  // the phase's start and end are told (null: nobody). started hears the
  // number of units a phase waits for as it begins, ended how many of them
  // were verified and how many not.
  void SetOptions(const VerifyOptions& options, RunEvents* events,
                  std::function<void(int units)> started = nullptr,
                  std::function<void(int verified, int notVerified)> ended = nullptr);
  const VerifyOptions& options() const { return options_; }

  // Starts a phase for the units whose job Finished; done is called from
  // the loop when it ends. False, and done never called, when there is no
  // phase: not asked, no unit finished, or no timer to be had (the
  // finished units are then not verified).
  bool Start(std::function<void()> done);
  bool running() const { return timer_ != 0; }
  // Ends a running phase now and calls its done (an interrupt).
  void EndNow();
  // Ends a running phase now without calling its done (a report that
  // cannot wait).
  void Cancel();
  // Gives the rows of the latest phase's units their verdict and time.
  void Apply(std::vector<UnitReportRow>& rows) const;

 private:
  struct Target {
    tarvo_object* unit;
    std::uint32_t address;
    std::optional<std::string> before;
    std::uint32_t answersAtStart;
    std::time_t verifiedAt = 0;
  };
  void collect_targets();
  void poll();
  int pending() const;
  void stop();

  platform::MainLoop& loop_;
  unit_table& table_;
  std::function<void()> sendQuery_;
  const unsigned paceMs_;
  VerifyOptions options_;
  RunEvents* events_ = nullptr;
  std::function<void(int units)> onStart_;
  std::function<void(int verified, int notVerified)> onEnd_;
  std::vector<Target> targets_;
  std::function<void()> done_;
  int timer_ = 0;
  std::chrono::steady_clock::time_point startedAt_;
  std::chrono::steady_clock::time_point queriedAt_;
};
