// Fuzz target for the release manifest reader, on the manifest's bytes with
// the local files looked up through a fake: a name "exists" unless it holds
// the byte chosen by the input's first byte, and its size is derived from the
// name. Checked on every input: the result is 0 or the total; the total is
// the sum of the entries' sizes; every remote path starts with "/"; nothing
// sets a script without the auto-install flag; and the same text with CR-LF
// line ends reads to the same manifest. A disagreement aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transfer/PackageManifest.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The same text with CR-LF line ends, built into one buffer that lives as
// long as the process, like the manifests below: allocations are the
// dearest part of a run under the address sanitizer, and these would be the
// harness's own, not the reader's.
std::string_view WithCrLf(std::string_view text) {
  static std::string result;
  result.resize(text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  char* out = result.data();
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    out = std::copy(text.data() + at, text.data() + end, out);
    if (end < text.size()) out = std::copy_n("\r\n", 2, out);
    at = end + 1;
  }
  return result;
}

// Empties a manifest, keeping its list's memory. Each input leaves the
// manifests empty: memory still held at the end of a run looks like a leak to
// the fuzzer, which then runs the input again to find it.
void Empty(PackageManifest& manifest) {
  manifest.entries.clear();
  manifest.autoInstall = 0;
  manifest.installScript.clear();
  manifest.installScript.shrink_to_fit();
  manifest.totalSize = 0;
}

bool SameEntries(const PackageManifest& a, const PackageManifest& b) {
  if (a.entries.size() != b.entries.size()) return false;
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    if (a.entries[i].localPath != b.entries[i].localPath ||
        a.entries[i].remotePath != b.entries[i].remotePath ||
        a.entries[i].size != b.entries[i].size) {
      return false;
    }
  }
  return a.autoInstall == b.autoInstall && a.installScript == b.installScript &&
         a.totalSize == b.totalSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char16_t missing = data[0];
  const LocalFileProbe probe = [missing](const std::u16string& name, std::uint32_t* fileSize) {
    if (name.find(missing) != std::u16string::npos) return false;
    *fileSize = static_cast<std::uint32_t>(name.size() * 0x9E3779B1u);
    return true;
  };
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  static PackageManifest manifest;
  static PackageManifest fromCrLf;
  const std::uint32_t result = ReadPackageManifestText(text, probe, manifest);
  Check(result == 0 || result == manifest.totalSize);
  std::uint32_t sum = 0;
  for (const ManifestEntry& entry : manifest.entries) {
    sum += entry.size;
    Check(!entry.remotePath.empty() && entry.remotePath.front() == '/');
  }
  Check(sum == manifest.totalSize);
  Check(manifest.autoInstall == 1 || manifest.installScript.empty());

  Check(ReadPackageManifestText(WithCrLf(text), probe, fromCrLf) == result);
  Check(SameEntries(manifest, fromCrLf));
  Empty(manifest);
  Empty(fromCrLf);
  return 0;
}
