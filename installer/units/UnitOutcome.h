// A unit's install status in one place: its install states, the texts its
// "Install" cell shows, and the outcomes a job ends with. Each outcome is one
// row of status text, state and failure class, so the job publishes an
// outcome by naming it and the run report reads the class from the same row.
// The views size the status column from kWidestStatusText, so a new, longer
// text widens the column instead of being cut.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

// Install states; single bits, so a state reads as a set of one.
enum class InstallState : std::uint32_t {
  Idle = 0,
  Pending = 1,
  Finished = 2,
  Failed = 4,
  Running = 8,
  CancelRequested = 32,
};

// Why a job did not end well, for the run report.
enum class FailureClass {
  None,
  Unreachable,
  Login,
  Copy,
  Script,
  ConnectionClosed,
  Cancelled,
  // Cut by a time limit (--unit-timeout, --run-timeout), as a cancel would.
  Timeout,
  // Never started: the run stopped its waiting units (--stop-after-failures,
  // a canary that did not finish).
  Stopped,
};

// The report's name of a failure class: "" for None, else "unreachable",
// "login", "copy", "script", "connection closed", "cancelled", "timeout" or "stopped".
const char* FailureClassName(FailureClass failure);

// The status texts that are not an outcome of their own.
namespace unit_status {
inline constexpr const char* kPending = "Pending";
inline constexpr const char* kConnecting = "Connecting";
inline constexpr const char* kInstalling = "Installing..";
inline constexpr const char* kCancelled = "Cancelled";
// The widest percentage the copy shows.
inline constexpr const char* kWidestPercentage = "100.0%";
}  // namespace unit_status

// The ends of a job (and the one end of a job that never started), in the
// order of kOutcomes.
enum class JobOutcome {
  Success,           // the install script exited with 0
  ConnectionClosed,  // the script's status could not be read: the unit restarted
  ScriptFailed,      // the install script exited with 1
  UnknownError,      // the install script exited with any other status
  RebootRequired,    // the files were copied and the release has no install script
  Unreachable,       // no telnet connection
  LoginRefused,      // connected, but the login failed
  FileCopyFail,      // a file was refused, shown until the job judges its outcome
  CopyFailed,        // the copy failed or the file channel did not connect
  NotStarted,        // the job's thread could not be created
  Ready,             // a check (dry run) met no failure: the install would start
};

struct OutcomeRow {
  JobOutcome outcome;
  const char* text;
  InstallState state;
  FailureClass failure;
};

inline constexpr OutcomeRow kOutcomes[] = {
    {JobOutcome::Success, "Success", InstallState::Finished, FailureClass::None},
    {JobOutcome::ConnectionClosed, "Connection Closed", InstallState::Finished,
     FailureClass::ConnectionClosed},
    {JobOutcome::ScriptFailed, "Failed", InstallState::Failed, FailureClass::Script},
    {JobOutcome::UnknownError, "Unknown Error", InstallState::Failed, FailureClass::Script},
    {JobOutcome::RebootRequired, "Reboot Required", InstallState::Finished, FailureClass::None},
    {JobOutcome::Unreachable, "Failed Connection", InstallState::Failed, FailureClass::Unreachable},
    {JobOutcome::LoginRefused, "Failed Connection", InstallState::Failed, FailureClass::Login},
    {JobOutcome::FileCopyFail, "File Copy Fail", InstallState::Failed, FailureClass::Copy},
    {JobOutcome::CopyFailed, "Failed Connection", InstallState::Failed, FailureClass::Copy},
    {JobOutcome::NotStarted, "Failed", InstallState::Failed, FailureClass::None},
    {JobOutcome::Ready, "Ready", InstallState::Finished, FailureClass::None},
};

constexpr const OutcomeRow& OutcomeOf(JobOutcome outcome) {
  return kOutcomes[static_cast<std::size_t>(outcome)];
}

namespace unit_status {

constexpr bool RowsInOrder() {
  for (std::size_t i = 0; i < std::size(kOutcomes); ++i) {
    if (static_cast<std::size_t>(kOutcomes[i].outcome) != i) return false;
  }
  return true;
}
static_assert(RowsInOrder(), "kOutcomes lists the outcomes in the order of JobOutcome");

constexpr std::size_t WidestText() {
  std::size_t widest = 0;
  for (const char* text : {kPending, kConnecting, kInstalling, kCancelled, kWidestPercentage}) {
    widest = std::max(widest, std::char_traits<char>::length(text));
  }
  for (const OutcomeRow& row : kOutcomes) {
    widest = std::max(widest, std::char_traits<char>::length(row.text));
  }
  return widest;
}

}  // namespace unit_status

// The characters of the longest status text; the status column is at least
// this wide wherever it is drawn in characters.
inline constexpr std::size_t kWidestStatusText = unit_status::WidestText();
