// CRC-32 register update (see Crc32.h): slicing by eight over tables that
// are built from the bit-by-bit step below when the program starts.
#include "Crc32.h"

#include <array>

namespace unitsim {

namespace {

// One byte's worth of the register, bit by bit: the definition.
std::uint32_t ShiftByte(std::uint32_t crc) {
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  return crc;
}

// tables[0][b] is the register 0 after the byte b; tables[k][b] the same
// followed by k zero bytes, so eight bytes are taken in one step.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

Tables BuildTables() {
  Tables tables{};
  for (std::uint32_t b = 0; b < 256; ++b) tables[0][b] = ShiftByte(b);
  for (int k = 1; k < 8; ++k) {
    for (std::uint32_t b = 0; b < 256; ++b) {
      const std::uint32_t previous = tables[k - 1][b];
      tables[k][b] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

const Tables kTables = BuildTables();

std::uint32_t UpdateByte(std::uint32_t crc, std::uint8_t byte) {
  return (crc >> 8) ^ kTables[0][(crc ^ byte) & 0xFF];
}

}  // namespace

std::uint32_t UpdateCrc(std::uint32_t crc, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (; length >= 8; bytes += 8, length -= 8) {
    const std::uint32_t low = crc ^ (std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                     std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][bytes[4]] ^ kTables[2][bytes[5]] ^
          kTables[1][bytes[6]] ^ kTables[0][bytes[7]];
  }
  for (; length > 0; ++bytes, --length) crc = UpdateByte(crc, *bytes);
  return crc;
}

}  // namespace unitsim
