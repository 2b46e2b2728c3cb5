// Writes the error lines. The prefix, the message and the newline are three
// separate writes, each under the stream's own locking; no lock of our own.
#include "ErrorMessage.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "platform/Clock.h"

namespace ZEQ {

namespace {

FILE* g_stream = nullptr;

FILE* OutputStream() { return g_stream != nullptr ? g_stream : stderr; }

// The text after the last "/", else after the last "\", else all of it.
const char* BaseName(const char* file) {
  if (file == nullptr) return "";
  if (const char* slash = std::strrchr(file, '/')) return slash + 1;
  if (const char* backslash = std::strrchr(file, '\\')) return backslash + 1;
  return file;
}

void WritePrefix(FILE* stream, int level, const char* file, int line, int code) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  platform::LocalTime(now, &local);
  std::fprintf(stream, "%d,%d,%d/%d/%d %d:%d:%d,%d,%s,", level, code, local.tm_year + 1900,
               local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, line,
               BaseName(file));
}

}  // namespace

void ErrorMessage(int level, const char* file, int line, int code, const char* format, ...) {
  FILE* stream = OutputStream();
  WritePrefix(stream, level, file, line, code);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stream, format, arguments);
  va_end(arguments);
  std::fputs("\n", stream);
  std::fflush(stream);
}

void ErrorMessage(int level, const char* file, int line, int code) {
  FILE* stream = OutputStream();
  WritePrefix(stream, level, file, line, code);
  std::fputs("\n", stream);
  std::fflush(stream);
}

void SetMessageOutputStream(FILE* stream) { g_stream = stream; }

}  // namespace ZEQ
