// Fuzz target for the whole receiver side of the record query: datagrams
// entered one after another into a real device table, as the controller's
// receiver callback enters them. After every datagram the table must hold
// each accepted unit exactly once, in strictly ascending address order, with
// the display order naming the same records; a datagram counts as new
// exactly when its address was not there before, and only a new unit raises
// the list-rebuild flag. A disagreement aborts.
//
// Input layout: datagrams, each a 16-bit little-endian length followed by
// that many bytes; the last one takes whatever is left.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <vector>

#include "DiscoveryEntry.h"
#include "RecordQuery.h"
#include "transfer/EchoPinger.h"
#include "transfer/RouteRequestChannel.h"
#include "units/ControllerFlags.h"
#include "units/unit_table.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The table's services, made once: a table per input is cheap without them.
RouteRequestChannel& Channel() {
  static RouteRequestChannel channel;
  return channel;
}
EchoPinger& Pinger() {
  static EchoPinger pinger;
  return pinger;
}

void CheckTable(unit_table& table, const std::set<std::uint32_t>& expected) {
  table.Lock();
  Check(table.getCount() == expected.size());
  auto want = expected.begin();
  for (std::size_t i = 0; i < table.getCount(); ++i, ++want) {
    Check(table.getAddressUnit(i)->address == *want);
    tarvo_object* shown = table.getDisplayUnit(i);
    tarvo_object** found = table.FindByAddress(shown);
    Check(found != nullptr && *found == shown);
  }
  table.Unlock();
}

// One datagram; the rest of the input is left in *data and *size.
std::vector<std::uint8_t> Next(const std::uint8_t** data, std::size_t* size) {
  std::size_t length = *size;
  if (*size >= 2) {
    length = std::min<std::size_t>((*data)[0] | (*data)[1] << 8, *size - 2);
    *data += 2;
    *size -= 2;
  }
  std::vector<std::uint8_t> datagram(*data, *data + length);
  *data += length;
  *size -= length;
  return datagram;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unit_table table(&Channel(), &Pinger());
  std::set<std::uint32_t> addresses;
  while (size > 0) {
    // A copy of exactly the datagram's size, so that any read beyond it is
    // caught.
    const std::vector<std::uint8_t> datagram = Next(&data, &size);
    const int length = static_cast<int>(datagram.size());
    const std::optional<DiscoveredUnit> unit =
        discovery::ParseDiscoveryReply(datagram.data(), length);
    listRebuildFlag = 0;
    const int entered = discovery::EnterDiscoveryReply(table, datagram.data(), length);
    if (!unit) {
      Check(entered == -1 && listRebuildFlag == 0);
    } else {
      const bool isNew = addresses.insert(unit->address).second;
      Check(entered == (isNew ? 1 : 0) && listRebuildFlag == (isNew ? 1 : 0));
    }
    CheckTable(table, addresses);
  }
  return 0;
}
