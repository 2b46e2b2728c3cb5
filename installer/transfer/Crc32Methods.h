// The methods behind Crc32Update, named so that the tests can hold each one
// to the byte table (which stays the reference) and the benchmark can time
// each one, whichever this CPU would choose. Ordinary callers use Crc32.h.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Crc32Method {
  kByteTable,          // one 256-entry table, a byte at a time
  kSlicing,            // sixteen tables, sixteen bytes at a time
  kCarrylessMultiply,  // PCLMULQDQ folding, 64 bytes at a time
  // VPCLMULQDQ folding on 512-bit registers, 256 bytes at a time (shorter
  // runs as kCarrylessMultiply)
  kWideCarrylessMultiply,
};

// Whether this CPU can run the method.
bool Crc32MethodSupported(Crc32Method method);

// The method Crc32Update runs on this CPU.
Crc32Method Crc32BestMethod();

// Crc32Update by the given method. A method the CPU lacks runs as the
// slicing one, so that forcing a method can never fault.
std::uint32_t Crc32UpdateBy(Crc32Method method, std::uint32_t crc, const void* data,
                            std::size_t size);
