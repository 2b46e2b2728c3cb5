// The installer's device-link interface (see MyTarvoInterface.h).
#include "MyTarvoInterface.h"

#include <optional>
#include <utility>

#include "DiscoveryEntry.h"
#include "ProbeResponse.h"

namespace discovery {

MyTarvoInterface::MyTarvoInterface(platform::MainLoop& loop, unit_table& table,
                                   std::function<void()> refresh, const SocketLayerCalls& sockets)
    : TarvoInterface(loop, sockets), table_(table), refresh_(std::move(refresh)) {}

void MyTarvoInterface::OnResponseAdded(int n) {
  const std::optional<DiscoveredUnit> unit = UnitFromResponse(ResponseAt(n - 1));
  if (!unit.has_value()) return;
  if (EnterDiscoveredUnit(table_, *unit) == 1 && refresh_) refresh_();
}

}  // namespace discovery
