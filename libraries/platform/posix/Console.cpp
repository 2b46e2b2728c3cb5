// Linux standard streams: a program always has them, so attaching does
// nothing; the split duplicates descriptor 1 before stdout is reopened.
#include "platform/Console.h"

#include <unistd.h>

namespace platform {

bool AttachParentConsole() { return true; }

std::FILE* SplitStandardOutput(const char* logPath) {
  std::fflush(stdout);
  const int copy = dup(STDOUT_FILENO);
  if (copy < 0) return nullptr;
  std::FILE* original = fdopen(copy, "w");
  if (original == nullptr) {
    close(copy);
    return nullptr;
  }
  std::setvbuf(original, nullptr, _IOLBF, 0);
  if (std::freopen(logPath, "a", stdout) != nullptr) std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return original;
}

}  // namespace platform
