// Fuzz target for the reading of one line of the address list file, the
// text a user (or anything that can write that file) gives the probe. Only the
// parse is fuzzed, never a host lookup. Each input, cut at its first NUL, is
// one line. The result is checked against the rules of the line: a letter
// makes a host name, a port is 0 or 1 to 65535, a name holds neither the
// separator it was cut at nor blanks at its ends, and a plain dotted quad
// gives the address the system's own conversion gives. ResolveAddress of a
// line without letters must agree with the parse and change the port only
// to the line's own. A disagreement aborts.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "AddressList.h"
#include "platform/Sockets.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool HasLetter(const std::string& line) {
  for (const char c : line) {
    if (std::isalpha(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

// Four runs of one to three digits joined by dots, none with a leading zero,
// and nothing else: the form the system's conversion reads.
bool IsPlainDottedQuad(const std::string& line) {
  int parts = 0;
  std::size_t digits = 0;
  char first = 0;
  for (const char c : line) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      if (digits == 0) first = c;
      if (++digits > 3 || (digits > 1 && first == '0')) return false;
    } else if (c == '.' && digits > 0) {
      ++parts;
      digits = 0;
    } else {
      return false;
    }
  }
  return parts == 3 && digits > 0;
}

void CheckHostName(const std::string& line, const discovery::AddressLine& parsed) {
  Check(parsed.address == 0);
  const std::string& name = parsed.hostName;
  if (line.find(':') != std::string::npos) {
    Check(name.find(':') == std::string::npos);
  } else {
    Check(name.find('#') == std::string::npos);
  }
  if (!name.empty()) {
    Check(!std::isspace(static_cast<unsigned char>(name.front())));
    Check(!std::isspace(static_cast<unsigned char>(name.back())));
  }
}

void CheckDotted(const std::string& line, const discovery::AddressLine& parsed) {
  Check(parsed.hostName.empty());
  if (line.find('.') == std::string::npos) Check(parsed.address == 0 && parsed.port == 0);
  if (IsPlainDottedQuad(line)) {
    std::uint32_t expected = 0;
    if (!platform::ParseAddress(line.c_str(), &expected)) expected = 0;
    Check(parsed.address == expected);
  }
  std::uint16_t port = 4321;
  Check(discovery::ResolveAddress(line.c_str(), &port) == parsed.address);
  Check(port == (parsed.port != 0 ? parsed.port : 4321));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string line = bytes.substr(0, bytes.find('\0'));
  const discovery::AddressLine parsed = discovery::ParseAddressLine(line.c_str());
  Check(parsed.isHostName == HasLetter(line));
  if (parsed.isHostName)
    CheckHostName(line, parsed);
  else
    CheckDotted(line, parsed);
  return 0;
}
