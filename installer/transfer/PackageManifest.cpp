// The manifest reader. The file is read as bytes and cut into lines at LF
// here rather than by a text-mode stream, which only Windows would give. The
// CR of a CR-LF line end is white space to the word splitter, so CR-LF and LF
// files read alike on both platforms. Local names are looked up by their
// UTF-16 decoding, the same name the transfer opens later, so the check and
// the copy always mean one file.
#include "transfer/PackageManifest.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/LocalFile.h"

namespace {

// Space, tab, LF, vertical tab, form feed and CR, as isspace knows them in
// the C locale.
bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The words of a line that the commands use: the command and its first two
// arguments. No command looks further, so a line is split into these alone
// and the split allocates nothing.
struct Words {
  static constexpr std::size_t kKept = 3;
  std::array<std::string_view, kKept> word;
  std::size_t count = 0;  // at most kKept
};

// Windows's longest path is 32,767 UTF-16 units, and no unit takes more than
// three bytes of UTF-8.
constexpr std::size_t kLongestPathBytes = 32767 * 3;

Words SplitWords(std::string_view line) {
  Words words;
  std::size_t at = 0;
  while (words.count < Words::kKept) {
    while (at < line.size() && IsWhiteSpace(line[at])) ++at;
    if (at == line.size()) break;
    const std::size_t start = at;
    while (at < line.size() && !IsWhiteSpace(line[at])) ++at;
    words.word[words.count++] = line.substr(start, at - start);
  }
  return words;
}

// Decodes one code point starting at text[*at]; -1 for bytes that are not
// UTF-8 (overlong forms, surrogates and values above U+10FFFF included).
long NextCodePoint(std::string_view text, std::size_t* at) {
  const auto lead = static_cast<unsigned char>(text[(*at)++]);
  if (lead < 0x80) return lead;
  int extra;
  long code;
  long least;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, code = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, code = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, code = lead & 0x07, least = 0x10000;
  } else {
    return -1;
  }
  for (; extra > 0; --extra) {
    if (*at >= text.size()) return -1;
    const auto next = static_cast<unsigned char>(text[(*at)++]);
    if ((next & 0xC0) != 0x80) return -1;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  return code;
}

bool DecodeUtf8(std::string_view text, std::u16string* out) {
  out->clear();
  out->reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const long code = NextCodePoint(text, &at);
    if (code < 0) return false;
    if (code < 0x10000) {
      *out += static_cast<char16_t>(code);
    } else {
      *out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      *out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return true;
}

// What is wrong with a local file the probe did not find, from the file
// system's own view of it.
std::string LocalFileProblem(const std::u16string& localPath) {
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::status(std::filesystem::path(localPath), error);
  if (status.type() == std::filesystem::file_type::not_found) return "is missing";
  if (status.type() == std::filesystem::file_type::directory) return "is a folder, not a file";
  return "cannot be read";
}

// The state of one read: the remote directory set by the last "cd", and
// the line being read, for the reason a read stopped.
struct Reader {
  const LocalFileProbe& probe;
  PackageManifest& manifest;
  std::string directory;
  std::size_t lineNumber = 0;
  std::string problem;

  bool refuse(const std::string& what) {
    problem = std::string(kManifestFileName) + " line " + std::to_string(lineNumber) + ": " + what;
    return false;
  }

  void change_directory(const Words& words) {
    const std::string_view name = words.word[1];
    directory.clear();
    if (words.count < 2 || name.front() != '/') directory = "/";
    directory += name;
  }

  // False when the local file is missing (or its name is not UTF-8). A name
  // longer than the longest path any system opens names no file; it is
  // refused before it is decoded, so a runaway line in a broken manifest
  // costs no more than reading it.
  bool send(const Words& words) {
    ManifestEntry entry;
    if (words.count < 2) return refuse("\"send\" names no file");
    if (words.word[1].size() > kLongestPathBytes) {
      return refuse("the file name is " + std::to_string(words.word[1].size()) +
                    " bytes long, longer than any path");
    }
    if (!DecodeUtf8(words.word[1], &entry.localPath)) {
      return refuse("the file name is not UTF-8 text");
    }
    if (!probe(entry.localPath, &entry.size)) {
      return refuse("\"" + std::string(words.word[1]) + "\" " + LocalFileProblem(entry.localPath));
    }
    const std::string_view remoteName = words.word[2];
    entry.remotePath.reserve(directory.size() + 1 + remoteName.size());
    entry.remotePath.append(directory).append(1, '/').append(remoteName);
    manifest.totalSize += entry.size;
    manifest.entries.push_back(std::move(entry));
    return true;
  }

  void auto_install(const Words& words) {
    manifest.autoInstall = 1;
    if (words.count > 1) {
      manifest.installScript = words.word[1];
    } else if (manifest.installScript.empty()) {
      manifest.installScript = kDefaultInstallScript;
    }
  }

  // False when the read must stop with result 0.
  bool line(std::string_view text) {
    if (!text.empty() && text.front() == '#') return true;
    const Words words = SplitWords(text);
    const std::string_view command = words.word[0];
    if (command == "cd") change_directory(words);
    if (command == "send") return send(words);
    if (command == "auto_install") auto_install(words);
    return true;
  }
};

bool ProbeLocalFile(const std::u16string& localPath, std::uint32_t* size) {
  platform::LocalFile file;
  std::uint64_t size64 = 0;
  std::int64_t modified = 0;
  if (file.Open(localPath) != 0 || file.Examine(&size64, &modified) != 0) return false;
  *size = static_cast<std::uint32_t>(size64);
  return true;
}

// The text is given its room up front: grown piece by piece, a large file
// would be copied over and over.
bool ReadWholeFile(const char* name, std::string* text) {
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return false;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(name, error);
  if (!error) text->reserve(static_cast<std::size_t>(size));
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

// Why a read that found every line good still gives 0.
std::string EmptyManifestProblem(const PackageManifest& manifest) {
  return std::string(kManifestFileName) + (manifest.entries.empty()
                                               ? ": no \"send\" line names a file to install"
                                               : ": the files it sends hold no bytes");
}

}  // namespace

std::uint32_t ReadPackageManifestText(std::string_view text, const LocalFileProbe& probe,
                                      PackageManifest& manifest, std::string* reason) {
  manifest.autoInstall = 0;
  manifest.totalSize = 0;
  Reader reader{probe, manifest, std::string(), 0, std::string()};
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++reader.lineNumber;
    // A NUL ends the line's text, as it ends a C string.
    line = line.substr(0, line.find('\0'));
    if (!reader.line(line)) {
      if (reason != nullptr) *reason = reader.problem;
      return 0;
    }
  }
  if (manifest.totalSize == 0 && reason != nullptr) *reason = EmptyManifestProblem(manifest);
  return manifest.totalSize;
}

std::uint32_t ReadPackageManifest(PackageManifest& manifest, std::string* reason) {
  manifest.autoInstall = 0;
  manifest.totalSize = 0;
  std::string text;
  errno = 0;
  if (!ReadWholeFile(kManifestFileName, &text)) {
    const int error = errno;
    if (reason != nullptr) {
      *reason = std::string(kManifestFileName) + " cannot be read" +
                (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
    }
    return 0;
  }
  return ReadPackageManifestText(text, ProbeLocalFile, manifest, reason);
}
