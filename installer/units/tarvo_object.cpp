// The record's construction and its progress report. The percentage is
// computed in double from the two unsigned counts, as the list shows it; a
// package of no bytes counts as fully sent rather than dividing by zero.
#include "units/tarvo_object.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "units/unit_table.h"

namespace {

NullableText CopyText(const char* text) { return text ? NullableText(text) : NullableText(); }

// The percentage as "%.1f%%" would show it, mostly without printf: the file
// channel reports every 1,500 bytes, and formatting the double there took a
// tenth of the installer's CPU. Tenths are rounded on the product except
// within a hair of a half, where only printf's rounding of the exact binary
// value is right (12.25 shows "12.2", 12.75 "12.8").
std::string PercentText(double percent) {
  const double tenths = percent * 10.0;
  const double below = std::floor(tenths);
  const double fraction = tenths - below;
  // Below 10^7 the product is off by far less than the margin.
  if (!(tenths >= 0.0 && tenths < 1e7) || std::fabs(fraction - 0.5) < 1e-6) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f%%", percent);
    return text;
  }
  const auto rounded = static_cast<unsigned>(below) + (fraction > 0.5 ? 1u : 0u);
  std::string text = std::to_string(rounded / 10);
  text += '.';
  text += static_cast<char>('0' + rounded % 10);
  text += '%';
  return text;
}

}  // namespace

tarvo_object::tarvo_object(unit_table& owner, std::uint32_t gatewayAddress,
                           std::uint32_t reachedFromAddress, std::uint32_t unitAddress,
                           const std::uint8_t* macAddress, std::int32_t nodeNumber,
                           const char* groupName, const char* versionText)
    : table(owner),
      address(unitAddress),
      reachedFrom(reachedFromAddress),
      gateway(gatewayAddress),
      node(nodeNumber),
      group(CopyText(groupName)),
      version(CopyText(versionText)),
      mac{},
      state(nodeNumber == 0 ? InstallState::Pending : InstallState::Idle) {
  if (macAddress) std::memcpy(mac, macAddress, sizeof mac);
}

void tarvo_object::ReportProgress(std::uint32_t, std::uint32_t, std::uint32_t piece) {
  table.Lock();
  bytesSent += piece;
  const double percent =
      bytesTotal == 0 ? 100.0
                      : static_cast<double>(bytesSent) / static_cast<double>(bytesTotal) * 100.0;
  setStatus(PercentText(percent));
  table.Unlock();
}

void tarvo_object::setStatus(const std::string& text) {
  statusText = text;
  statusChanged = true;
}

void tarvo_object::setState(InstallState newState) {
  state = newState;
  statusChanged = true;
}

void tarvo_object::MarkIdle() {
  setState(InstallState::Idle);
  setStatus("");
}

void tarvo_object::MarkPending() {
  cancelledAs = FailureClass::None;
  setState(InstallState::Pending);
  setStatus(unit_status::kPending);
}

void tarvo_object::ShowQueued() { setStatus(unit_status::kPending); }

void tarvo_object::MarkRunning() { setState(InstallState::Running); }

void tarvo_object::MarkConnecting() {
  if (state != InstallState::CancelRequested) setState(InstallState::Running);
  setStatus(unit_status::kConnecting);
}

void tarvo_object::ShowInstalling() { setStatus(unit_status::kInstalling); }

void tarvo_object::MarkCancelled() { setStatus(unit_status::kCancelled); }

void tarvo_object::RequestCancel(FailureClass why) {
  state = InstallState::CancelRequested;
  cancelledAs = why;
}

void tarvo_object::Finish(JobOutcome outcome) {
  const OutcomeRow& row = OutcomeOf(outcome);
  setStatus(row.text);
  setState(row.state);
}
