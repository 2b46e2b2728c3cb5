// Splitting: a record's bytes fed to Read in two or three pieces cut at every
// position, or one byte at a time, must give the same record as one Read; and
// Write into buffers of every size must give the same bytes as one buffer. The
// records mix booleans across byte boundaries, strings, blobs with stored and
// declared sizes, 8-byte values and presence lists in modes 0, 1 and 2.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "DataRecord.h"
#include "RecordBytes.h"

namespace {

using recordtest::Bytes;
using recordtest::Describe;
using recordtest::ToHex;
using recordtest::WriteAll;

unsigned char kMac[6] = {0x00, 0x50, 0xC2, 0xAB, 0xCD, 0xEF};
unsigned char kAddress[4] = {10, 0, 0, 7};
double kReal = 3.25;

void put_bool(DataRecord& record, const std::string& name, int value, bool present) {
  if (present) {
    record.Put(VT_BOOL, name.c_str(), value);
  } else {
    record.Put(VT_BOOL, name.c_str(), nullptr, RecordElement::kCopy, 0);  // absent
  }
}

void put_values(DataRecord& record, bool present) {
  record.Put(VT_BSTR, "Version", present ? const_cast<char*>("1.4.2") : nullptr,
             RecordElement::kCopy, 0);
  record.Put(VT_BLOB, "MAC", present ? kMac : nullptr,
             DataRecord::kPutSizeStoredInRecord | RecordElement::kCopy, 6);
  record.Put(VT_BLOB, "IPAddress", present ? kAddress : nullptr, RecordElement::kCopy, 4);
  record.Put(VT_R8, "Load", present ? &kReal : nullptr, RecordElement::kCopy, 0);
}

// Mode 0: everything present, ten booleans (two bytes), an empty string.
void build_all_present(DataRecord& record) {
  for (int i = 0; i < 10; ++i) put_bool(record, "b" + std::to_string(i), i % 3 == 0, true);
  record.Put(VT_BSTR, "Group", const_cast<char*>("A1"), RecordElement::kCopy, 0);
  record.Put(VT_BSTR, "Empty", const_cast<char*>(""), RecordElement::kCopy, 0);
  put_values(record, true);
  record.Put(VT_I2, "Node", -300);
  record.Put(VT_NULL, "NetMask", 0);
  record.Put(VT_UI1, "Hops", 250);
}

// Mode 1: few present, present booleans on both sides of absent ones.
void build_few_present(DataRecord& record) {
  for (int i = 0; i < 11; ++i) put_bool(record, "f" + std::to_string(i), i & 1, i % 4 != 1);
  put_values(record, false);
  record.Put(VT_BSTR, "Group", const_cast<char*>("Maintenance"), RecordElement::kCopy, 0);
  for (int i = 0; i < 12; ++i) record.Put(VT_I4, ("n" + std::to_string(i)).c_str(), nullptr, 2, 0);
  record.Put(VT_I4, "VXMGW", 0x0101A8C0);
}

// Mode 2: most present, a few absent.
void build_most_present(DataRecord& record) {
  for (int i = 0; i < 9; ++i) put_bool(record, "m" + std::to_string(i), 1, i != 4);
  put_values(record, true);
  record.Put(VT_BSTR, "Group", nullptr, 0, 0);
  record.Put(VT_I4, "FromIP", 0x0100007F);
  record.Put(VT_BLOB, "Empty", const_cast<char*>(""),
             DataRecord::kPutSizeStoredInRecord | RecordElement::kCopy, 0);
}

struct Case {
  const char* name;
  std::function<void(DataRecord&)> build;
  int mode;
};

class SplitTest : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    GetParam().build(source);
    bytes = WriteAll(source);
    ASSERT_EQ(source.getFlags(), GetParam().mode);
    DataRecord reader;
    read(reader, {0, bytes.size()});
    reference = Describe(reader);
    ASSERT_EQ(reference, Describe(source));
  }

  // Feeds the bytes in pieces ending at the given cut positions.
  void read(DataRecord& reader, const std::vector<size_t>& cuts) {
    reader.setFlags(source.getFlags());
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
      const int size = static_cast<int>(cuts[i + 1] - cuts[i]);
      if (size == 0) continue;
      const int taken = reader.Read(bytes.data() + cuts[i], size);
      // -1 marks a piece that ends inside a header entry; the bytes are kept.
      if (taken != -1) {
        ASSERT_EQ(taken, size) << "piece " << i;
      }
    }
  }

  DataRecord source;
  Bytes bytes;
  std::string reference;
};

TEST_P(SplitTest, TwoReadsCutAnywhereGiveTheSameRecord) {
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    DataRecord reader;
    read(reader, {0, cut, bytes.size()});
    ASSERT_EQ(Describe(reader), reference) << "cut at " << cut;
    ASSERT_EQ(ToHex(WriteAll(reader)), ToHex(bytes)) << "cut at " << cut;
  }
}

TEST_P(SplitTest, ThreeReadsCutAnywhereGiveTheSameRecord) {
  for (size_t first = 0; first <= bytes.size(); first += 3) {
    for (size_t second = first; second <= bytes.size(); ++second) {
      DataRecord reader;
      read(reader, {0, first, second, bytes.size()});
      ASSERT_EQ(Describe(reader), reference) << "cuts at " << first << " " << second;
    }
  }
}

TEST_P(SplitTest, ByteAtATimeGivesTheSameRecord) {
  std::vector<size_t> cuts;
  for (size_t i = 0; i <= bytes.size(); ++i) cuts.push_back(i);
  DataRecord reader;
  read(reader, cuts);
  EXPECT_EQ(Describe(reader), reference);
}

TEST_P(SplitTest, TwoWriteBuffersGiveTheSameBytes) {
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    Bytes first(cut + 1);  // one spare byte, so a zero-size cut has an address
    Bytes second(bytes.size() + 16);
    int written_first = -1, written_second = -1;
    const bool done = source.Write(first.data(), static_cast<int>(cut), &written_first);
    ASSERT_LE(written_first, static_cast<int>(cut));
    Bytes joined(first.begin(), first.begin() + written_first);
    if (!done) {
      ASSERT_TRUE(source.Write(second.data(), static_cast<int>(second.size()), &written_second));
      joined.insert(joined.end(), second.begin(), second.begin() + written_second);
    }
    ASSERT_EQ(ToHex(joined), ToHex(bytes)) << "first buffer " << cut;
    EXPECT_EQ(source.getFlags(), GetParam().mode);
  }
}

TEST_P(SplitTest, SmallWriteBuffersGiveTheSameBytes) {
  for (size_t piece = 1; piece <= 24; ++piece) {
    Bytes joined;
    size_t room = piece;
    for (int calls = 0; calls < 1000; ++calls) {
      Bytes buffer(room);
      int written = -1;
      const bool done = source.Write(buffer.data(), static_cast<int>(room), &written);
      joined.insert(joined.end(), buffer.begin(), buffer.begin() + written);
      if (done) break;
      // An entry or value bigger than the buffer needs a bigger one.
      room = written == 0 ? room * 2 : piece;
    }
    ASSERT_EQ(ToHex(joined), ToHex(bytes)) << "pieces of " << piece;
  }
}

INSTANTIATE_TEST_SUITE_P(Records, SplitTest,
                         testing::Values(Case{"AllPresent", build_all_present, 0},
                                         Case{"FewPresent", build_few_present, 1},
                                         Case{"MostPresent", build_most_present, 2}),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(SplitReadTest, ModeThreeRecordSplitsAnywhereBeforeItsValue) {
  DataRecord source;
  source.Put(VT_BLOB, "MAC", kMac, DataRecord::kPutSizeStoredInRecord | RecordElement::kCopy, 6);
  source.Put(VT_NULL, "Node", 0);
  const Bytes bytes = WriteAll(source);
  ASSERT_EQ(source.getFlags(), 3);
  const size_t header = bytes.size() - 6;
  for (size_t cut = 0; cut <= header; ++cut) {
    DataRecord reader;
    reader.setFlags(3);
    reader.Read(bytes.data(), static_cast<int>(cut));
    ASSERT_EQ(reader.Read(bytes.data() + cut, static_cast<int>(bytes.size() - cut)),
              static_cast<int>(bytes.size() - cut));
    ASSERT_EQ(Describe(reader), Describe(source)) << "cut at " << cut;
  }
}

TEST(SplitReadTest, ExcludedElementDefinedByTheReaderSurvivesSplits) {
  DataRecord source;
  source.Put(VT_BOOL, "Busy", 1, DataRecord::kPutExcludeFromHeader);
  source.Put(VT_BOOL, "Ready", 1);
  source.Put(VT_BSTR, "Group", const_cast<char*>("West"), 0, 0);
  const Bytes bytes = WriteAll(source);
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    DataRecord reader;
    reader.Put(VT_BOOL, "Busy", 0, DataRecord::kPutExcludeFromHeader);
    reader.Read(bytes.data(), static_cast<int>(cut));
    if (cut < bytes.size()) reader.Read(bytes.data() + cut, static_cast<int>(bytes.size() - cut));
    int busy = 0;
    ASSERT_TRUE(reader.getData("Busy", &busy)) << cut;
    EXPECT_EQ(busy, 1);
    EXPECT_STREQ(reader.getStringData("Group"), "West");
  }
}

TEST(SplitReadTest, DataSectionFedByteByByteThroughReadData) {
  DataRecord source;
  build_few_present(source);
  const Bytes bytes = WriteAll(source);
  DataRecord reader;
  reader.setFlags(source.getFlags());
  const int header = reader.ReadHeader(bytes.data(), static_cast<int>(bytes.size()));
  ASSERT_GT(header, 0);
  for (size_t i = header; i < bytes.size(); ++i) ASSERT_EQ(reader.ReadData(&bytes[i], 1), 1);
  EXPECT_EQ(Describe(reader), Describe(source));
}

}  // namespace
