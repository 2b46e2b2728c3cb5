// File-system services of the platform: folders, the program's own path and
// the system folder where the install log lives.
#pragma once

#include <string>

namespace platform {

// Creates the folder and any missing parents; true when it exists afterwards.
bool MakeDirectories(const char* path);
// The full path of the running program, and the folder that holds it.
std::string ProgramPath();
std::string ProgramDirectory();
bool SetCurrentDirectoryTo(const char* path);
// True when something of that name exists (a file or a folder).
bool FileExists(const char* path);
// The folder of the install log. On Windows the Windows directory
// (GetWindowsDirectoryA). On Linux the folder named by ZEQ_WINDOWS_DIR; else
// /var/log when running as root (and allowed to write there); else
// $XDG_STATE_HOME/fieldloader (default ~/.local/state/fieldloader), created
// when missing. Empty when unavailable.
std::string SystemLogDirectory();

}  // namespace platform
