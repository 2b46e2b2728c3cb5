// The check value of the file protocol, computed here bit by bit on purpose:
// the simulator must not share (and so hide) a fault of the installer's
// table-driven implementation. Reflected polynomial 0xEDB88320, register
// started at 0xFFFFFFFF, no final inversion: "abc" gives 0xCADBBE3D.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unitsim {

constexpr std::uint32_t kCrcStart = 0xFFFFFFFFu;

// Updates the register with the bytes and returns it.
std::uint32_t UpdateCrc(std::uint32_t crc, const void* data, std::size_t length);

}  // namespace unitsim
