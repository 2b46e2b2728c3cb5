// Windows child processes: CreateProcess with a command line quoted by the
// rules that the C runtime uses to split it again, and the process handle,
// which is signalled when the process ends.
#include "platform/Process.h"

#include <windows.h>

#include <filesystem>

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

// An inheritable handle of the file a child's output goes to (made anew);
// INVALID_HANDLE_VALUE when it cannot be made, null when none was asked.
HANDLE OpenOutputFile(const std::string& path) {
  if (path.empty()) return nullptr;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::filesystem::path name(std::u8string(path.begin(), path.end()));
  return CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The child's standard handles, its own files where asked for.
class ChildOutput {
 public:
  explicit ChildOutput(const ProcessOutput& output)
      : out_(OpenOutputFile(output.standardOutput)), err_(OpenOutputFile(output.standardError)) {}
  ~ChildOutput() {
    for (const HANDLE file : {out_, err_}) {
      if (file != nullptr && file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  ChildOutput(const ChildOutput&) = delete;
  ChildOutput& operator=(const ChildOutput&) = delete;

  bool failed() const { return out_ == INVALID_HANDLE_VALUE || err_ == INVALID_HANDLE_VALUE; }
  bool redirected() const { return out_ != nullptr || err_ != nullptr; }
  void FillIn(STARTUPINFOA& startup) const {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out_ != nullptr ? out_ : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = err_ != nullptr ? err_ : GetStdHandle(STD_ERROR_HANDLE);
  }

 private:
  HANDLE out_;
  HANDLE err_;
};

}  // namespace

ProcessHandle* StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const char* workingDirectory, const ProcessOutput& output) {
  std::string line;
  AppendQuoted(line, program);
  for (const std::string& argument : arguments) {
    line += ' ';
    AppendQuoted(line, argument);
  }
  const char* directory =
      workingDirectory != nullptr && workingDirectory[0] != '\0' ? workingDirectory : nullptr;
  const ChildOutput files(output);
  if (files.failed()) {
    lastError = static_cast<int>(GetLastError());
    return nullptr;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (files.redirected()) files.FillIn(startup);
  PROCESS_INFORMATION info{};
  // Handles are inherited only when the child gets files of its own.
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, files.redirected(), 0, nullptr,
                      directory, &startup, &info)) {
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
