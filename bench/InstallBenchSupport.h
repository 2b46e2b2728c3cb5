// What the install benchmarks (install_run, cancel_run) share: a route
// channel that does nothing, the release they copy, the units' folders, and
// a device table of consecutive unit addresses.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "transfer/PackageManifest.h"
#include "transfer/RouteRequestChannel.h"
#include "units/unit_table.h"

namespace bench {

// Takes every route request and does nothing: the benchmarks' units answer
// the ping or sit where no route would help, and a benchmark must not start
// the route helper.
class NoRoutes : public RouteRequestChannel {
 public:
  int AddHostRoute(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) override {
    return 0;
  }
  int RemoveHostRoute(std::uint32_t, std::uint32_t) override { return 0; }
  int AnnounceUnitRoute(std::uint32_t, const std::uint8_t*) override { return 0; }
  int WithdrawUnitRoute(std::uint32_t, const std::uint8_t*) override { return 0; }
};

// Writes the release's files (once) and describes them as the manifest does.
inline PackageManifest WriteRelease(const std::string& folder, int files, std::uint64_t bytes) {
  std::filesystem::create_directories(folder);
  PackageManifest manifest;
  for (int i = 0; i < files; ++i) {
    const std::uint64_t size = bytes / files + (i == files - 1 ? bytes % files : 0);
    const std::string path = folder + "/f" + std::to_string(i);
    if (!std::filesystem::exists(path) || std::filesystem::file_size(path) != size) {
      std::string content(size, '\0');
      for (std::uint64_t b = 0; b < size; ++b)
        content[b] = static_cast<char>(b * 31 + b / 4099 + i);
      std::ofstream(path, std::ios::binary) << content;
    }
    manifest.entries.push_back(ManifestEntry{std::u16string(path.begin(), path.end()),
                                             "/opt/tarvo/f" + std::to_string(i),
                                             static_cast<std::uint32_t>(size)});
  }
  manifest.totalSize = static_cast<std::uint32_t>(bytes);
  manifest.autoInstall = 1;
  manifest.installScript = kDefaultInstallScript;
  return manifest;
}

// Gives every unit its install script and takes away the last run's files.
inline void PrepareUnits(const std::string& root, std::uint32_t first, int units) {
  for (int i = 0; i < units; ++i) {
    const std::filesystem::path unit = std::filesystem::path(root) / Dotted(AddressAfter(first, i));
    std::filesystem::remove_all(unit);
    std::filesystem::create_directories(unit / "rsa");
    std::ofstream(unit / "rsa" / "install.script", std::ios::binary) << "#!/bin/sh\n";
  }
}

inline std::unique_ptr<unit_table> FillTable(NoRoutes& routes, std::uint32_t first,
                                             std::uint32_t from, int units) {
  auto table = std::make_unique<unit_table>(&routes);
  for (int i = 0; i < units; ++i) {
    table->AddOrUpdateUnit(0, from, AddressAfter(first, i), nullptr, 0, "???", "???");
  }
  return table;
}

inline int CountStatus(unit_table& table, const char* text) {
  int count = 0;
  table.Lock();
  for (std::size_t i = 0; i < table.getCount(); ++i) {
    count += table.getAddressUnit(i)->statusText == text;
  }
  table.Unlock();
  return count;
}

// Every final status text with the number of units showing it, as
// "Success" x10 "Failed Connection" x2.
inline std::string StatusSummary(unit_table& table) {
  std::map<std::string, int> texts;
  table.Lock();
  for (std::size_t i = 0; i < table.getCount(); ++i) ++texts[table.getAddressUnit(i)->statusText];
  table.Unlock();
  std::string summary;
  for (const auto& [text, count] : texts) {
    summary += (summary.empty() ? "\"" : " \"") + text + "\" x" + std::to_string(count);
  }
  return summary;
}

}  // namespace bench
