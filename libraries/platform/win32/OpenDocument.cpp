// Windows: the shell's "open" verb, shown normally. ShellExecute reports
// success with a value above 32.
#include "platform/OpenDocument.h"

#include <windows.h>
// shellapi.h builds on the types windows.h declares.
#include <shellapi.h>

namespace platform {

bool OpenDocument(const char* path) {
  const HINSTANCE result = ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace platform
