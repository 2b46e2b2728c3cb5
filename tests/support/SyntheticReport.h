// A run report of any number of made-up units, for the page's tests, its
// browser check and its benchmark: jobs started eight at a time, each with
// every step timed and three files copied, and among every 24 units one of
// each way a job ends badly (unreachable, login refused, copy broken off,
// script failed, cancelled) and one unit that was not in the run.
//
// With long texts, every unit's group, versions and file names are long
// runs of markup and broken UTF-8, the worst a unit could send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "install/InstallJob.h"
#include "shell/RunReport.h"
#include "units/DisplayOrder.h"
#include "units/UnitOutcome.h"

namespace testsupport {

inline constexpr long long kSyntheticRunStartMs = 1796672847000;

namespace synthetic {

enum class Ending { Success, Unreachable, Login, Copy, Script, Cancelled, NotInRun };

inline Ending EndingOf(std::size_t unit) {
  switch (unit * 7 % 24) {
    case 0: return Ending::Unreachable;
    case 5: return Ending::Login;
    case 10: return Ending::Copy;
    case 15: return Ending::Script;
    case 20: return Ending::Cancelled;
    case 22: return Ending::NotInRun;
    default: return Ending::Success;
  }
}

inline std::size_t StepIndex(std::string_view name) {
  const std::span<const char* const> names = InstallJobStepNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return i;
  }
  return names.size();
}

inline std::string LongText(const std::string& seed) {
  std::string text;
  while (text.size() < 300) text += "<script>\"" + seed + "\"&'\xff\xc3</script>";
  return text;
}

// Every step in order: ping, channel and clean-up take fixed times, login,
// copy and script the given ones, the others 1 ms.
inline void TimeSteps(JobReport& job, long long loginMs, long long copyMs, long long scriptMs) {
  job.steps.resize(InstallJobStepNames().size());
  long long at = 0;
  for (std::size_t i = 0; i < job.steps.size(); ++i) {
    long long length = 1;
    if (i == StepIndex("ping")) length = 40;
    if (i == StepIndex("login")) length = loginMs;
    if (i == StepIndex("channel")) length = 60;
    if (i == StepIndex("copy")) length = copyMs;
    if (i == StepIndex("outcome")) length = scriptMs;
    if (i == StepIndex("clean_up")) length = 20;
    job.steps[i] = {at, at + length};
    at += length;
  }
}

// Three files, put one after the other from the copy step's start at about
// 1.5 MB/s; a broken copy ends in the middle of the second.
inline long long CopyFiles(JobReport& job, std::size_t unit, bool broken, bool longTexts) {
  static constexpr std::uint32_t kSizes[] = {2000000, 350000, 40000};
  static constexpr const char* kNames[] = {"/opt/tarvo/firmware.bin", "/opt/tarvo/apps.tar",
                                           "/opt/tarvo/install.conf"};
  const long long copyStart = job.steps[StepIndex("copy")].startMs;
  long long at = copyStart;
  const long long bytesPerSecond = 1200000 + static_cast<long long>(unit % 7) * 100000;
  for (std::size_t i = 0; i < 3; ++i) {
    FileTime file{longTexts ? LongText(kNames[i]) : kNames[i], kSizes[i]};
    if (broken && i == 1) file.bytes /= 3;
    file.startMs = at;
    file.endMs = at + file.bytes * 1000 / bytesPerSecond;
    at = file.endMs;
    job.bytesSent += file.bytes;
    job.files.push_back(std::move(file));
    if (broken && i == 1) break;
  }
  return at - copyStart;
}

inline std::shared_ptr<const JobReport> Job(std::size_t unit, Ending ending, bool longTexts) {
  JobReport job;
  job.startedAtMs =
      kSyntheticRunStartMs + static_cast<long long>(unit / 8) * 4200 + (unit % 8) * 150;
  job.startedAt = static_cast<std::time_t>(job.startedAtMs / 1000);
  job.versionBefore = longTexts ? LongText("4.1") : "4.1." + std::to_string(unit % 3);
  const bool copies = ending == Ending::Success || ending == Ending::Copy ||
                      ending == Ending::Script || ending == Ending::Cancelled;
  const long long loginMs = ending == Ending::Unreachable ? 3000 : 850;
  TimeSteps(job, loginMs, 0, 0);
  const long long copyMs =
      copies
          ? CopyFiles(job, unit, ending != Ending::Success && ending != Ending::Script, longTexts)
          : 0;
  TimeSteps(job, loginMs, copyMs, ending == Ending::Success || ending == Ending::Script ? 1800 : 0);
  switch (ending) {
    case Ending::Unreachable: job.failure = FailureClass::Unreachable; break;
    case Ending::Login: job.failure = FailureClass::Login; break;
    case Ending::Copy: job.failure = FailureClass::Copy; break;
    case Ending::Script: job.failure = FailureClass::Script; break;
    case Ending::Cancelled: job.failure = FailureClass::Cancelled; break;
    default: break;
  }
  job.installError = ending == Ending::Success ? 0 : 1;
  job.transcript.Sent("root");
  job.transcript.Note("logged in");
  return std::make_shared<const JobReport>(std::move(job));
}

inline JobOutcome JobOutcomeOf(Ending ending) {
  switch (ending) {
    case Ending::Unreachable: return JobOutcome::Unreachable;
    case Ending::Login: return JobOutcome::LoginRefused;
    case Ending::Copy: return JobOutcome::CopyFailed;
    case Ending::Script: return JobOutcome::ScriptFailed;
    default: return JobOutcome::Success;
  }
}

}  // namespace synthetic

inline RunReport SyntheticReport(std::size_t units, bool longTexts = false) {
  using namespace synthetic;
  RunReport report;
  report.programVersion = "1.4.0";
  report.writtenAt = static_cast<std::time_t>(kSyntheticRunStartMs / 1000 + 900);
  for (std::size_t i = 0; i < units; ++i) {
    UnitReportRow row;
    // HostOrder swaps the bytes on this byte order, both ways.
    row.address = HostOrder(0x0A010000u + static_cast<std::uint32_t>(i / 250) * 256 +
                            static_cast<std::uint32_t>(i % 250) + 1);
    row.node = static_cast<std::int32_t>(100 + i);
    row.group = longTexts ? LongText("group") : std::string(i % 2 ? "Line A" : "Line B");
    const Ending ending = EndingOf(i);
    if (ending == Ending::NotInRun) {
      report.units.push_back(std::move(row));
      continue;
    }
    row.job = Job(i, ending, longTexts);
    row.wave = 1;
    row.waveEndedAt = report.writtenAt;
    if (ending == Ending::Cancelled) {
      row.state = InstallState::CancelRequested;
      row.status = unit_status::kCancelled;
    } else {
      const OutcomeRow& outcome = OutcomeOf(JobOutcomeOf(ending));
      row.state = outcome.state;
      row.status = outcome.text;
      row.versionAfter = ending == Ending::Success ? (longTexts ? LongText("4.2") : "4.2.0")
                                                   : *row.job->versionBefore;
    }
    report.units.push_back(std::move(row));
  }
  return report;
}

}  // namespace testsupport
