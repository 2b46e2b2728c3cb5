// The installer's device-link interface: every unit that answers the probe
// for the first time is entered into the device table, and when it is new
// there the list is refreshed at once. Both run on the main thread, where
// the interface raises its notifications, so the refresh may draw directly.
//
// The table and the refresh are handed in: the program passes its own table
// and the controller's full list refresh, tests pass theirs.
#pragma once

#include <functional>

#include "TarvoInterface.h"

class unit_table;

namespace discovery {

class MyTarvoInterface : public TarvoInterface {
 public:
  // refresh may be empty. The table must outlive the interface.
  MyTarvoInterface(platform::MainLoop& loop, unit_table& table, std::function<void()> refresh,
                   const SocketLayerCalls& sockets = {});

 protected:
  // Enters the unit of the answer stored at position n - 1, unless the
  // answer is not of kind 2 or its node is below 1.
  void OnResponseAdded(int n) override;

 private:
  unit_table& table_;
  std::function<void()> refresh_;
};

}  // namespace discovery
