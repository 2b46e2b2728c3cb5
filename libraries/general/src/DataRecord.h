// The self-describing binary record: a collection of elements that encodes
// itself as a header (type, declared size and name of each element) followed by
// a data section (an optional presence list, then the values), and decodes
// itself from those bytes. It is what travels in discovery datagrams and in the
// route helper's broadcasts, so the decoder takes any bytes at all: every size
// it uses comes either from the type table or from the input and is checked
// against what the input holds.
//
// Encoding and decoding may be split across calls, each with its own buffer.
// A writer stops before an entry or value that does not fit and goes on with
// it in the next call. A reader consumes everything it is given: a value, a
// header entry or a presence-list number cut by the end of the input is kept
// in the record and completed by the next call, so feeding the bytes in any
// number of pieces gives the same record as one call. Only a value in mode 3,
// which runs to the end of the data section, ends with each call's input: the
// caller who splits such a record must split it before its data section.
//
// Unlike the plain collection, the record destroys an element that a newer one
// of the same name replaces (in Add, Put and while reading a header), so that
// a header full of repeated names cannot leak memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CollectionOfRecordElements.h"

class DataRecord : public CollectionOfRecordElements {
 public:
  // The state bits: the presence mode in the low two, then the progress bits.
  static constexpr int kModeMask = 0x03;
  static constexpr int kHeaderDone = 0x04;
  static constexpr int kPresenceListDone = 0x08;
  // The flags of Put beyond the ownership mode in the low two bits.
  static constexpr int kPutSizeStoredInRecord = 0x8000;
  static constexpr int kPutExcludeFromHeader = 0x0200;

  DataRecord();
  ~DataRecord();

  void Add(RecordElement* element);
  void Remove(RecordElement* element);
  // Returns the new element, or null when it could not be made or added.
  RecordElement* Put(int type, const char* name, void* data, int flags, unsigned long size);
  RecordElement* Put(int type, const char* name, int value);
  RecordElement* Put(int type, const char* name, int value, int flags);

  bool getData(const char* name, int* value) const;
  const char* getStringData(const char* name) const;
  void setFlags(int flags);
  char getFlags() const { return static_cast<char>(state & kModeMask); }
  void Clear();

  bool Write(void* buf, int size, int* written);
  bool WriteHeader(void* buf, int size, int* written);
  bool WriteData(void* buf, int size, int* written);
  int Read(const void* buf, int size);
  int ReadHeader(const void* buf, int size);
  int ReadData(const void* buf, int size);

 private:
  enum class Phase : unsigned char { kIdle, kWriting, kReading };
  // The piece of input a reader waits for.
  enum class Piece : unsigned char {
    kEntryType,
    kDeclaredSize,
    kName,
    kListCount,
    kListEntry,
    kValueLength,
    kValue
  };
  enum class Take : unsigned char { kReady, kShort, kFailed };
  enum class Entry : unsigned char { kAdded, kTerminator, kNeedMore, kCut, kFailed };
  enum class WireKind : unsigned char { kNothing, kBool, kString, kStored, kFixed };

  // Bytes of a piece cut by the end of one call's input, kept for the next.
  struct CutBytes {
    unsigned char* data = nullptr;
    size_t length = 0;
    size_t room = 0;
    bool append(const unsigned char* bytes, size_t count);
    void clear() { length = 0; }
    void release();
  };

  // The write side's running state within one call.
  struct Output {
    unsigned char* at;
    size_t room;
    unsigned char* bool_byte;  // the byte the current booleans go into
    int bool_bit;
  };

  const char* read_data_preamble(const char* buf, int size);

  bool add_replacing(RecordElement* element);
  void begin(Phase wanted);
  void abandon();
  int cursor_slot() const;
  void set_cursor_slot(int slot) { cursor = static_cast<uintptr_t>(slot) + 1; }
  static WireKind wire_kind(const RecordElement* element);

  Entry read_header_entry(const unsigned char*& p, const unsigned char* end);
  bool add_header_element(const char* name, unsigned type, unsigned declared);
  void start_presence();
  Take read_presence_list(const unsigned char*& p, const unsigned char* end, int mode);
  Take read_value(RecordElement* element, const unsigned char*& p, const unsigned char* end);
  Take read_stored_value(RecordElement* element, const unsigned char*& p, const unsigned char* end);
  void finish_read();
  Take take_bytes(const unsigned char*& p, const unsigned char* end, size_t need,
                  const unsigned char** out);
  Take take_through_nul(const unsigned char*& p, const unsigned char* end, size_t limit,
                        const unsigned char** out, size_t* length);

  int choose_mode();
  bool write_presence_list(Output& out, int* used);
  bool encode_value(const RecordElement* element, Output& out);
  static size_t header_entry_size(const RecordElement* element);
  static void put_header_entry(unsigned char* at, const RecordElement* element);

  // Where an encode or decode goes on: 0 when idle; one more than the index
  // slot of the header entry or value under way; kMarker while a header or a
  // presence list is being read.
  uintptr_t cursor;
  unsigned char state;

  Phase phase;
  Piece piece;
  bool data_started;  // the reader has set up presence for this data section
  unsigned char bool_byte;
  unsigned char bool_bit;  // the reader's next bit within bool_byte
  uint16_t entry_type;
  uint16_t entry_declared;
  unsigned list_due;      // presence-list entries still to read
  unsigned value_length;  // the length prefix of the stored-size value under way
  int list_count;         // presence-list entries to write
  int list_slot;          // the writer's next slot for the presence list; -1 before the count
  CutBytes cut;
};
