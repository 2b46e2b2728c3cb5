// The machine-readable event log that tests read: one flat JSON object per
// line, written with a single write() so that a reader polling the file never
// sees half a line. Every line has "t" (milliseconds since start) and "event";
// most have "unit" (the unit's address). Strings are byte strings: printable
// ASCII stays as it is, every other byte is written as \u00XX, so a reader
// gets the exact bytes back.
//
//   log.Event("connect", unit).Str("service", "telnet").Int("port", 23);
//
// writes its line when the temporary ends, at the end of the statement.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace unitsim {

class EventLog {
 public:
  class Line {
   public:
    Line(EventLog* log, const char* event, const std::string& unit);
    Line(Line&& other) noexcept;
    ~Line();
    Line& Str(const char* key, const std::string& value);
    Line& Int(const char* key, long long value);
    Line& Bool(const char* key, bool value);

   private:
    EventLog* log_;
    std::string text_;
  };

  EventLog();
  ~EventLog();
  // Opens (and empties) the file; an empty path logs nothing. False on failure.
  bool Open(const std::string& path);
  void Close();
  Line Event(const char* event, const std::string& unit = std::string());

  static std::string Quote(const std::string& bytes);

 private:
  void WriteLine(const std::string& line);

  std::mutex lock_;
  int fd_ = -1;
  std::chrono::steady_clock::time_point start_;
};

// Dotted-quad text of an address in network byte order.
std::string AddressText(std::uint32_t address);

}  // namespace unitsim
