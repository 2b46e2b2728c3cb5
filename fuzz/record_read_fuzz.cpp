// Fuzz target for DataRecord::Read, the parser of every discovery datagram and
// unit-route broadcast. Each input is read in the presence mode it chooses,
// once whole (header and data in turn) and once through Read in up to eight
// pieces; the two records must agree. What was read is then encoded whole and
// in small buffers (the bytes must agree), read back, and encoded again (the
// bytes must not change). The sanitizers catch any access outside the
// buffers; a disagreement aborts.
//
// Input layout:
//   byte 0   bits 0-1: presence mode; bits 2-4: number of pieces less one
//   byte 1   write buffer size for the piecewise encoding: 1 + 4 * value
//   then     one byte per cut (pieces less one), each a fraction of 256
//   rest     the record's bytes
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DataRecord.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Encodings larger than this are not compared. An input carries at most a
// datagram's worth of value bytes, so anything much larger is the zero fill
// of values declared but not sent: writing it three times and copying it
// into the read-back record cost more than all the parsing (profiled: about
// 40 % of the time went to filling, copying and faulting in that memory), and
// it exercises no path that a declared size of a few KiB does not.
constexpr size_t kMaxEncoding = 16 << 10;

// The encodings go into buffers that live as long as the process: a fresh
// allocation per input would cost more than the encoding itself (the address
// sanitizer keeps freed memory in quarantine, so every allocation touches new
// pages). Whatever a call may use sits at the end of its buffer, so that
// writing or reading past it still runs into the allocation's end.
Bytes whole_buffer(kMaxEncoding);
Bytes piece_buffer(kMaxEncoding);

// Printing goes nowhere without a system call: Dump flushes on every input.
ssize_t discard(void*, const char*, size_t size) { return static_cast<ssize_t>(size); }

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "record_read_fuzz: %s\n", what);
  std::abort();
}

// Whether two records hold the same elements in index order: names, types,
// flags, and the sizes and bytes of the values they have.
bool same_elements(const DataRecord& a, const DataRecord& b) {
  if (a.getCount() != b.getCount()) return false;
  for (int i = 0; i < a.getCount(); ++i) {
    const RecordElement* x = a.Find(i);
    const RecordElement* y = b.Find(i);
    if (std::strcmp(x->getName(), y->getName()) != 0 || x->getType() != y->getType() ||
        x->getFlags() != y->getFlags()) {
      return false;
    }
    const void* x_data = x->getData();
    const void* y_data = y->getData();
    if ((x_data == nullptr) != (y_data == nullptr)) return false;
    if (x_data == nullptr) continue;
    const bool inline_value = (x->getFlags() & RecordElement::kInline) != 0;
    const size_t size = inline_value ? 4 : x->getDataSize();
    if (x->getDataSize() != y->getDataSize() || std::memcmp(x_data, y_data, size) != 0)
      return false;
  }
  return true;
}

// Reads what follows a header of `header` bytes (or its -1) and returns what
// Read would have returned for the whole input. The whole read goes in these
// two steps to learn the header's length, which the cuts in mode 3 need; the
// read in pieces goes through Read, so the two reads check each other.
int read_rest(DataRecord& record, const unsigned char* bytes, size_t length, int header) {
  check(header >= -1 && header <= static_cast<int>(length),
        "ReadHeader returned an impossible count");
  if (header < 0 || static_cast<size_t>(header) == length) return header;
  const int data = record.ReadData(bytes + header, static_cast<int>(length - header));
  check(data >= -1 && data <= static_cast<int>(length) - header,
        "ReadData returned an impossible count");
  return data < 0 ? data : header + data;
}

// Reads the pieces in order. Every piece but the last ends before the end of
// the record and must be taken whole (-1 from a piece that ends inside a
// header entry is not the end: the record keeps the cut bytes).
void read_in_pieces(DataRecord& record, const uint8_t* bytes, const std::vector<size_t>& cuts) {
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    const int size = static_cast<int>(cuts[i + 1] - cuts[i]);
    if (size == 0) continue;
    const int taken = record.Read(bytes + cuts[i], size);
    check(taken >= -1 && taken <= size, "Read returned an impossible count");
    if (i + 2 < cuts.size()) check(taken == -1 || taken == size, "a piece was not taken whole");
  }
}

// Encodes the record in one call into the whole of the buffer and moves the
// encoding to the buffer's end. Returns the encoding, or null when it does
// not fit.
const unsigned char* write_whole(DataRecord& record, Bytes& buffer, size_t* length) {
  int written = -1;
  const bool done = record.Write(buffer.data(), static_cast<int>(buffer.size()), &written);
  check(written >= 0 && written <= static_cast<int>(buffer.size()), "Write reported a bad count");
  if (!done) return nullptr;
  *length = static_cast<size_t>(written);
  unsigned char* at = buffer.data() + buffer.size() - *length;
  std::memmove(at, buffer.data(), *length);
  return at;
}

// Encodes the record in calls of `piece` bytes (more when an entry or value
// needs it) and checks that the pieces make up the one-call encoding.
void check_piecewise(DataRecord& record, size_t piece, const unsigned char* whole, size_t length) {
  size_t at = 0;
  size_t room = piece;
  for (;;) {
    unsigned char* window = piece_buffer.data() + piece_buffer.size() - room;
    int written = -1;
    const bool done = record.Write(window, static_cast<int>(room), &written);
    check(written >= 0 && static_cast<size_t>(written) <= room, "Write overran its buffer");
    check(static_cast<size_t>(written) <= length - at &&
              std::memcmp(window, whole + at, written) == 0,
          "piecewise Write differs from one Write");
    at += written;
    if (done) {
      check(at == length, "piecewise Write ended early");
      return;
    }
    // An entry or value larger than the buffer needs a larger one.
    check(written != 0 || room < piece_buffer.size(), "Write made no progress in any buffer");
    room = written == 0 ? std::min(room * 2, piece_buffer.size()) : piece;
  }
}

void exercise_accessors(const DataRecord& record) {
  for (int i = 0; i < record.getCount(); ++i) {
    const char* name = record.Find(i)->getName();
    int value = 0;
    record.getData(name, &value);
    const char* text = record.getStringData(name);
    if (text != nullptr) check(std::strlen(text) < 0x10000, "string without end");
  }
  record.Dump();
}

// Reads an encoding back. Returns true when a data section followed the
// header.
bool read_back(DataRecord& record, const unsigned char* encoding, size_t length) {
  const int header = record.ReadHeader(encoding, static_cast<int>(length));
  check(header >= 0, "an encoding's header was not read");
  check(read_rest(record, encoding, length, header) == static_cast<int>(length),
        "an encoding was not read whole");
  return static_cast<size_t>(header) < length;
}

void check_reencoding(DataRecord& record, size_t piece) {
  size_t length = 0;
  const unsigned char* whole = write_whole(record, whole_buffer, &length);
  if (whole == nullptr) return;
  const int mode = record.getFlags();
  check_piecewise(record, piece, whole, length);
  DataRecord reread;
  reread.setFlags(mode);
  // The reader reads no data section when none follows the header, so a
  // record whose encoding is all header does not come back with its values
  // present.
  if (!read_back(reread, whole, length)) return;
  size_t again_length = 0;
  const unsigned char* again = write_whole(reread, piece_buffer, &again_length);
  check(again != nullptr && again_length == length && std::memcmp(again, whole, length) == 0,
        "encoding changed after a round trip");
}

}  // namespace

// A smaller quarantine for freed memory than the address sanitizer's 256 MB:
// the larger it is, the longer freed memory rests before it is handed out
// again, and the more often an allocation lands on memory that is no longer in
// the cache or was given back to the system (page faults took a fifth of the
// time with the default, and 2 MB runs a tenth faster than 16 MB). An input
// of the longest length allocates about 110 KB (more with the red zones), so
// a use after free within an input is still caught.
// Recording the stack of every allocation took another fifth: reports here
// show where a fault happened but not where the memory was allocated (run a
// finding again with malloc_context_size=30).
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=2:malloc_context_size=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Dump runs on every input; its text is of no interest here.
  const cookie_io_functions_t sink = {nullptr, discard, nullptr, nullptr};
  FILE* nowhere = fopencookie(nullptr, "w", sink);
  if (nowhere != nullptr) stdout = nowhere;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int mode = data[0] & 3;
  const size_t pieces = 1 + ((data[0] >> 2) & 7);
  const size_t write_piece = 1 + 4 * static_cast<size_t>(data[1]);
  if (size < 2 + pieces - 1) return 0;
  const uint8_t* cut_bytes = data + 2;
  const uint8_t* bytes = cut_bytes + pieces - 1;
  const size_t length = size - (bytes - data);

  // Exactly sized copy: the sanitizer then sees any read past the end.
  const Bytes record_bytes(bytes, bytes + length);
  DataRecord whole;
  whole.setFlags(mode);
  const int header = whole.ReadHeader(record_bytes.data(), static_cast<int>(length));
  const int taken = read_rest(whole, record_bytes.data(), length, header);

  // The cuts fall before the end of the record (where the whole read stopped):
  // a piece that ended exactly there would leave the next one to start a new
  // record. The last piece runs to the end of the input. A mode 3 value runs
  // to the end of each call's input, so in mode 3 the cuts stay in the header.
  size_t limit = taken >= 0 ? static_cast<size_t>(taken) : length;
  if (mode == 3 && header >= 0 && static_cast<size_t>(header) < limit) limit = header;
  std::vector<size_t> cuts = {0, length};
  for (size_t i = 0; i + 1 < pieces; ++i) cuts.push_back(cut_bytes[i] * limit / 256);
  std::sort(cuts.begin(), cuts.end());
  DataRecord split;
  split.setFlags(mode);
  read_in_pieces(split, record_bytes.data(), cuts);
  check(same_elements(split, whole), "pieces read differently");

  exercise_accessors(whole);
  check_reencoding(whole, write_piece);
  return 0;
}
