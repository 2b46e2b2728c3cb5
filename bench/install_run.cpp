// One measured step of the whole-install benchmarks (bench/install_scale.sh
// runs them side by side and prints the table). Each mode prints one line of
// name=value figures on standard output:
//
//   install UNITS FIRST FROM ROOT FILES BYTES [CANCEL_MS]
//     the real install job on UNITS simulated units at FIRST and the
//     addresses after it (reached from FROM), with a release of BYTES in
//     FILES files written under ROOT/release; the units store under
//     ROOT/files. Wall time from the job starter to the last job's end, the
//     process's CPU, peak threads and resident memory, units ending
//     "Success". With CANCEL_MS every unit is cancelled that long after the
//     start (the stop sequence) and the figure is the time from the cancel
//     to the last job's end, against the table's bounded exit wait.
//   idle UNITS FIRST FROM SECONDS
//     jobs on units that never prompt: the time from the job starter to the
//     last "Connecting", then CPU and resident memory over SECONDS of
//     waiting, then the time the cancel of all takes.
//   copy ADDRESS PORT BYTES
//     the plain TCP copy: BYTES in 64 KiB sends to a sink, until it closed.
//   sink PORT
//     the copy's receiving end: reads one connection to its end.
//
// The route channel is a stand-in that does nothing (InstallBenchSupport.h).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "InstallBenchSupport.h"
#include "install/InstallJob.h"
#include "transfer/PackageManifest.h"
#include "units/unit_table.h"

namespace {

using bench::CountStatus;
using bench::FillTable;
using bench::NoRoutes;
using bench::SecondsSince;
using Clock = std::chrono::steady_clock;

constexpr unsigned kRunLimitMs = 60 * 60 * 1000;

// Cancels every unit (the stop sequence) and returns how long the jobs took
// to end, or -1 when they outlasted the table's exit wait.
double CancelAndTimeEnd(unit_table& table) {
  const Clock::time_point cancelled = Clock::now();
  table.CancelAll();
  const bool ended = table.WaitForJobs(unit_table::kJobExitWaitMs);
  return ended ? SecondsSince(cancelled) : -1.0;
}

int RunInstall(int argc, char** argv) {
  if (argc < 8) return 2;
  const int units = std::atoi(argv[2]);
  const std::uint32_t first = bench::Address(argv[3]);
  const std::string root = argv[5];
  const int cancelMs = argc > 8 ? std::atoi(argv[8]) : -1;
  const PackageManifest manifest = bench::WriteRelease(root + "/release", std::atoi(argv[6]),
                                                       std::strtoull(argv[7], nullptr, 10));
  bench::PrepareUnits(root + "/files", first, units);
  NoRoutes routes;
  auto table = FillTable(routes, first, bench::Address(argv[4]), units);
  const InstallContext context{table.get(), &manifest};
  const double cpuStart = bench::ProcessCpuSeconds();
  const Clock::time_point start = Clock::now();
  bench::PeakSampler sampler;
  StartInstallJobs(context);
  double cancelEnd = 0;
  if (cancelMs >= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(cancelMs));
    cancelEnd = CancelAndTimeEnd(*table);
  }
  const bool ended = table->WaitForJobs(kRunLimitMs);
  const double wall = SecondsSince(start);
  sampler.Stop();
  std::printf("wall_s=%.3f cpu_s=%.3f peak_threads=%lld peak_rss_kib=%lld succeeded=%d ended=%d",
              wall, bench::ProcessCpuSeconds() - cpuStart, sampler.threads(), sampler.residentKiB(),
              CountStatus(*table, "Success"), ended ? 1 : 0);
  if (cancelMs >= 0) {
    std::printf(" cancel_end_s=%.3f final: %s", cancelEnd, bench::StatusSummary(*table).c_str());
  }
  std::printf("\n");
  return 0;
}

// Waits until every unit shows "Connecting" (or has gone past it); the time
// since start, or -1 after the limit.
double TimeToAllConnecting(unit_table& table, int units, Clock::time_point start) {
  while (SecondsSince(start) < 60) {
    if (CountStatus(table, "Connecting") == units) return SecondsSince(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return -1;
}

int RunIdle(int argc, char** argv) {
  if (argc < 6) return 2;
  const int units = std::atoi(argv[2]);
  const int seconds = std::atoi(argv[5]);
  const PackageManifest manifest;
  NoRoutes routes;
  auto table = FillTable(routes, bench::Address(argv[3]), bench::Address(argv[4]), units);
  const InstallContext context{table.get(), &manifest};
  const Clock::time_point start = Clock::now();
  StartInstallJobs(context);
  const double connecting = TimeToAllConnecting(*table, units, start);
  // Every job is in its wait for the login prompt once its session has
  // connected; a second is plenty for that on loopback.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double cpuStart = bench::ProcessCpuSeconds();
  const Clock::time_point idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double idleCpu = bench::ProcessCpuSeconds() - cpuStart;
  const double idleWall = SecondsSince(idleStart);
  const long long threads = bench::StatusValue("Threads:");
  const long long resident = bench::StatusValue("VmRSS:");
  const double cancelEnd = CancelAndTimeEnd(*table);
  std::printf(
      "to_last_connecting_s=%.3f idle_core_pct=%.3f threads=%lld rss_kib=%lld "
      "cancel_end_s=%.3f final: %s\n",
      connecting, 100.0 * idleCpu / idleWall, threads, resident, cancelEnd,
      bench::StatusSummary(*table).c_str());
  return 0;
}

int RunCopy(int argc, char** argv) {
  if (argc < 5) return 2;
  const std::uint64_t total = std::strtoull(argv[4], nullptr, 10);
  const std::vector<char> piece(64 * 1024, 'x');
  const double cpuStart = bench::ProcessCpuSeconds();
  const Clock::time_point start = Clock::now();
  const platform::SocketHandle socket = platform::OpenTcpSocket();
  if (platform::Connect(socket, bench::Address(argv[2]),
                        static_cast<std::uint16_t>(std::atoi(argv[3]))) != 0) {
    std::printf("error=connect\n");
    return 1;
  }
  for (std::uint64_t sent = 0; sent < total;) {
    const int count = static_cast<int>(std::min<std::uint64_t>(piece.size(), total - sent));
    const int done = platform::Send(socket, piece.data(), count);
    if (done <= 0) break;
    sent += static_cast<std::uint64_t>(done);
  }
  platform::ShutdownSocket(socket);
  char byte;
  platform::Recv(socket, &byte, 1);  // the sink's close: every byte has arrived
  platform::CloseSocket(socket);
  std::printf("wall_s=%.3f cpu_s=%.3f\n", SecondsSince(start),
              bench::ProcessCpuSeconds() - cpuStart);
  return 0;
}

int RunSink(int argc, char** argv) {
  if (argc < 3) return 2;
  const platform::SocketHandle listener = platform::OpenTcpSocket();
  if (platform::Bind(listener, 0, static_cast<std::uint16_t>(std::atoi(argv[2]))) != 0 ||
      platform::Listen(listener, 1) != 0) {
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const platform::SocketHandle socket = platform::Accept(listener, nullptr);
  std::vector<char> buffer(1 << 20);
  while (platform::Recv(socket, buffer.data(), static_cast<int>(buffer.size())) > 0) {
  }
  platform::CloseSocket(socket);
  platform::CloseSocket(listener);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::StartSockets(2, 2);
  const std::string mode = argc > 1 ? argv[1] : "";
  int result = 2;
  if (mode == "install") result = RunInstall(argc, argv);
  if (mode == "idle") result = RunIdle(argc, argv);
  if (mode == "copy") result = RunCopy(argc, argv);
  if (mode == "sink") result = RunSink(argc, argv);
  if (result == 2) std::fprintf(stderr, "usage: see the head of bench/install_run.cpp\n");
  platform::CleanupSockets();
  return result;
}
