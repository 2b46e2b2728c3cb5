// Linux standard streams: a program always has them, so attaching does
// nothing; the split duplicates descriptor 1 before stdout is reopened.
// Interrupts arrive through a signalfd: SIGINT and SIGTERM stay blocked, so
// they never interrupt a system call; after the first one the main thread
// unblocks them, and the next is delivered to it with its default action.
#include "platform/Console.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/MainLoop.h"

namespace platform {

namespace {

int interruptFd = -1;
MainLoop* interruptLoop = nullptr;

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

void UnblockInterrupts() {
  const sigset_t signals = InterruptSignals();
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

// Reads every signal waiting on the descriptor; true when there was one.
bool TakeSignals(int fd) {
  signalfd_siginfo info;
  bool taken = false;
  while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) taken = true;
  return taken;
}

}  // namespace

bool AttachParentConsole() { return true; }

std::FILE* SplitStandardOutput(const char* logPath) {
  std::fflush(stdout);
  const int copy = dup(STDOUT_FILENO);
  if (copy < 0) return nullptr;
  std::FILE* original = fdopen(copy, "w");
  if (original == nullptr) {
    close(copy);
    return nullptr;
  }
  std::setvbuf(original, nullptr, _IOLBF, 0);
  AppendStandardOutputTo(logPath);
  return original;
}

bool AppendStandardOutputTo(const char* logPath) {
  std::FILE* log = OpenForWriting(logPath, "a");
  if (log == nullptr) return false;
  std::fflush(stdout);
  const bool moved = dup2(fileno(log), STDOUT_FILENO) >= 0;
  std::fclose(log);
  if (moved) std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return moved;
}

bool WatchInterrupts(MainLoop& loop, std::function<void()> onInterrupt) {
  StopWatchingInterrupts();
  const sigset_t signals = InterruptSignals();
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return false;
  const int fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  auto onReadable = [fd, onInterrupt = std::move(onInterrupt)] {
    if (!TakeSignals(fd)) return;
    UnblockInterrupts();  // the next one ends the program
    onInterrupt();
  };
  if (fd < 0 || loop.WatchDescriptor(fd, std::move(onReadable)) != 0) {
    if (fd >= 0) close(fd);
    UnblockInterrupts();
    return false;
  }
  interruptFd = fd;
  interruptLoop = &loop;
  return true;
}

void StopWatchingInterrupts() {
  if (interruptFd < 0) return;
  interruptLoop->UnwatchDescriptor(interruptFd);
  close(interruptFd);
  interruptFd = -1;
  interruptLoop = nullptr;
  UnblockInterrupts();
}

}  // namespace platform
