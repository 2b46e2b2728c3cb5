// Windows local time: localtime_s, which fills the caller's structure.
#include "platform/Clock.h"

namespace platform {

bool LocalTime(std::time_t time, std::tm* local) { return localtime_s(local, &time) == 0; }

}  // namespace platform
