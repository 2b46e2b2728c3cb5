// Linux child processes: fork and exec. The child only clears its signal
// mask, changes directory and execs (all safe between fork and exec in a
// threaded parent); everything it
// needs is prepared before the fork. A failed exec is reported back through a
// close-on-exec pipe, so StartProcess fails at once instead of leaving a child
// that exits with 127.
#include "platform/Process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace platform {

struct ProcessHandle {
  pid_t pid;
  bool ended;
  int exitCode;
};

namespace {

thread_local int lastError = 0;

// The descriptors the child's standard output and error become (-1: keep).
struct ChildOutput {
  int out = -1;
  int err = -1;
};

[[noreturn]] void RunChild(const char* program, char* const* argv, const char* directory,
                           ChildOutput output, int reportFd) {
  // A program that reads its interrupts from a descriptor keeps them blocked;
  // its children start with none blocked, as from a shell.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if ((output.out >= 0 && dup2(output.out, STDOUT_FILENO) < 0) ||
      (output.err >= 0 && dup2(output.err, STDERR_FILENO) < 0)) {
    const int error = errno;
    (void)!write(reportFd, &error, sizeof error);
    _exit(127);
  }
  if (directory != nullptr && chdir(directory) != 0) {
    const int error = errno;
    (void)!write(reportFd, &error, sizeof error);
    _exit(127);
  }
  execvp(program, argv);
  const int error = errno;
  (void)!write(reportFd, &error, sizeof error);
  _exit(127);
}

// Reaps the child without blocking; true once it has ended.
bool Reap(ProcessHandle* process) {
  if (process->ended) return true;
  int status = 0;
  const pid_t result = waitpid(process->pid, &status, WNOHANG);
  if (result != process->pid) return false;
  process->ended = true;
  process->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

long long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// Opens the file a child's output goes to; -1 for none asked, and -2 when
// it cannot be opened (errno says why).
int OpenOutputFile(const std::string& path) {
  if (path.empty()) return -1;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : -2;
}

void CloseOutput(ChildOutput output) {
  if (output.out >= 0) close(output.out);
  if (output.err >= 0) close(output.err);
}

}  // namespace

ProcessHandle* StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const char* workingDirectory, const ProcessOutput& output) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const char* directory =
      workingDirectory != nullptr && workingDirectory[0] != '\0' ? workingDirectory : nullptr;
  const ChildOutput files{OpenOutputFile(output.standardOutput),
                          OpenOutputFile(output.standardError)};
  int report[2];
  if (files.out == -2 || files.err == -2 || pipe2(report, O_CLOEXEC) != 0) {
    lastError = errno;
    CloseOutput(files);
    return nullptr;
  }
  const pid_t pid = fork();
  if (pid == 0) RunChild(program.c_str(), argv.data(), directory, files, report[1]);
  close(report[1]);
  CloseOutput(files);
  if (pid < 0) {
    lastError = errno;
    close(report[0]);
    return nullptr;
  }
  int childError = 0;
  ssize_t got;
  do {
    got = read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    waitpid(pid, nullptr, 0);
    lastError = childError;
    return nullptr;
  }
  return new ProcessHandle{pid, false, 0};
}

int WaitProcess(ProcessHandle* process, unsigned timeoutMs) {
  if (process == nullptr) return -1;
  const long long deadline = NowMs() + timeoutMs;
  for (;;) {
    if (Reap(process)) return 1;
    if (timeoutMs != kWaitForever && NowMs() >= deadline) return 0;
    const timespec pause{0, 2 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

bool ProcessExitCode(ProcessHandle* process, int* code) {
  if (process == nullptr || !Reap(process)) return false;
  if (code != nullptr) *code = process->exitCode;
  return true;
}

int TerminateChildProcess(ProcessHandle* process) {
  if (process == nullptr) return -1;
  if (Reap(process)) return 0;
  return kill(process->pid, SIGTERM) == 0 ? 0 : -1;
}

unsigned long ProcessIdOf(ProcessHandle* process) {
  return process != nullptr ? static_cast<unsigned long>(process->pid) : 0;
}

void CloseProcess(ProcessHandle* process) { delete process; }

int LastProcessError() { return lastError; }

}  // namespace platform
