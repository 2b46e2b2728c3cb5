// Folding with carry-less multiplication. Four 128-bit lanes run through the
// data 64 bytes apart, so four independent multiply chains keep the
// multiplier busy; at the end the lanes fold into one. Each fold multiplies
// the two 64-bit halves of a lane by x to the power of the distance it moves
// (modulo the polynomial) and adds the lane that far ahead; the result has
// the same check value as the bytes it replaces. The remainder of those last
// 16 bytes is left to the table code, which is cheaper and simpler than a
// Barrett reduction here.
//
// The wide kernel does the same with 512-bit registers, each holding four
// 128-bit lanes: sixteen lanes in four registers, 256 bytes apart.
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

constexpr FoldPair kOver2048 = Pair(2048);
constexpr FoldPair kOver512 = Pair(512);
constexpr FoldPair kOver128 = Pair(128);

#define ZEQ_WIDE_TARGET __attribute__((target("pclmul,avx512f,vpclmulqdq")))

__attribute__((target("pclmul"))) inline __m128i Load(const FoldPair& pair) {
  return _mm_set_epi64x(static_cast<long long>(pair.high), static_cast<long long>(pair.low));
}

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i lane, __m128i pair, __m128i ahead) {
  const __m128i low = _mm_clmulepi64_si128(lane, pair, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, pair, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), ahead);
}

// Built from scalars: GCC 12 warns about the broadcast, extract and widen
// intrinsics, whose "undefined" operands it takes for uninitialised values.
ZEQ_WIDE_TARGET inline __m512i LoadWide(const FoldPair& pair) {
  const auto low = static_cast<long long>(pair.low);
  const auto high = static_cast<long long>(pair.high);
  return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

ZEQ_WIDE_TARGET inline __m512i FoldWide(__m512i lanes, __m512i pair, __m512i ahead) {
  const __m512i low = _mm512_clmulepi64_epi128(lanes, pair, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(lanes, pair, 0x11);
  return _mm512_xor_si512(_mm512_xor_si512(low, high), ahead);
}

// Folds the blocks after the wide part into the running lane.
__attribute__((target("pclmul"))) void FoldRest(__m128i lane, const __m128i* in,
                                                std::size_t blocks, std::uint8_t folded[16]) {
  const __m128i over128 = Load(kOver128);
  for (; blocks > 0; --blocks, ++in) lane = Fold(lane, over128, _mm_loadu_si128(in));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(folded), lane);
}

}  // namespace

bool Crc32WideFoldingAvailable() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") != 0 && __builtin_cpu_supports("avx512f") != 0 &&
         __builtin_cpu_supports("vpclmulqdq") != 0;
}

ZEQ_WIDE_TARGET void Crc32FoldWide(std::uint32_t crc, const std::uint8_t* data,
                                   std::size_t blocks, std::uint8_t folded[16]) {
  const auto* in = reinterpret_cast<const __m512i*>(data);
  __m512i lanes0 =
      _mm512_xor_si512(_mm512_loadu_si512(in), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, crc));
  __m512i lanes1 = _mm512_loadu_si512(in + 1);
  __m512i lanes2 = _mm512_loadu_si512(in + 2);
  __m512i lanes3 = _mm512_loadu_si512(in + 3);
  in += 4;
  blocks -= 16;
  const __m512i over2048 = LoadWide(kOver2048);
  for (; blocks >= 16; blocks -= 16, in += 4) {
    lanes0 = FoldWide(lanes0, over2048, _mm512_loadu_si512(in));
    lanes1 = FoldWide(lanes1, over2048, _mm512_loadu_si512(in + 1));
    lanes2 = FoldWide(lanes2, over2048, _mm512_loadu_si512(in + 2));
    lanes3 = FoldWide(lanes3, over2048, _mm512_loadu_si512(in + 3));
  }
  const __m512i over512 = LoadWide(kOver512);
  __m512i lanes = FoldWide(lanes0, over512, lanes1);
  lanes = FoldWide(lanes, over512, lanes2);
  lanes = FoldWide(lanes, over512, lanes3);
  // The four lanes left are four consecutive blocks.
  alignas(64) __m128i four[4];
  _mm512_store_si512(four, lanes);
  const __m128i over128 = Load(kOver128);
  __m128i lane = Fold(four[0], over128, four[1]);
  lane = Fold(lane, over128, four[2]);
  lane = Fold(lane, over128, four[3]);
  FoldRest(lane, reinterpret_cast<const __m128i*>(in), blocks, folded);
}

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
  FoldRest(lane, in, blocks, folded);
}
