// Linux local time: localtime_r.
#include "platform/Clock.h"

namespace platform {

bool LocalTime(std::time_t time, std::tm* local) { return localtime_r(&time, local) != nullptr; }

}  // namespace platform
