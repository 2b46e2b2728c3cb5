// Which status texts of a unit are worth telling: a text that differs from
// the last one told, and a percentage only when a second has passed since
// the unit's last told percentage (the copy reports far more often than
// anybody reads). A rebuilt list draws the same texts again, which tells
// nothing. Keyed by the unit's dotted address.
#pragma once

#include <chrono>
#include <map>
#include <string>

class StatusThrottle {
 public:
  static constexpr std::chrono::milliseconds kPercentInterval{1000};

  // True when text is to be told now; it then counts as told.
  bool Admit(const std::string& unit, const std::string& text,
             std::chrono::steady_clock::time_point now);

  static bool IsPercentage(const std::string& text) { return !text.empty() && text.back() == '%'; }

 private:
  struct Told {
    std::string text;
    std::chrono::steady_clock::time_point percentAt{};
    bool percentTold = false;
  };
  std::map<std::string, Told> told_;
};
