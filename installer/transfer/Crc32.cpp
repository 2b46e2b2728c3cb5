// The CRC-32 methods and the choice between them. The byte table is the
// definition; slicing by sixteen extends it to sixteen tables, so that sixteen
// bytes cost sixteen independent look-ups instead of a chain of sixteen
// dependent ones; the carry-less multiply kernels (Crc32Folding.cpp) fold
// long runs and hand their last 16 bytes back to the slicing code.
//
// The tables are one process-wide object that is only read once built. They
// are built by constant initialisation (the part of static initialisation the
// compiler does before any code runs), so they are complete before the first
// thread exists and before any other static object's constructor could use
// them. The CPU check runs once, on first use, behind a function-local static.
#include "transfer/Crc32.h"

#include <array>

#include "transfer/Crc32Folding.h"
#include "transfer/Crc32Methods.h"

namespace {

constexpr std::size_t kSlices = 16;
using Tables = std::array<std::array<std::uint32_t, 256>, kSlices>;

// tables[0] is the byte table; tables[k][i] is the register after byte i
// followed by k zero bytes, which is what byte i contributes k bytes early.
constexpr Tables BuildTables() {
  Tables tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t entry = i;
    for (int bit = 0; bit < 8; ++bit) {
      entry = (entry & 1u) != 0 ? (entry >> 1) ^ kCrc32Polynomial : entry >> 1;
    }
    tables[0][i] = entry;
  }
  for (std::size_t k = 1; k < kSlices; ++k) {
    for (std::size_t i = 0; i < 256; ++i) {
      const std::uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous >> 8) ^ tables[0][previous & 0xFFu];
    }
  }
  return tables;
}

constinit const Tables kTables = BuildTables();

std::uint32_t UpdateByteTable(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kTables[0][(crc ^ bytes[i]) & 0xFFu];
  return crc;
}

// The register mixes into the first four bytes of each slice; every byte's
// contribution is then looked up by its distance from the slice's end.
std::uint32_t UpdateSlicing(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size) {
  for (; size >= kSlices; size -= kSlices, bytes += kSlices) {
    std::uint32_t next = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      next ^= kTables[kSlices - 1 - i][(bytes[i] ^ (crc >> (8 * i))) & 0xFFu];
    }
    for (std::size_t i = 4; i < kSlices; ++i) next ^= kTables[kSlices - 1 - i][bytes[i]];
    crc = next;
  }
  return UpdateByteTable(crc, bytes, size);
}

using FoldKernel = void (*)(std::uint32_t, const std::uint8_t*, std::size_t, std::uint8_t*);

std::uint32_t UpdateFolding(FoldKernel kernel, std::size_t minBlocks, std::uint32_t crc,
                            const std::uint8_t* bytes, std::size_t size) {
  const std::size_t blocks = size / 16;
  if (blocks < minBlocks) return UpdateSlicing(crc, bytes, size);
  std::uint8_t folded[16];
  kernel(crc, bytes, blocks, folded);
  crc = UpdateSlicing(0, folded, sizeof folded);
  return UpdateSlicing(crc, bytes + blocks * 16, size - blocks * 16);
}

}  // namespace

bool Crc32MethodSupported(Crc32Method method) {
  static const bool folding = Crc32FoldingAvailable();
  static const bool wideFolding = Crc32WideFoldingAvailable();
  switch (method) {
    case Crc32Method::kCarrylessMultiply: return folding;
    case Crc32Method::kWideCarrylessMultiply: return wideFolding;
    default: return true;
  }
}

Crc32Method Crc32BestMethod() {
  for (const Crc32Method method :
       {Crc32Method::kWideCarrylessMultiply, Crc32Method::kCarrylessMultiply}) {
    if (Crc32MethodSupported(method)) return method;
  }
  return Crc32Method::kSlicing;
}

std::uint32_t Crc32UpdateBy(Crc32Method method, std::uint32_t crc, const void* data,
                            std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  switch (method) {
    case Crc32Method::kByteTable: return UpdateByteTable(crc, bytes, size);
    case Crc32Method::kCarrylessMultiply:
      if (!Crc32MethodSupported(method)) break;
      return UpdateFolding(Crc32Fold, kCrc32FoldMinBlocks, crc, bytes, size);
    case Crc32Method::kWideCarrylessMultiply:
      if (!Crc32MethodSupported(method)) break;
      // Runs too short for the wide kernel still fold, 64 bytes at a time.
      if (size / 16 < kCrc32WideFoldMinBlocks) {
        return UpdateFolding(Crc32Fold, kCrc32FoldMinBlocks, crc, bytes, size);
      }
      return UpdateFolding(Crc32FoldWide, kCrc32WideFoldMinBlocks, crc, bytes, size);
    case Crc32Method::kSlicing: break;
  }
  return UpdateSlicing(crc, bytes, size);
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
  return Crc32UpdateBy(Crc32BestMethod(), crc, data, size);
}
