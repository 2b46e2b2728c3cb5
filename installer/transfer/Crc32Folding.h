// The carry-less multiply kernel of the CRC-32: it folds whole 16-byte blocks
// together with PCLMULQDQ and leaves the last 16 bytes to the table code,
// which finishes the check value (Crc32.cpp). It is compiled for that
// instruction alone and runs only where the CPU reports it.
#pragma once

#include <cstddef>
#include <cstdint>

// The fewest blocks Crc32Fold takes: the loop keeps four blocks in flight.
constexpr std::size_t kCrc32FoldMinBlocks = 4;

// Whether this CPU has the instructions the kernel uses.
bool Crc32FoldingAvailable();

// Folds the register and blocks * 16 bytes (blocks >= kCrc32FoldMinBlocks)
// into 16 bytes whose check value from a zero register is the register
// after the data.
void Crc32Fold(std::uint32_t crc, const std::uint8_t* data, std::size_t blocks,
               std::uint8_t folded[16]);
