// Reading PKEXEC_UID (see RequestingUser.h).
#include "RequestingUser.h"

#include <cstdlib>
#include <cstring>

namespace platform {

PkexecUser ReadPkexecUser(uid_t* user) {
  const char* text = std::getenv("PKEXEC_UID");
  if (text == nullptr) return PkexecUser::kUnset;
  if (*text == '\0' || std::strlen(text) > 10) return PkexecUser::kMalformed;
  unsigned long long value = 0;
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at < '0' || *at > '9') return PkexecUser::kMalformed;
    value = value * 10 + static_cast<unsigned>(*at - '0');
  }
  if (value > 0xFFFFFFFEu) return PkexecUser::kMalformed;
  *user = static_cast<uid_t>(value);
  return PkexecUser::kNamed;
}

}  // namespace platform
