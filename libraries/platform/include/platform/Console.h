// The standard streams of a program that runs without its dialog (the
// headless run, --help, --version). A Windows GUI program starts without a
// console: when its output is not redirected it attaches to the console of
// the program that started it, if any, and reopens its standard streams
// there. A Linux program always has its streams; there these calls only do
// the stream work.
//
// A headless run prints its status lines on the standard output it was
// started with, while the diagnostics that the installer's parts print with
// printf go to a log file, as they do behind the dialog: SplitStandardOutput
// keeps a stream to the original output and points stdout at the log.
#pragma once

#include <cstdio>
#include <functional>

namespace platform {

class MainLoop;

// Makes stdout and stderr reach the caller's console or redirection. True
// when they lead somewhere (Linux: always); false when there is nowhere to
// print (a Windows program started without a console and without
// redirection), where a caller shows a message box instead.
bool AttachParentConsole();

// Returns a new stream (line-buffered) to where stdout led, and reopens
// stdout, line-buffered, appending to logPath. Null when the original could
// not be duplicated; stdout is then left as it was.
std::FILE* SplitStandardOutput(const char* logPath);
// Makes stdout append to logPath, opened as OpenForWriting opens files (no
// link followed: a root installer writes into the user's folder). False, and
// stdout left as it was, when the file cannot be opened.
bool AppendStandardOutputTo(const char* logPath);

// The user's interrupt of a console run: Ctrl-C, and also SIGTERM on Linux
// and Ctrl-Break on Windows. From this call on, the first interrupt runs
// onInterrupt on the loop's thread instead of ending the program; any later
// one ends it at once, as it would have without this. On Linux the signals
// are blocked in the calling thread and read from a descriptor the loop
// watches, so no system call in any thread is cut short by them: call this
// before the program starts any other thread (they inherit the block).
// False when it could not be set up; the system's default then holds.
bool WatchInterrupts(MainLoop& loop, std::function<void()> onInterrupt);
// Gives interrupts back to the system's default; before the loop goes.
void StopWatchingInterrupts();

}  // namespace platform
