// The Linux entry point of fieldloader: the command line is read (--help,
// --version and a headless run end there, see ProgramStart.h), the
// program's folder becomes the current directory (the release's files are
// read relative to it), and the program runs behind the text dialog until
// "Exit", Esc or "q" (see Program.h). A broken package is reported in a
// message box and ends the program with exit code 1 before any service is
// started.
//
// The screen is drawn on the terminal itself, and standard output, which
// carries the program's diagnostics, goes to "fieldloader-output.log" in the
// program's folder.
#include <cstdio>
#include <string>
#include <vector>

#include "shell/Program.h"
#include "shell/ProgramStart.h"
#include "shell/tui/TuiView.h"

int main(int argc, char** argv) {
  const ProgramStart start = StartProgram(std::vector<std::string>(argv + 1, argv + argc));
  if (start.done) return start.exitCode;
  if (std::freopen(kOutputLogName, "a", stdout) != nullptr) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
  }
  Program program(start.reportFolder);
  // Made after the program, the view is torn down first and gives the
  // terminal back before the services end.
  TuiView view(program.loop(), program.events());
  return program.RunDialog(view);
}
