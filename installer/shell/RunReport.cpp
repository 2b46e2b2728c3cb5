// The run report's rows, their JSON and CSV texts and the files they are
// written to. Seconds are formatted from whole milliseconds rather than with
// printf's %f, so a locale set by the text UI never turns the decimal point
// into a comma.
#include "shell/RunReport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "install/InstallJob.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Sockets.h"
#include "shell/HtmlReport.h"
#include "units/DisplayOrder.h"
#include "units/unit_table.h"

namespace {

// The length of the valid UTF-8 sequence that starts at bytes[at] (overlong
// forms, surrogates and values above U+10FFFF are not valid), 0 when none
// starts there.
std::size_t Utf8SequenceLength(const std::string& bytes, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

std::string HexByte(const char* prefix, unsigned char value) {
  static const char kDigits[] = "0123456789abcdef";
  return std::string(prefix) + kDigits[value >> 4] + kDigits[value & 0x0F];
}

// Walks the bytes, copying valid UTF-8 sequences of two bytes or more and
// handing every single byte (ASCII or stray) to escape, which returns its
// replacement.
template <typename Escape>
std::string MapBytes(const std::string& bytes, Escape escape) {
  std::string out;
  out.reserve(bytes.size() + 2);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes, at);
    if (length > 1) {
      out.append(bytes, at, length);
      at += length;
    } else {
      out += escape(static_cast<unsigned char>(bytes[at]), length == 1);
      ++at;
    }
  }
  return out;
}

std::string JsonText(const NullableText& text) { return text ? JsonString(*text) : "null"; }

std::string CsvText(const NullableText& text) { return text ? CsvField(*text) : std::string(); }

std::string Step(const StepTime& step) {
  return step.startMs < 0 || step.endMs < 0 ? std::string()
                                            : SecondsText(step.endMs - step.startMs);
}

std::string JsonStepSeconds(const JobReport& job) {
  const std::span<const char* const> names = InstallJobStepNames();
  std::string out = "{";
  for (std::size_t i = 0; i < job.steps.size() && i < names.size(); ++i) {
    const std::string seconds = Step(job.steps[i]);
    out += std::string(i == 0 ? "" : ", ") + "\"" + names[i] +
           "\": " + (seconds.empty() ? "null" : seconds);
  }
  return out + "}";
}

std::string CsvStepSeconds(const JobReport& job) {
  std::string out;
  for (std::size_t i = 0; i < InstallJobStepNames().size(); ++i) {
    out += std::string(i == 0 ? "" : ",") + (i < job.steps.size() ? Step(job.steps[i]) : "");
  }
  return out;
}

std::string CsvStepHeader() {
  std::string out;
  for (const char* name : InstallJobStepNames())
    out += std::string(out.empty() ? "" : ",") + name + "_s";
  return out;
}

std::string FailureJson(FailureClass failureClass) {
  const char* failure = FailureClassName(failureClass);
  return *failure ? JsonString(failure) : "null";
}

// One column of the report, in the order of the files: its JSON key (also
// its CSV header unless it has several CSV fields), its text in each
// format, and whether it comes from the unit's job, in which case it is
// null in JSON and empty in CSV for a unit whose job never ran (the
// functions of such a column see the job's report only).
struct ReportColumn {
  const char* key;
  std::string (*json)(const UnitReportRow& row);
  std::string (*csv)(const UnitReportRow& row);
  bool fromJob = false;
  std::string (*csvHeader)() = nullptr;
};

const JobReport& Job(const UnitReportRow& row) { return *row.job; }

const ReportColumn kReportColumns[] = {
    {"address", [](const UnitReportRow& r) { return JsonString(DottedAddress(r.address)); },
     [](const UnitReportRow& r) { return DottedAddress(r.address); }},
    {"node", [](const UnitReportRow& r) { return std::to_string(r.node); },
     [](const UnitReportRow& r) { return std::to_string(r.node); }},
    {"group", [](const UnitReportRow& r) { return JsonText(r.group); },
     [](const UnitReportRow& r) { return CsvText(r.group); }},
    {"version_before", [](const UnitReportRow& r) { return JsonText(Job(r).versionBefore); },
     [](const UnitReportRow& r) { return CsvText(Job(r).versionBefore); }, true},
    {"version_after", [](const UnitReportRow& r) { return JsonText(r.versionAfter); },
     [](const UnitReportRow& r) { return CsvText(r.versionAfter); }},
    {"state", [](const UnitReportRow& r) { return JsonString(InstallStateName(r.state)); },
     [](const UnitReportRow& r) { return std::string(InstallStateName(r.state)); }},
    {"status", [](const UnitReportRow& r) { return JsonString(r.status); },
     [](const UnitReportRow& r) { return CsvField(r.status); }},
    {"install_error", [](const UnitReportRow& r) { return std::to_string(Job(r).installError); },
     [](const UnitReportRow& r) { return std::to_string(Job(r).installError); }, true},
    {"failure_class", [](const UnitReportRow& r) { return FailureJson(r.failure()); },
     [](const UnitReportRow& r) { return CsvField(FailureClassName(r.failure())); }},
    {"bytes_sent", [](const UnitReportRow& r) { return std::to_string(Job(r).bytesSent); },
     [](const UnitReportRow& r) { return std::to_string(Job(r).bytesSent); }, true},
    {"started", [](const UnitReportRow& r) { return JsonString(UtcTimeText(Job(r).startedAt)); },
     [](const UnitReportRow& r) { return UtcTimeText(Job(r).startedAt); }, true},
    {"step_seconds", [](const UnitReportRow& r) { return JsonStepSeconds(Job(r)); },
     [](const UnitReportRow& r) { return CsvStepSeconds(Job(r)); }, true, CsvStepHeader},
    {"transcript", [](const UnitReportRow& r) { return JsonString(TranscriptName(r.address)); },
     [](const UnitReportRow& r) { return TranscriptName(r.address); }, true},
    {"wave", [](const UnitReportRow& r) { return r.wave ? std::to_string(r.wave) : "null"; },
     [](const UnitReportRow& r) { return r.wave ? std::to_string(r.wave) : std::string(); }},
    {"wave_ended",
     [](const UnitReportRow& r) {
       return r.wave ? JsonString(UtcTimeText(r.waveEndedAt)) : std::string("null");
     },
     [](const UnitReportRow& r) { return r.wave ? UtcTimeText(r.waveEndedAt) : std::string(); }},
    {"retry_of",
     [](const UnitReportRow& r) { return r.retryOf.empty() ? "null" : JsonString(r.retryOf); },
     [](const UnitReportRow& r) { return CsvField(r.retryOf); }},
    {"verified", [](const UnitReportRow& r) { return JsonString(VerificationName(r.verified)); },
     [](const UnitReportRow& r) { return std::string(VerificationName(r.verified)); }},
    {"verified_at",
     [](const UnitReportRow& r) {
       return r.verifiedAt ? JsonString(UtcTimeText(r.verifiedAt)) : std::string("null");
     },
     [](const UnitReportRow& r) {
       return r.verifiedAt ? UtcTimeText(r.verifiedAt) : std::string();
     }},
};

std::string CsvHeader(const ReportColumn& column) {
  return column.csvHeader ? column.csvHeader() : column.key;
}

std::string JsonUnit(const UnitReportRow& row) {
  std::string out = "    {\n";
  for (const ReportColumn& column : kReportColumns) {
    const bool empty = column.fromJob && !row.jobRan();
    out += std::string(&column == kReportColumns ? "" : ",\n") + "      \"" + column.key +
           "\": " + (empty ? "null" : column.json(row));
  }
  return out + "\n    }";
}

// A column without a value keeps its place: as many empty fields as it has
// headers.
std::string CsvUnit(const UnitReportRow& row) {
  std::string out;
  for (const ReportColumn& column : kReportColumns) {
    if (&column != kReportColumns) out += ",";
    if (!column.fromJob || row.jobRan()) {
      out += column.csv(row);
    } else {
      const std::string header = CsvHeader(column);
      out +=
          std::string(static_cast<std::size_t>(std::count(header.begin(), header.end(), ',')), ',');
    }
  }
  return out + "\r\n";
}

std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

// The system's reason for the failure just seen: the C library's when it
// set one (writes, a full disk), else the system's error number (an open
// refused by the system's own call).
std::string SystemReason() {
  const int number = platform::CurrentErrno();
  if (number != 0) return std::strerror(number);
  return "system error " + std::to_string(platform::LastSystemError());
}

// A root installer writes into the user's release folder: the report files
// are opened without following a link.
bool WriteFile(const std::filesystem::path& path, const std::string& content, std::string* error) {
  platform::SetErrno(0);
  std::FILE* file = platform::OpenForWriting(path, "wb");
  bool written = file != nullptr;
  if (file != nullptr) {
    written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    written = std::fclose(file) == 0 && written;
  }
  if (written) return true;
  *error = "cannot write " + PathText(path) + ": " + SystemReason();
  return false;
}

}  // namespace

std::vector<UnitReportRow> CollectReportRows(unit_table& table) {
  std::vector<UnitReportRow> rows;
  table.Lock();
  rows.reserve(table.getCount());
  for (std::size_t i = 0; i < table.getCount(); ++i) {
    const tarvo_object* unit = table.getAddressUnit(i);
    UnitReportRow row;
    row.address = unit->address;
    row.node = unit->node;
    row.group = unit->group;
    row.state = unit->state;
    row.status = unit->statusText;
    row.job = unit->report;
    if (!row.job) row.notStarted = unit->cancelledAs;
    rows.push_back(std::move(row));
  }
  table.Unlock();
  // The table's address order compares the stored values, which puts the
  // last octet first on this byte order; a reader looks for dotted order.
  std::sort(rows.begin(), rows.end(), [](const UnitReportRow& a, const UnitReportRow& b) {
    return HostOrder(a.address) < HostOrder(b.address);
  });
  return rows;
}

std::vector<UnitReportRow> ReportHistory::Merge(std::vector<UnitReportRow> rows,
                                                std::time_t endedAt) {
  ++waves_;
  for (UnitReportRow& row : rows) {
    const auto kept = kept_.find(row.address);
    if (row.state == InstallState::Idle) {
      if (kept == kept_.end()) continue;
      UnitReportRow earlier = kept->second;
      earlier.node = row.node;
      earlier.group = row.group;
      if (row.versionAfter) earlier.versionAfter = row.versionAfter;
      row = std::move(earlier);
      continue;
    }
    // The same job as an earlier wave reported keeps that wave.
    const bool seen = kept != kept_.end() && row.job != nullptr && kept->second.job == row.job;
    row.wave = seen ? kept->second.wave : waves_;
    row.waveEndedAt = seen ? kept->second.waveEndedAt : endedAt;
    kept_[row.address] = row;
  }
  return rows;
}

const char* InstallStateName(InstallState state) {
  switch (state) {
    case InstallState::Idle: return "Idle";
    case InstallState::Pending: return "Pending";
    case InstallState::Finished: return "Finished";
    case InstallState::Failed: return "Failed";
    case InstallState::Running: return "Running";
    case InstallState::CancelRequested: return "CancelRequested";
  }
  return "Unknown";
}

std::string DottedAddress(std::uint32_t address) {
  char text[16];
  platform::FormatAddress(address, text, sizeof text);
  return text;
}

std::string TranscriptName(std::uint32_t address) {
  return std::string(RunReport::kTranscriptFolder) + "/" + DottedAddress(address) + ".txt";
}

std::string JsonString(const std::string& bytes) {
  return "\"" +
         MapBytes(bytes,
                  [](unsigned char c, bool ascii) -> std::string {
                    switch (c) {
                      case '"': return "\\\"";
                      case '\\': return "\\\\";
                      case '\b': return "\\b";
                      case '\f': return "\\f";
                      case '\n': return "\\n";
                      case '\r': return "\\r";
                      case '\t': return "\\t";
                      default: break;
                    }
                    if (ascii && c >= 0x20 && c != 0x7F)
                      return std::string(1, static_cast<char>(c));
                    return HexByte("\\u00", c);
                  }) +
         "\"";
}

std::string CsvField(const std::string& text) {
  // A spreadsheet takes a field that starts like a formula for one, and a
  // unit's group or version could carry one: a leading ' keeps it text.
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
  const std::string bytes = formula ? "'" + text : text;
  if (bytes.find_first_of(",\"\r\n") == std::string::npos) return bytes;
  std::string out = "\"";
  for (const char c : bytes) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string PrintableText(const std::string& bytes) {
  return MapBytes(bytes, [](unsigned char c, bool ascii) -> std::string {
    if (ascii && c >= 0x20 && c != 0x7F && c != '\\') return std::string(1, static_cast<char>(c));
    return HexByte("\\x", c);
  });
}

std::string SecondsText(long long milliseconds) {
  const bool negative = milliseconds < 0;
  const unsigned long long magnitude = negative
                                           ? 0ULL - static_cast<unsigned long long>(milliseconds)
                                           : static_cast<unsigned long long>(milliseconds);
  std::string fraction = std::to_string(magnitude % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return (negative ? "-" : "") + std::to_string(magnitude / 1000) + "." + fraction;
}

std::string UtcTimeText(std::time_t time) {
  using namespace std::chrono;
  const sys_seconds at{seconds(static_cast<long long>(time))};
  const sys_days day = floor<days>(at);
  const year_month_day date(day);
  const hh_mm_ss<seconds> clock(at - day);
  // Integers print the same in every locale.
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::string ReportJson(const RunReport& report) {
  std::string out = "{\n";
  out += "  \"program\": \"fieldloader\",\n";
  out += "  \"program_version\": " + JsonString(report.programVersion) + ",\n";
  out += "  \"written\": \"" + UtcTimeText(report.writtenAt) + "\",\n";
  out += "  \"started\": \"" + UtcTimeText(report.startedAt) + "\",\n";
  out += "  \"units\": [";
  for (std::size_t i = 0; i < report.units.size(); ++i) {
    out += std::string(i == 0 ? "\n" : ",\n") + JsonUnit(report.units[i]);
  }
  out += report.units.empty() ? "]\n" : "\n  ]\n";
  return out + "}\n";
}

std::string ReportCsv(const RunReport& report) {
  std::string out;
  for (const ReportColumn& column : kReportColumns) {
    out += std::string(&column == kReportColumns ? "" : ",") + CsvHeader(column);
  }
  out += "\r\n";
  for (const UnitReportRow& row : report.units) out += CsvUnit(row);
  return out;
}

std::string TranscriptText(const UnitReportRow& row) {
  std::string out;
  if (!row.jobRan()) return out;
  for (const std::string& line : row.job->transcript.lines()) out += line + "\n";
  return out;
}

bool WriteRunReport(const std::string& folder, const RunReport& report, std::string* error) {
  const std::filesystem::path root = PathFromUtf8(folder.empty() ? "." : folder);
  std::error_code ignored;
  const bool anyJob = std::any_of(report.units.begin(), report.units.end(),
                                  [](const UnitReportRow& row) { return row.jobRan(); });
  std::filesystem::create_directories(anyJob ? root / RunReport::kTranscriptFolder : root, ignored);
  if (!WriteFile(root / RunReport::kJsonName, ReportJson(report), error)) return false;
  if (!WriteFile(root / RunReport::kCsvName, ReportCsv(report), error)) return false;
  if (!WriteFile(root / RunReport::kHtmlName, ReportHtml(report), error)) return false;
  for (const UnitReportRow& row : report.units) {
    if (!row.jobRan()) continue;
    if (!WriteFile(root / PathFromUtf8(TranscriptName(row.address)), TranscriptText(row), error)) {
      return false;
    }
  }
  return true;
}

bool CheckReportFolder(const std::string& folder, std::string* error) {
  const std::filesystem::path root = PathFromUtf8(folder.empty() ? "." : folder);
  std::error_code made;
  std::filesystem::create_directories(root, made);
  if (made) {
    *error = "cannot make the report folder " + PathText(root) + ": " + made.message();
    return false;
  }
  // A file of our own, written and removed again: the folder's permission
  // bits do not tell what a network share or a read-only mount allows.
  const std::filesystem::path probe = root / "fieldloader-report.check";
  platform::SetErrno(0);
  std::FILE* file = platform::OpenForWriting(probe, "wb");
  if (file == nullptr) {
    *error = "cannot write in the report folder " + PathText(root) + ": " + SystemReason();
    return false;
  }
  std::fclose(file);
  std::error_code ignored;
  std::filesystem::remove(probe, ignored);
  return true;
}
