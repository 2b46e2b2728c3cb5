// What the route helper believes before it obeys anybody: its command line,
// read strictly, and the process that serves its pipe. The helper runs with
// administrator rights, so a number it cannot read is refused rather than
// taken as 0, and the pipe's server must be the installer that started it:
// the process whose id it was given, which is also its parent, runs as the
// user who asked for the helper, and was started before it (so it cannot be
// another process that took the id of an installer that has ended).
#pragma once

#include <string>

#include "platform/RequestPipe.h"

struct HelperArguments {
  bool hasInstaller = false;  // false: started without arguments
  unsigned long installerId = 0;
  std::string pipeKey;  // empty: the pipe has the plain name
};

// The text shown for a command line that ParseHelperArguments refuses.
constexpr const char* kHelperUsage = "usage: pathkeeper INSTALLER_PROCESS_ID [PIPE_KEY]";

// Reads the arguments after the program's name: none; the installer's
// process id (decimal digits only, 1 to 4294967295); or that id and the
// pipe's key (1 to 64 lowercase hexadecimal digits). False for anything
// else.
bool ParseHelperArguments(int count, const char* const* arguments, HelperArguments* parsed);

// True when the facts show the installer `installerId` serving the pipe.
bool IsTrustedPipeServer(const platform::PipeServerFacts& server, unsigned long installerId);
