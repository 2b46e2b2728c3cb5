// Helpers for the record tests: byte strings written in hexadecimal, a whole
// record encoded into one buffer, and a text form of a record's elements that
// two records can be compared by (names, types, flags, sizes and value bytes).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ByteText.h"
#include "DataRecord.h"

namespace recordtest {

using Bytes = std::vector<unsigned char>;

// "08 00 47" -> {0x08, 0x00, 0x47}; spaces are ignored.
using testsupport::FromHex;

inline std::string ToHex(const unsigned char* data, size_t size) {
  return testsupport::Hex(data, size);
}

inline std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }

// Encodes the whole record into one generous buffer.
inline Bytes WriteAll(DataRecord& record) {
  // Room for records whose headers declare several values of up to 0xFFFE
  // bytes; kept between calls, as clearing a megabyte each time is slow.
  static Bytes buffer(1 << 20);
  int written = -1;
  EXPECT_TRUE(record.Write(buffer.data(), static_cast<int>(buffer.size()), &written));
  return Bytes(buffer.begin(), buffer.begin() + (written > 0 ? written : 0));
}

inline std::string Describe(const DataRecord& record) {
  std::string text;
  for (int i = 0; i < record.getCount(); ++i) {
    const RecordElement* element = record.Find(i);
    const void* data = element->getData();
    const bool inline_value = (element->getFlags() & RecordElement::kInline) != 0;
    const size_t size = data == nullptr ? 0 : inline_value ? 4 : element->getDataSize();
    // An absent value has no size worth comparing: a header carries none for it.
    char head[96];
    std::snprintf(head, sizeof head, "%d %s type=%d flags=%04x", element->getIndex(),
                  element->getName(), element->getType(), element->getFlags());
    text += head;
    if (data != nullptr) {
      text += " size=" + std::to_string(element->getDataSize()) + " data=";
      text += ToHex(static_cast<const unsigned char*>(data), size);
    }
    text += "\n";
  }
  return text;
}

}  // namespace recordtest
