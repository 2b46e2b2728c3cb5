// The carry-less multiply kernels of the CRC-32: they fold whole 16-byte
// blocks together with PCLMULQDQ (or VPCLMULQDQ on 512-bit registers) and
// leave the last 16 bytes to the table code, which finishes the check value
// (Crc32.cpp). Each is compiled for its instructions alone and runs only
// where the CPU reports them.
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

// The same with four 512-bit registers, each four lanes wide: 256 bytes a
// turn, so it needs at least that much.
constexpr std::size_t kCrc32WideFoldMinBlocks = 16;

// Whether this CPU (and its system, which must save the 512-bit registers)
// has what the wide kernel uses.
bool Crc32WideFoldingAvailable();

// Crc32Fold for blocks >= kCrc32WideFoldMinBlocks.
void Crc32FoldWide(std::uint32_t crc, const std::uint8_t* data, std::size_t blocks,
                   std::uint8_t folded[16]);
