// Windows version strings: read from the version resource of the program
// file. The first entry of "\VarFileInfo\Translation" names the language and
// code page under which the strings are looked up, as
// "\StringFileInfo\<language><code page>\<name>" in hexadecimal.
#include "platform/ProgramVersion.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace platform {
namespace {

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

std::string Narrow(const wchar_t* text, int length) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

// The program file's version block, empty when it has none.
std::vector<unsigned char> ReadVersionBlock() {
  wchar_t path[520];
  const DWORD length = GetModuleFileNameW(nullptr, path, 519);
  if (length == 0 || length >= 519) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return {};
  return block;
}

}  // namespace

std::optional<std::string> ProgramVersionString(const char* name) {
  std::vector<unsigned char> block = ReadVersionBlock();
  if (block.empty()) return std::nullopt;
  WORD* translation = nullptr;
  UINT translationSize = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &translationSize) ||
      translationSize < 2 * sizeof(WORD)) {
    return std::nullopt;
  }
  wchar_t query[128];
  std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1],
                Widen(name).c_str());
  wchar_t* value = nullptr;
  UINT valueLength = 0;
  if (!VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &valueLength) ||
      value == nullptr) {
    return std::nullopt;
  }
  // The length counts the terminating NUL when there is one.
  int characters = static_cast<int>(valueLength);
  while (characters > 0 && value[characters - 1] == L'\0') --characters;
  return Narrow(value, characters);
}

}  // namespace platform
