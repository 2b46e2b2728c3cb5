// The run's events for other programs (--events): one JSON object per
// line, flushed as it is written, so that a site script or a CI job can
// follow a run live:
//
//   {"ms":0,"time":"2026-12-08T08:30:00Z","event":"wave_start","wave":1,"units":3}
//   {"ms":810,"time":"...","event":"status","unit":"127.0.0.2","status":"Connecting"}
//   {"ms":2405,"time":"...","event":"progress","unit":"127.0.0.2","percent":42.0}
//   {"ms":5210,"time":"...","event":"wave_end","wave":1}
//   {"ms":5300,"time":"...","event":"verify_start","units":1,"seconds":60}
//   {"ms":9120,"time":"...","event":"verified","unit":"127.0.0.2","version":"2.1"}
//   {"ms":9120,"time":"...","event":"verify_end","verified":1,"not_verified":0}
//
// "ms" counts from the first event, "time" is UTC. A unit's status is told
// when its text changes and a percentage at most once a second per unit
// (StatusThrottle). The controller calls it on the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "shell/StatusThrottle.h"

class RunEvents {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Writes to out, which the caller keeps open for as long as this lives.
  explicit RunEvents(std::FILE* out, Clock clock = std::chrono::steady_clock::now);
  // Writes to the file at path, made anew; null when it cannot be opened,
  // after saying so on err.
  static std::unique_ptr<RunEvents> OpenFile(const std::string& path, std::FILE* err);
  ~RunEvents();
  RunEvents(const RunEvents&) = delete;
  RunEvents& operator=(const RunEvents&) = delete;

  // A unit (network byte order) shows this status text.
  void Status(std::uint32_t address, const std::string& text);
  // A wave of the run started with this many units in it, and ended.
  void WaveStarted(int units);
  void WaveEnded();
  // The verify phase after the run: its start (how many units it waits for,
  // for at most how long), each unit that came back with its release, and
  // its end with the counts.
  void VerifyStarted(int units, int seconds);
  void Verified(std::uint32_t address, const std::string& version);
  void VerifyEnded(int verified, int notVerified);

 private:
  void write(const std::string& event, const std::string& fields);

  std::FILE* out_;
  std::FILE* owned_ = nullptr;
  Clock clock_;
  StatusThrottle throttle_;
  std::chrono::steady_clock::time_point first_{};
  bool started_ = false;
  int wave_ = 0;
};
