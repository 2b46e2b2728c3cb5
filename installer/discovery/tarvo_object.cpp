// The record's construction and its progress report. The percentage is
// computed in double from the two unsigned counts, as the list shows it; a
// package of no bytes counts as fully sent rather than dividing by zero.
#include "discovery/tarvo_object.h"

#include <cstdio>
#include <cstring>

#include "discovery/unit_table.h"

namespace {

NullableText CopyText(const char* text) { return text ? NullableText(text) : NullableText(); }

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
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", percent);
  setStatus(text);
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
