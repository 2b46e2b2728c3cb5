// The search is the library's nearest-greater search (a scan from the end
// for fewer than four entries, halving for more), which already keeps the
// insertion point the table needs. Its comparison sees one slot and the key,
// so the key carries the array's comparison along with the record.
#include "units/UnitPointerArray.h"

#include <algorithm>

#include "BsearchNearestGreater.h"

namespace {

struct SearchKey {
  UnitCompare compare;
  const tarvo_object* record;
};

int CompareSlotWithKey(const void* slot, const void* key) {
  const SearchKey* search = static_cast<const SearchKey*>(key);
  return search->compare(*static_cast<tarvo_object* const*>(slot), search->record);
}

}  // namespace

UnitPointerArray::~UnitPointerArray() { delete[] slots_; }

tarvo_object** UnitPointerArray::Search(const tarvo_object* key) {
  const SearchKey search{compare_, key};
  const int found = bsearch_nearest_greater(&search, slots_, static_cast<int>(count_),
                                            sizeof(tarvo_object*), CompareSlotWithKey);
  const std::size_t index = static_cast<std::size_t>(found >= 0 ? found : ~found);
  insertionPoint_ = index < count_ ? slots_ + index : nullptr;
  return found >= 0 ? slots_ + found : nullptr;
}

void UnitPointerArray::Insert(tarvo_object* record) {
  if (count_ == capacity_) grow();
  Search(record);
  tarvo_object** end = slots_ + count_;
  if (insertionPoint_) {
    std::move_backward(insertionPoint_, end, end + 1);
    *insertionPoint_ = record;
  } else {
    *end = record;
  }
  ++count_;
}

void UnitPointerArray::grow() {
  tarvo_object** larger = new tarvo_object*[capacity_ + kGrowthStep];
  std::copy(slots_, slots_ + count_, larger);
  delete[] slots_;
  slots_ = larger;
  capacity_ += kGrowthStep;
}

void UnitPointerArray::Sort() {
  const UnitCompare compare = compare_;
  std::sort(slots_, slots_ + count_,
            [compare](const tarvo_object* a, const tarvo_object* b) { return compare(a, b) < 0; });
}
