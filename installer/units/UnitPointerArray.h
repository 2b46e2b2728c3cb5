// A sorted array of record pointers, the shape of both orders of the device
// table. It grows in steps of ten slots and keeps its order on insertion, so
// a lookup is one binary search and the list can be drawn by index without
// sorting. The records themselves never move; the array does not own them.
#pragma once

#include <cstddef>

class tarvo_object;

using UnitCompare = int (*)(const tarvo_object* a, const tarvo_object* b);

class UnitPointerArray {
 public:
  static constexpr std::size_t kGrowthStep = 10;

  explicit UnitPointerArray(UnitCompare compare) : compare_(compare) {}
  ~UnitPointerArray();
  UnitPointerArray(const UnitPointerArray&) = delete;
  UnitPointerArray& operator=(const UnitPointerArray&) = delete;

  // The slot of a record that compares equal to key, or null. Either way the
  // insertion point is left where key would go: at the equal record (so an
  // equal record is inserted in front of it), before the nearest greater
  // one, or null for "after the last slot".
  tarvo_object** Search(const tarvo_object* key);
  // Grows by one step when full, then stores the record at its insertion
  // point.
  void Insert(tarvo_object* record);
  // Puts the slots in the comparison's order again, for when the ordering
  // itself has changed (a new sort key). Not stable.
  void Sort();

  std::size_t getCount() const { return count_; }
  std::size_t getCapacity() const { return capacity_; }
  tarvo_object* at(std::size_t index) const { return slots_[index]; }

 private:
  void grow();

  std::size_t capacity_ = 0;
  tarvo_object** slots_ = nullptr;
  UnitCompare compare_;
  std::size_t count_ = 0;
  tarvo_object** insertionPoint_ = nullptr;
};
