// The user who asked for this process, as pkexec tells it in PKEXEC_UID.
// The route helper trusts only that user's installer and gives that user
// the log it makes, so the variable is read strictly, in one place.
#pragma once

#include <sys/types.h>

namespace platform {

enum class PkexecUser { kUnset, kMalformed, kNamed };

// What PKEXEC_UID says; *user is set when it names one (decimal digits
// only, at most 10 of them, within a uid's range).
PkexecUser ReadPkexecUser(uid_t* user);

}  // namespace platform
