// The route-request channel with the real pathkeeper: requests per second
// through a running helper (each one written and flushed, so each waits for
// the helper to read it and handle it: a removal of a route that is in no
// table), and the time from the first request to a connected helper (pipe
// created, helper started, helper's start-up announcement sent, helper
// connected).
//
// The helper broadcasts on every interface and needs root, so the benchmark
// runs only inside a private network namespace as root:
//   unshare --net --fork sh -c 'ip link set lo up && ZEQ_IN_NETNS=1
//   build/linux-release/bench/route_channel_bench'
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "RouteRequestChannel.h"

namespace {

constexpr std::uint32_t kMissing = 0x0909090Au;  // 10.9.9.9

void BM_RequestThroughRunningHelper(benchmark::State& state) {
  RouteRequestChannel channel;
  if (channel.EnsureHelper() != 1) {
    state.SkipWithError("the helper did not start");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(channel.RemoveHostRoute(kMissing, kHostRouteMask));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestThroughRunningHelper)->UseRealTime();

// The destructor (pipe closed, helper ending) is left out of the timing.
void BM_FirstRequestToConnectedHelper(benchmark::State& state) {
  for (auto _ : state) {
    auto channel = std::make_unique<RouteRequestChannel>();
    const int connected = channel->EnsureHelper();
    state.PauseTiming();
    channel.reset();
    state.ResumeTiming();
    if (connected != 1) {
      state.SkipWithError("the helper did not start");
      return;
    }
  }
}
BENCHMARK(BM_FirstRequestToConnectedHelper)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const char* inNamespace = std::getenv("ZEQ_IN_NETNS");
  if (inNamespace == nullptr || std::strcmp(inNamespace, "1") != 0) {
    std::fprintf(stderr, "route_channel_bench: run it inside a private network namespace\n");
    return 1;
  }
  // The channel finds the helper in the current directory.
  std::filesystem::current_path(std::filesystem::path(ZEQ_PATHKEEPER).parent_path());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
