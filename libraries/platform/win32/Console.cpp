// Windows standard streams of a GUI program. When the program's output was
// redirected (a pipe or a file handed over by the parent), the C runtime
// already writes there and nothing changes. Otherwise the program attaches
// to its parent's console, if the parent has one, and reopens stdout and
// stderr on "CONOUT$" (and stdin on "CONIN$"), since the runtime found no
// handles for them at start-up.
//
// Interrupts come through a console control handler, which the system calls
// on a thread of its own: the first Ctrl-C or Ctrl-Break is posted to the
// main loop and taken (TRUE); a later one, or a close or log-off, is left to
// the default handler, which ends the process.
#include "platform/Console.h"

#include <io.h>
#include <windows.h>

#include <mutex>

#include "platform/Files.h"
#include "platform/MainLoop.h"

namespace platform {

namespace {

std::mutex interruptGuard;
MainLoop* interruptLoop = nullptr;
std::function<void()> interruptCall;
bool interruptTaken = false;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  const std::lock_guard<std::mutex> lock(interruptGuard);
  if (interruptLoop == nullptr || interruptTaken) return FALSE;
  interruptTaken = true;
  return interruptLoop->Post(interruptCall) ? TRUE : FALSE;
}

bool IsUsableHandle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

bool AttachParentConsole() {
  if (IsUsableHandle(STD_OUTPUT_HANDLE)) return true;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  if (std::freopen("CONOUT$", "w", stdout) == nullptr) return false;
  if (std::freopen("CONOUT$", "w", stderr) == nullptr) return false;
  if (std::freopen("CONIN$", "r", stdin) == nullptr) return false;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  return true;
}

std::FILE* SplitStandardOutput(const char* logPath) {
  std::fflush(stdout);
  const int copy = _dup(_fileno(stdout));
  if (copy < 0) return nullptr;
  std::FILE* original = _fdopen(copy, "w");
  if (original == nullptr) {
    _close(copy);
    return nullptr;
  }
  // The runtime's line buffering is full buffering; the headless lines
  // flush themselves, line by line.
  std::setvbuf(original, nullptr, _IONBF, 0);
  AppendStandardOutputTo(logPath);
  return original;
}

bool AppendStandardOutputTo(const char* logPath) {
  std::FILE* log = OpenForWriting(logPath, "a");
  if (log == nullptr) return false;
  std::fflush(stdout);
  const bool moved = _dup2(_fileno(log), _fileno(stdout)) == 0;
  std::fclose(log);
  if (moved) std::setvbuf(stdout, nullptr, _IONBF, 0);
  return moved;
}

bool WatchInterrupts(MainLoop& loop, std::function<void()> onInterrupt) {
  {
    const std::lock_guard<std::mutex> lock(interruptGuard);
    interruptLoop = &loop;
    interruptCall = std::move(onInterrupt);
    interruptTaken = false;
  }
  if (SetConsoleCtrlHandler(OnConsoleControl, TRUE)) return true;
  StopWatchingInterrupts();
  return false;
}

void StopWatchingInterrupts() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  const std::lock_guard<std::mutex> lock(interruptGuard);
  interruptLoop = nullptr;
  interruptCall = nullptr;
}

}  // namespace platform
