// Windows child processes: CreateProcess with a command line quoted by the
// rules that the C runtime uses to split it again, and the process handle,
// which is signalled when the process ends.
#include "platform/Process.h"

#include <windows.h>

namespace platform {

struct ProcessHandle {
  HANDLE process;
};

namespace {

thread_local int lastError = 0;

// Quotes one argument so that CommandLineToArgv and the C runtime give it back
// unchanged: backslashes only need doubling where they precede a quote.
void AppendQuoted(std::string& line, const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      line.append(backslashes * 2 + 1, '\\');
    else
      line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

}  // namespace

ProcessHandle* StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const char* workingDirectory) {
  std::string line;
  AppendQuoted(line, program);
  for (const std::string& argument : arguments) {
    line += ' ';
    AppendQuoted(line, argument);
  }
  const char* directory =
      workingDirectory != nullptr && workingDirectory[0] != '\0' ? workingDirectory : nullptr;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                      &startup, &info)) {
    lastError = static_cast<int>(GetLastError());
    return nullptr;
  }
  CloseHandle(info.hThread);
  return new ProcessHandle{info.hProcess};
}

int WaitProcess(ProcessHandle* process, unsigned timeoutMs) {
  if (process == nullptr) return -1;
  const DWORD limit = timeoutMs == kWaitForever ? INFINITE : timeoutMs;
  switch (WaitForSingleObject(process->process, limit)) {
    case WAIT_OBJECT_0: return 1;
    case WAIT_TIMEOUT: return 0;
    default: return -1;
  }
}

bool ProcessExitCode(ProcessHandle* process, int* code) {
  DWORD value = 0;
  if (process == nullptr || !GetExitCodeProcess(process->process, &value)) return false;
  if (value == STILL_ACTIVE && WaitForSingleObject(process->process, 0) != WAIT_OBJECT_0) {
    return false;
  }
  if (code != nullptr) *code = static_cast<int>(value);
  return true;
}

int TerminateChildProcess(ProcessHandle* process) {
  if (process == nullptr) return -1;
  return TerminateProcess(process->process, 1) ? 0 : -1;
}

unsigned long ProcessIdOf(ProcessHandle* process) {
  return process != nullptr ? GetProcessId(process->process) : 0;
}

void CloseProcess(ProcessHandle* process) {
  if (process == nullptr) return;
  CloseHandle(process->process);
  delete process;
}

int LastProcessError() { return lastError; }

}  // namespace platform
