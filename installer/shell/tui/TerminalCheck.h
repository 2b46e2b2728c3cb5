// What the text dialog needs from its terminal, checked before anything
// starts and watched while it runs. Without a terminal on both standard
// input and output, with a terminal type the system does not know, one
// that cannot move the cursor or one smaller than the dialog, the screen
// could not be drawn or read, and the program would wait for keys that
// never come; the entry point then names the fault and points to
// --headless instead.
#pragma once

#include <string>

namespace tui {

// The dialog's smallest screen.
constexpr int kMinColumns = 80;
constexpr int kMinLines = 24;

// Why the terminal cannot carry the text dialog, or "" when it can.
std::string UnusableTerminalReason();

// True when standard input has gone away (hang-up or end of file): it
// reports an end or an error, or reads as ready with no byte to read.
bool InputGone();

// A hang-up must not end the program before it has cancelled its units:
// the signal is ignored, and the loss of input ends the run instead.
void IgnoreHangUp();

}  // namespace tui
