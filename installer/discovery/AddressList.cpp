// The address list file and the reading of its lines (see AddressList.h).
#include "AddressList.h"

#include <cctype>
#include <cstring>

#include "platform/LocalFile.h"
#include "platform/NameLookup.h"

namespace discovery {

namespace {

constexpr long kNoNumber = -1;
// Numbers are read no further than this, which already exceeds every octet
// and port, so that long digit runs cannot overflow.
constexpr long kNumberCeiling = 1000000;

bool HasLetter(const char* text) {
  for (; *text != '\0'; ++text) {
    if (std::isalpha(static_cast<unsigned char>(*text))) return true;
  }
  return false;
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A decimal number after optional blanks, or kNoNumber when no digit follows.
long ReadDecimal(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  if (!std::isdigit(static_cast<unsigned char>(*text))) return kNoNumber;
  long value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    if (value < kNumberCeiling) value = value * 10 + (*text - '0');
  }
  return value;
}

// The port after the first ":" of the text, or after its first "#" when it has
// no ":"; 0 when there is none or it is out of range. *cut is where the port's
// separator stands (or the end of the text).
std::uint16_t PortAfterSeparator(const char* text, const char** cut) {
  const char* separator = std::strchr(text, ':');
  if (separator == nullptr) separator = std::strchr(text, '#');
  *cut = separator != nullptr ? separator : text + std::strlen(text);
  if (separator == nullptr) return 0;
  const long port = ReadDecimal(separator + 1);
  return port >= 1 && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

void ParseHostName(const char* line, AddressLine* parsed) {
  parsed->isHostName = true;
  const char* end = nullptr;
  parsed->port = PortAfterSeparator(line, &end);
  const char* begin = line;
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  parsed->hostName.assign(begin, end);
}

// An octet as the line writes it: a missing number counts as 0, one above
// 255 makes the whole address invalid.
bool AddOctet(const char* text, int index, std::uint32_t* address) {
  const long value = ReadDecimal(text);
  if (value > 255) return false;
  if (value > 0) *address |= static_cast<std::uint32_t>(value) << (8 * index);
  return true;
}

void ParseDotted(const char* line, AddressLine* parsed) {
  const char* dots[3] = {std::strchr(line, '.'), nullptr, nullptr};
  if (dots[0] == nullptr) return;
  for (int i = 1; i < 3 && dots[i - 1] != nullptr; ++i) dots[i] = std::strchr(dots[i - 1] + 1, '.');
  std::uint32_t address = 0;
  bool valid = AddOctet(line, 0, &address);
  if (dots[1] != nullptr) valid = valid && AddOctet(dots[0] + 1, 1, &address);
  if (dots[2] != nullptr) {
    valid = valid && AddOctet(dots[1] + 1, 2, &address) && AddOctet(dots[2] + 1, 3, &address);
    const char* cut = nullptr;
    parsed->port = PortAfterSeparator(dots[2] + 1, &cut);
  }
  parsed->address = valid ? address : 0;
}

}  // namespace

AddressLine ParseAddressLine(const char* line) {
  AddressLine parsed;
  if (HasLetter(line))
    ParseHostName(line, &parsed);
  else
    ParseDotted(line, &parsed);
  return parsed;
}

std::uint32_t ResolveAddress(const char* line, std::uint16_t* port) {
  const AddressLine parsed = ParseAddressLine(line);
  if (parsed.port != 0) *port = parsed.port;
  if (!parsed.isHostName) return parsed.address;
  std::uint32_t address = 0;
  if (parsed.hostName.empty() || !platform::LookupHostAddress(parsed.hostName.c_str(), &address)) {
    return 0;
  }
  return address;
}

AddressListFile::AddressListFile() {
  // The second name is the installer's own, with a Windows separator; a
  // system with another separator also looks in the same folder its own way.
  file_ = std::fopen("tarvo_ip_list.txt", "r");
  if (file_ == nullptr) file_ = std::fopen("accessories\\tarvo_ip_list.txt", "r");
  if (file_ == nullptr && platform::kPathSeparator != '\\') {
    file_ = std::fopen("accessories/tarvo_ip_list.txt", "r");
  }
}

AddressListFile::~AddressListFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool AddressListFile::NextLine(std::string* line) {
  char piece[kListLinePiece + 1];
  if (file_ == nullptr || std::fgets(piece, sizeof piece, file_) == nullptr) return false;
  line->assign(piece);
  return true;
}

}  // namespace discovery
