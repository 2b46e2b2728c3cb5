// Helpers shared by the end-to-end benchmark programs: addresses of a run of
// simulated units, the process's CPU time, and a sampler of the process's
// peak thread count and resident memory. Linux only, like the benchmarks'
// scripts: the figures come from /proc/self/status.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Sockets.h"

namespace bench {

inline std::uint32_t Address(const std::string& text) {
  std::uint32_t address = 0;
  platform::ParseAddress(text.c_str(), &address);
  return address;
}

// The address `offset` places after `first` (both in network byte order),
// counted in host order so that 10.9.0.255 is followed by 10.9.1.0.
inline std::uint32_t AddressAfter(std::uint32_t first, std::uint32_t offset) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&first);
  std::uint32_t host = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                       (std::uint32_t{bytes[2]} << 8) | bytes[3];
  host += offset;
  std::uint32_t result = 0;
  auto* out = reinterpret_cast<std::uint8_t*>(&result);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(host >> (24 - 8 * i));
  return result;
}

inline std::string Dotted(std::uint32_t address) {
  char text[16];
  platform::FormatAddress(address, text, sizeof text);
  return text;
}

// CPU time of every thread of the process so far.
inline double ProcessCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads one "Name:  value" line of /proc/self/status; 0 when missing.
inline long long StatusValue(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, name.size(), name) == 0) return std::atoll(line.c_str() + name.size());
  }
  return 0;
}

// Samples the thread count and resident memory every 5 ms until stopped.
class PeakSampler {
 public:
  PeakSampler() : thread_([this] { Run(); }) {}
  ~PeakSampler() { Stop(); }
  PeakSampler(const PeakSampler&) = delete;
  PeakSampler& operator=(const PeakSampler&) = delete;
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  long long threads() const { return threads_; }
  long long residentKiB() const { return resident_; }

 private:
  void Run() {
    while (!stop_.load()) {
      threads_ = std::max(threads_.load(), StatusValue("Threads:"));
      resident_ = std::max(resident_.load(), StatusValue("VmRSS:"));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<long long> threads_{0};
  std::atomic<long long> resident_{0};
  std::thread thread_;
};

}  // namespace bench
