// Child processes of the platform: start a program with arguments and an
// optional working directory, wait for it with a time limit, read its exit
// code, and end it. Tests start the simulated unit through this, and the
// installer will start its route helper through the same seam, so it stays
// small: one opaque handle and a few plain calls.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct ProcessHandle;

constexpr unsigned kWaitForever = ~0u;

// Where a child's standard output and error go: a file path each (made
// anew, UTF-8), or empty to share the caller's.
struct ProcessOutput {
  std::string standardOutput;
  std::string standardError;
};

// Starts `program` (a path; on Linux also looked up in PATH when it holds no
// slash) with the given arguments, not counting the program itself. A null or
// empty workingDirectory keeps the caller's. Returns null on failure, with the
// reason in LastProcessError().
ProcessHandle* StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const char* workingDirectory, const ProcessOutput& output = {});
// Waits up to timeoutMs (kWaitForever: no limit) for the process to end:
// 1 when it has ended, 0 on time-out, -1 when the wait itself failed.
int WaitProcess(ProcessHandle* process, unsigned timeoutMs);
// True when the process has ended; *code then receives its exit code (on
// Linux a process ended by a signal reports 128 + the signal number).
bool ProcessExitCode(ProcessHandle* process, int* code);
// Asks the process to end, best effort: SIGTERM on Linux, TerminateProcess
// with exit code 1 on Windows. 0 when the request was made.
int TerminateChildProcess(ProcessHandle* process);
// The system's id of the process.
unsigned long ProcessIdOf(ProcessHandle* process);
// Releases the handle; a process still running goes on running.
void CloseProcess(ProcessHandle* process);
// errno on Linux, GetLastError() on Windows, of the last failed start.
int LastProcessError();

}  // namespace platform
