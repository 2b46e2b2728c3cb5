// Linux version strings: the build passes the project's version in as
// ZEQ_PRODUCT_VERSION, and that is the only string the program carries.
#include "platform/ProgramVersion.h"

#include <cstring>

#ifndef ZEQ_PRODUCT_VERSION
#error "the build must define ZEQ_PRODUCT_VERSION"
#endif

namespace platform {

std::optional<std::string> ProgramVersionString(const char* name) {
  if (std::strcmp(name, "ProductVersion") != 0) return std::nullopt;
  return std::string(ZEQ_PRODUCT_VERSION);
}

}  // namespace platform
