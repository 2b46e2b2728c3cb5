// The run's event lines (see RunEvents.h).
#include "shell/RunEvents.h"

#include <ctime>

#include "platform/Files.h"
#include "shell/RunReport.h"

RunEvents::RunEvents(std::FILE* out, Clock clock) : out_(out), clock_(std::move(clock)) {}

std::unique_ptr<RunEvents> RunEvents::OpenFile(const std::string& path, std::FILE* err) {
  // Opened as the report is: a root installer must not follow a link.
  std::FILE* file = platform::OpenForWriting(path, "w");
  if (file == nullptr) {
    std::fprintf(err, "fieldloader: cannot write the events file %s\n", path.c_str());
    return nullptr;
  }
  auto events = std::make_unique<RunEvents>(file);
  events->owned_ = file;
  return events;
}

RunEvents::~RunEvents() {
  if (owned_ != nullptr) std::fclose(owned_);
}

void RunEvents::Status(std::uint32_t address, const std::string& text) {
  const std::string unit = DottedAddress(address);
  if (!throttle_.Admit(unit, text, clock_())) return;
  const std::string number = text.substr(0, text.size() - 1);
  if (StatusThrottle::IsPercentage(text) && !number.empty() &&
      number.find_first_not_of("0123456789.") == std::string::npos) {
    // The copy's texts read "42.0%": the number is JSON as it stands.
    write("progress", ",\"unit\":" + JsonString(unit) + ",\"percent\":" + number);
  } else {
    write("status", ",\"unit\":" + JsonString(unit) + ",\"status\":" + JsonString(text));
  }
}

void RunEvents::WaveStarted(int units) {
  ++wave_;
  write("wave_start", ",\"wave\":" + std::to_string(wave_) + ",\"units\":" + std::to_string(units));
}

void RunEvents::WaveEnded() { write("wave_end", ",\"wave\":" + std::to_string(wave_)); }

void RunEvents::VerifyStarted(int units, int seconds) {
  write("verify_start",
        ",\"units\":" + std::to_string(units) + ",\"seconds\":" + std::to_string(seconds));
}

void RunEvents::Verified(std::uint32_t address, const std::string& version) {
  write("verified",
        ",\"unit\":" + JsonString(DottedAddress(address)) + ",\"version\":" + JsonString(version));
}

void RunEvents::VerifyEnded(int verified, int notVerified) {
  write("verify_end", ",\"verified\":" + std::to_string(verified) +
                          ",\"not_verified\":" + std::to_string(notVerified));
}

void RunEvents::write(const std::string& event, const std::string& fields) {
  const auto now = clock_();
  if (!started_) {
    first_ = now;
    started_ = true;
  }
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - first_).count();
  std::fprintf(out_, "{\"ms\":%lld,\"time\":%s,\"event\":\"%s\"%s}\n", ms,
               JsonString(UtcTimeText(std::time(nullptr))).c_str(), event.c_str(), fields.c_str());
  std::fflush(out_);
}
