// The program's own version strings, for the window title. On Windows they
// live in the version resource of the program file; the Linux build has no
// such block, so there the one string it knows, "ProductVersion", is a
// constant that the build takes from the project's version.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The named string of the program's version block (for example
// "ProductVersion"), or nothing when the program has no version block, the
// block has no translation table, or the string is not in it.
std::optional<std::string> ProgramVersionString(const char* name);

}  // namespace platform
