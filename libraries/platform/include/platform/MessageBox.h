// A message for the user from a program without a window of its own: a
// message box without owner and with an OK button on Windows. Linux has no
// box to show; the text goes to standard error as one line, and the caller
// learns that nobody saw a box so that it can keep the text elsewhere too.
#pragma once

namespace platform {

// True when a box was shown (and closed by the user).
bool ShowMessageBox(const char* caption, const char* text);

}  // namespace platform
