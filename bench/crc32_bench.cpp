// Throughput of the file protocol's CRC-32 (one 256-entry table, a byte at a
// time): over one 1500-byte piece, as the transfer feeds it, and over 64 KiB.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "transfer/Crc32.h"

namespace {

void BM_Crc32(benchmark::State& state) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131);
  std::uint32_t crc = kCrc32Start;
  for (auto _ : state) {
    crc = Crc32Update(crc, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(1500)->Arg(64 * 1024);

}  // namespace
