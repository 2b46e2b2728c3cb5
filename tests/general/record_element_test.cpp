// Tests of RecordElement: the type table, the three ownership modes of
// setData, and the calls that must leave an element of the wrong kind alone.
// Ownership mistakes show up as leaks or double frees under the sanitizers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "RecordElement.h"

namespace {

constexpr int kInlineFixed = RecordElement::kTyped | RecordElement::kFixedSize |
                             RecordElement::kInline | RecordElement::kNull;

struct TypeRow {
  int type;
  int stored_type;
  int size;
  int flags;
};

class TypeTableTest : public testing::TestWithParam<TypeRow> {};

TEST_P(TypeTableTest, NewElementTakesSizeAndFlagsFromTheTable) {
  const TypeRow row = GetParam();
  RecordElement element("x", static_cast<VARENUM>(row.type), 0);
  EXPECT_EQ(element.getType(), row.stored_type);
  EXPECT_EQ(element.getDataSize(), row.size);
  EXPECT_EQ(element.getFlags(), row.flags);
}

// Sized types created with size 0 have their size stored in the record.
constexpr int kSized =
    RecordElement::kTyped | RecordElement::kNull | RecordElement::kSizeStoredInRecord;

INSTANTIATE_TEST_SUITE_P(
    EveryRow, TypeTableTest,
    testing::Values(
        TypeRow{VT_EMPTY, VT_NULL, 0, RecordElement::kNull},
        TypeRow{VT_ERROR, VT_NULL, 0, RecordElement::kNull},
        TypeRow{VT_NULL, VT_NULL, 0, RecordElement::kNull}, TypeRow{VT_I2, VT_I2, 2, kInlineFixed},
        TypeRow{VT_UI2, VT_UI2, 2, kInlineFixed}, TypeRow{VT_I4, VT_I4, 4, kInlineFixed},
        TypeRow{VT_R4, VT_R4, 4, kInlineFixed}, TypeRow{VT_DATE, VT_DATE, 4, kInlineFixed},
        TypeRow{VT_UI4, VT_UI4, 4, kInlineFixed}, TypeRow{VT_INT, VT_INT, 4, kInlineFixed},
        TypeRow{VT_UINT, VT_UINT, 4, kInlineFixed},
        TypeRow{VT_R8, VT_R8, 8,
                RecordElement::kTyped | RecordElement::kFixedSize | RecordElement::kNull},
        TypeRow{VT_I8, VT_I8, 8,
                RecordElement::kTyped | RecordElement::kFixedSize | RecordElement::kNull},
        TypeRow{VT_BSTR, VT_BSTR, 0, RecordElement::kTyped | RecordElement::kNull},
        TypeRow{VT_BOOL, VT_BOOL, 0, kInlineFixed}, TypeRow{VT_I1, VT_I1, 1, kInlineFixed},
        TypeRow{VT_UI1, VT_UI1, 1, kInlineFixed}, TypeRow{VT_RECORD, VT_RECORD, 0, kSized},
        TypeRow{VT_BLOB, VT_BLOB, 0, kSized},
        TypeRow{VT_VECTOR | VT_UI1, VT_VECTOR | VT_UI1, 0, kSized},
        TypeRow{6, 6, 0, RecordElement::kNull}, TypeRow{40, 40, 0, RecordElement::kNull},
        TypeRow{66, 66, 0, RecordElement::kNull}));

TEST(RecordElementTest, SizedTypeWithADeclaredSizeKeepsIt) {
  RecordElement blob("MAC", VT_BLOB, 6);
  EXPECT_EQ(blob.getDataSize(), 6);
  EXPECT_EQ(blob.getFlags() & RecordElement::kSizeStoredInRecord, 0);
  RecordElement vector("v", static_cast<VARENUM>(VT_VECTOR | VT_I4), 12);
  EXPECT_EQ(vector.getDataSize(), 12);
}

TEST(RecordElementTest, NameIsCopiedAndReplaced) {
  char name[] = "Group";
  RecordElement element(name);
  name[0] = 'X';
  EXPECT_STREQ(element.getName(), "Group");
  element.setName("Node");
  EXPECT_STREQ(element.getName(), "Node");
  EXPECT_EQ(element.getType(), VT_NULL);
}

// Short names are kept in the element and longer ones on the heap; each kind
// must replace the other, and an element given its own name keeps it.
TEST(RecordElementTest, NamesOfEveryLengthReplaceEachOther) {
  const std::string longest_kept(23, 'k');
  const std::string first_on_heap(24, 'h');
  const std::string much_longer(300, 'm');
  RecordElement element(first_on_heap.c_str());
  EXPECT_EQ(element.getName(), first_on_heap);
  for (const std::string& name : {longest_kept, much_longer, std::string(), first_on_heap,
                                  std::string("Group"), longest_kept}) {
    element.setName(name.c_str());
    EXPECT_EQ(element.getName(), name);
    element.setName(element.getName());
    EXPECT_EQ(element.getName(), name);
  }
  element.setName(nullptr);
  EXPECT_STREQ(element.getName(), "");
}

TEST(RecordElementTest, SetTypeFreesOwnedDataAndKeepsTheKeptFlags) {
  RecordElement element("x", VT_BSTR, 0);
  element.setExcludeFromHeader(true);
  element.setSizeStoredInRecord(true);
  element.setData(const_cast<char*>("abc"), RecordElement::kCopy);
  ASSERT_NE(element.getData(), nullptr);
  element.setType(VT_I4);  // the copy is freed here, or the leak checker reports it
  const int kept = RecordElement::kExcludeFromHeader | RecordElement::kSizeStoredInRecord;
  EXPECT_EQ(element.getFlags(), kInlineFixed | kept);
  EXPECT_EQ(element.getData(), nullptr);
}

TEST(RecordElementTest, InlineValueIsNotTakenForAPointerAfterSetType) {
  RecordElement element("x", VT_I4, 0);
  element.setData(0x1234);
  element.setType(static_cast<VARENUM>(50));  // unknown: no null flag is added
  EXPECT_EQ(element.getData(), nullptr);
}

TEST(RecordElementTest, ReferModeKeepsThePointerWithoutOwningIt) {
  char text[] = "A1";
  RecordElement element("Group", VT_BSTR, 0);
  element.setData(text, RecordElement::kRefer);
  EXPECT_EQ(element.getData(), text);
  EXPECT_EQ(element.getDataSize(), 3);
  EXPECT_EQ(element.getFlags() & (RecordElement::kOwned | RecordElement::kNull), 0);
  element.setData(nullptr, RecordElement::kRefer);
  EXPECT_EQ(element.getData(), nullptr);
  EXPECT_NE(element.getFlags() & RecordElement::kNull, 0);
}

TEST(RecordElementTest, ReferModeOnInlineTypesStoresTheValueItself) {
  RecordElement element("FromIP", VT_I4, 0);
  element.setData(reinterpret_cast<void*>(static_cast<uintptr_t>(1234)), RecordElement::kRefer);
  int32_t value = 0;
  std::memcpy(&value, element.getData(), 4);
  EXPECT_EQ(value, 1234);
  element.setData(nullptr, RecordElement::kRefer);  // present with the value 0
  ASSERT_NE(element.getData(), nullptr);
  std::memcpy(&value, element.getData(), 4);
  EXPECT_EQ(value, 0);
}

TEST(RecordElementTest, AdoptModeOwnsAndFreesTheBuffer) {
  RecordElement element("x", VT_BLOB, 4);
  void* buffer = malloc(4);
  element.setData(buffer, RecordElement::kAdopt);
  EXPECT_EQ(element.getData(), buffer);
  EXPECT_NE(element.getFlags() & RecordElement::kOwned, 0);
  element.setData(nullptr, RecordElement::kAdopt);  // frees the adopted buffer
  EXPECT_EQ(element.getFlags() & (RecordElement::kOwned | RecordElement::kNull),
            RecordElement::kNull);
}

TEST(RecordElementTest, CopyModeMakesAnIndependentCopy) {
  unsigned char bytes[6] = {0, 1, 2, 3, 4, 5};
  RecordElement element("MAC", VT_BLOB, 6);
  element.setData(bytes, RecordElement::kCopy);
  bytes[0] = 99;
  ASSERT_NE(element.getData(), bytes);
  EXPECT_EQ(static_cast<unsigned char*>(element.getData())[0], 0);
  EXPECT_NE(element.getFlags() & RecordElement::kOwned, 0);
  // Copying the element's own data again must read it before freeing it.
  element.setData(element.getData(), RecordElement::kCopy);
  EXPECT_EQ(static_cast<unsigned char*>(element.getData())[5], 5);
}

TEST(RecordElementTest, CopyModeOnInlineTypesCopiesTheValueIntoTheSlot) {
  const int16_t value = -2;
  RecordElement element("Node", VT_I2, 0);
  element.setData(const_cast<int16_t*>(&value), RecordElement::kCopy);
  EXPECT_EQ(element.getFlags() & RecordElement::kOwned, 0);
  int16_t stored = 0;
  std::memcpy(&stored, element.getData(), 2);
  EXPECT_EQ(stored, -2);
}

TEST(RecordElementTest, NewStringRecomputesASizeAlreadySet) {
  RecordElement element("Version", VT_BSTR, 0);
  element.setData(const_cast<char*>("1.0.0.17"), RecordElement::kCopy);
  EXPECT_EQ(element.getDataSize(), 9);
  element.setData(const_cast<char*>("2"), RecordElement::kCopy);
  EXPECT_EQ(element.getDataSize(), 2);
  element.setDataSize(1);
  element.setData(const_cast<char*>("longer text"), RecordElement::kRefer);
  EXPECT_EQ(element.getDataSize(), 12);
}

TEST(RecordElementTest, CallsOnTheWrongKindOfElementDoNothing) {
  RecordElement text("s", VT_BSTR, 0);
  text.setData(5);
  EXPECT_EQ(text.getData(), nullptr);
  RecordElement number("n", VT_I4, 0);
  number.setDataSize(10);
  EXPECT_EQ(number.getDataSize(), 4);
  RecordElement unknown("u", static_cast<VARENUM>(40), 0);
  unknown.setDataSize(10);
  EXPECT_EQ(unknown.getDataSize(), 0);
}

TEST(RecordElementTest, SetIntStoresBooleansAndIntegers) {
  RecordElement flag("b", VT_BOOL, 0);
  flag.setData(7);
  uint32_t stored = 0;
  std::memcpy(&stored, flag.getData(), 4);
  EXPECT_EQ(stored, 7u);
  EXPECT_EQ(flag.getFlags() & RecordElement::kNull, 0);
}

TEST(RecordElementTest, ClearDataMakesTheElementNull) {
  RecordElement element("x", VT_BSTR, 0);
  element.setData(const_cast<char*>("abc"), RecordElement::kCopy);
  element.ClearData();
  EXPECT_EQ(element.getData(), nullptr);
  EXPECT_EQ(element.getFlags() & (RecordElement::kOwned | RecordElement::kNull),
            RecordElement::kNull);
}

}  // namespace
