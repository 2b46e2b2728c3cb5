// The CRC-32 check value of the file protocol: the reflected IEEE 802.3
// polynomial 0xEDB88320, a register started at 0xFFFFFFFF and no final
// inversion, so the value is the bitwise complement of the usual CRC-32
// ("abc" gives 0xCADBBE3D). The register is carried from call to call, so a
// file's check value is built up piece by piece as the pieces are sent.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;
constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;

// Feeds size bytes into the register and returns the new register. It runs
// the fastest method this CPU has (see Crc32Methods.h); all give the same
// register for any split of the bytes into calls.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// The register over one whole byte range.
inline std::uint32_t Crc32(const void* data, std::size_t size) {
  return Crc32Update(kCrc32Start, data, size);
}
