// What both entry points of fieldloader do before their dialog exists: read
// the command line, print the help, the version or a usage mistake, make
// the release folder the current directory (the release is read and every
// file of the program written relative to it: --release, else the
// program's own folder, else for a program installed under /usr the folder
// it was started in), and run a headless run to its end. Only the dialog itself is left
// to the front end (see Program.h).
#pragma once

#include <string>
#include <vector>

#include "shell/CommandLine.h"

struct ProgramStart {
  // True when the program is done (help, version, a mistake, a headless
  // run), with its exit code; false when the front end shows its dialog.
  bool done = false;
  int exitCode = 0;
  CommandLine options;
  // Where the report goes: --report made absolute against the folder the
  // program was started in, or "" for the release folder.
  std::string reportFolder;
};

// The program's diagnostics, which its parts print on standard output,
// go to this file in the release folder when there is no console for them.
constexpr const char* kOutputLogName = "fieldloader-output.log";

ProgramStart StartProgram(const std::vector<std::string>& arguments);
