// Byte strings for tests (see ByteText.h).
#include "ByteText.h"

#include <cstdio>

namespace testsupport {

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text.push_back(static_cast<char>(value));
  return text;
}

std::string Printable(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c >= 32 && c < 127 && c != '\\') {
      text.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

std::string Hex(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", c);
    if (!text.empty()) text.push_back(' ');
    text += pair;
  }
  return text;
}

}  // namespace testsupport
