// Blocking socket helpers shared by the unit's TCP services, with an optional
// rate limit that paces reads so a test can simulate a slow link.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace unitsim {

// Sends every byte (MSG_NOSIGNAL); false when the connection failed.
bool SendAll(int fd, const void* data, std::size_t length);
inline bool SendText(int fd, const std::string& text) {
  return SendAll(fd, text.data(), text.size());
}

// Paces reads to at most bytesPerSecond (0: no limit).
class ReadPacer {
 public:
  explicit ReadPacer(long long bytesPerSecond);
  // The most bytes the next read should ask for.
  std::size_t Chunk(std::size_t wanted) const;
  // Records bytes that were read and sleeps until they are within the rate.
  void Account(std::size_t bytes);

 private:
  long long rate_;
  long long total_ = 0;
  std::chrono::steady_clock::time_point start_;
};

// Receives exactly `length` bytes, paced; false on close or failure.
bool RecvExact(int fd, void* data, std::size_t length, ReadPacer* pacer);

}  // namespace unitsim
