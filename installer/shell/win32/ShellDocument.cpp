// The release notes open through the shell like a double-click in Explorer,
// so the user's own browser shows them; the program does not wait for it.
#include "ShellDocument.h"

#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

bool OpenDocumentIfPresent(const char* fileName) {
  // An existence test only: a file that cannot be read is still the shell's
  // to report.
  if (_access(fileName, 0) != 0) return false;
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", fileName, nullptr, nullptr, SW_SHOWNORMAL));
  // Values up to 32 are the shell's error codes.
  return result > 32;
}
