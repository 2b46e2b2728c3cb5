// What a run is asked to confirm after its last job (--verify,
// --expect-version): for how long the units are asked again, and the
// version each unit that finished must then report. Without an expected
// version a unit must report one other than before its job. 0 seconds is
// the dialog's behaviour: nothing is confirmed, and the report says "not
// asked".
#pragma once

#include <optional>
#include <string>

struct VerifyOptions {
  int seconds = 0;
  std::optional<std::string> expectedVersion;

  bool asked() const { return seconds > 0; }
};
