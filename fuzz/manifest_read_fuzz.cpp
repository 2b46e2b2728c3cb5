// Fuzz target for the release manifest reader, on the manifest's bytes with
// the local files looked up through a fake: a name "exists" unless it holds
// the byte chosen by the input's first byte, and its size is derived from the
// name. Checked on every input: the result is 0 or the total; the total is
// the sum of the entries' sizes; every remote path starts with "/"; nothing
// sets a script without the auto-install flag; and the same text with CR-LF
// line ends reads to the same manifest. A disagreement aborts.
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

std::string WithCrLf(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
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

  PackageManifest manifest;
  const std::uint32_t result = ReadPackageManifestText(text, probe, manifest);
  Check(result == 0 || result == manifest.totalSize);
  std::uint32_t sum = 0;
  for (const ManifestEntry& entry : manifest.entries) {
    sum += entry.size;
    Check(!entry.remotePath.empty() && entry.remotePath.front() == '/');
  }
  Check(sum == manifest.totalSize);
  Check(manifest.autoInstall == 1 || manifest.installScript.empty());

  PackageManifest fromCrLf;
  Check(ReadPackageManifestText(WithCrLf(text), probe, fromCrLf) == result);
  Check(SameEntries(manifest, fromCrLf));
  return 0;
}
