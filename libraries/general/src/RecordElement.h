// One named, typed value of a record. The type decides, through a fixed table,
// how big the value is and where it lives: small integer types and booleans
// live in the value slot itself, everything else is reached through a pointer
// that the element may own. A short name lives in the element too, so that
// reading a record costs one allocation per element; longer names and owned
// buffers are on the C heap (strdup, malloc) so that a failed allocation shows
// up as a null result, never as an exception: the worst an allocation failure
// does is leave the element without a value or a name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VarEnum.h"

class CollectionOfRecordElements;
class DataRecord;

class RecordElement {
 public:
  // The flag bits; no other bit is ever set.
  static constexpr int kSizeStoredInRecord = 0x8000;  // each encoded value carries its own length
  static constexpr int kInline = 0x4000;              // the value lives in the value slot
  static constexpr int kNull = 0x2000;                // the element has no value
  static constexpr int kOwned = 0x1000;               // the slot points to a malloc buffer we free
  static constexpr int kTyped = 0x0800;               // the type table knows the type
  static constexpr int kFixedSize = 0x0400;           // the size follows from the type
  static constexpr int kExcludeFromHeader = 0x0200;   // not listed in a record header

  // The ownership modes of setData(void*, int), taken from the mode's low two bits.
  static constexpr int kRefer = 0;
  static constexpr int kAdopt = 1;
  static constexpr int kCopy = 2;

  explicit RecordElement(const char* name);
  RecordElement(const char* name, VARENUM type, int size);
  ~RecordElement();

  RecordElement(const RecordElement&) = delete;
  RecordElement& operator=(const RecordElement&) = delete;

  void setName(const char* new_name);
  void setType(VARENUM new_type);

  VARENUM getType() const { return type; }
  const char* getName() const { return name != nullptr ? name : ""; }
  int getDataSize() const { return size; }
  int getIndex() const { return index; }
  int getFlags() const { return flags; }

  void* getData();
  const void* getData() const { return const_cast<RecordElement*>(this)->getData(); }

  void setData(void* data, int mode);
  void setData(int value);
  void setSizeStoredInRecord(bool on) { set_flag(kSizeStoredInRecord, on); }
  void setExcludeFromHeader(bool on) { set_flag(kExcludeFromHeader, on); }
  void setDataSize(int new_size);
  void ClearData();

  // True for the types whose size comes from a declaration: VT_RECORD,
  // VT_BLOB and every VT_VECTOR type.
  static bool IsSizedType(int type);

 private:
  friend class CollectionOfRecordElements;
  friend class DataRecord;

  void initialize(const char* element_name, VARENUM element_type, int element_size);
  void set_flag(int flag, bool on);
  void free_owned();
  void set_inline_data(void* data, int mode);
  void set_pointer_data(void* data, int mode);
  void store_inline(const void* bytes, int count);
  void store_value(uint32_t word);
  int inline_width() const;
  bool set_string_size(const char* text);
  void apply_type_table();
  void take_table_row(int row_size, int row_flags);
  void set_index(int slot) { index = static_cast<uint16_t>(slot); }
  // Makes the element present with the value 0 (a null pointer for the types
  // held by pointer), as a decoder does before the values arrive.
  void mark_present();

  // Names up to this length, their NUL included, are kept in short_name.
  static constexpr size_t kShortName = 24;

  VARENUM type;
  char* name;  // short_name, a heap copy, or null when the copy failed
  char short_name[kShortName];
  // The value slot: a pointer to the data, or for inline types the value
  // itself in the slot's first bytes with the rest 0.
  union {
    void* pointer;
    unsigned char bytes[sizeof(void*)];
  } value;
  uint16_t size;
  uint16_t index;
  uint16_t flags;
};
