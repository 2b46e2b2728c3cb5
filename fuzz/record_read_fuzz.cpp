// Fuzz target for DataRecord::Read, the parser of every discovery datagram and
// unit-route broadcast. Each input is read in the presence mode it chooses,
// once whole and once in up to eight pieces; the two records must agree. What
// was read is then encoded whole and in small buffers (the bytes must agree),
// read back, and encoded again (the bytes must not change). The sanitizers
// catch any access outside the buffers; a disagreement aborts.
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
#include <string>
#include <vector>

#include "DataRecord.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Encodings larger than this are not compared: the point is the parser, and
// zero-filling many declared 64 KiB values would only slow the fuzzer down.
constexpr size_t kMaxEncoding = 1 << 20;

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "record_read_fuzz: %s\n", what);
  std::abort();
}

// Names, types, flags, sizes and value bytes of every element, in index order.
std::string describe(const DataRecord& record) {
  std::string text;
  for (int i = 0; i < record.getCount(); ++i) {
    const RecordElement* element = record.Find(i);
    const unsigned char* data = static_cast<const unsigned char*>(element->getData());
    text += element->getName();
    text += '|' + std::to_string(element->getType()) + '|' + std::to_string(element->getFlags());
    if (data != nullptr) {
      const bool inline_value = (element->getFlags() & RecordElement::kInline) != 0;
      const size_t size = inline_value ? 4 : element->getDataSize();
      text += '|' + std::to_string(element->getDataSize()) + '|';
      text.append(reinterpret_cast<const char*>(data), size);
    }
    text += '\n';
  }
  return text;
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

bool write_whole(DataRecord& record, Bytes& out) {
  static Bytes buffer(kMaxEncoding);
  int written = -1;
  const bool done = record.Write(buffer.data(), static_cast<int>(buffer.size()), &written);
  check(written >= 0 && written <= static_cast<int>(buffer.size()), "Write reported a bad count");
  if (!done) return false;
  out.assign(buffer.begin(), buffer.begin() + written);
  return true;
}

Bytes write_in_pieces(DataRecord& record, size_t piece) {
  Bytes out;
  Bytes buffer;
  size_t room = piece;
  for (;;) {
    buffer.resize(room);
    int written = -1;
    const bool done = record.Write(buffer.data(), static_cast<int>(room), &written);
    check(written >= 0 && static_cast<size_t>(written) <= room, "Write overran its buffer");
    out.insert(out.end(), buffer.begin(), buffer.begin() + written);
    if (done) return out;
    // An entry or value larger than the buffer needs a larger one.
    room = written == 0 ? room * 2 : piece;
  }
}

// The reader reads no data section when none follows the header, so a record
// whose encoding is all header does not come back with its values present.
bool has_data_section(const Bytes& encoding) {
  DataRecord probe;
  const int header = probe.ReadHeader(encoding.data(), static_cast<int>(encoding.size()));
  return header >= 0 && header < static_cast<int>(encoding.size());
}

void exercise_accessors(const DataRecord& record) {
  for (int i = 0; i < record.getCount(); ++i) {
    const char* name = record.Find(i)->getName();
    int value = 0;
    record.getData(name, &value);
    const char* text = record.getStringData(name);
    if (text != nullptr) check(std::string(text).size() < 0x10000, "string without end");
  }
  record.Dump();
}

void check_reencoding(DataRecord& record, size_t piece) {
  Bytes whole;
  if (!write_whole(record, whole)) return;
  const int mode = record.getFlags();
  check(write_in_pieces(record, piece) == whole, "piecewise Write differs from one Write");
  DataRecord reread;
  reread.setFlags(mode);
  check(reread.Read(whole.data(), static_cast<int>(whole.size())) == static_cast<int>(whole.size()),
        "an encoding was not read whole");
  if (!has_data_section(whole)) return;
  Bytes again;
  check(write_whole(reread, again) && again == whole, "encoding changed after a round trip");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Dump runs on every input; its text is of no interest here.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
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
  const int taken = whole.Read(record_bytes.data(), static_cast<int>(length));
  check(taken >= -1 && taken <= static_cast<int>(length), "Read returned an impossible count");

  // The cuts fall before the end of the record (where the whole read stopped):
  // a piece that ended exactly there would leave the next one to start a new
  // record. The last piece runs to the end of the input. A mode 3 value runs
  // to the end of each call's input, so in mode 3 the cuts stay in the header.
  size_t limit = taken >= 0 ? static_cast<size_t>(taken) : length;
  if (mode == 3) {
    DataRecord probe;
    const int header = probe.ReadHeader(record_bytes.data(), static_cast<int>(length));
    if (header >= 0 && static_cast<size_t>(header) < limit) limit = header;
  }
  std::vector<size_t> cuts = {0, length};
  for (size_t i = 0; i + 1 < pieces; ++i) cuts.push_back(cut_bytes[i] * limit / 256);
  std::sort(cuts.begin(), cuts.end());
  DataRecord split;
  split.setFlags(mode);
  read_in_pieces(split, record_bytes.data(), cuts);
  check(describe(split) == describe(whole), "pieces read differently");

  exercise_accessors(whole);
  check_reencoding(whole, write_piece);
  return 0;
}
