// Throughput of the file protocol's CRC-32, each method beside zlib's crc32
// on the same buffers in the same run: one 1500-byte piece, as the transfer
// feeds it, 64 KiB and 1 MiB. zlib computes the same register with its
// inversions around it, so the work is identical. After the table the
// program prints each method's speed as a share of zlib's at each size (the
// best of the repetitions on both sides when --benchmark_repetitions is set).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "transfer/Crc32.h"
#include "transfer/Crc32Methods.h"

namespace {

std::vector<std::uint8_t> Buffer(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131);
  return data;
}

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Method(benchmark::State& state, Crc32Method method) {
  if (!Crc32MethodSupported(method)) {
    state.SkipWithError("this CPU lacks the method");
    return;
  }
  const std::vector<std::uint8_t> data = Buffer(static_cast<std::size_t>(state.range(0)));
  std::uint32_t crc = kCrc32Start;
  for (auto _ : state) {
    crc = Crc32UpdateBy(method, crc, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  Finish(state);
}

// The entry point the transfer calls, with the method chosen for this CPU.
void BM_Crc32Update(benchmark::State& state) {
  const std::vector<std::uint8_t> data = Buffer(static_cast<std::size_t>(state.range(0)));
  std::uint32_t crc = kCrc32Start;
  for (auto _ : state) {
    crc = Crc32Update(crc, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  Finish(state);
}

void BM_Zlib(benchmark::State& state) {
  const std::vector<std::uint8_t> data = Buffer(static_cast<std::size_t>(state.range(0)));
  uLong crc = crc32(0, nullptr, 0);
  for (auto _ : state) {
    crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    benchmark::DoNotOptimize(crc);
  }
  Finish(state);
}

void Sizes(benchmark::internal::Benchmark* bench) { bench->Arg(1500)->Arg(64 << 10)->Arg(1 << 20); }

BENCHMARK_CAPTURE(BM_Method, ByteTable, Crc32Method::kByteTable)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Method, Slicing, Crc32Method::kSlicing)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Method, CarrylessMultiply, Crc32Method::kCarrylessMultiply)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Method, WideCarrylessMultiply, Crc32Method::kWideCarrylessMultiply)
    ->Apply(Sizes);
BENCHMARK(BM_Crc32Update)->Apply(Sizes);
BENCHMARK(BM_Zlib)->Apply(Sizes);

// The console table, and each run's bytes per second kept by name and size
// for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto rate = run.counters.find("bytes_per_second");
      if (run.error_occurred || run.run_type != Run::RT_Iteration || rate == run.counters.end()) {
        continue;
      }
      const std::string name = run.benchmark_name();
      const std::size_t slash = name.rfind('/');
      double& best = rates_[std::stoul(name.substr(slash + 1))][name.substr(0, slash)];
      if (rate->second.value > best) best = rate->second.value;
    }
  }

  void PrintRatios() const {
    for (const auto& [size, methods] : rates_) {
      const auto zlib = methods.find("BM_Zlib");
      if (zlib == methods.end()) continue;
      std::printf("\n%lu bytes: zlib crc32 %.2f GB/s\n", size, zlib->second / 1e9);
      for (const auto& [method, rate] : methods) {
        if (method == "BM_Zlib") continue;
        std::printf("  %-32s %6.2f GB/s  %5.2f x zlib\n", method.c_str(), rate / 1e9,
                    rate / zlib->second);
      }
    }
  }

 private:
  std::map<unsigned long, std::map<std::string, double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
