// The 256-entry table of the check value. It is one process-wide object that
// is only read once built. It is built by constant initialisation (the part
// of static initialisation the compiler does before any code runs), so it is
// complete before the first thread exists and before any other static
// object's constructor could use it.
#include "transfer/Crc32.h"

#include <array>

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

constexpr std::array<std::uint32_t, 256> BuildTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t entry = i;
    for (int bit = 0; bit < 8; ++bit) {
      entry = (entry & 1u) != 0 ? (entry >> 1) ^ kPolynomial : entry >> 1;
    }
    table[i] = entry;
  }
  return table;
}

constinit const std::array<std::uint32_t, 256> kTable = BuildTable();

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kTable[(crc ^ bytes[i]) & 0xFFu];
  return crc;
}
