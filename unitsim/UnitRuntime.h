// One simulated unit while the simulator runs: its configuration, the name
// the event log uses for it (its address), the folder that holds its files,
// and the little state that its connections share.
#pragma once

#include <atomic>
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
  // Set when an install script ran with status 0: from then on a unit with
  // new-version reports that version.
  std::atomic<bool> installed{false};

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
