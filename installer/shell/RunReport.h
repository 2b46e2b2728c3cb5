// The run report: what became of every unit of the device table, written
// after each install run (and each wave of one) as "fieldloader-report.json",
// "fieldloader-report.csv" and a page to look at (HtmlReport.h), with the
// telnet transcript of each unit's latest job in "transcripts/<address>.txt".
// Each unit keeps its latest outcome from any wave of the program run, with
// the wave's number and end.
//
// The rows are taken from the table in one pass under its lock (a copy, so
// the files are written without holding it); everything after that is text
// work on the copy, which the tests check against golden text. Units report
// their group, version and everything the transcript holds as arbitrary
// bytes, so every field is escaped for its format: in JSON, valid UTF-8 goes
// through, quotes, backslashes and control bytes are escaped, and each byte
// that is not part of valid UTF-8 is written as \u00XX (its Latin-1
// reading), so the file is always valid JSON; in CSV (RFC 4180, CRLF line
// ends) a field holding a comma, quote, CR or LF is quoted with its quotes
// doubled, a field that starts with =, +, -, @, tab or CR gets a leading '
// so that a spreadsheet does not run it as a formula, and the bytes are
// otherwise kept as they are (the JSON keeps the exact text).
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "install/JobReport.h"
#include "shell/RunVerifier.h"
#include "units/tarvo_object.h"

class unit_table;

struct UnitReportRow {
  std::uint32_t address = 0;  // network byte order
  std::int32_t node = 0;
  NullableText group;
  // The version the unit gave in its answer to the rescan after the run
  // (none when it did not answer).
  NullableText versionAfter;
  InstallState state = InstallState::Idle;
  std::string status;
  // The report of the unit's latest job, whole (the version before it, the
  // install error, failure class, bytes, step times and transcript); null
  // when no job ran, and then the job's columns are empty.
  std::shared_ptr<const JobReport> job;
  bool jobRan() const { return job != nullptr; }
  // Why a unit taken out of the run before its job started was taken out
  // (Stopped, Cancelled, Timeout); None for any other unit without a job.
  FailureClass notStarted = FailureClass::None;
  // The failure class the report gives the unit: its job's, else why it
  // never got one.
  FailureClass failure() const { return job ? job->failure : notStarted; }
  // The wave of this program run whose end first reported this outcome
  // (counted from 1), and when that wave ended; 0 for a unit that has been
  // in no wave.
  int wave = 0;
  std::time_t waveEndedAt = 0;
  // Whether the verify phase after the run saw the unit come back with its
  // release, and when (0 unless verified).
  Verification verified = Verification::NotAsked;
  std::time_t verifiedAt = 0;
  // For a unit retried from an earlier run's report (--retry), when that
  // run started; "" for any other.
  std::string retryOf;
};

struct RunReport {
  static constexpr const char* kJsonName = "fieldloader-report.json";
  static constexpr const char* kCsvName = "fieldloader-report.csv";
  static constexpr const char* kHtmlName = "fieldloader-report.html";
  static constexpr const char* kTranscriptFolder = "transcripts";

  std::string programVersion;
  std::time_t writtenAt = 0;
  // When the program run's first job started (the time a later --retry
  // names); the time the report was written when no job has run.
  std::time_t startedAt = 0;
  std::vector<UnitReportRow> units;
};

// The outcomes of every wave of this program run, so that a report keeps
// each unit's latest outcome: a wave that did not include a unit (its row
// was not selected, so it reads Idle again) must not erase what an earlier
// wave did to it.
class ReportHistory {
 public:
  // Takes the rows of a wave that ended at the given time and returns the
  // rows to report: a unit in the wave (not Idle) reports its row now, with
  // the wave that first saw its job; an Idle unit that was in an earlier
  // wave reports that wave's row, with its node, group and version now.
  std::vector<UnitReportRow> Merge(std::vector<UnitReportRow> rows, std::time_t endedAt);

 private:
  int waves_ = 0;
  std::map<std::uint32_t, UnitReportRow> kept_;
};

// A copy of every unit of the table in address order, taken under its lock.
// versionAfter is left empty: the rescan fills it.
std::vector<UnitReportRow> CollectReportRows(unit_table& table);

// "Idle", "Pending", "Finished", "Failed", "Running" or "CancelRequested".
const char* InstallStateName(InstallState state);
// The dotted address of a unit ("127.0.0.5"), also the transcript's name.
std::string DottedAddress(std::uint32_t address);
// The report's path of a unit's transcript, relative to the report folder.
std::string TranscriptName(std::uint32_t address);

// A JSON string literal with its quotes, for any bytes.
std::string JsonString(const std::string& bytes);
// One CSV field, quoted when it must be, with a leading ' before a
// formula's first character.
std::string CsvField(const std::string& bytes);
// The bytes made safe to print on a terminal: valid UTF-8 stays, control
// bytes and bytes outside valid UTF-8 become \xNN.
std::string PrintableText(const std::string& bytes);
// Milliseconds as seconds with three decimals ("1.250"), independent of
// the locale.
std::string SecondsText(long long milliseconds);
// "2026-12-07T19:40:00Z".
std::string UtcTimeText(std::time_t time);

std::string ReportJson(const RunReport& report);
std::string ReportCsv(const RunReport& report);
// The transcript file of one unit: its lines, each ended by a line end.
std::string TranscriptText(const UnitReportRow& row);

// Writes the three report files (JSON, CSV and the page of HtmlReport.h)
// and the transcripts of the units whose job ran into folder (UTF-8 path;
// made when missing). False with the reason in *error (the file and the
// system's reason) when a file could not be written.
bool WriteRunReport(const std::string& folder, const RunReport& report, std::string* error);

// Makes the report folder when missing and tries a file in it, before a run
// starts, so that a folder the report could never go to is found before
// any unit is touched. False with the reason in *error.
bool CheckReportFolder(const std::string& folder, std::string* error);
