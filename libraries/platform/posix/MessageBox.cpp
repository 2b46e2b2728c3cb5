// Linux message boxes: one line on standard error, "caption: text".
#include "platform/MessageBox.h"

#include <cstdio>

namespace platform {

bool ShowMessageBox(const char* caption, const char* text) {
  std::fprintf(stderr, "%s%s%s\n", caption, caption[0] != '\0' ? ": " : "", text);
  return false;
}

}  // namespace platform
