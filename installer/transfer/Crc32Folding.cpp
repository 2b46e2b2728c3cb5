// Folding with carry-less multiplication. Four 128-bit lanes run through the
// data 64 bytes apart, so four independent multiply chains keep the
// multiplier busy; at the end the lanes fold into one. Each fold multiplies
// the two 64-bit halves of a lane by x to the power of the distance it moves
// (modulo the polynomial) and adds the lane that far ahead; the result has
// the same check value as the bytes it replaces. The remainder of those last
// 16 bytes is left to the table code, which is cheaper and simpler than a
// Barrett reduction here.
//
// The functions that use the instructions carry a target attribute instead
// of the whole build being compiled for them, so that the program still runs
// on a CPU without them; Crc32.cpp calls in only after checking the CPU.
#include "transfer/Crc32Folding.h"

#include <immintrin.h>

#include "transfer/Crc32.h"

namespace {

// x^bits modulo the polynomial in the reflected form of the table code (bit
// 31 is x^0), shifted left by one bit: the carry-less product of two
// reflected numbers comes out one bit off, and the shift cancels that.
constexpr std::uint64_t FoldConstant(int bits) {
  std::uint32_t power = 0x80000000u;
  for (int i = 0; i < bits; ++i) {
    power = (power & 1u) != 0 ? (power >> 1) ^ kCrc32Polynomial : power >> 1;
  }
  return static_cast<std::uint64_t>(power) << 1;
}

// The pair for moving a lane forward over the given number of bits. The two
// halves of a lane lie 64 bits apart: the low half (the earlier bytes) takes
// the power 32 above the distance, the high half the power 32 below it.
struct FoldPair {
  std::uint64_t low;
  std::uint64_t high;
};

constexpr FoldPair Pair(int bits) { return {FoldConstant(bits + 32), FoldConstant(bits - 32)}; }

constexpr FoldPair kOver512 = Pair(512);
constexpr FoldPair kOver128 = Pair(128);

__attribute__((target("pclmul"))) inline __m128i Load(const FoldPair& pair) {
  return _mm_set_epi64x(static_cast<long long>(pair.high), static_cast<long long>(pair.low));
}

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i lane, __m128i pair, __m128i ahead) {
  const __m128i low = _mm_clmulepi64_si128(lane, pair, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, pair, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), ahead);
}

}  // namespace

bool Crc32FoldingAvailable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") != 0;
}

__attribute__((target("pclmul"))) void Crc32Fold(std::uint32_t crc, const std::uint8_t* data,
                                                 std::size_t blocks, std::uint8_t folded[16]) {
  const auto* in = reinterpret_cast<const __m128i*>(data);
  // The register goes into the first four bytes, as the table code would
  // mix it into them.
  __m128i lane0 = _mm_xor_si128(_mm_loadu_si128(in), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i lane1 = _mm_loadu_si128(in + 1);
  __m128i lane2 = _mm_loadu_si128(in + 2);
  __m128i lane3 = _mm_loadu_si128(in + 3);
  in += 4;
  blocks -= 4;
  const __m128i over512 = Load(kOver512);
  for (; blocks >= 4; blocks -= 4, in += 4) {
    lane0 = Fold(lane0, over512, _mm_loadu_si128(in));
    lane1 = Fold(lane1, over512, _mm_loadu_si128(in + 1));
    lane2 = Fold(lane2, over512, _mm_loadu_si128(in + 2));
    lane3 = Fold(lane3, over512, _mm_loadu_si128(in + 3));
  }
  const __m128i over128 = Load(kOver128);
  __m128i lane = Fold(lane0, over128, lane1);
  lane = Fold(lane, over128, lane2);
  lane = Fold(lane, over128, lane3);
  for (; blocks > 0; --blocks, ++in) lane = Fold(lane, over128, _mm_loadu_si128(in));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(folded), lane);
}
