// How fast a cancel ends an install job, step by step: UNITS jobs run at
// once against simulated units that hold each job in the chosen step, and
// each is cancelled at a point of that step drawn from a fixed random
// sequence. The figure per job is the time from its CancelUnit to the end of
// its job; printed as one line with the distribution and a count of the
// final status texts (bench/cancel_bench.sh starts the units and prints the
// table).
//
//   cancel_run STEP UNITS FIRST FROM ROOT
//
// STEP, and the units the script gives it:
//   ping    units that never answer the echo; cancel 50-900 ms into the job
//   pause   the same units; cancel 1050-1900 ms in, during the pause that
//           follows the route request
//   login   units that never send the login prompt; cancel 50-500 ms in
//   file    units that read file data slowly (rate knob); cancel halfway
//           through file k of the release for job k (20 files of 100 KiB)
//   script  well-behaved units; cancel as soon as "Installing.." shows. A job
//           whose script ended before the cancel landed is counted as missed.
#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "InstallBenchSupport.h"
#include "install/InstallJob.h"

namespace {

using bench::SecondsSince;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 20;
constexpr std::uint64_t kRelease = kFiles * 100 * 1024;
constexpr double kGiveUpS = 60;

// One job's cancel: when it is due, and what happened.
struct Cancel {
  tarvo_object* unit = nullptr;
  double atS = -1;            // due this long after the start (time steps)
  std::uint32_t atBytes = 0;  // due once this many bytes were sent (file step)
  bool seenActive = false;
  double cancelledS = -1;
  double endedS = -1;
  std::string text;
};

void PlanCancels(const std::string& step, unit_table& table, std::vector<Cancel>& cancels) {
  std::mt19937 random(12345);
  const auto between = [&random](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  const std::uint32_t fileSize = static_cast<std::uint32_t>(kRelease / kFiles);
  table.Lock();
  for (std::size_t i = 0; i < table.getCount(); ++i) {
    Cancel cancel;
    cancel.unit = table.getAddressUnit(i);
    if (step == "ping") cancel.atS = between(0.05, 0.9);
    if (step == "pause") cancel.atS = between(1.05, 1.9);
    if (step == "login") cancel.atS = between(0.05, 0.5);
    if (step == "file")
      cancel.atBytes = static_cast<std::uint32_t>(i % kFiles) * fileSize + fileSize / 2;
    cancels.push_back(cancel);
  }
  table.Unlock();
}

bool Due(const std::string& step, const Cancel& cancel, double nowS) {
  const tarvo_object& unit = *cancel.unit;
  if (step == "file") return unit.bytesTotal != 0 && unit.bytesSent >= cancel.atBytes;
  if (step == "script") return unit.statusText == "Installing..";
  return nowS >= cancel.atS;
}

// One pass over the jobs under the table lock: cancels the due ones and
// notes the ends. True while some job is still to be cancelled or to end.
bool Watch(const std::string& step, unit_table& table, std::vector<Cancel>& cancels, double nowS) {
  bool pending = false;
  table.Lock();
  for (Cancel& cancel : cancels) {
    tarvo_object* unit = cancel.unit;
    if (cancel.endedS >= 0) continue;
    if (unit->jobActive) cancel.seenActive = true;
    if (cancel.seenActive && !unit->jobActive) {
      cancel.endedS = nowS;
      cancel.text = unit->statusText;
      continue;
    }
    pending = true;
    if (cancel.cancelledS < 0 && cancel.seenActive && Due(step, cancel, nowS)) {
      table.CancelUnit(unit);
      cancel.cancelledS = nowS;
    }
  }
  table.Unlock();
  return pending;
}

void Report(const std::string& step, const std::vector<Cancel>& cancels) {
  std::vector<double> latencies;
  std::map<std::string, int> texts;
  int missed = 0;
  for (const Cancel& cancel : cancels) {
    if (cancel.cancelledS < 0 || cancel.endedS < 0) {
      ++missed;
      continue;
    }
    latencies.push_back(1000 * (cancel.endedS - cancel.cancelledS));
    ++texts[cancel.text];
  }
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&latencies](double q) {
    return latencies.empty() ? -1.0
                             : latencies[static_cast<std::size_t>(q * (latencies.size() - 1))];
  };
  const long within =
      std::count_if(latencies.begin(), latencies.end(), [](double ms) { return ms <= 1000; });
  std::printf("%-7s %5zu %6d %8.1f %8.1f %8.1f %8.1f %6ld  ", step.c_str(), latencies.size(),
              missed, at(0), at(0.5), at(0.9), at(1), within);
  for (const auto& [text, count] : texts) std::printf("\"%s\" x%d  ", text.c_str(), count);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: cancel_run STEP UNITS FIRST FROM ROOT\n");
    return 2;
  }
  platform::StartSockets(2, 2);
  const std::string step = argv[1];
  const int units = std::atoi(argv[2]);
  const std::uint32_t first = bench::Address(argv[3]);
  const PackageManifest manifest =
      bench::WriteRelease(std::string(argv[5]) + "/release", kFiles, kRelease);
  bench::PrepareUnits(std::string(argv[5]) + "/files", first, units);
  bench::NoRoutes routes;
  auto table = bench::FillTable(routes, first, bench::Address(argv[4]), units);
  std::vector<Cancel> cancels;
  PlanCancels(step, *table, cancels);
  const InstallContext context{table.get(), &manifest};
  const Clock::time_point start = Clock::now();
  StartInstallJobs(context);
  while (Watch(step, *table, cancels, SecondsSince(start)) && SecondsSince(start) < kGiveUpS) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  Report(step, cancels);
  table->CancelAll();
  table->WaitForJobs(unit_table::kJobExitWaitMs);
  table.reset();
  platform::CleanupSockets();
  return 0;
}
