// Byte strings for tests: built from a list of values for golden scripts,
// and shown in failure messages so a reader sees every control byte.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

// Bytes from a list of values, for golden scripts with control bytes.
std::string Bytes(std::initializer_list<int> values);

// Printable form of a byte string: text with \r, \n and other bytes as \xNN.
std::string Printable(const std::string& bytes);

// Space-separated hex pairs ("41 00 FE").
std::string Hex(const void* data, std::size_t size);
std::string Hex(const std::string& bytes);
// The bytes of such a text; spaces are ignored.
std::vector<unsigned char> FromHex(const std::string& text);

}  // namespace testsupport
