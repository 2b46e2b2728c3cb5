// The text dialog's terminal checks (see TerminalCheck.h).
#include "shell/tui/TerminalCheck.h"

#include <curses.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <unistd.h>

#include <cstdlib>

namespace tui {

namespace {

constexpr int kStdin = 0;
constexpr int kStdout = 1;

// The terminal's size from the terminal itself, else from its description.
// (term.h takes the names "columns" and "lines" for macros.)
void TerminalSize(int* width, int* height) {
  winsize size{};
  if (ioctl(kStdout, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    *width = size.ws_col;
    *height = size.ws_row;
    return;
  }
  *width = tigetnum(const_cast<char*>("cols"));
  *height = tigetnum(const_cast<char*>("lines"));
}

// Reads the terminal's description; the reason it cannot be used, or "".
std::string DescriptionReason(const std::string& type) {
  int error = 0;
  if (setupterm(nullptr, kStdout, &error) != OK) {
    return error == -1 ? "no terminal descriptions are installed (terminfo)"
                       : "the terminal type \"" + type + "\" is unknown";
  }
  std::string reason;
  const char* moveCursor = tigetstr(const_cast<char*>("cup"));
  int width = 0;
  int height = 0;
  TerminalSize(&width, &height);
  if (moveCursor == nullptr || moveCursor == reinterpret_cast<char*>(-1)) {
    reason = "the terminal type \"" + type + "\" cannot move the cursor";
  } else if (width < kMinColumns || height < kMinLines) {
    reason = "the terminal is " + std::to_string(width) + " x " + std::to_string(height) +
             ", smaller than " + std::to_string(kMinColumns) + " x " + std::to_string(kMinLines);
  }
  del_curterm(cur_term);
  return reason;
}

}  // namespace

std::string UnusableTerminalReason() {
  if (isatty(kStdin) == 0) return "standard input is not a terminal";
  if (isatty(kStdout) == 0) return "standard output is not a terminal";
  const char* type = std::getenv("TERM");
  if (type == nullptr || *type == '\0') return "the terminal type is not set (TERM)";
  return DescriptionReason(type);
}

bool InputGone() {
  pollfd input{kStdin, POLLIN, 0};
  if (poll(&input, 1, 0) <= 0) return false;
  if ((input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
  int waiting = 0;
  return (input.revents & POLLIN) != 0 && ioctl(kStdin, FIONREAD, &waiting) == 0 && waiting == 0;
}

void IgnoreHangUp() { signal(SIGHUP, SIG_IGN); }

}  // namespace tui
