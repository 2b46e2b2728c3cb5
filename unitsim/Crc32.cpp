// Bitwise CRC-32 register update (see Crc32.h).
#include "Crc32.h"

namespace unitsim {

std::uint32_t UpdateCrc(std::uint32_t crc, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

}  // namespace unitsim
