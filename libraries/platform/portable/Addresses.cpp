// Dotted quads, written and read without the socket layer. The reading is
// as strict as the systems' own inet_pton: exactly four parts, each a
// decimal number up to 255 without a leading zero.
#include "platform/Addresses.h"

#include <cstdio>
#include <cstring>

namespace platform {

void FormatAddress(std::uint32_t address, char* text, int size) {
  if (size <= 0) return;
  unsigned char octets[4];
  std::memcpy(octets, &address, sizeof octets);
  const int length = std::snprintf(text, static_cast<std::size_t>(size), "%u.%u.%u.%u", octets[0],
                                   octets[1], octets[2], octets[3]);
  if (length < 0 || length >= size) text[0] = '\0';
}

bool ParseAddress(const char* text, std::uint32_t* address) {
  unsigned char octets[4] = {};
  int part = 0;
  unsigned value = 0;
  int digits = 0;
  for (const char* at = text;; ++at) {
    const char c = *at;
    if (c >= '0' && c <= '9') {
      if (digits == 1 && value == 0) return false;  // a leading zero
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 255) return false;
      ++digits;
    } else if ((c == '.' || c == '\0') && digits > 0) {
      octets[part++] = static_cast<unsigned char>(value);
      if (c == '\0') break;
      if (part == 4) return false;
      value = 0;
      digits = 0;
    } else {
      return false;
    }
  }
  if (part != 4) return false;
  std::memcpy(address, octets, sizeof octets);
  return true;
}

}  // namespace platform
