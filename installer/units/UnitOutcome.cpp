// The failure classes' names as the run report writes them.
#include "units/UnitOutcome.h"

const char* FailureClassName(FailureClass failure) {
  switch (failure) {
    case FailureClass::Unreachable: return "unreachable";
    case FailureClass::Login: return "login";
    case FailureClass::Copy: return "copy";
    case FailureClass::Script: return "script";
    case FailureClass::ConnectionClosed: return "connection closed";
    case FailureClass::Cancelled: return "cancelled";
    case FailureClass::Timeout: return "timeout";
    case FailureClass::Stopped: return "stopped";
    case FailureClass::None: break;
  }
  return "";
}
