// The strict JSON pull reader (see JsonReader.h).
#include "shell/JsonReader.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(unsigned code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

bool JsonReader::Fail(const std::string& reason) {
  if (error_.empty()) error_ = "line " + std::to_string(line_) + ": " + reason;
  return false;
}

void JsonReader::skip_space() {
  while (at_ < text_.size()) {
    const char c = text_[at_];
    if (c == '\n') {
      ++line_;
    } else if (c != ' ' && c != '\t' && c != '\r') {
      return;
    }
    ++at_;
  }
}

bool JsonReader::at(char c) {
  skip_space();
  return at_ < text_.size() && text_[at_] == c;
}

bool JsonReader::expect(char c, const char* what) {
  if (failed()) return false;
  if (at(c)) {
    ++at_;
    return true;
  }
  if (at_ >= text_.size()) return Fail(std::string("the text ends where ") + what + " should be");
  return Fail(std::string("expected ") + what);
}

JsonReader::Kind JsonReader::Peek() {
  if (failed()) return Kind::Invalid;
  skip_space();
  if (at_ >= text_.size()) return Kind::Invalid;
  const char c = text_[at_];
  if (c == '{') return Kind::Object;
  if (c == '[') return Kind::Array;
  if (c == '"') return Kind::String;
  if (c == '-' || IsDigit(c)) return Kind::Number;
  if (c == 't' || c == 'f' || c == 'n') return Kind::Literal;
  return Kind::Invalid;
}

bool JsonReader::open(char c, bool object) {
  if (!expect(c, object ? "an object" : "a list")) return false;
  if (frames_.size() >= kMaxDepth) {
    return Fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  frames_.push_back(Frame{object, true});
  return true;
}

bool JsonReader::BeginObject() { return open('{', true); }

bool JsonReader::BeginArray() { return open('[', false); }

// The separator before the innermost container's next element, or its end.
bool JsonReader::next(bool object) {
  if (failed()) return false;
  if (frames_.empty() || frames_.back().object != object) {
    return Fail(object ? "not inside an object" : "not inside a list");
  }
  const char close = object ? '}' : ']';
  if (at(close)) {
    ++at_;
    frames_.pop_back();
    return false;
  }
  Frame& frame = frames_.back();
  if (!frame.first && !expect(',', object ? "',' or '}'" : "',' or ']'")) return false;
  frame.first = false;
  return true;
}

bool JsonReader::NextMember(std::string* key) {
  if (!next(true)) return false;
  if (Peek() != Kind::String) return Fail("expected a member's name in quotes");
  return ReadString(key) && expect(':', "':'");
}

bool JsonReader::NextItem() { return next(false); }

bool JsonReader::ReadString(std::string* value) {
  if (!expect('"', "a string")) return false;
  value->clear();
  while (at_ < text_.size()) {
    const char c = text_[at_++];
    if (c == '"') return true;
    if (static_cast<unsigned char>(c) < 0x20) {
      if (c == '\n') ++line_;
      return Fail("a control byte inside a string");
    }
    if (c != '\\') {
      *value += c;
    } else if (!read_escape(value)) {
      return false;
    }
  }
  return Fail("the text ends inside a string");
}

bool JsonReader::read_escape(std::string* value) {
  if (at_ >= text_.size()) return Fail("the text ends inside a string");
  const char c = text_[at_++];
  switch (c) {
    case '"': *value += '"'; return true;
    case '\\': *value += '\\'; return true;
    case '/': *value += '/'; return true;
    case 'b': *value += '\b'; return true;
    case 'f': *value += '\f'; return true;
    case 'n': *value += '\n'; return true;
    case 'r': *value += '\r'; return true;
    case 't': *value += '\t'; return true;
    case 'u': break;
    default: return Fail("an unknown escape in a string");
  }
  unsigned code = 0;
  if (!read_hex4(&code)) return false;
  if (code >= 0xDC00 && code <= 0xDFFF) return Fail("a lone surrogate in a string");
  if (code >= 0xD800 && code <= 0xDBFF) {
    unsigned low = 0;
    if (text_.substr(at_, 2) != "\\u") return Fail("a lone surrogate in a string");
    at_ += 2;
    if (!read_hex4(&low)) return false;
    if (low < 0xDC00 || low > 0xDFFF) return Fail("a lone surrogate in a string");
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
  }
  AppendUtf8(code, value);
  return true;
}

bool JsonReader::read_hex4(unsigned* code) {
  *code = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = at_ < text_.size() ? HexValue(text_[at_]) : -1;
    if (digit < 0) return Fail("\\u needs four hex digits");
    *code = *code * 16 + static_cast<unsigned>(digit);
    ++at_;
  }
  return true;
}

bool JsonReader::ReadNull() {
  if (failed() || !at('n') || text_.substr(at_, 4) != "null") return false;
  return skip_literal();
}

// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool JsonReader::skip_number() {
  const auto digits = [this] {
    const std::size_t start = at_;
    while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
    return at_ - start;
  };
  if (text_[at_] == '-') ++at_;
  const std::size_t start = at_;
  const std::size_t whole = digits();
  if (whole == 0 || (whole > 1 && text_[start] == '0')) return Fail("a malformed number");
  if (at_ < text_.size() && text_[at_] == '.') {
    ++at_;
    if (digits() == 0) return Fail("a malformed number");
  }
  if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
    ++at_;
    if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
    if (digits() == 0) return Fail("a malformed number");
  }
  return true;
}

bool JsonReader::skip_literal() {
  for (const std::string_view word : {"true", "false", "null"}) {
    if (text_.substr(at_, word.size()) == word) {
      at_ += word.size();
      return true;
    }
  }
  return Fail("an unknown word");
}

// Containers are walked with the same calls a caller makes; their depth is
// bounded by kMaxDepth, and so is this recursion.
bool JsonReader::SkipValue() {
  std::string ignored;
  switch (Peek()) {
    case Kind::Object:
      if (!BeginObject()) return false;
      while (NextMember(&ignored)) {
        if (!SkipValue()) return false;
      }
      return !failed();
    case Kind::Array:
      if (!BeginArray()) return false;
      while (NextItem()) {
        if (!SkipValue()) return false;
      }
      return !failed();
    case Kind::String: return ReadString(&ignored);
    case Kind::Number: return skip_number();
    case Kind::Literal: return skip_literal();
    case Kind::Invalid: break;
  }
  if (failed()) return false;
  return Fail(at_ >= text_.size() ? "the text ends where a value should be" : "expected a value");
}

bool JsonReader::ExpectEnd() {
  if (failed()) return false;
  skip_space();
  if (at_ < text_.size()) return Fail("more text after the end");
  return true;
}
