// The install log: one time-stamped line per install event, for example
//   21/03/03 09:05:07 192.168.10.20 Install Started
// in "zeqtarvo_install.log". On Windows the file is in the Windows directory;
// on Linux it is in the folder named by the environment variable
// ZEQ_WINDOWS_DIR, or else in /var/log for root and in
// $XDG_STATE_HOME/fieldloader (~/.local/state/fieldloader) for any other
// user (platform::SystemLogDirectory). A log that has grown beyond 10,240
// bytes is emptied at the next event. Each event opens and closes the file,
// so every line is on disk when the call returns, and the whole event runs
// under one process-wide lock so lines from parallel jobs never interleave.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

constexpr long kInstallLogSizeLimit = 10240;

// Writes "<time stamp> <dotted address> <text>" and a line end. The address is
// in network byte order. Failures are silent: the event is dropped.
void LogInstallEvent(std::uint32_t address, const char* text);
// Opens the log for appending (emptied first when over the size limit); null
// when there is no log folder or the file cannot be opened.
std::FILE* OpenInstallLog();
// Writes the local time as "%y/%m/%d %H:%M:%S"; nothing when the local time
// is not available.
void WriteLogTimestamp(std::FILE* file);

// The log's full path; empty when the system has no log folder.
std::string InstallLogPath();
// Test seam: puts the log into another folder (empty: the system's again).
void SetInstallLogDirectoryForTesting(const std::string& directory);
