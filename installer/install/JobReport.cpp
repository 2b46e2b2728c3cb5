// The transcript's line splitting and password masking.
#include "install/JobReport.h"

void JobTranscript::AddText(const char* mark, const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c == '\n') {
      Add(mark, line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) Add(mark, line);
}

void JobTranscript::Add(const char* mark, const std::string& text) {
  std::string line = mark + text;
  if (!secret_.empty()) {
    static const std::string kMask = "********";
    for (std::size_t at = line.find(secret_); at != std::string::npos;
         at = line.find(secret_, at + kMask.size())) {
      line.replace(at, secret_.size(), kMask);
    }
  }
  lines_.push_back(std::move(line));
}
