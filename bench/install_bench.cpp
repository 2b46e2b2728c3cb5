// A whole install run on loopback: 100 simulated units, each getting a
// 16 MiB release through its own install job (ping, login, copy, install
// script), timed from the job starter to the last job's end. Beside it, in
// the same run, the same total bytes (100 x 16 MiB) copied over one plain TCP
// connection, so the ratio shows what a hundred parallel jobs cost on top of
// moving the bytes. The install run also reports the peak number of threads
// and the peak resident memory of this process while the jobs ran.
//
// Needs a unitsim with 100 units from 127.0.0.2 storing under
// $ZEQ_BENCH_ROOT: bench/install_bench.sh starts one inside a private
// network namespace.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "install/InstallJob.h"
#include "platform/Sockets.h"
#include "transfer/PackageManifest.h"
#include "units/unit_table.h"

namespace {

constexpr int kUnits = 100;
constexpr std::size_t kRelease = 16u << 20;
constexpr unsigned kRunLimitMs = 20 * 60 * 1000;

std::uint32_t Address(const std::string& text) {
  std::uint32_t address = 0;
  platform::ParseAddress(text.c_str(), &address);
  return address;
}

std::string UnitAddress(int index) { return "127.0.0." + std::to_string(index + 2); }

std::string BenchRoot() {
  const char* root = std::getenv("ZEQ_BENCH_ROOT");
  return root ? root : "";
}

PackageManifest ReleaseManifest(const std::string& root) {
  const std::string path = root + "/release.bin";
  if (!std::filesystem::exists(path)) {
    std::string bytes(kRelease, '\0');
    for (std::size_t i = 0; i < kRelease; ++i) bytes[i] = static_cast<char>(i * 31 + i / 4099);
    std::ofstream(path, std::ios::binary) << bytes;
  }
  PackageManifest manifest;
  manifest.entries.push_back(ManifestEntry{std::u16string(path.begin(), path.end()),
                                           "/opt/tarvo/release.bin",
                                           static_cast<std::uint32_t>(kRelease)});
  manifest.totalSize = static_cast<std::uint32_t>(kRelease);
  manifest.autoInstall = 1;
  manifest.installScript = kDefaultInstallScript;
  return manifest;
}

// Gives every unit its install script and takes away the last run's files.
void PrepareUnits(const std::string& root) {
  for (int i = 0; i < kUnits; ++i) {
    const std::filesystem::path unit = std::filesystem::path(root) / "files" / UnitAddress(i);
    std::filesystem::remove_all(unit);
    std::filesystem::create_directories(unit / "rsa");
    std::ofstream(unit / "rsa" / "install.script", std::ios::binary) << "#!/bin/sh\n";
  }
}

int CountSucceeded(unit_table& table) {
  int succeeded = 0;
  table.Lock();
  for (std::size_t i = 0; i < table.getCount(); ++i) {
    succeeded += table.getAddressUnit(i)->statusText == "Success";
  }
  table.Unlock();
  return succeeded;
}

void BM_Install100Units16MiB(benchmark::State& state) {
  const std::string root = BenchRoot();
  if (root.empty()) return state.SkipWithError("no ZEQ_BENCH_ROOT (run bench/install_bench.sh)");
  const PackageManifest manifest = ReleaseManifest(root);
  long long threads = 0;
  long long resident = 0;
  for (auto _ : state) {
    state.PauseTiming();
    PrepareUnits(root);
    auto table = std::make_unique<unit_table>();
    for (int i = 0; i < kUnits; ++i) {
      table->AddOrUpdateUnit(0, Address("127.0.0.1"), Address(UnitAddress(i)), nullptr, 0, "???",
                             "???");
    }
    const InstallContext context{table.get(), &manifest};
    state.ResumeTiming();
    bench::PeakSampler sampler;
    StartInstallJobs(context);
    const bool ended = table->WaitForJobs(kRunLimitMs);
    sampler.Stop();
    state.PauseTiming();
    threads = std::max(threads, sampler.threads());
    resident = std::max(resident, sampler.residentKiB());
    const int succeeded = CountSucceeded(*table);
    table.reset();
    state.ResumeTiming();
    if (!ended || succeeded != kUnits) {
      return state.SkipWithError(
          ("only " + std::to_string(succeeded) + " units succeeded").c_str());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kUnits * kRelease);
  state.counters["peak_threads"] = static_cast<double>(threads);
  state.counters["peak_rss_MiB"] = static_cast<double>(resident) / 1024.0;
}

// Reads and discards everything one connection sends, then closes it.
void Sink(platform::SocketHandle listener) {
  platform::SocketAddressIn from{};
  const platform::SocketHandle socket = platform::Accept(listener, &from);
  std::vector<char> buffer(1 << 20);
  while (platform::Recv(socket, buffer.data(), static_cast<int>(buffer.size())) > 0) {
  }
  platform::CloseSocket(socket);
}

void BM_PlainTcpCopySameBytes(benchmark::State& state) {
  const std::vector<char> piece(64 * 1024, 'x');
  const std::uint64_t total = std::uint64_t{kUnits} * kRelease;
  for (auto _ : state) {
    const platform::SocketHandle listener = platform::OpenTcpSocket();
    platform::Bind(listener, Address("127.0.0.1"), 0);
    platform::Listen(listener, 1);
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    platform::GetLocalAddress(listener, &address, &port);
    std::thread sink(Sink, listener);
    const platform::SocketHandle socket = platform::OpenTcpSocket();
    platform::Connect(socket, address, port);
    for (std::uint64_t sent = 0; sent < total; sent += piece.size()) {
      if (platform::Send(socket, piece.data(), static_cast<int>(piece.size())) <= 0) break;
    }
    platform::ShutdownSocket(socket);
    char byte;
    platform::Recv(socket, &byte, 1);
    platform::CloseSocket(socket);
    sink.join();
    platform::CloseSocket(listener);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}

}  // namespace

BENCHMARK(BM_PlainTcpCopySameBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Install100Units16MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
