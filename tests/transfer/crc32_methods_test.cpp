// Every CRC-32 method, each forced on in turn, against the byte table: random
// bytes of every short length at every alignment, long runs, arbitrary start
// registers and arbitrary splits into calls. The byte table itself is pinned
// by values from an independent CRC-32. A method this CPU lacks is skipped
// (and reported so); the fallbacks run everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "transfer/Crc32.h"
#include "transfer/Crc32Methods.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t size, std::mt19937& random) {
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

std::string MethodName(Crc32Method method) {
  switch (method) {
    case Crc32Method::kByteTable: return "ByteTable";
    case Crc32Method::kSlicing: return "Slicing";
    case Crc32Method::kCarrylessMultiply: return "CarrylessMultiply";
    case Crc32Method::kWideCarrylessMultiply: return "WideCarrylessMultiply";
  }
  return "Unknown";
}

std::uint32_t Reference(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  return Crc32UpdateBy(Crc32Method::kByteTable, crc, data, size);
}

class Crc32MethodTest : public ::testing::TestWithParam<Crc32Method> {
 protected:
  void SetUp() override {
    if (!Crc32MethodSupported(GetParam())) GTEST_SKIP() << "this CPU lacks the method";
  }

  std::uint32_t Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) const {
    return Crc32UpdateBy(GetParam(), crc, data, size);
  }

  std::mt19937 random_{20261207};
};

TEST_P(Crc32MethodTest, KnownValues) {
  const auto* abc = reinterpret_cast<const std::uint8_t*>("abc123456789");
  EXPECT_EQ(Update(kCrc32Start, abc, 3), 0xCADBBE3Du);
  EXPECT_EQ(Update(kCrc32Start, abc + 3, 9), ~0xCBF43926u);
  EXPECT_EQ(Update(kCrc32Start, abc, 0), kCrc32Start);
  Bytes pattern(100000);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 131);
  EXPECT_EQ(Update(kCrc32Start, pattern.data(), pattern.size()), 0xB1AEE215u);
  const Bytes zeros(4096, 0);
  EXPECT_EQ(Update(kCrc32Start, zeros.data(), zeros.size()), 0x38E3FFEEu);
}

// Lengths 0 to 1100 cross every boundary of the wide loops (16, 64, 256 and
// 512 bytes and the tails after them); the start register varies so that its
// mixing into the first bytes is checked too.
TEST_P(Crc32MethodTest, EveryShortLengthAtEveryAlignment) {
  const Bytes data = RandomBytes(1100 + 16, random_);
  for (std::size_t align = 0; align < 16; ++align) {
    for (std::size_t size = 0; size <= 1100; ++size) {
      const std::uint32_t start =
          size % 2 == 0 ? kCrc32Start : static_cast<std::uint32_t>(random_());
      const std::uint8_t* at = data.data() + align;
      ASSERT_EQ(Update(start, at, size), Reference(start, at, size))
          << "length " << size << ", alignment " << align << ", start " << start;
    }
  }
}

TEST_P(Crc32MethodTest, LongRuns) {
  for (const std::size_t size : {4096u, 65536u + 13u, 1048576u + 61u}) {
    const Bytes data = RandomBytes(size + 1, random_);
    for (std::size_t align = 0; align < 2; ++align) {
      const std::uint32_t start = static_cast<std::uint32_t>(random_());
      EXPECT_EQ(Update(start, data.data() + align, size),
                Reference(start, data.data() + align, size))
          << "length " << size << ", alignment " << align;
    }
  }
}

TEST_P(Crc32MethodTest, AnySplitGivesTheWholeRegister) {
  const Bytes data = RandomBytes(5000, random_);
  const std::uint32_t whole = Reference(kCrc32Start, data.data(), data.size());
  // Every split of a short prefix into two calls.
  for (std::size_t cut = 0; cut <= 300; ++cut) {
    const std::uint32_t first = Update(kCrc32Start, data.data(), cut);
    ASSERT_EQ(Update(first, data.data() + cut, 300 - cut), Reference(kCrc32Start, data.data(), 300))
        << "cut at " << cut;
  }
  // Random splits of the whole into up to twelve calls, empty ones included.
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<std::size_t> cuts = {0, data.size()};
    const int count = static_cast<int>(random_() % 12);
    for (int i = 0; i < count; ++i) cuts.push_back(random_() % (data.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    std::uint32_t crc = kCrc32Start;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
      crc = Update(crc, data.data() + cuts[i], cuts[i + 1] - cuts[i]);
    }
    ASSERT_EQ(crc, whole) << "trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(AllMethods, Crc32MethodTest,
                         ::testing::Values(Crc32Method::kByteTable, Crc32Method::kSlicing,
                                           Crc32Method::kCarrylessMultiply,
                                           Crc32Method::kWideCarrylessMultiply),
                         [](const ::testing::TestParamInfo<Crc32Method>& info) {
                           return MethodName(info.param);
                         });

// The register is the same whatever method produced it, so a file's check
// value may be carried between calls that take different methods.
TEST(Crc32MethodsTest, MethodsShareTheRegister) {
  std::mt19937 random(7);
  const Bytes data = RandomBytes(3000, random);
  const Crc32Method methods[] = {Crc32Method::kWideCarrylessMultiply,
                                 Crc32Method::kCarrylessMultiply, Crc32Method::kByteTable,
                                 Crc32Method::kSlicing};
  std::uint32_t crc = kCrc32Start;
  for (std::size_t at = 0, turn = 0; at < data.size(); at += 700, ++turn) {
    const std::size_t size = std::min<std::size_t>(700, data.size() - at);
    crc = Crc32UpdateBy(methods[turn % 4], crc, data.data() + at, size);
  }
  EXPECT_EQ(crc, Reference(kCrc32Start, data.data(), data.size()));
  EXPECT_EQ(Crc32(data.data(), data.size()), crc);
}

}  // namespace

// Names the method in the test list and in failure messages.
void PrintTo(Crc32Method method, std::ostream* out) { *out << MethodName(method); }
