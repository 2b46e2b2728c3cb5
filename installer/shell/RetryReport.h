// The units a --retry run installs again, read from the JSON report of an
// earlier run: each unit whose latest outcome there was a failure or a
// cancel, and the time of that run, which the new report names in every
// retried row ("retry_of").
//
// The report is untrusted input: it may have been edited by hand, cut short,
// written by another version or be something else entirely. It is read
// whole and strictly (JsonReader) before anything starts, and any doubt is
// an error with the line it was found on, so that a retry never installs on
// units other than the ones meant. Keys this reader does not know are
// skipped, so later versions' reports stay readable.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

struct RetryUnits {
  // The largest report file read: far beyond any fleet's report, and small
  // enough to read into memory at once.
  static constexpr std::uintmax_t kMaxFileBytes = 64u * 1024 * 1024;

  // The addresses to retry, in network byte order.
  std::set<std::uint32_t> addresses;
  // When the earlier run started ("2026-12-07T19:40:00Z"): its report's
  // "started", or "written" for a report without one.
  std::string runOf;
  // How many units the report lists.
  std::size_t listed = 0;
};

// Whether a report row's outcome asks for a retry: a failure (state
// "Failed") or a cancel (state "CancelRequested", status "Cancelled", or
// the failure class "cancelled", "timeout" or "stopped"); a unit that
// finished never does.
bool IsRetryOutcome(const std::string& state, const std::string& status,
                    const std::string& failureClass);

// Reads the report's text; false with the reason ("line N: ...") in *error.
bool ReadRetryReport(std::string_view text, RetryUnits* units, std::string* error);

// Reads the report file (UTF-8 path); false with the reason in *error.
bool LoadRetryReport(const std::string& path, RetryUnits* units, std::string* error);

// What the program says about a --retry run, each a line with its end:
// the report that cannot be used and why (path and reason made printable),
// the units retried, and a report that has nothing to retry.
std::string UnusableRetryReportText(const std::string& path, const std::string& reason);
std::string RetryingText(const RetryUnits& units);
std::string NothingToRetryText(const RetryUnits& units);
