// The entry point of fieldloader.exe: it reads the command line as UTF-8
// (--help, --version and a headless run end there, see ProgramStart.h; they
// print on the parent's console), makes the release folder (--release, else
// the program's own folder) the current directory (the package files and
// the release notes are named relative to it), and runs the program behind the Win32 view (see
// Program.h); the one message loop of the main thread serves the dialog's keyboard navigation and
// the device link's hidden window alike.
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <string>
#include <vector>

#include "Win32DialogView.h"
#include "shell/Program.h"
#include "shell/ProgramStart.h"

namespace {

// The arguments after the program's name, split as the runtime splits them
// and converted from UTF-16 to UTF-8.
std::vector<std::string> Arguments() {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    // The size counts the terminating NUL, which the string does not keep.
    const int size = WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    if (size > 0)
      WideCharToMultiByte(CP_UTF8, 0, words[i], -1, text.data(), size, nullptr, nullptr);
    text.pop_back();
    arguments.push_back(std::move(text));
  }
  LocalFree(words);
  return arguments;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const ProgramStart start = StartProgram(Arguments());
  if (start.done) return start.exitCode;
  Program program(start.reportFolder);
  // The view outlives nothing it reports to: it is destroyed first, and a
  // dialog still open then goes without a report.
  Win32DialogView view(&program.events(), &program.loop());
  return program.RunDialog(view);
}
