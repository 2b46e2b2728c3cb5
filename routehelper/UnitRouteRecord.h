// The unit-route datagram: the message word 0x00010002, the record's
// presence mode, then a three-element record ("MAC", "Mode", "RemoteIP")
// that tells a unit to set up (mode 0) or drop (mode 1) its route back to
// this computer. Pure byte work, so the layout is tested without a network.
#pragma once

#include <cstdint>

#include "UDPPacketBuffer.h"

namespace UnitRouteMode {
constexpr int kAnnounce = 0;
constexpr int kWithdraw = 1;
}  // namespace UnitRouteMode

// Fills `payload` for the unit's six-byte MAC address, the mode and the
// interface address (network byte order); false when the record could not
// be written.
bool BuildUnitRoutePayload(const std::uint8_t* mac, int mode, std::uint32_t interfaceAddress,
                           ZEQ::UDPPacketBuffer& payload);
