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
};

}  // namespace unitsim
