// The run report's page for a large run: its text for 1,000 units (with the
// usual texts and with the longest, most escaped ones units could send), and
// the whole report written to disk (JSON, CSV, page and transcripts) beside
// it for scale. The target: the page of 1,000 units in well under a second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "SyntheticReport.h"
#include "shell/HtmlReport.h"
#include "shell/RunReport.h"

namespace {

void BM_ReportHtml(benchmark::State& state) {
  const RunReport report =
      testsupport::SyntheticReport(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string page = ReportHtml(report);
    bytes = page.size();
    benchmark::DoNotOptimize(page.data());
  }
  state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReportHtml)
    ->ArgNames({"units", "long_texts"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMillisecond);

void BM_WriteRunReport(benchmark::State& state) {
  const RunReport report = testsupport::SyntheticReport(static_cast<std::size_t>(state.range(0)));
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "fieldloader-html-report-bench";
  std::string error;
  for (auto _ : state) {
    if (!WriteRunReport(folder.string(), report, &error)) state.SkipWithError(error.c_str());
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WriteRunReport)->ArgName("units")->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
