// What one install job leaves behind for the run report: when each of its
// steps started and ended (in the order of the job's step table), the bytes it sent, the unit's
// version before the run, the install error, a failure class, and a transcript of its telnet
// dialogue. The job fills a report of its own as it goes and hands it to its unit record under the
// table lock when it ends, so the report never shows a half-written state; from then on nobody
// changes it, and the run report shares it with the record.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "units/tarvo_object.h"

// Milliseconds since the job started; -1 for a step that never ran.
struct StepTime {
  long long startMs = -1;
  long long endMs = -1;
};

// One file of the copy, in the order the job put them: its name on the unit,
// the bytes that reached the unit (all of the file unless the put failed)
// and when the put started and ended, in milliseconds since the job started.
struct FileTime {
  std::string remoteName;
  std::uint32_t bytes = 0;
  long long startMs = -1;
  long long endMs = -1;
};

// The telnet dialogue as the job drove it: one line per thing sent (">"),
// seen ("<") or noted ("#"). Received text is kept line by line, without
// its carriage returns. Every occurrence of the secret in a line is
// replaced by "********" before the line is kept.
class JobTranscript {
 public:
  explicit JobTranscript(std::string secret = std::string()) : secret_(std::move(secret)) {}
  void Sent(const std::string& text) { Add("> ", text); }
  void Seen(const std::string& text) { Add("< ", text); }
  // Text of any length, sent or received: one line per line of it.
  void SentText(const std::string& text) { AddText("> ", text); }
  void SeenText(const std::string& text) { AddText("< ", text); }
  void Note(const std::string& text) { Add("# ", text); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  void Add(const char* mark, const std::string& text);
  void AddText(const char* mark, const std::string& text);

  std::string secret_;
  std::vector<std::string> lines_;
};

struct JobReport {
  std::time_t startedAt = 0;  // wall-clock start of the job
  // The same start in milliseconds since 1970 (UTC): the instant the step
  // and file times count from, so that the jobs of a run share one axis.
  long long startedAtMs = 0;
  std::vector<StepTime> steps;
  std::vector<FileTime> files;
  std::uint32_t bytesSent = 0;
  NullableText versionBefore;
  int installError = 0;
  FailureClass failure = FailureClass::None;
  JobTranscript transcript;
};
