// Entering discovered units into the device table (see DiscoveryEntry.h).
#include "DiscoveryEntry.h"

#include <optional>

#include "RecordQuery.h"
#include "units/ControllerFlags.h"
#include "units/unit_table.h"

namespace discovery {

int EnterDiscoveredUnit(unit_table& table, const DiscoveredUnit& unit) {
  const int entered =
      table.AddOrUpdateUnit(unit.gateway, unit.reachedFrom, unit.address, unit.macOrNull(),
                            unit.node, unit.group.c_str(), unit.version.c_str());
  table.NoteAnswer(unit.address, unit.version.c_str());
  return entered;
}

int EnterDiscoveryReply(unit_table& table, const void* data, int size) {
  const std::optional<DiscoveredUnit> unit = ParseDiscoveryReply(data, size);
  if (!unit.has_value()) return -1;
  const int entered = EnterDiscoveredUnit(table, *unit);
  if (entered == 1) listRebuildFlag = 1;
  return entered;
}

}  // namespace discovery
