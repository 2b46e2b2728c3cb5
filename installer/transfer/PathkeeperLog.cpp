// Appending to the route helper's log file.
#include "PathkeeperLog.h"

#include <cstdio>

void AppendPathkeeperLog(const char* text) {
  FILE* log = std::fopen("pathkeeper.log", "a");
  if (log == nullptr) return;
  std::fputs(text, log);
  std::fclose(log);
}
