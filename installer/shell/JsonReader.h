// A strict pull reader for JSON text (RFC 8259) that another program or an
// earlier run wrote: the caller walks the document it expects (an object,
// its members, an array's items) and skips whatever it does not need, so
// that memory stays bounded by the nesting, never by the size of the input.
// Nesting deeper than kMaxDepth is refused, as is every byte the grammar
// does not allow (trailing commas, comments, single quotes, control bytes
// in strings, lone surrogates, leading zeros). The first error stops the
// reader: every later call fails and error() keeps the first reason, which
// starts with the line it was found on ("line 3: expected ':'").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class JsonReader {
 public:
  static constexpr std::size_t kMaxDepth = 64;

  enum class Kind { Object, Array, String, Number, Literal, Invalid };

  explicit JsonReader(std::string_view text) : text_(text) {}

  // The kind of the next value (after white space), without taking it.
  Kind Peek();
  // Takes "{" or "[" of the value that comes next.
  bool BeginObject();
  bool BeginArray();
  // The next member of the innermost object: its key (the reader then
  // stands at its value); false at the object's end (taken) or on an error.
  bool NextMember(std::string* key);
  // Whether the innermost array has another item; false at its end (taken)
  // or on an error.
  bool NextItem();
  // A string value, unescaped to UTF-8.
  bool ReadString(std::string* value);
  // Takes "null" when it comes next; false (taking nothing) otherwise.
  bool ReadNull();
  // Takes the next value, whatever it is, checking it whole.
  bool SkipValue();
  // Only white space is left.
  bool ExpectEnd();

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  // The line the reader stands on, counted from 1.
  int line() const { return line_; }
  // Stops the reader with a reason about the input at the current line
  // (the caller's own checks of what it read).
  bool Fail(const std::string& reason);

 private:
  struct Frame {
    bool object = false;
    bool first = true;
  };
  void skip_space();
  bool at(char c);
  bool expect(char c, const char* what);
  bool open(char c, bool object);
  bool next(bool object);
  bool read_escape(std::string* value);
  bool read_hex4(unsigned* code);
  bool skip_number();
  bool skip_literal();

  std::string_view text_;
  std::size_t at_ = 0;
  int line_ = 1;
  std::vector<Frame> frames_;
  std::string error_;
};
