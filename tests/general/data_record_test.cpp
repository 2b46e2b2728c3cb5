// Tests of DataRecord on whole buffers: the golden byte strings of the wire
// format (each written by Write and read back by Read), the choice of the
// presence mode, excluded elements, the value accessors and Dump.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DataRecord.h"
#include "RecordBytes.h"

namespace {

using recordtest::Bytes;
using recordtest::FromHex;
using recordtest::ToHex;
using recordtest::WriteAll;

const char kGroupFromIp[] =
    "08 00 47 72 6F 75 70 00 03 00 46 72 6F 6D 49 50 00 00 00"
    "41 31 00 D2 04 00 00";

void put_group_and_from_ip(DataRecord& record) {
  record.Put(VT_BSTR, "Group", const_cast<char*>("A1"), 0, 0);
  record.Put(VT_I4, "FromIP", 1234);
}

// Reads `bytes` whole into `record` in the given mode and checks it took all.
void read_all(DataRecord& record, const Bytes& bytes, int mode) {
  record.setFlags(mode);
  ASSERT_EQ(record.Read(bytes.data(), static_cast<int>(bytes.size())),
            static_cast<int>(bytes.size()));
}

TEST(DataRecordWireTest, StringAndIntegerInModeZero) {
  DataRecord record;
  put_group_and_from_ip(record);
  EXPECT_EQ(ToHex(WriteAll(record)), ToHex(FromHex(kGroupFromIp)));
  EXPECT_EQ(record.getFlags(), 0);

  DataRecord reader;
  read_all(reader, FromHex(kGroupFromIp), 0);
  ASSERT_EQ(reader.getCount(), 2);
  EXPECT_STREQ(reader.getStringData("Group"), "A1");
  int from_ip = 0;
  EXPECT_TRUE(reader.getData("FromIP", &from_ip));
  EXPECT_EQ(from_ip, 1234);
  EXPECT_EQ(ToHex(WriteAll(reader)), ToHex(FromHex(kGroupFromIp)));
}

TEST(DataRecordWireTest, OneAbsentOfThreeUsesModeTwo) {
  const Bytes expected = FromHex(
      "08 00 47 72 6F 75 70 00 03 00 46 72 6F 6D 49 50 00 08 00 56 65 72 73 69 6F 6E 00 00 00"
      "01 00 02 00 41 31 00 D2 04 00 00");
  DataRecord record;
  put_group_and_from_ip(record);
  record.Put(VT_BSTR, "Version", nullptr, 0, 0);
  EXPECT_EQ(ToHex(WriteAll(record)), ToHex(expected));
  EXPECT_EQ(record.getFlags(), 2);

  DataRecord reader;
  read_all(reader, expected, 2);
  EXPECT_EQ(reader.Find("Version")->getData(), nullptr);
  EXPECT_EQ(reader.getStringData("Version"), nullptr);
  EXPECT_STREQ(reader.getStringData("Group"), "A1");
  EXPECT_EQ(ToHex(WriteAll(reader)), ToHex(expected));
}

TEST(DataRecordWireTest, OnePresentOfThreeUsesModeOne) {
  const Bytes expected = FromHex(
      "08 00 47 72 6F 75 70 00 08 00 56 65 72 73 69 6F 6E 00 08 00 4E 6F 64 65 00 00 00"
      "01 00 00 00 41 31 00");
  DataRecord record;
  record.Put(VT_BSTR, "Group", const_cast<char*>("A1"), 0, 0);
  record.Put(VT_BSTR, "Version", nullptr, 0, 0);
  record.Put(VT_BSTR, "Node", nullptr, 0, 0);
  EXPECT_EQ(ToHex(WriteAll(record)), ToHex(expected));
  EXPECT_EQ(record.getFlags(), 1);

  DataRecord reader;
  read_all(reader, expected, 1);
  EXPECT_STREQ(reader.getStringData("Group"), "A1");
  EXPECT_EQ(reader.getStringData("Node"), nullptr);
  EXPECT_EQ(ToHex(WriteAll(reader)), ToHex(expected));
}

TEST(DataRecordWireTest, LoneStoredSizeBlobUsesModeThreeWithoutPrefix) {
  unsigned char mac[6] = {0, 1, 2, 3, 4, 5};
  const Bytes expected = FromHex("41 00 FF FF 4D 41 43 00 00 00 00 01 02 03 04 05");
  DataRecord record;
  record.Put(VT_BLOB, "MAC", mac, DataRecord::kPutSizeStoredInRecord | RecordElement::kCopy, 6);
  EXPECT_EQ(ToHex(WriteAll(record)), ToHex(expected));
  EXPECT_EQ(record.getFlags(), 3);

  DataRecord reader;
  read_all(reader, expected, 3);
  const RecordElement* read_mac = reader.Find("MAC");
  ASSERT_EQ(read_mac->getDataSize(), 6);
  EXPECT_EQ(std::memcmp(read_mac->getData(), mac, 6), 0);

  // Beside another present element the same blob carries its length.
  record.Put(VT_I2, "Node", 7);
  const Bytes with_node = WriteAll(record);
  EXPECT_EQ(record.getFlags(), 0);
  EXPECT_EQ(ToHex(with_node), ToHex(FromHex("41 00 FF FF 4D 41 43 00 02 00 4E 6F 64 65 00 00 00"
                                            "06 00 00 01 02 03 04 05 07 00")));
}

TEST(DataRecordWireTest, BooleansPackIntoBitsLeastSignificantFirst) {
  DataRecord record;
  record.Put(VT_BOOL, "a", 1);
  record.Put(VT_BOOL, "b", 0);
  record.Put(VT_BOOL, "c", 9);
  const Bytes three = WriteAll(record);
  ASSERT_EQ(three.size(), 3 * 4 + 2 + 1u);
  EXPECT_EQ(three.back(), 0x05);

  for (int i = 0; i < 6; ++i) record.Put(VT_BOOL, std::string(1, char('d' + i)).c_str(), 1);
  const Bytes nine = WriteAll(record);
  ASSERT_EQ(nine.size(), 9 * 4 + 2 + 2u);
  EXPECT_EQ(ToHex(&nine[nine.size() - 2], 2), "FD 01");

  DataRecord reader;
  read_all(reader, nine, 0);
  int value = -1;
  EXPECT_TRUE(reader.getData("b", &value));
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(reader.getData("i", &value));
  EXPECT_EQ(value, 1);
}

TEST(DataRecordWireTest, NamesOnlyRecordIsItsHeader) {
  const Bytes expected = FromHex("01 00 4E 6F 64 65 00 01 00 49 50 41 64 64 72 65 73 73 00 00 00");
  DataRecord record;
  record.Put(VT_NULL, "Node", 0);
  record.Put(VT_NULL, "IPAddress", 0);
  EXPECT_EQ(ToHex(WriteAll(record)), ToHex(expected));
  EXPECT_EQ(record.getFlags(), 0);

  DataRecord reader;
  read_all(reader, expected, 0);
  EXPECT_EQ(reader.getCount(), 2);
  // The data section was not read, so the header stays done.
  EXPECT_EQ(reader.ReadHeader(expected.data(), static_cast<int>(expected.size())), 0);
}

TEST(DataRecordWireTest, DiscoveryQueryHeaderIs103Bytes) {
  DataRecord record;
  for (const char* name : {"ReplyTarvoProxy", "ReplyTarvo", "Node", "IPAddress", "NetMask",
                           "FromIP", "MAC", "Group", "Version", "VXMGW"}) {
    record.Put(VT_NULL, name, 0);
  }
  EXPECT_EQ(WriteAll(record).size(), 103u);
  EXPECT_EQ(record.getFlags(), 0);
}

TEST(DataRecordWireTest, UnitRouteRecordMatchesItsBroadcast) {
  unsigned char mac[6] = {0x00, 0x50, 0xC2, 0x11, 0x22, 0x33};
  unsigned char address[4] = {192, 168, 7, 1};
  DataRecord record;
  record.Put(VT_BLOB, "MAC", mac, RecordElement::kCopy, 6);
  record.Put(VT_I4, "Mode", 1);
  record.Put(VT_BLOB, "RemoteIP", address, RecordElement::kCopy, 4);
  const Bytes expected = FromHex(
      "41 00 06 00 4D 41 43 00 03 00 4D 6F 64 65 00 41 00 04 00 52 65 6D 6F 74 65 49 50 00 00 00"
      "00 50 C2 11 22 33 01 00 00 00 C0 A8 07 01");
  EXPECT_EQ(ToHex(WriteAll(record)), ToHex(expected));
  EXPECT_EQ(record.getFlags(), 0);
  DataRecord reader;
  read_all(reader, expected, 0);
  EXPECT_EQ(recordtest::Describe(reader), recordtest::Describe(record));
}

TEST(DataRecordWireTest, FewPresentElementsChooseModeOne) {
  DataRecord record;
  record.Put(VT_I4, "a", 1);
  record.Put(VT_BSTR, "b", nullptr, 0, 0);
  record.Put(VT_BSTR, "c", nullptr, 0, 0);
  record.Put(VT_BSTR, "d", nullptr, 0, 0);
  record.Put(VT_NULL, "e", 0);  // names only never count
  Bytes bytes = WriteAll(record);
  EXPECT_EQ(record.getFlags(), 1);
  EXPECT_EQ(ToHex(&bytes[bytes.size() - 8], 8), "01 00 00 00 01 00 00 00");

  record.Put(VT_I4, "b", 2);
  bytes = WriteAll(record);
  EXPECT_EQ(record.getFlags(), 1);
  EXPECT_EQ(ToHex(&bytes[bytes.size() - 14], 14), "02 00 00 00 04 00 01 00 00 00 02 00 00 00");
}

TEST(DataRecordWireTest, CutHeaderNameFailsTheRead) {
  const Bytes bytes = FromHex("08 00 47 72 6F 75 70 00 03 00 46 72 6F 6D");
  DataRecord reader;
  EXPECT_EQ(reader.Read(bytes.data(), static_cast<int>(bytes.size())), -1);
  // The complete entry before the cut stays.
  EXPECT_NE(reader.Find("Group"), nullptr);
  EXPECT_EQ(reader.getCount(), 1);

  const Bytes cut_size = FromHex("41 00 06");
  DataRecord second;
  EXPECT_EQ(second.Read(cut_size.data(), static_cast<int>(cut_size.size())), -1);
}

TEST(DataRecordWireTest, PresenceListIndexBeyondTheElementsIsIgnored) {
  // Two VT_I4 elements, mode 1, the list names 1 and 9.
  const Bytes bytes = FromHex("03 00 61 00 03 00 62 00 00 00 02 00 01 00 09 00 2A 00 00 00");
  DataRecord reader;
  read_all(reader, bytes, 1);
  int value = 0;
  EXPECT_FALSE(reader.getData("a", &value));
  EXPECT_TRUE(reader.getData("b", &value));
  EXPECT_EQ(value, 42);
}

TEST(DataRecordWireTest, WriteGoesOnAfterAShortBuffer) {
  DataRecord record;
  put_group_and_from_ip(record);
  unsigned char first[12];
  int written = -1;
  // The first entry (8 bytes) fits with room for the terminator; the second does not.
  EXPECT_FALSE(record.Write(first, sizeof first, &written));
  EXPECT_EQ(written, 8);
  unsigned char rest[64];
  EXPECT_TRUE(record.Write(rest, sizeof rest, &written));
  Bytes joined(first, first + 8);
  joined.insert(joined.end(), rest, rest + written);
  EXPECT_EQ(ToHex(joined), ToHex(FromHex(kGroupFromIp)));
  // Once finished, the next Write starts a new encoding.
  EXPECT_EQ(ToHex(WriteAll(record)), ToHex(FromHex(kGroupFromIp)));
}

TEST(DataRecordWireTest, HeaderAndDataMayBeWrittenSeparately) {
  DataRecord record;
  put_group_and_from_ip(record);
  unsigned char buffer[64];
  int header = 0, data = 0;
  EXPECT_TRUE(record.WriteHeader(buffer, sizeof buffer, &header));
  EXPECT_TRUE(record.WriteHeader(buffer, sizeof buffer, &data));
  EXPECT_EQ(data, 0);
  EXPECT_TRUE(record.WriteData(buffer + header, sizeof buffer - header, &data));
  EXPECT_EQ(ToHex(buffer, header + data), ToHex(FromHex(kGroupFromIp)));
  unsigned char tiny[1];
  EXPECT_FALSE(record.WriteHeader(tiny, 0, &header));
  EXPECT_EQ(header, 0);
}

TEST(DataRecordWireTest, ExcludedElementsTravelInTheDataOnly) {
  DataRecord record;
  record.Put(VT_I4, "Seq", 5, DataRecord::kPutExcludeFromHeader);
  record.Put(VT_I2, "Node", 3);
  const Bytes bytes = WriteAll(record);
  EXPECT_EQ(ToHex(bytes), "02 00 4E 6F 64 65 00 00 00 05 00 00 00 03 00");

  DataRecord reader;
  reader.Put(VT_I4, "Seq", 0, DataRecord::kPutExcludeFromHeader);
  read_all(reader, bytes, 0);
  int value = 0;
  EXPECT_TRUE(reader.getData("Seq", &value));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(reader.getData("Node", &value));
  EXPECT_EQ(value, 3);
  // A second record read into the same reader keeps the reader's own element.
  read_all(reader, bytes, 0);
  EXPECT_EQ(reader.getCount(), 2);
}

TEST(DataRecordAccessTest, GetDataSignExtendsShortValues) {
  DataRecord record;
  record.Put(VT_I2, "i2", -2);
  record.Put(VT_UI1, "ui1", 200);
  record.Put(VT_BOOL, "flag", 0x1FF);
  record.Put(VT_BSTR, "s", nullptr, 0, 0);
  record.Put(static_cast<int>(VT_BLOB), "b", const_cast<char*>("\x01\x02\x03"),
             RecordElement::kCopy, 3);
  int value = 0;
  EXPECT_TRUE(record.getData("i2", &value));
  EXPECT_EQ(value, -2);
  EXPECT_TRUE(record.getData("ui1", &value));
  EXPECT_EQ(value, -56);
  EXPECT_TRUE(record.getData("flag", &value));
  EXPECT_EQ(value, 0xFF);
  EXPECT_TRUE(record.getData("b", &value));
  EXPECT_EQ(value, 0x0201);
  EXPECT_FALSE(record.getData("s", &value));
  EXPECT_FALSE(record.getData("missing", &value));
  EXPECT_EQ(record.getStringData("i2"), nullptr);
}

TEST(DataRecordAccessTest, PutReplacesAnElementOfTheSameName) {
  DataRecord record;
  record.Put(VT_BSTR, "Group", const_cast<char*>("A1"), RecordElement::kCopy, 0);
  record.Put(VT_BSTR, "Group", const_cast<char*>("B2"), RecordElement::kCopy, 0);
  EXPECT_EQ(record.getCount(), 1);
  EXPECT_STREQ(record.getStringData("Group"), "B2");
  record.Clear();
  EXPECT_EQ(record.getCount(), 0);
  EXPECT_EQ(record.getFlags(), 0);
}

TEST(DataRecordAccessTest, SetFlagsKeepsOnlyTheLowTwoBits) {
  DataRecord record;
  record.setFlags(0x0E);
  EXPECT_EQ(record.getFlags(), 2);
  record.setFlags(3);
  EXPECT_EQ(record.getFlags(), 3);
}

TEST(DataRecordAccessTest, DumpShowsWhatWasRead) {
  DataRecord reader;
  read_all(reader, FromHex(kGroupFromIp), 0);
  testing::internal::CaptureStdout();
  reader.Dump();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0. Group (ALLOC) A1\n1. FromIP 1234\n");
}

}  // namespace
