// File-system services of the platform: folders, the program's own path,
// the system folder where the install log lives, and opening a file for
// writing where others may write too.
#pragma once

#include <cstdio>
#include <filesystem>
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

// Opens a file for writing, mode "a..." appending or "w..." emptying it
// first (the rest of the mode as fopen takes it: "t" text, "b" binary), the
// way a program with administrator rights must open a file in a folder that
// others can write: a symbolic link or other reparse point is never
// followed, and only a regular file with one link (no hard link to a file
// elsewhere) is written. A new file gets mode 0644 on Linux. Null on
// failure.
std::FILE* OpenForWriting(const std::filesystem::path& path, const char* mode);

// Gives an empty file that this process made as root to the user who asked
// for the process (pkexec's PKEXEC_UID), so that the user's own programs can
// go on appending to it. Nothing to do on Windows, where a new file takes
// the folder's access.
void HandNewFileToRequestingUser(std::FILE* file);

}  // namespace platform
