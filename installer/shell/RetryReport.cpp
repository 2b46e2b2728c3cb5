// Reading the units to retry from an earlier run's report (see
// RetryReport.h).
#include "shell/RetryReport.h"

#include <filesystem>
#include <fstream>
#include <map>

#include "shell/CommandLine.h"
#include "shell/JsonReader.h"
#include "shell/RunReport.h"

namespace {

// The fields of one report row that decide its retry.
struct ReportRow {
  std::string address;
  std::string state;
  std::string status;
  std::string failureClass;
};

// "2026-12-07T19:40:00Z", the only form of time the report writes.
bool IsTimeText(const std::string& text) {
  static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kShape - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

// A member that must be a string or null (null reads as "").
bool ReadText(JsonReader& reader, const std::string& key, std::string* value) {
  if (reader.ReadNull()) {
    value->clear();
    return true;
  }
  if (reader.Peek() != JsonReader::Kind::String) {
    return reader.Fail("\"" + key + "\" is neither a string nor null");
  }
  return reader.ReadString(value);
}

bool ReadTime(JsonReader& reader, const std::string& key, std::string* value) {
  if (!ReadText(reader, key, value)) return false;
  if (!value->empty() && !IsTimeText(*value)) {
    return reader.Fail("\"" + key + "\" is not a time such as 2026-12-07T19:40:00Z");
  }
  return true;
}

bool ReadRow(JsonReader& reader, ReportRow* row) {
  if (reader.Peek() != JsonReader::Kind::Object) return reader.Fail("a unit is not an object");
  const std::map<std::string, std::string*> wanted = {{"address", &row->address},
                                                      {"state", &row->state},
                                                      {"status", &row->status},
                                                      {"failure_class", &row->failureClass}};
  reader.BeginObject();
  const int line = reader.line();
  std::string key;
  while (reader.NextMember(&key)) {
    const auto field = wanted.find(key);
    if (!(field == wanted.end() ? reader.SkipValue() : ReadText(reader, key, field->second)))
      return false;
  }
  if (reader.failed()) return false;
  if (row->address.empty()) {
    return reader.Fail("the unit that starts on line " + std::to_string(line) + " has no address");
  }
  return true;
}

bool ReadUnits(JsonReader& reader, RetryUnits* units) {
  if (reader.Peek() != JsonReader::Kind::Array) return reader.Fail("\"units\" is not a list");
  reader.BeginArray();
  // Each unit once; should a unit be listed twice, its last row holds.
  std::map<std::uint32_t, bool> retry;
  while (reader.NextItem()) {
    ReportRow row;
    if (!ReadRow(reader, &row)) return false;
    std::uint32_t address = 0;
    if (!ParseUnitAddress(row.address, &address) || !CanBeUnitAddress(address)) {
      return reader.Fail("\"" + row.address + "\" is not a unit's address");
    }
    retry[address] = IsRetryOutcome(row.state, row.status, row.failureClass);
    ++units->listed;
  }
  for (const auto& [address, again] : retry) {
    if (again) units->addresses.insert(address);
  }
  return !reader.failed();
}

// The top level: the program's name, the times and the units.
bool ReadTop(JsonReader& reader, RetryUnits* units) {
  if (reader.Peek() != JsonReader::Kind::Object) return reader.Fail("the report is not an object");
  reader.BeginObject();
  std::string key;
  std::string program;
  std::string started;
  std::string written;
  bool listed = false;
  while (reader.NextMember(&key)) {
    bool ok = true;
    if (key == "program") {
      ok = ReadText(reader, key, &program);
      if (ok && program != "fieldloader") return reader.Fail("not a report of fieldloader");
    } else if (key == "started") {
      ok = ReadTime(reader, key, &started);
    } else if (key == "written") {
      ok = ReadTime(reader, key, &written);
    } else if (key == "units") {
      ok = ReadUnits(reader, units);
      listed = true;
    } else {
      ok = reader.SkipValue();
    }
    if (!ok) return false;
  }
  if (!reader.ExpectEnd()) return false;
  if (!listed) return reader.Fail("the report has no \"units\"");
  units->runOf = started.empty() ? written : started;
  if (units->runOf.empty()) return reader.Fail("the report has no \"started\" or \"written\" time");
  return true;
}

}  // namespace

bool IsRetryOutcome(const std::string& state, const std::string& status,
                    const std::string& failureClass) {
  // The texts as the report writes them.
  const auto stateIs = [&state](InstallState s) { return state == InstallStateName(s); };
  const auto classIs = [&failureClass](FailureClass c) {
    return failureClass == FailureClassName(c);
  };
  if (stateIs(InstallState::Finished)) return false;
  return stateIs(InstallState::Failed) || stateIs(InstallState::CancelRequested) ||
         status == unit_status::kCancelled || classIs(FailureClass::Cancelled) ||
         classIs(FailureClass::Timeout) || classIs(FailureClass::Stopped);
}

bool ReadRetryReport(std::string_view text, RetryUnits* units, std::string* error) {
  *units = RetryUnits();
  JsonReader reader(text);
  if (ReadTop(reader, units)) return true;
  *error = reader.error();
  *units = RetryUnits();
  return false;
}

bool LoadRetryReport(const std::string& path, RetryUnits* units, std::string* error) {
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  std::error_code problem;
  if (!std::filesystem::is_regular_file(file, problem)) {
    *error = problem ? problem.message() : "it is not a file";
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(file, problem);
  if (problem || size > RetryUnits::kMaxFileBytes) {
    *error = problem ? problem.message()
                     : "it is larger than " +
                           std::to_string(RetryUnits::kMaxFileBytes / (1024 * 1024)) + " MiB";
    return false;
  }
  std::ifstream stream(file, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!stream.read(text.data(), static_cast<std::streamsize>(size))) {
    *error = "it cannot be read";
    return false;
  }
  return ReadRetryReport(text, units, error);
}

std::string UnusableRetryReportText(const std::string& path, const std::string& reason) {
  return "fieldloader: cannot use the report " + PrintableText(path) + ": " +
         PrintableText(reason) + "\n";
}

std::string RetryingText(const RetryUnits& units) {
  const std::size_t count = units.addresses.size();
  return "Retrying " + std::to_string(count) + (count == 1 ? " unit" : " units") +
         " of the run of " + units.runOf + "\n";
}

std::string NothingToRetryText(const RetryUnits& units) {
  return "Nothing to retry: no unit failed or was cancelled in the run of " + units.runOf + "\n";
}
