// Tests of CollectionOfRecordElements and bsearch_nearest_greater: both orders
// under insertion, replacement and removal (also against a simple model over a
// long random sequence), ZeroEntries, and the exact text of Dump.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BsearchNearestGreater.h"
#include "CollectionOfRecordElements.h"

namespace {

int compare_names(const void* entry, const void* key) {
  return std::strcmp(*static_cast<const char* const*>(entry), static_cast<const char*>(key));
}

int search(const std::vector<const char*>& names, const char* key) {
  return bsearch_nearest_greater(key, names.data(), static_cast<int>(names.size()),
                                 sizeof(const char*), compare_names);
}

std::vector<std::string> index_order(const CollectionOfRecordElements& collection) {
  std::vector<std::string> names;
  for (int i = 0; i < collection.getCount(); ++i) {
    EXPECT_EQ(collection.getList()[i]->getIndex(), i);
    names.push_back(collection.getList()[i]->getName());
  }
  return names;
}

using Names = std::vector<std::string>;

TEST(BsearchNearestGreaterTest, FindsEntriesAndInsertionPoints) {
  const std::vector<const char*> four = {"a", "c", "e", "g"};
  EXPECT_EQ(search(four, "c"), 1);
  EXPECT_EQ(search(four, "d"), -3);
  EXPECT_EQ(search(four, "h"), -5);
  EXPECT_EQ(search(four, "0"), -1);
  const std::vector<const char*> two = {"a", "c"};
  EXPECT_EQ(search(two, "b"), -2);
  EXPECT_EQ(search(two, "a"), 0);
  EXPECT_EQ(search({}, "a"), -1);
}

TEST(BsearchNearestGreaterTest, AgreesWithALinearSearchOnEverySize) {
  std::vector<std::string> storage;
  for (char c = 'b'; c <= 'y'; c += 2) storage.push_back(std::string(1, c));
  for (size_t n = 0; n <= storage.size(); ++n) {
    std::vector<const char*> names;
    for (size_t i = 0; i < n; ++i) names.push_back(storage[i].c_str());
    for (char c = 'a'; c <= 'z'; ++c) {
      const std::string key(1, c);
      int expected = static_cast<int>(n);
      bool found = false;
      for (size_t i = 0; i < n; ++i) {
        const int order = std::strcmp(names[i], key.c_str());
        if (order >= 0) {
          expected = static_cast<int>(i);
          found = order == 0;
          break;
        }
      }
      EXPECT_EQ(search(names, key.c_str()), found ? expected : ~expected) << n << " " << key;
    }
  }
}

TEST(CollectionTest, EmptyCollectionFindsNothing) {
  CollectionOfRecordElements collection;
  EXPECT_EQ(collection.Find("a"), nullptr);
  EXPECT_EQ(collection.Find(0), nullptr);
  EXPECT_EQ(collection.Remove("a"), 0);
  collection.Clear();
  collection.ZeroEntries();
  EXPECT_EQ(collection.getCount(), 0);
  EXPECT_EQ(collection.getList(), nullptr);
}

TEST(CollectionTest, KeepsIndexOrderAndNameOrder) {
  CollectionOfRecordElements collection;
  for (const char* name : {"b", "a", "c"}) collection.Add(new RecordElement(name, VT_I4, 0));
  EXPECT_EQ(index_order(collection), (Names{"b", "a", "c"}));
  EXPECT_EQ(collection.Find("a"), collection.Find(1));
  EXPECT_EQ(collection.Find("c")->getIndex(), 2);
  EXPECT_EQ(collection.Find(3), nullptr);
  EXPECT_EQ(collection.Find(-1), nullptr);
}

TEST(CollectionTest, BooleansGoToTheFrontInTheOrderAdded) {
  CollectionOfRecordElements collection;
  for (const char* name : {"b", "a", "c"}) collection.Add(new RecordElement(name, VT_I4, 0));
  collection.Add(new RecordElement("z", VT_BOOL, 0));
  EXPECT_EQ(index_order(collection), (Names{"z", "b", "a", "c"}));
  collection.Add(new RecordElement("y", VT_BOOL, 0));
  collection.Add(new RecordElement("d", VT_I4, 0));
  EXPECT_EQ(index_order(collection), (Names{"z", "y", "b", "a", "c", "d"}));
}

TEST(CollectionTest, AddingAPresentNameHandsTheOlderElementBack) {
  CollectionOfRecordElements collection;
  RecordElement* older = collection.Add(new RecordElement("a", VT_I4, 0));
  collection.Add(new RecordElement("b", VT_I4, 0));
  collection.Add(new RecordElement("t", VT_BOOL, 0));
  collection.Add(new RecordElement("u", VT_BOOL, 0));
  RecordElement* displaced = older;
  RecordElement* newer = collection.Add(new RecordElement("a", VT_I4, 0), &displaced);
  EXPECT_EQ(displaced, older);
  EXPECT_EQ(collection.Find("a"), newer);
  EXPECT_EQ(collection.getCount(), 4);
  EXPECT_EQ(index_order(collection), (Names{"t", "u", "b", "a"}));
  EXPECT_STREQ(older->getName(), "a");  // still valid: it is ours now
  delete older;
  RecordElement* older_bool = collection.Find("t");
  collection.Add(new RecordElement("t", VT_BOOL, 0));
  EXPECT_EQ(index_order(collection), (Names{"u", "t", "b", "a"}));
  collection.Add(new RecordElement("s", VT_I4, 0), &displaced);
  EXPECT_EQ(displaced, nullptr);
  delete older_bool;
}

TEST(CollectionTest, RemoveRenumbersAndShrinksTheBooleanRegion) {
  CollectionOfRecordElements collection;
  for (const char* name : {"a", "b", "c"}) collection.Add(new RecordElement(name, VT_I4, 0));
  RecordElement* middle = collection.Find("b");
  EXPECT_EQ(collection.Remove(middle), 1);
  delete middle;
  EXPECT_EQ(index_order(collection), (Names{"a", "c"}));
  EXPECT_EQ(collection.Remove("b"), 0);

  RecordElement* flag = collection.Add(new RecordElement("f", VT_BOOL, 0));
  EXPECT_EQ(collection.Remove("f"), 1);
  delete flag;
  // With the boolean count back at 0, a new boolean takes slot 0.
  collection.Add(new RecordElement("g", VT_BOOL, 0));
  EXPECT_EQ(index_order(collection), (Names{"g", "a", "c"}));
}

TEST(CollectionTest, NamesAreCaseSensitive) {
  CollectionOfRecordElements collection;
  collection.Add(new RecordElement("node", VT_I4, 0));
  collection.Add(new RecordElement("Node", VT_I4, 0));
  EXPECT_EQ(collection.getCount(), 2);
  EXPECT_NE(collection.Find("node"), collection.Find("Node"));
  EXPECT_EQ(collection.Find("NODE"), nullptr);
}

TEST(CollectionTest, ClearDestroysEverything) {
  CollectionOfRecordElements collection;
  collection.Add(new RecordElement("a", VT_I4, 0));
  collection.Clear();
  EXPECT_EQ(collection.getCount(), 0);
  EXPECT_EQ(collection.getList(), nullptr);
  collection.Add(new RecordElement("b", VT_I4, 0));
  EXPECT_EQ(index_order(collection), (Names{"b"}));
}

TEST(CollectionTest, ZeroEntriesWithoutExcludedElementsEmptiesTheCollection) {
  CollectionOfRecordElements collection;
  collection.Add(new RecordElement("a", VT_I4, 0));
  collection.Add(new RecordElement("t", VT_BOOL, 0));
  collection.ZeroEntries();
  EXPECT_EQ(collection.getCount(), 0);
  EXPECT_EQ(collection.Find("a"), nullptr);
  collection.Add(new RecordElement("b", VT_I4, 0));
  EXPECT_EQ(index_order(collection), (Names{"b"}));
}

TEST(CollectionTest, ZeroEntriesKeepsExcludedElementsRenumbered) {
  CollectionOfRecordElements collection;
  const char* names[] = {"t1", "t2", "a", "b", "c", "d"};
  for (int i = 0; i < 6; ++i) {
    RecordElement* element = new RecordElement(names[i], i < 2 ? VT_BOOL : VT_I4, 0);
    element->setExcludeFromHeader(i == 1 || i == 3 || i == 5);
    collection.Add(element);
  }
  collection.ZeroEntries();
  EXPECT_EQ(index_order(collection), (Names{"t2", "b", "d"}));
  EXPECT_EQ(collection.Find("a"), nullptr);
  EXPECT_EQ(collection.Find("d")->getIndex(), 2);
  // The boolean region is one slot now: the next boolean goes to slot 1.
  collection.Add(new RecordElement("t3", VT_BOOL, 0));
  EXPECT_EQ(index_order(collection), (Names{"t2", "t3", "b", "d"}));
}

// A long random sequence of adds and removes against a map from name to the
// element, checking both orders after every step.
TEST(CollectionTest, StaysConsistentOverRandomAddsAndRemoves) {
  CollectionOfRecordElements collection;
  std::map<std::string, RecordElement*> model;
  std::mt19937 random(7);
  for (int step = 0; step < 3000; ++step) {
    const std::string name = "n" + std::to_string(random() % 60);
    if (random() % 3 != 0) {
      RecordElement* older = collection.Find(name.c_str());
      auto* element = new RecordElement(name.c_str(), random() % 4 == 0 ? VT_BOOL : VT_I4, 0);
      ASSERT_EQ(collection.Add(element), element);
      delete older;
      model[name] = element;
    } else {
      RecordElement* element = collection.Find(name.c_str());
      ASSERT_EQ(collection.Remove(name.c_str()), element != nullptr ? 1 : 0);
      delete element;
      model.erase(name);
    }
    ASSERT_EQ(collection.getCount(), static_cast<int>(model.size()));
    bool in_booleans = true;
    for (int i = 0; i < collection.getCount(); ++i) {
      RecordElement* element = collection.Find(i);
      ASSERT_EQ(element->getIndex(), i);
      ASSERT_EQ(model[element->getName()], element);
      if (element->getType() != VT_BOOL) in_booleans = false;
      ASSERT_TRUE(in_booleans || element->getType() != VT_BOOL) << "boolean after slot " << i;
    }
    for (const auto& [key, element] : model) ASSERT_EQ(collection.Find(key.c_str()), element);
  }
}

std::string dump(const CollectionOfRecordElements& collection) {
  testing::internal::CaptureStdout();
  collection.Dump();
  return testing::internal::GetCapturedStdout();
}

RecordElement* with_int(const char* name, VARENUM type, int value) {
  auto* element = new RecordElement(name, type, 0);
  element->setData(value);
  return element;
}

TEST(CollectionDumpTest, PrintsEveryKindOfValue) {
  CollectionOfRecordElements collection;
  collection.Add(with_int("flag", VT_BOOL, 7));
  collection.Add(with_int("off", VT_BOOL, 0));
  collection.Add(with_int("i2", VT_I2, -2));
  collection.Add(with_int("i4", VT_I4, -70000));
  collection.Add(with_int("int", VT_INT, 12));
  collection.Add(with_int("ui4", VT_UI4, -1));
  collection.Add(with_int("uint", VT_UINT, 5));
  collection.Add(with_int("i1", VT_I1, 0xFD));
  collection.Add(with_int("ui1", VT_UI1, 200));
  collection.Add(with_int("ui2", VT_UI2, 0xFFFF));
  const float r4 = 1.5f;
  auto* single = new RecordElement("r4", VT_R4, 0);
  single->setData(const_cast<float*>(&r4), RecordElement::kCopy);
  collection.Add(single);
  const double r8 = -0.25;
  auto* real = new RecordElement("r8", VT_R8, 0);
  real->setData(const_cast<double*>(&r8), RecordElement::kCopy);
  collection.Add(real);
  auto* text = new RecordElement("Group", VT_BSTR, 0);
  text->setData(const_cast<char*>("A1"), RecordElement::kRefer);
  collection.Add(text);
  collection.Add(with_int("date", VT_DATE, 3));  // no printed form
  EXPECT_EQ(dump(collection),
            "0. flag TRUE\n"
            "1. off FALSE\n"
            "2. i2 -2\n"
            "3. i4 -70000\n"
            "4. int 12\n"
            "5. ui4 4294967295\n"
            "6. uint 5\n"
            "7. i1 -3\n"
            "8. ui1 200\n"
            "9. ui2 65535\n"
            "10. r4 1.500000\n"
            "11. r8 (ALLOC) -0.250000\n"
            "12. Group A1\n"
            "13. date \n");
}

TEST(CollectionDumpTest, PrintsNullExcludedAndOwnedElements) {
  CollectionOfRecordElements collection;
  collection.Add(new RecordElement("Node"));
  auto* version = new RecordElement("Version", VT_BSTR, 0);
  version->setExcludeFromHeader(true);
  collection.Add(version);
  auto* group = new RecordElement("Group", VT_BSTR, 0);
  group->setExcludeFromHeader(true);
  group->setData(const_cast<char*>("A1"), RecordElement::kCopy);
  collection.Add(group);
  EXPECT_EQ(dump(collection),
            "0. Node (NULL)\n"
            "1. Version (Excluded From Header) (NULL)\n"
            "2. Group (Excluded From Header) (ALLOC) A1\n");
}

TEST(CollectionDumpTest, PrintsBlobsAndVectorsAsHexRows) {
  unsigned char bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(i * 17);
  CollectionOfRecordElements collection;
  auto* blob = new RecordElement("blob", VT_BLOB, 20);
  blob->setData(bytes, RecordElement::kCopy);
  collection.Add(blob);
  auto* vector = new RecordElement("vec", static_cast<VARENUM>(VT_VECTOR | VT_UI1), 8);
  vector->setData(bytes, RecordElement::kRefer);
  collection.Add(vector);
  auto* empty = new RecordElement("none", VT_RECORD, 0);
  empty->setData(bytes, RecordElement::kRefer);
  collection.Add(empty);
  EXPECT_EQ(dump(collection),
            "0. blob (ALLOC) \n"
            "0000> 00 11 22 33 44 55 66 77 - 88 99 aa bb cc dd ee ff \n"
            "0010> 10 21 32 43 \n"
            "\n"
            "1. vec \n"
            "0000> 00 11 22 33 44 55 66 77 - \n"
            "\n"
            "2. none \n"
            "\n");
}

}  // namespace
