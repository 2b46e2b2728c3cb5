// Hostile and odd input for DataRecord::Read: sizes in headers that the input
// does not hold, cut strings, repeated names, unknown types, presence lists
// that name nothing, and a deterministic stream of random records. Every input
// lives in a buffer of exactly its size, so a read past it shows up under the
// address sanitizer.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "DataRecord.h"
#include "RecordBytes.h"

namespace {

using recordtest::Bytes;
using recordtest::FromHex;
using recordtest::ToHex;
using recordtest::WriteAll;

int read(DataRecord& record, const Bytes& bytes, int mode = -1) {
  if (mode >= 0) record.setFlags(mode);
  Bytes exact(bytes);  // exactly sized: no slack to hide an over-read
  return record.Read(exact.data(), static_cast<int>(exact.size()));
}

TEST(DataRecordRobustnessTest, DeclaredSizeBeyondTheInputIsACutValue) {
  DataRecord record;
  const Bytes header = FromHex("41 00 FE FF 42 00 00 00");
  Bytes first = header;
  first.insert(first.end(), {1, 2, 3});
  EXPECT_EQ(read(record, first, 0), static_cast<int>(first.size()));
  EXPECT_EQ(record.Find("B")->getData(), nullptr);  // present, its value still to come

  Bytes rest(0xFFFE - 3, 0x5A);
  EXPECT_EQ(read(record, rest), static_cast<int>(rest.size()));
  const RecordElement* blob = record.Find("B");
  ASSERT_EQ(blob->getDataSize(), 0xFFFE);
  const unsigned char* data = static_cast<const unsigned char*>(blob->getData());
  EXPECT_EQ(ToHex(data, 4), "01 02 03 5A");
  EXPECT_EQ(data[0xFFFD], 0x5A);
}

TEST(DataRecordRobustnessTest, CutIntegerAndLengthPrefixResume) {
  DataRecord record;
  EXPECT_EQ(read(record, FromHex("03 00 78 00 41 00 FF FF 62 00 00 00 D2 04"), 0), 14);
  EXPECT_EQ(read(record, FromHex("00 00 05")), 3);
  EXPECT_EQ(read(record, FromHex("00 AA BB CC DD")), 5);
  EXPECT_EQ(read(record, FromHex("EE")), 1);
  int value = 0;
  EXPECT_TRUE(record.getData("x", &value));
  EXPECT_EQ(value, 1234);
  ASSERT_EQ(record.Find("b")->getDataSize(), 5);
  EXPECT_EQ(ToHex(static_cast<const unsigned char*>(record.Find("b")->getData()), 5),
            "AA BB CC DD EE");
}

TEST(DataRecordRobustnessTest, StringWithoutNulBeforeTheEndIsResumed) {
  DataRecord record;
  Bytes bytes = FromHex("08 00 73 00 00 00");
  bytes.insert(bytes.end(), {'a', 'b', 'c'});
  EXPECT_EQ(read(record, bytes, 0), static_cast<int>(bytes.size()));
  EXPECT_EQ(record.getStringData("s"), nullptr);
  EXPECT_EQ(read(record, Bytes{'d', 'e', 0}), 3);
  EXPECT_STREQ(record.getStringData("s"), "abcde");
  EXPECT_EQ(record.Find("s")->getDataSize(), 6);
}

TEST(DataRecordRobustnessTest, StringLongerThanASizeCanSayFails) {
  DataRecord record;
  EXPECT_EQ(read(record, FromHex("08 00 73 00 00 00"), 0), 6);
  const Bytes chunk(0x8000, 'x');
  EXPECT_EQ(read(record, chunk), static_cast<int>(chunk.size()));
  EXPECT_EQ(read(record, chunk), -1);
}

TEST(DataRecordRobustnessTest, CutDeclaredSizeOfAVectorFails) {
  DataRecord record;
  EXPECT_EQ(read(record, FromHex("03 10 05")), -1);
  DataRecord second;
  EXPECT_EQ(read(second, FromHex("03 10")), -1);
}

TEST(DataRecordRobustnessTest, UnknownTypesCarryNoBytesAndErrorBecomesNull) {
  DataRecord record;
  // Types 50, VT_ERROR and VT_I4, then the integer's four bytes.
  const Bytes bytes = FromHex("32 00 75 00 0A 00 65 00 03 00 76 00 00 00 07 00 00 00");
  EXPECT_EQ(read(record, bytes, 0), static_cast<int>(bytes.size()));
  EXPECT_EQ(record.Find("u")->getType(), 50);
  EXPECT_EQ(record.Find("e")->getType(), VT_NULL);
  int value = 0;
  EXPECT_TRUE(record.getData("v", &value));
  EXPECT_EQ(value, 7);
  EXPECT_FALSE(record.getData("u", &value));
}

TEST(DataRecordRobustnessTest, RepeatedNameKeepsTheLastEntry) {
  DataRecord record;
  const Bytes bytes = FromHex("03 00 61 00 08 00 61 00 0B 00 61 00 00 00 01");
  EXPECT_EQ(read(record, bytes, 0), static_cast<int>(bytes.size()));
  ASSERT_EQ(record.getCount(), 1);
  EXPECT_EQ(record.Find("a")->getType(), VT_BOOL);
  int value = 0;
  EXPECT_TRUE(record.getData("a", &value));
  EXPECT_EQ(value, 1);
}

TEST(DataRecordRobustnessTest, ModeThreeWithSeveralElementsGivesTheRestToTheFirstBlob) {
  DataRecord record;
  const Bytes bytes = FromHex("41 00 FF FF 61 00 41 00 FF FF 62 00 03 00 63 00 00 00 01 02 03");
  EXPECT_EQ(read(record, bytes, 3), static_cast<int>(bytes.size()));
  EXPECT_EQ(record.Find("a")->getDataSize(), 3);
  EXPECT_EQ(record.Find("b")->getDataSize(), 0);
}

TEST(DataRecordRobustnessTest, PresenceListNamingNamesOnlyOrTooMuchIsHarmless) {
  DataRecord record;
  // A VT_NULL and a VT_I2 element; mode 1 lists both, the names-only one in vain.
  const Bytes bytes = FromHex("01 00 6E 00 02 00 69 00 00 00 02 00 00 00 01 00 09 00");
  EXPECT_EQ(read(record, bytes, 1), static_cast<int>(bytes.size()));
  EXPECT_EQ(record.Find("n")->getData(), nullptr);
  int value = 0;
  EXPECT_TRUE(record.getData("i", &value));
  EXPECT_EQ(value, 9);

  DataRecord endless;
  const Bytes long_list = FromHex("02 00 69 00 00 00 FF FF 00 00 00 00");
  EXPECT_EQ(read(endless, long_list, 2), static_cast<int>(long_list.size()));
  EXPECT_EQ(endless.Find("i")->getData(), nullptr);
}

TEST(DataRecordRobustnessTest, BadArgumentsAreRefused) {
  DataRecord record;
  unsigned char byte = 0;
  int written = 7;
  EXPECT_EQ(record.Read(nullptr, 4), -1);
  EXPECT_EQ(record.Read(&byte, -1), -1);
  EXPECT_FALSE(record.Write(nullptr, 4, &written));
  EXPECT_EQ(written, 0);
  EXPECT_FALSE(record.Write(&byte, -2, nullptr));
}

TEST(DataRecordRobustnessTest, SwitchingDirectionStartsAfresh) {
  DataRecord source;
  source.Put(VT_BSTR, "Group", const_cast<char*>("A1"), RecordElement::kCopy, 0);
  source.Put(VT_I4, "FromIP", 1234);
  const Bytes bytes = WriteAll(source);

  // A read left in the middle, then a write: the write is whole.
  DataRecord record;
  EXPECT_EQ(read(record, Bytes(bytes.begin(), bytes.begin() + 21), 0), 21);
  const Bytes written = WriteAll(record);
  // The string is still cut, so it goes out empty: its NUL alone.
  EXPECT_EQ(ToHex(written), ToHex(bytes).substr(0, 19 * 3) + "00 00 00 00 00");

  // A write left in the middle, then a read: the read is whole.
  unsigned char small[10];
  int count = 0;
  EXPECT_FALSE(source.Write(small, sizeof small, &count));
  EXPECT_EQ(read(source, bytes, 0), static_cast<int>(bytes.size()));
  EXPECT_STREQ(source.getStringData("Group"), "A1");
  EXPECT_EQ(ToHex(WriteAll(source)), ToHex(bytes));
}

// Random headers built from plausible pieces, read whole and in two pieces in
// every mode, then written out and read back: nothing may crash or leak, the
// two ways of reading must agree, and writing what was read must be stable.
TEST(DataRecordRobustnessTest, RandomRecordsReadConsistently) {
  std::mt19937 random(2024);
  const int types[] = {1, 2, 3, 5, 8, 10, 11, 16, 17, 36, 65, 0x1011, 50, 0x2003};
  for (int round = 0; round < 1500; ++round) {
    Bytes bytes;
    const int entries = random() % 6;
    for (int e = 0; e < entries; ++e) {
      const int type = types[random() % (sizeof types / sizeof types[0])];
      bytes.push_back(type & 0xFF);
      bytes.push_back(type >> 8);
      if (RecordElement::IsSizedType(type)) {
        const int declared = random() % 3 == 0 ? 0xFFFF : random() % 9;
        bytes.push_back(declared & 0xFF);
        bytes.push_back(declared >> 8);
      }
      bytes.push_back('a' + random() % 4);
      bytes.push_back(0);
    }
    if (random() % 8 != 0) bytes.insert(bytes.end(), {0, 0});
    const int tail = random() % 24;
    for (int i = 0; i < tail; ++i) bytes.push_back(random() % 4 == 0 ? 0 : random() & 0xFF);
    const int mode = random() % 4;

    DataRecord whole;
    const int taken = read(whole, bytes, mode);
    ASSERT_GE(taken, -1);
    // The record ends where the whole read stopped: a first piece that ended
    // exactly there would leave the second to start a new record.
    const size_t used = taken >= 0 ? taken : bytes.size();
    const size_t cut = used == bytes.size() ? random() % (used + 1) : random() % used;
    if (mode != 3) {
      DataRecord pieces;
      const int first = read(pieces, Bytes(bytes.begin(), bytes.begin() + cut), mode);
      ASSERT_TRUE(first == -1 || first == static_cast<int>(cut));
      if (cut < bytes.size()) read(pieces, Bytes(bytes.begin() + cut, bytes.end()));
      ASSERT_EQ(recordtest::Describe(pieces), recordtest::Describe(whole)) << ToHex(bytes);
    }
    const Bytes again = WriteAll(whole);
    DataRecord reread;
    ASSERT_EQ(read(reread, again, whole.getFlags()), static_cast<int>(again.size()));
    // A record whose data section is empty is read without it, so its
    // elements come back absent and the next encoding lists them.
    DataRecord probe;
    Bytes copy(again);
    const int header = probe.ReadHeader(copy.data(), static_cast<int>(copy.size()));
    if (header < static_cast<int>(again.size())) {
      ASSERT_EQ(ToHex(WriteAll(reread)), ToHex(again)) << ToHex(bytes);
    }
  }
}

}  // namespace
