// Shared helpers for the tests of both platforms.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace testsupport {

// True when the run is inside the private network namespace that the test
// launcher makes (see netns-run.sh).
inline bool InPrivateNetwork() {
  const char* value = std::getenv("ZEQ_IN_NETNS");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

inline bool RunningInCi() {
  const char* value = std::getenv("CI");
  return value != nullptr && std::strcmp(value, "true") == 0;
}

// A directory for the running test case's files, inside the build tree.
std::string ScratchDirectory(const std::string& name);

// A temporary file standing in for a standard stream, read back whole.
class CapturedStream {
 public:
  CapturedStream() : file_(std::tmpfile()) {}
  ~CapturedStream() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  std::FILE* get() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[256];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, got);
    return text;
  }

 private:
  std::FILE* file_;
};

}  // namespace testsupport

// Skips a test that needs the private network namespace when there is none;
// in CI such a skip would hide a missing capability, so there it fails.
#define ZEQ_REQUIRE_NETNS()                                                     \
  do {                                                                          \
    if (!testsupport::InPrivateNetwork()) {                                     \
      if (testsupport::RunningInCi()) FAIL() << "no private network namespace"; \
      GTEST_SKIP() << "needs a private network namespace (run as root)";        \
    }                                                                           \
  } while (0)
