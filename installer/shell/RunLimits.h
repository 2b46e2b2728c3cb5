// The limits an install run may be given on the command line: how many
// jobs run at once, after how many failed units the waiting ones are not
// started, and how many units go first as a canary wave that must finish
// before the others start. 0 is no limit, the behaviour of the dialog.
#pragma once

struct RunLimits {
  int maxParallel = 0;
  int stopAfterFailures = 0;
  int canary = 0;

  bool any() const { return maxParallel > 0 || stopAfterFailures > 0 || canary > 0; }
};
