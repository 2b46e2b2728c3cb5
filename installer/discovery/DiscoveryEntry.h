// Where both discovery paths end: a unit that answered is entered into the
// device table. The record reply arrives on a pool thread through the
// controller's receiver callback, which needs only EnterDiscoveryReply; the
// device-link answer is entered on the main thread by MyTarvoInterface. The
// table takes its own lock, so both may run at any time.
#pragma once

#include "DiscoveredUnit.h"

class unit_table;

namespace discovery {

// AddOrUpdateUnit with the unit's values: 1 for a new unit, 0 for a known one.
int EnterDiscoveredUnit(unit_table& table, const DiscoveredUnit& unit);

// One datagram received on port 55330: a valid reply is entered, and a new
// unit raises the list-rebuild flag, which the controller's tick lowers when
// it rebuilds the list. 1 for a new unit, 0 for a known one, -1 for a
// datagram that is no valid reply (then nothing changes).
int EnterDiscoveryReply(unit_table& table, const void* data, int size);

}  // namespace discovery
