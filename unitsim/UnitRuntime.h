// One simulated unit while the simulator runs: its configuration, the name
// the event log uses for it (its address), the folder that holds its files,
// and the little state that its connections share.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "UnitConfig.h"

namespace unitsim {

struct UnitRuntime {
  UnitConfig config;
  std::string name;
  std::string folder;
  // Puts seen by the file service, over all connections; the fault knob
  // fs-fault-put counts them.
  std::atomic<int> puts{0};
  // Install scripts run, over all connections; the knob exit-runs counts
  // them.
  std::atomic<int> scriptRuns{0};
  // Set when an install script ran with status 0 or restarted the unit:
  // from then on a unit with new-version reports that version.
  std::atomic<bool> installed{false};

  // When a unit that restarted is up again (steady clock, ms); 0 when it
  // never went down.
  std::atomic<long long> downUntilMs{0};

  static long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  // The script restarted the unit: it took the release and is down for
  // the knob's time.
  void Restart() {
    installed = true;
    downUntilMs = NowMs() + config.downMs;
  }
  bool Down() const { return NowMs() < downUntilMs.load(); }

  // The configuration as discovery answers with it now.
  UnitConfig Reported() const {
    UnitConfig reported = config;
    if (config.hasNewVersion && installed.load()) {
      reported.hasVersion = true;
      reported.version = config.newVersion;
    }
    return reported;
  }
};

}  // namespace unitsim
