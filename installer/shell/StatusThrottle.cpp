// The status throttle (see StatusThrottle.h).
#include "shell/StatusThrottle.h"

bool StatusThrottle::Admit(const std::string& unit, const std::string& text,
                           std::chrono::steady_clock::time_point now) {
  Told& told = told_[unit];
  if (text == told.text || text.empty()) return false;
  if (IsPercentage(text)) {
    if (told.percentTold && now - told.percentAt < kPercentInterval) return false;
    told.percentAt = now;
    told.percentTold = true;
  }
  told.text = text;
  return true;
}
