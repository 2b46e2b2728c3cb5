// The element's type table and its three ownership modes. The value slot is
// kept consistent with the flags at every step: an inline value is never taken
// for a pointer (setType clears the slot when an element stops being inline),
// and an owned buffer is freed exactly once.
#include "RecordElement.h"

#include <cstdlib>
#include <cstring>

namespace {

// The largest data size the 16-bit size field can hold.
constexpr size_t kMaxDataSize = 0xFFFF;

}  // namespace

RecordElement::RecordElement(const char* element_name) { initialize(element_name, VT_NULL, 0); }

RecordElement::RecordElement(const char* element_name, VARENUM element_type, int element_size) {
  initialize(element_name, element_type, element_size);
}

RecordElement::~RecordElement() {
  if (name != short_name) free(name);
  free_owned();
}

void RecordElement::initialize(const char* element_name, VARENUM element_type, int element_size) {
  type = VT_NULL;
  name = nullptr;
  setName(element_name);
  std::memset(&value, 0, sizeof value);
  size = 0;
  index = 0;
  flags = kNull;
  setType(element_type);
  if (IsSizedType(type)) {
    if (element_size != 0) {
      setDataSize(element_size);
    } else {
      setSizeStoredInRecord(true);
    }
  }
}

bool RecordElement::IsSizedType(int type_value) {
  return type_value == VT_RECORD || type_value == VT_BLOB || (type_value & VT_VECTOR) != 0;
}

// The old name is freed only after the new one is stored, so that an element
// may be given its own name again.
void RecordElement::setName(const char* text) {
  if (text == nullptr) text = "";
  char* old = name != short_name ? name : nullptr;
  const size_t length = std::strlen(text) + 1;
  if (length <= kShortName) {
    std::memmove(short_name, text, length);
    name = short_name;
  } else {
    name = strdup(text);
  }
  free(old);
}

void RecordElement::setType(VARENUM new_type) {
  type = new_type;
  // A value that lived in the slot means nothing once the slot holds a pointer.
  if ((flags & kInline) != 0) std::memset(&value, 0, sizeof value);
  free_owned();
  flags &= ~(kInline | kOwned | kFixedSize);
  apply_type_table();
}

void RecordElement::apply_type_table() {
  const int inline_fixed = kTyped | kFixedSize | kInline | kNull;
  switch (type) {
    case VT_EMPTY:
    case VT_ERROR: type = VT_NULL; [[fallthrough]];
    case VT_NULL: return take_table_row(0, kNull);
    case VT_I2:
    case VT_UI2: return take_table_row(2, inline_fixed);
    case VT_I4:
    case VT_R4:
    case VT_DATE:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: return take_table_row(4, inline_fixed);
    case VT_R8:
    case VT_I8:
    case VT_UI8: return take_table_row(8, kTyped | kFixedSize | kNull);
    case VT_BSTR: return take_table_row(0, kTyped | kNull);
    case VT_BOOL: return take_table_row(0, inline_fixed);
    case VT_I1:
    case VT_UI1: return take_table_row(1, inline_fixed);
    default:
      // Sized types take their size from a declaration later; any other type
      // keeps its size and gains no flag.
      if (IsSizedType(type)) take_table_row(0, kTyped | kNull);
      return;
  }
}

void RecordElement::take_table_row(int row_size, int row_flags) {
  size = static_cast<uint16_t>(row_size);
  flags |= row_flags;
}

void* RecordElement::getData() {
  if ((flags & kNull) != 0) return nullptr;
  if ((flags & kInline) != 0) return value.bytes;
  return value.pointer;
}

void RecordElement::setData(void* data, int mode) {
  // The old buffer is freed only after the new value is in place, so that a
  // caller may hand back the element's own data (to copy or adopt it again).
  void* old = (flags & kOwned) != 0 ? value.pointer : nullptr;
  flags &= ~kOwned;
  std::memset(&value, 0, sizeof value);
  mode &= 3;
  if ((flags & kInline) != 0) {
    set_inline_data(data, mode);
  } else {
    set_pointer_data(data, mode);
  }
  if (old == nullptr) return;
  if (old == value.pointer && (flags & kInline) == 0) {
    flags |= kOwned;  // the same buffer again: it stays ours
  } else {
    free(old);
  }
}

void RecordElement::set_inline_data(void* data, int mode) {
  if (mode == kRefer) {
    // The caller passes the value itself in place of a pointer.
    store_value(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)));
  } else if (data != nullptr) {
    // A pointer to the value: take the value's bytes into the slot.
    store_inline(data, inline_width());
    if (mode == kAdopt) free(data);
  } else {
    flags |= kNull;
    return;
  }
  flags &= ~kNull;
}

void RecordElement::set_pointer_data(void* data, int mode) {
  if (data == nullptr || (type == VT_BSTR && !set_string_size(static_cast<char*>(data)))) {
    // No value, or a string too long for the size field: the element stays
    // without a value (an adopted buffer is ours to free either way).
    if (data != nullptr && mode == kAdopt) free(data);
    flags |= kNull;
    return;
  }
  if (mode == kRefer || mode == kAdopt) {
    value.pointer = data;
    if (mode == kAdopt) flags |= kOwned;
  } else {
    // Mode 2, and the undefined mode 3 treated as the safe one: copy.
    void* copy = malloc(size != 0 ? size : 1);
    if (copy == nullptr) {
      flags |= kNull;
      return;
    }
    std::memcpy(copy, data, size);
    value.pointer = copy;
    flags |= kOwned;
  }
  flags &= ~kNull;
}

void RecordElement::setData(int new_value) {
  const int wanted = kInline | kTyped;
  if ((flags & wanted) != wanted) return;
  store_value(static_cast<uint32_t>(new_value));
  flags &= ~kNull;
}

void RecordElement::setDataSize(int new_size) {
  if ((flags & kTyped) == 0 || (flags & kFixedSize) != 0) return;
  size = static_cast<uint16_t>(new_size);
}

void RecordElement::ClearData() {
  free_owned();
  std::memset(&value, 0, sizeof value);
  flags |= kNull;
}

void RecordElement::set_flag(int flag, bool on) {
  if (on) {
    flags |= flag;
  } else {
    flags &= ~flag;
  }
}

void RecordElement::free_owned() {
  if ((flags & kOwned) != 0) {
    free(value.pointer);
    value.pointer = nullptr;
  }
  flags &= ~kOwned;
}

void RecordElement::store_inline(const void* bytes, int count) {
  std::memset(&value, 0, sizeof value);
  // The slot holds at most 4 bytes of value, whatever the caller claims.
  if (count > 4) count = 4;
  if (count > 0) std::memcpy(value.bytes, bytes, count);
}

// An inline value takes as many bytes as its type: a boolean is a 32-bit
// value, every other inline type has its size from the type table.
int RecordElement::inline_width() const { return type == VT_BOOL ? 4 : size; }

// Stores an integer as a value of the element's width, so that the slot holds
// the same bytes whether the value was set from an int or decoded.
void RecordElement::store_value(uint32_t word) {
  const uint16_t half = static_cast<uint16_t>(word);
  const uint8_t byte = static_cast<uint8_t>(word);
  switch (inline_width()) {
    case 1: store_inline(&byte, 1); break;
    case 2: store_inline(&half, 2); break;
    default: store_inline(&word, 4); break;
  }
}

// The size of a string is always recomputed from the string itself: a stale
// size would cut the string or make the encoder read past its end.
bool RecordElement::set_string_size(const char* text) {
  const size_t length = std::strlen(text) + 1;
  if (length > kMaxDataSize) return false;
  size = static_cast<uint16_t>(length);
  return true;
}

void RecordElement::mark_present() {
  free_owned();
  std::memset(&value, 0, sizeof value);
  flags &= ~kNull;
}
