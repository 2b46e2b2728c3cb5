// Local time that is safe to take from several threads at once (the C
// library's localtime shares one buffer between all threads).
#pragma once

#include <ctime>

namespace platform {

// Converts `time` to local time; false when the conversion fails.
bool LocalTime(std::time_t time, std::tm* local);

}  // namespace platform
