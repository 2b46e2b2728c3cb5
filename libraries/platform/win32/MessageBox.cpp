// Windows message boxes: no owner, OK button.
#include "platform/MessageBox.h"

#include <windows.h>

namespace platform {

bool ShowMessageBox(const char* caption, const char* text) {
  MessageBoxA(nullptr, text, caption, MB_OK);
  return true;
}

}  // namespace platform
