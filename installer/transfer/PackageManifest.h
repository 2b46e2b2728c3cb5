// The release manifest "ftpdwnld.txt": which local file goes to which path on
// a unit, and which script the unit runs afterwards. It is read once at
// start-up into a PackageManifest that every install job then only reads, so
// it needs no lock.
//
// Lines: "#" in the first column starts a comment; otherwise the words
// (split at white space) are a command and its arguments:
//   cd [dir]                  sets the remote directory ("/" put in front when
//                             missing; no argument gives "/")
//   send local [remote]       appends a file; its remote path is the directory,
//                             "/", and the remote name, joined as they are
//   auto_install [script]     asks for the install script (default
//                             "$rsa/install.script")
// Other lines are skipped. A "send" whose local file is missing stops the
// read with result 0.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ManifestEntry {
  std::u16string localPath;  // relative to the program's folder, decoded from UTF-8
  std::string remotePath;    // the destination on the unit, as sent in the put request
  std::uint32_t size = 0;    // the file's size when the manifest was read
};

struct PackageManifest {
  std::vector<ManifestEntry> entries;
  std::uint32_t autoInstall = 0;  // 1 when an "auto_install" line was read
  std::string installScript;
  std::uint32_t totalSize = 0;  // the sum of the entries' sizes, modulo 2^32
};

constexpr const char* kManifestFileName = "ftpdwnld.txt";
constexpr const char* kDefaultInstallScript = "$rsa/install.script";

// Reads "ftpdwnld.txt" from the current folder into the manifest. Returns the
// total size, or 0 when the manifest cannot be read or names a missing file
// (a total of 0 is a failure for the caller too). Resets the auto-install
// flag and the total first; entries already in the list stay. With a result
// of 0 and a reason given, *reason says which file is wrong and how, with
// the manifest's line number for a bad line.
std::uint32_t ReadPackageManifest(PackageManifest& manifest, std::string* reason = nullptr);

// Finds a local file: true with the low 32 bits of its size when it exists
// and its size can be read.
using LocalFileProbe = std::function<bool(const std::u16string& localPath, std::uint32_t* size)>;

// The reader behind ReadPackageManifest, on the manifest's bytes: the same
// result and effects, with the local files looked up through the probe.
std::uint32_t ReadPackageManifestText(std::string_view text, const LocalFileProbe& probe,
                                      PackageManifest& manifest, std::string* reason = nullptr);
