// What every install job of a run shares: the device table that holds the
// units (with its pinger and route channel) and the release manifest read at
// start-up. The controller keeps one context for the program; tests build
// their own with a table of substitutes and a manifest of their own. The
// context must outlive every job started with it (the table's destruction
// waits for them).
#pragma once

#include "platform/Threads.h"

struct PackageManifest;
class unit_table;

struct InstallContext {
  unit_table* table;
  const PackageManifest* manifest;
  // How a job thread is started; tests put in a starter that fails.
  platform::ThreadHandle* (*startThread)(platform::ThreadProc proc, void* argument,
                                         unsigned stackSize,
                                         unsigned long* threadId) = platform::StartThread;
  // A check (dry run): the job goes through every step up to an open file
  // channel, copies nothing, runs no script and ends "Ready" or with the
  // failure of the step that would fail.
  bool dryRun = false;
};
