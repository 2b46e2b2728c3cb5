// The optional list of unit addresses that the device-link probe is also sent
// to: "tarvo_ip_list.txt" in the current folder, else the one in its
// "accessories" folder. One destination per line: a host name or a dotted
// address, either optionally followed by ":" or "#" and a port, which then
// holds for that line, every later line and the closing broadcast.
//
// Reading a line is split from resolving it: ParseAddressLine is pure text
// work (tested and fuzzed on its own), ResolveAddress adds the host lookup.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace discovery {

// A line is read at most this many characters at a time; the rest of a longer
// line comes as a line of its own.
constexpr int kListLinePiece = 199;

struct AddressLine {
  // A line holding a letter names a host: `hostName` is to be looked up.
  bool isHostName = false;
  std::string hostName;
  // The dotted address (network byte order); 0 for a host name or a line
  // with no dot.
  std::uint32_t address = 0;
  // The port the line gives, 0 when it gives none.
  std::uint16_t port = 0;
};

// Takes one line apart. A host name is cut at the first ":" (or, without one,
// at the first "#"), and the port is the decimal number after the cut; the
// name is trimmed of spaces and the line end. A dotted address takes the
// decimal numbers before the first dot and after each later one as its
// octets: with no dot it is 0, with one dot only the first octet counts,
// with two the first two; after the fourth part ":" (or "#") and a number
// give the port. A part above 255 makes the address 0. Ports outside 1 to
// 65535 are not taken.
AddressLine ParseAddressLine(const char* line);

// Parses the line and returns its address, looking a host name up (0 when
// that fails); a port on the line replaces *port.
std::uint32_t ResolveAddress(const char* line, std::uint16_t* port);

// The list file, opened for reading as text, and its lines in pieces of at
// most 199 characters, each with its line end where it had one.
class AddressListFile {
 public:
  AddressListFile();
  ~AddressListFile();
  AddressListFile(const AddressListFile&) = delete;
  AddressListFile& operator=(const AddressListFile&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // False at the end of the file.
  bool NextLine(std::string* line);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace discovery
