// Writing the event log: see EventLog.h for the format.
#include "EventLog.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace unitsim {

EventLog::Line::Line(EventLog* log, const char* event, const std::string& unit) : log_(log) {
  const auto elapsed = std::chrono::steady_clock::now() - log->start_;
  text_ = "{\"t\":" +
          std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
          ",\"event\":" + Quote(event);
  if (!unit.empty()) text_ += ",\"unit\":" + Quote(unit);
}

EventLog::Line::Line(Line&& other) noexcept : log_(other.log_), text_(std::move(other.text_)) {
  other.log_ = nullptr;
}

EventLog::Line::~Line() {
  if (log_ != nullptr) log_->WriteLine(text_ + "}\n");
}

EventLog::Line& EventLog::Line::Str(const char* key, const std::string& value) {
  text_ += "," + Quote(key) + ":" + Quote(value);
  return *this;
}

EventLog::Line& EventLog::Line::Int(const char* key, long long value) {
  text_ += "," + Quote(key) + ":" + std::to_string(value);
  return *this;
}

EventLog::Line& EventLog::Line::Bool(const char* key, bool value) {
  text_ += "," + Quote(key) + ":" + (value ? "true" : "false");
  return *this;
}

EventLog::EventLog() : start_(std::chrono::steady_clock::now()) {}

EventLog::~EventLog() { Close(); }

bool EventLog::Open(const std::string& path) {
  if (path.empty()) return true;
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

void EventLog::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

EventLog::Line EventLog::Event(const char* event, const std::string& unit) {
  return Line(this, event, unit);
}

std::string EventLog::Quote(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    }
  }
  return out + "\"";
}

void EventLog::WriteLine(const std::string& line) {
  std::lock_guard<std::mutex> guard(lock_);
  if (fd_ < 0) return;
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t written = write(fd_, line.data() + done, line.size() - done);
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

std::string AddressText(std::uint32_t address) {
  in_addr value;
  value.s_addr = address;
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &value, text, sizeof text) != nullptr ? text : "?";
}

}  // namespace unitsim
