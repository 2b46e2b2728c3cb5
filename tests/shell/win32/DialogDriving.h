// What the Win32 dialog tests do to a dialog as a user and the program's
// message loop would: run the thread's messages for a while, offer a key to
// the dialog manager, take a posted quit message off the queue, and ask the
// display launcher for a picture of the screen.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace dialogtest {

// Runs the thread's messages for a while, as the program's loop would.
inline void Pump(HWND dialog, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      if (IsWindow(dialog) && IsDialogMessageW(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  } while (GetTickCount() - start < milliseconds);
}

// Takes a posted quit message off the queue; -1 when there is none.
inline int TakeQuitCode() {
  MSG message;
  if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return -1;
  return static_cast<int>(message.wParam);
}

// Offers a key press to the dialog manager as the program's loop does.
inline bool PressKey(HWND dialog, HWND focus, WPARAM key) {
  SetFocus(focus);
  MSG message{};
  message.hwnd = focus;
  message.message = WM_KEYDOWN;
  message.wParam = key;
  return IsDialogMessageW(dialog, &message) != FALSE;
}

// The folder the display launcher (xvfb-wine-run.sh) takes pictures for, or
// null without one.
inline const char* ScreenshotFolder() { return std::getenv("ZEQ_SCREENSHOT_DIR"); }

// Asks the launcher for a picture of the screen under `name` and keeps the
// dialog painted until it is taken; false when none was taken in 30 s.
inline bool TakeScreenshot(HWND dialog, const std::string& name) {
  const std::string base = std::string(ScreenshotFolder()) + "/";
  std::remove((base + "taken").c_str());
  { std::ofstream(base + "request.part") << name; }
  if (std::rename((base + "request.part").c_str(), (base + "request").c_str()) != 0) return false;
  const DWORD start = GetTickCount();
  while (!std::ifstream(base + "taken").good() && GetTickCount() - start < 30000) {
    Pump(dialog, 100);
  }
  return std::ifstream(base + "taken").good();
}

}  // namespace dialogtest
