// Discovery at scale on loopback: 1,000 simulated units answer.
//
// Record query: one query broadcast, the replies received as the controller
// receives them (a UDPReceiver on port 55330 whose 3-worker pool enters each
// reply into the device table), timed from the query to the thousandth unit
// in the table. Probe: one probe run to the 1,000 addresses of a list file,
// the answers received by the installer's device-link interface on the main
// loop, timed from the probe to the thousandth unit in the table. Each run
// enters into a table of its own, so every unit is new; the counters say how
// many units arrived and how many were lost.
//
// Needs a unitsim with 1,000 units from 127.0.0.2: bench/discovery_bench.sh
// starts one inside a private network namespace.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DiscoveryEntry.h"
#include "IUDPReceiver.h"
#include "MyTarvoInterface.h"
#include "RecordQuery.h"
#include "UDPReceiver.h"
#include "UDPSender.h"
#include "iThreadPool.h"
#include "platform/MainLoop.h"
#include "platform/Sockets.h"
#include "transfer/EchoPinger.h"
#include "transfer/RouteRequestChannel.h"
#include "units/unit_table.h"

namespace {

constexpr int kUnits = 1000;
constexpr auto kRunLimit = std::chrono::seconds(20);

using Clock = std::chrono::steady_clock;

// The table's services, shared by every run's table.
struct Services {
  RouteRequestChannel channel;
  EchoPinger pinger;
};

std::size_t Count(unit_table& table) {
  table.Lock();
  const std::size_t count = table.getCount();
  table.Unlock();
  return count;
}

// The controller's receiver callback: enters each reply and wakes the
// waiter once the table is full.
class ReplySink : public ZEQ::IUDPReceiver {
 public:
  explicit ReplySink(unit_table* table) : table_(table) {}
  void PacketReceived(const void* data, int size, const platform::SocketAddressIn*) override {
    if (discovery::EnterDiscoveryReply(*table_, data, size) != 1) return;
    if (++entered_ == kUnits) {
      std::lock_guard<std::mutex> hold(mutex_);
      full_.notify_all();
    }
  }
  // True when all units were entered in time.
  bool WaitFull() {
    std::unique_lock<std::mutex> hold(mutex_);
    return full_.wait_for(hold, kRunLimit, [this] { return entered_.load() >= kUnits; });
  }

 private:
  unit_table* table_;
  std::atomic<int> entered_{0};
  std::mutex mutex_;
  std::condition_variable full_;
};

void Report(benchmark::State& state, std::size_t units) {
  state.counters["units"] = static_cast<double>(units);
  state.counters["lost"] = static_cast<double>(kUnits - static_cast<int>(units));
}

void BM_RecordQuery1000Units(benchmark::State& state) {
  Services services;
  ZEQ::ThreadPool pool;
  pool.SetWorkerThreadCount(3);
  pool.Start();
  ZEQ::UDPSender sender(discovery::kRecordPort, false);
  std::size_t units = 0;
  for (auto _ : state) {
    // A table and receiver per run: every unit is new again, and replies
    // still on their way from an earlier run cannot reach this one's table.
    unit_table table(&services.channel, &services.pinger);
    ReplySink sink(&table);
    ZEQ::UDPReceiver receiver(discovery::kRecordPort, &sink, &pool);
    const Clock::time_point start = Clock::now();
    discovery::SendRecordQuery(&sender);
    const bool full = sink.WaitFull();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    receiver.Stop();
    units = Count(table);
    if (!full) state.SkipWithError(("only " + std::to_string(units) + " units entered").c_str());
  }
  pool.Stop();
  Report(state, units);
}
BENCHMARK(BM_RecordQuery1000Units)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

void WriteAddressList() {
  std::ofstream list("tarvo_ip_list.txt");
  for (int i = 0; i < kUnits; ++i) {
    const int host = i + 2;
    list << "127.0." << host / 256 << '.' << host % 256 << '\n';
  }
}

void BM_Probe1000Units(benchmark::State& state) {
  Services services;
  WriteAddressList();
  std::size_t units = 0;
  for (auto _ : state) {
    platform::MainLoop loop;
    unit_table table(&services.channel, &services.pinger);
    discovery::MyTarvoInterface link(loop, table, [&] {
      if (Count(table) == kUnits) loop.Quit(0);
    });
    const int guard =
        loop.AddTimer(static_cast<unsigned>(kRunLimit.count() * 1000), [&] { loop.Quit(1); });
    const Clock::time_point start = Clock::now();
    link.SendProbe();
    const bool full = loop.Run() == 0;
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    loop.KillTimer(guard);
    units = Count(table);
    if (!full) state.SkipWithError(("only " + std::to_string(units) + " units entered").c_str());
  }
  Report(state, units);
}
BENCHMARK(BM_Probe1000Units)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  platform::StartSockets(2, 2);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  platform::CleanupSockets();
  return 0;
}
