// Encoding and decoding of the record. Both walk the index order with a cursor
// that survives between calls. The decoder never reads a byte it was not given:
// each piece (a 16-bit number, a name, a value) is either complete in the input
// or copied into the record's cut-bytes buffer until the next call completes
// it. Values are stored with RecordElement::setData, so an inline value never
// takes more than the slot holds.
#include "DataRecord.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "LittleEndian.h"

namespace {

constexpr uintptr_t kMarker = ~static_cast<uintptr_t>(0);
constexpr size_t kMaxValueSize = 0xFFFF;
constexpr size_t kNoLimit = ~static_cast<size_t>(0);
// What a zero-length value points at.
const unsigned char kNoBytes[1] = {0};

unsigned load16(const unsigned char* bytes) { return ZEQ::ReadLe16(bytes); }

void store16(unsigned char* at, unsigned number) {
  ZEQ::WriteLe16(at, static_cast<std::uint16_t>(number));
}

template <typename T>
T load(const void* data) {
  T result;
  std::memcpy(&result, data, sizeof result);
  return result;
}

bool usable(const void* buf, int size) { return size >= 0 && (buf != nullptr || size == 0); }

const unsigned char* bytes_of(const void* buf) {
  return buf != nullptr ? static_cast<const unsigned char*>(buf) : kNoBytes;
}

void* as_pointer(int value) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(value)));
}

bool is_present(const RecordElement* element) {
  return (element->getFlags() & RecordElement::kNull) == 0;
}

// The length of a string value up to its NUL, never past its size.
size_t string_length(const void* data, size_t size) {
  const void* nul = std::memchr(data, 0, size);
  return nul != nullptr ? static_cast<const char*>(nul) - static_cast<const char*>(data) : size;
}

}  // namespace

// ---- cut bytes

bool DataRecord::CutBytes::append(const unsigned char* bytes, size_t count) {
  if (count > room - length) {
    size_t wanted = room != 0 ? room : 64;
    while (wanted - length < count) wanted *= 2;
    void* bigger = realloc(data, wanted);
    if (bigger == nullptr) return false;
    data = static_cast<unsigned char*>(bigger);
    room = wanted;
  }
  if (count != 0) std::memcpy(data + length, bytes, count);
  length += count;
  return true;
}

void DataRecord::CutBytes::release() {
  free(data);
  data = nullptr;
  length = room = 0;
}

// ---- elements

DataRecord::DataRecord() : cursor(0), state(0), phase(Phase::kIdle) { abandon(); }

DataRecord::~DataRecord() { cut.release(); }

bool DataRecord::add_replacing(RecordElement* element) {
  if (element == nullptr) return false;
  RecordElement* older = nullptr;
  if (CollectionOfRecordElements::Add(element, &older) == nullptr) return false;
  if (older != element) delete older;
  return true;
}

void DataRecord::Add(RecordElement* element) { add_replacing(element); }

void DataRecord::Remove(RecordElement* element) { CollectionOfRecordElements::Remove(element); }

RecordElement* DataRecord::Put(int type, const char* name, void* data, int flags,
                               unsigned long size) {
  RecordElement* element =
      new (std::nothrow) RecordElement(name, static_cast<VARENUM>(type), static_cast<int>(size));
  if (element == nullptr) return nullptr;
  element->setDataSize(static_cast<int>(size));
  if ((flags & kPutSizeStoredInRecord) != 0) element->setSizeStoredInRecord(true);
  if ((flags & kPutExcludeFromHeader) != 0) element->setExcludeFromHeader(true);
  element->setData(data, flags);
  if (!add_replacing(element)) {
    delete element;
    return nullptr;
  }
  return element;
}

RecordElement* DataRecord::Put(int type, const char* name, int value) {
  return Put(type, name, as_pointer(value), 0, 0);
}

RecordElement* DataRecord::Put(int type, const char* name, int value, int flags) {
  return Put(type, name, as_pointer(value), flags, 0);
}

bool DataRecord::getData(const char* name, int* value) const {
  const RecordElement* element = Find(name);
  if (element == nullptr || value == nullptr) return false;
  const void* data = element->getData();
  if (data == nullptr) return false;
  const int size = element->getDataSize();
  if (size >= 4) {
    *value = load<int32_t>(data);
  } else if (size >= 2) {
    *value = load<int16_t>(data);
  } else if (size == 1) {
    *value = load<int8_t>(data);
  } else if (element->getType() == VT_BOOL) {
    *value = static_cast<int>(load<uint32_t>(data) & 0xFF);
  } else {
    return false;
  }
  return true;
}

const char* DataRecord::getStringData(const char* name) const {
  const RecordElement* element = Find(name);
  if (element == nullptr || element->getType() != VT_BSTR) return nullptr;
  const void* data = element->getData();
  const int size = element->getDataSize();
  if (data == nullptr || size < 1 || std::memchr(data, 0, size) == nullptr) return nullptr;
  return static_cast<const char*>(data);
}

void DataRecord::setFlags(int flags) {
  state = static_cast<unsigned char>((state & ~kModeMask) | (flags & kModeMask));
}

void DataRecord::Clear() {
  cursor = 0;
  CollectionOfRecordElements::Clear();
  state = 0;
  abandon();
}

// ---- progress shared by both directions

// A record is written or read, not both at once: starting one direction while
// the other is under way gives up the unfinished one (the mode stays).
void DataRecord::begin(Phase wanted) {
  if (phase == wanted) return;
  abandon();
  phase = wanted;
}

void DataRecord::abandon() {
  cursor = 0;
  state &= kModeMask;
  phase = Phase::kIdle;
  piece = Piece::kEntryType;
  data_started = false;
  bool_byte = bool_bit = 0;
  entry_type = entry_declared = 0;
  list_due = value_length = 0;
  list_count = 0;
  list_slot = -1;
  cut.clear();
}

int DataRecord::cursor_slot() const {
  return cursor == 0 || cursor == kMarker ? 0 : static_cast<int>(cursor - 1);
}

// How an element's value travels. Only sized types can have their size stored
// in the record; the flag means nothing on any other type.
DataRecord::WireKind DataRecord::wire_kind(const RecordElement* element) {
  const int type = element->getType();
  const int flags = element->getFlags();
  if (type == VT_BOOL) return WireKind::kBool;
  if (type == VT_BSTR) return WireKind::kString;
  if (RecordElement::IsSizedType(type)) {
    return (flags & RecordElement::kSizeStoredInRecord) != 0 ? WireKind::kStored : WireKind::kFixed;
  }
  return (flags & RecordElement::kFixedSize) != 0 ? WireKind::kFixed : WireKind::kNothing;
}

// ---- writing

bool DataRecord::Write(void* buf, int size, int* written) {
  int header = 0;
  const bool header_done = WriteHeader(buf, size, &header);
  if (written != nullptr) *written = header;
  if (!header_done) return false;
  int data = 0;
  const bool done = WriteData(static_cast<char*>(buf) + header, size - header, &data);
  if (written != nullptr) *written = header + data;
  return done;
}

size_t DataRecord::header_entry_size(const RecordElement* element) {
  const size_t declared = RecordElement::IsSizedType(element->getType() & 0xFFFF) ? 2 : 0;
  return 2 + declared + std::strlen(element->getName()) + 1;
}

void DataRecord::put_header_entry(unsigned char* at, const RecordElement* element) {
  const unsigned type = element->getType() & 0xFFFF;
  store16(at, type);
  at += 2;
  if (RecordElement::IsSizedType(type)) {
    const bool stored = (element->getFlags() & RecordElement::kSizeStoredInRecord) != 0;
    store16(at, stored ? 0xFFFF : element->getDataSize());
    at += 2;
  }
  const char* name = element->getName();
  std::memcpy(at, name, std::strlen(name) + 1);
}

bool DataRecord::WriteHeader(void* buf, int size, int* written) {
  int ignored = 0;
  if (written == nullptr) written = &ignored;
  *written = 0;
  if (!usable(buf, size)) return false;
  begin(Phase::kWriting);
  // A data section already under way means the header is behind us.
  if ((state & (kHeaderDone | kPresenceListDone)) != 0 || list_slot >= 0) return true;
  unsigned char* out = static_cast<unsigned char*>(buf);
  size_t used = 0;
  // Every entry must leave the terminator's two bytes free.
  const size_t room = size >= 2 ? size - 2 : 0;
  for (int slot = cursor_slot(); slot < getCount(); ++slot) {
    set_cursor_slot(slot);
    const RecordElement* element = Find(slot);
    if ((element->getFlags() & RecordElement::kExcludeFromHeader) != 0) continue;
    const size_t entry = header_entry_size(element);
    if (size < 2 || entry > room - used) {
      *written = static_cast<int>(used);
      return false;
    }
    put_header_entry(out + used, element);
    used += entry;
  }
  if (size - used < 2) return false;
  store16(out + used, 0);
  cursor = 0;
  state |= kHeaderDone;
  *written = static_cast<int>(used + 2);
  return true;
}

// Picks the presence mode from the counts of all (T), present (P) and present
// stored-size (S) elements, VT_NULL ones aside, and the list's length.
int DataRecord::choose_mode() {
  int all = 0, present = 0, stored = 0;
  for (int slot = 0; slot < getCount(); ++slot) {
    const RecordElement* element = Find(slot);
    if (element->getType() == VT_NULL) continue;
    ++all;
    if (!is_present(element)) continue;
    ++present;
    if (wire_kind(element) == WireKind::kStored) ++stored;
  }
  if (present == all) {
    list_count = 0;
    return all == 1 && stored == 1 ? 3 : 0;
  }
  const int absent = all - present;
  list_count = present <= absent ? present : absent;
  return present <= absent ? 1 : 2;
}

// Writes the count (once) and then as many indices as fit; returns true when
// the list is complete.
bool DataRecord::write_presence_list(Output& out, int* used) {
  const int mode = state & kModeMask;
  if (list_slot < 0) {
    if (out.room < 2) return false;
    store16(out.at, list_count);
    out.at += 2;
    out.room -= 2;
    *used += 2;
    list_slot = 0;
  }
  for (; list_slot < getCount(); ++list_slot) {
    const RecordElement* element = Find(list_slot);
    if (element->getType() == VT_NULL || is_present(element) != (mode == 1)) continue;
    if (out.room < 2) return false;
    store16(out.at, list_slot);
    out.at += 2;
    out.room -= 2;
    *used += 2;
  }
  return true;
}

bool DataRecord::WriteData(void* buf, int size, int* written) {
  int ignored = 0;
  if (written == nullptr) written = &ignored;
  *written = 0;
  if (!usable(buf, size)) return false;
  begin(Phase::kWriting);
  Output out{static_cast<unsigned char*>(buf), static_cast<size_t>(size), nullptr, 0};
  int used = 0;
  if ((state & kPresenceListDone) == 0) {
    if (list_slot < 0) setFlags(choose_mode());
    const int mode = state & kModeMask;
    if ((mode == 1 || mode == 2) && !write_presence_list(out, &used)) {
      *written = used;
      return false;
    }
    state |= kPresenceListDone;
    cursor = 0;
  }
  for (int slot = cursor_slot(); slot < getCount(); ++slot) {
    set_cursor_slot(slot);
    const RecordElement* element = Find(slot);
    if (!is_present(element) || element->getType() == VT_NULL) continue;
    unsigned char* before = out.at;
    if (!encode_value(element, out)) {
      *written = used;
      return false;
    }
    used += static_cast<int>(out.at - before);
  }
  const unsigned char mode = state & kModeMask;
  abandon();
  state = mode;
  *written = used;
  return true;
}

// Encodes one present value if it fits whole; a boolean needs room only when
// it starts a new byte (the bit position starts at 0 in each call).
bool DataRecord::encode_value(const RecordElement* element, Output& out) {
  const void* data = element->getData();
  size_t size = element->getDataSize();
  switch (wire_kind(element)) {
    case WireKind::kNothing: return true;
    case WireKind::kBool: {
      if (out.bool_bit == 0) {
        if (out.room < 1) return false;
        out.bool_byte = out.at++;
        *out.bool_byte = 0;
        --out.room;
      }
      if (load<uint32_t>(data) != 0)
        *out.bool_byte |= static_cast<unsigned char>(1 << out.bool_bit);
      out.bool_bit = (out.bool_bit + 1) & 7;
      return true;
    }
    case WireKind::kString: {
      // A string always travels with its NUL, so the reader can find its end.
      const size_t length = data != nullptr ? string_length(data, size) : 0;
      if (out.room < length + 1) return false;
      if (length != 0) std::memcpy(out.at, data, length);
      out.at[length] = 0;
      out.at += length + 1;
      out.room -= length + 1;
      return true;
    }
    case WireKind::kStored:
    case WireKind::kFixed: break;
  }
  const bool prefixed = wire_kind(element) == WireKind::kStored && (state & kModeMask) != 3;
  if (data == nullptr && prefixed) size = 0;  // a present value still to come counts as empty
  const size_t prefix = prefixed ? 2 : 0;
  if (out.room < prefix + size) return false;
  if (prefixed) store16(out.at, static_cast<unsigned>(size));
  if (data != nullptr) {
    std::memcpy(out.at + prefix, data, size);
  } else {
    std::memset(out.at + prefix, 0, size);
  }
  out.at += prefix + size;
  out.room -= prefix + size;
  return true;
}

// ---- reading

int DataRecord::Read(const void* buf, int size) {
  const int header = ReadHeader(buf, size);
  if (header < 0) return header;
  if (header == size) return size;
  const int data = ReadData(static_cast<const char*>(buf) + header, size - header);
  if (data < 0) return data;
  return header + data;
}

// Collects `need` bytes of a piece that the input may cut. On kReady *out
// points at them (in the input or in the cut buffer, which the caller clears
// once it has used them).
DataRecord::Take DataRecord::take_bytes(const unsigned char*& p, const unsigned char* end,
                                        size_t need, const unsigned char** out) {
  const size_t available = end - p;
  if (need == 0) {
    *out = kNoBytes;
    return Take::kReady;
  }
  if (cut.length == 0 && available >= need) {
    *out = p;
    p += need;
    return Take::kReady;
  }
  const size_t count = need - cut.length < available ? need - cut.length : available;
  if (!cut.append(p, count)) return Take::kFailed;
  p += count;
  if (cut.length < need) return Take::kShort;
  *out = cut.data;
  return Take::kReady;
}

// Collects a piece that ends with a NUL (included), at most `limit` bytes.
DataRecord::Take DataRecord::take_through_nul(const unsigned char*& p, const unsigned char* end,
                                              size_t limit, const unsigned char** out,
                                              size_t* length) {
  const size_t available = end - p;
  const void* nul = available != 0 ? std::memchr(p, 0, available) : nullptr;
  const size_t count = nul != nullptr ? static_cast<const unsigned char*>(nul) - p + 1 : available;
  if (count > limit - cut.length) return Take::kFailed;
  if (cut.length == 0 && nul != nullptr) {
    *out = p;
    *length = count;
    p += count;
    return Take::kReady;
  }
  if (!cut.append(p, count)) return Take::kFailed;
  p += count;
  if (nul == nullptr) return Take::kShort;
  *out = cut.data;
  *length = cut.length;
  return Take::kReady;
}

int DataRecord::ReadHeader(const void* buf, int size) {
  if (!usable(buf, size)) return -1;
  begin(Phase::kReading);
  if ((state & kHeaderDone) != 0 || data_started) return 0;
  if (cursor == 0) {
    // A new record: drop what an earlier header made, keep what the reader
    // defined itself.
    ZeroEntries();
    cursor = kMarker;
    piece = Piece::kEntryType;
    cut.clear();
  }
  const unsigned char* start = bytes_of(buf);
  const unsigned char* p = start;
  for (;;) {
    switch (read_header_entry(p, start + size)) {
      case Entry::kAdded: continue;
      case Entry::kTerminator:
        cursor = 0;
        state |= kHeaderDone;
        return static_cast<int>(p - start);
      case Entry::kNeedMore: return static_cast<int>(p - start);
      // Cut inside an entry: the record is incomplete. The bytes are kept, so
      // a caller who has more of them can still go on.
      case Entry::kCut: return -1;
      case Entry::kFailed: abandon(); return -1;
    }
  }
}

DataRecord::Entry DataRecord::read_header_entry(const unsigned char*& p, const unsigned char* end) {
  const unsigned char* bytes = nullptr;
  Take taken = Take::kReady;
  if (piece == Piece::kEntryType) {
    if ((taken = take_bytes(p, end, 2, &bytes)) != Take::kReady) {
      return taken == Take::kShort ? Entry::kNeedMore : Entry::kFailed;
    }
    entry_type = static_cast<uint16_t>(load16(bytes));
    cut.clear();
    if (entry_type == 0) return Entry::kTerminator;
    entry_declared = 0;
    piece = RecordElement::IsSizedType(entry_type) ? Piece::kDeclaredSize : Piece::kName;
  }
  if (piece == Piece::kDeclaredSize) {
    if ((taken = take_bytes(p, end, 2, &bytes)) != Take::kReady) {
      return taken == Take::kShort ? Entry::kCut : Entry::kFailed;
    }
    entry_declared = static_cast<uint16_t>(load16(bytes));
    cut.clear();
    piece = Piece::kName;
  }
  size_t length = 0;
  if ((taken = take_through_nul(p, end, kNoLimit, &bytes, &length)) != Take::kReady) {
    return taken == Take::kShort ? Entry::kCut : Entry::kFailed;
  }
  const bool added =
      add_header_element(reinterpret_cast<const char*>(bytes), entry_type, entry_declared);
  cut.clear();
  piece = Piece::kEntryType;
  return added ? Entry::kAdded : Entry::kFailed;
}

bool DataRecord::add_header_element(const char* name, unsigned type, unsigned declared) {
  RecordElement* element = new (std::nothrow) RecordElement(name, static_cast<VARENUM>(type), 0);
  if (element == nullptr) return false;
  if (std::strcmp(element->getName(), name) != 0) {  // the name could not be copied
    delete element;
    return false;
  }
  if (declared == 0xFFFF) {
    element->setSizeStoredInRecord(true);
    element->setDataSize(0);
  } else if (declared != 0) {
    element->setSizeStoredInRecord(false);
    element->setDataSize(static_cast<int>(declared));
  }
  if (!add_replacing(element)) {
    delete element;
    return false;
  }
  return true;
}

int DataRecord::ReadData(const void* buf, int size) {
  if (!usable(buf, size)) return -1;
  begin(Phase::kReading);
  const unsigned char* start = bytes_of(buf);
  const unsigned char* p = start;
  if ((state & kPresenceListDone) == 0) {
    const char* after = read_data_preamble(reinterpret_cast<const char*>(start), size);
    if (after == nullptr) {
      abandon();
      return -1;
    }
    p = reinterpret_cast<const unsigned char*>(after);
    if ((state & kPresenceListDone) == 0) return static_cast<int>(p - start);
    cursor = 0;
  }
  for (int slot = cursor_slot(); slot < getCount(); ++slot) {
    set_cursor_slot(slot);
    RecordElement* element = Find(slot);
    if (!is_present(element)) continue;
    const Take taken = read_value(element, p, start + size);
    if (taken == Take::kShort) return static_cast<int>(p - start);
    if (taken == Take::kFailed) {
      abandon();
      return -1;
    }
  }
  finish_read();
  return static_cast<int>(p - start);
}

void DataRecord::finish_read() {
  const unsigned char mode = state & kModeMask;
  abandon();
  state = mode;
}

const char* DataRecord::read_data_preamble(const char* buf, int size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(buf);
  if (!data_started) {
    start_presence();
    data_started = true;
    cursor = kMarker;
    piece = Piece::kListCount;
    cut.clear();
  }
  const int mode = state & kModeMask;
  if (mode == 1 || mode == 2) {
    const Take taken = read_presence_list(p, p + size, mode);
    if (taken == Take::kFailed) return nullptr;
    if (taken == Take::kShort) return reinterpret_cast<const char*>(p);
  }
  state |= kPresenceListDone;
  piece = Piece::kValueLength;
  bool_bit = 0;
  return reinterpret_cast<const char*>(p);
}

// Before the list: in mode 1 every element is absent until listed, in the
// other modes every element is present with the value 0 until its value comes.
void DataRecord::start_presence() {
  const int mode = state & kModeMask;
  for (int slot = 0; slot < getCount(); ++slot) {
    RecordElement* element = Find(slot);
    if (element->getType() == VT_NULL) continue;  // never has a value
    if (mode == 1) {
      element->ClearData();
    } else {
      element->mark_present();
    }
  }
}

DataRecord::Take DataRecord::read_presence_list(const unsigned char*& p, const unsigned char* end,
                                                int mode) {
  const unsigned char* bytes = nullptr;
  if (piece == Piece::kListCount) {
    const Take taken = take_bytes(p, end, 2, &bytes);
    if (taken != Take::kReady) return taken;
    list_due = load16(bytes);
    cut.clear();
    piece = Piece::kListEntry;
  }
  while (list_due > 0) {
    const Take taken = take_bytes(p, end, 2, &bytes);
    if (taken != Take::kReady) return taken;
    RecordElement* element = Find(static_cast<int>(load16(bytes)));
    cut.clear();
    --list_due;
    // An index that names no element is ignored.
    if (element == nullptr || element->getType() == VT_NULL) continue;
    if (mode == 1) {
      element->mark_present();
    } else {
      element->ClearData();
    }
  }
  return Take::kReady;
}

DataRecord::Take DataRecord::read_value(RecordElement* element, const unsigned char*& p,
                                        const unsigned char* end) {
  const unsigned char* bytes = nullptr;
  Take taken = Take::kReady;
  switch (wire_kind(element)) {
    case WireKind::kNothing: return Take::kReady;
    case WireKind::kBool:
      if (bool_bit == 0) {
        if (p == end) return Take::kShort;
        bool_byte = *p++;
      }
      element->setData((bool_byte >> bool_bit) & 1);
      bool_bit = (bool_bit + 1) & 7;
      return Take::kReady;
    case WireKind::kString: {
      size_t length = 0;
      taken = take_through_nul(p, end, kMaxValueSize, &bytes, &length);
      if (taken == Take::kReady)
        element->setData(const_cast<unsigned char*>(bytes), RecordElement::kCopy);
      break;
    }
    case WireKind::kStored: return read_stored_value(element, p, end);
    case WireKind::kFixed:
      taken = take_bytes(p, end, element->getDataSize(), &bytes);
      if (taken == Take::kReady)
        element->setData(const_cast<unsigned char*>(bytes), RecordElement::kCopy);
      break;
  }
  if (taken == Take::kReady) cut.clear();
  return taken;
}

// A value with its own length: a 16-bit prefix, or in mode 3 the rest of the input.
DataRecord::Take DataRecord::read_stored_value(RecordElement* element, const unsigned char*& p,
                                               const unsigned char* end) {
  const unsigned char* bytes = nullptr;
  if ((state & kModeMask) == 3) {
    const size_t length = end - p;
    if (length > kMaxValueSize) return Take::kFailed;
    element->setDataSize(static_cast<int>(length));
    element->setData(const_cast<unsigned char*>(length != 0 ? p : kNoBytes), RecordElement::kCopy);
    p = end;
    return Take::kReady;
  }
  if (piece != Piece::kValue) {
    const Take taken = take_bytes(p, end, 2, &bytes);
    if (taken != Take::kReady) return taken;
    value_length = load16(bytes);
    cut.clear();
    piece = Piece::kValue;
  }
  const Take taken = take_bytes(p, end, value_length, &bytes);
  if (taken != Take::kReady) return taken;
  element->setDataSize(static_cast<int>(value_length));
  element->setData(const_cast<unsigned char*>(bytes), RecordElement::kCopy);
  cut.clear();
  piece = Piece::kValueLength;
  return Take::kReady;
}
