// The two orders of the collection and the text dump. Insertion and removal
// move pointer runs with memmove and renumber the elements whose slots moved;
// the boolean region is tracked by slot, so the bookkeeping stays within the
// arrays even if an element's type is changed after it was added.
#include "CollectionOfRecordElements.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BsearchNearestGreater.h"

CollectionOfRecordElements::CollectionOfRecordElements()
    : list(nullptr), names(nullptr), booleans(0), count(0), capacity(0) {}

CollectionOfRecordElements::~CollectionOfRecordElements() { internal_release(); }

bool CollectionOfRecordElements::internal_release() {
  if (list == nullptr) return false;
  for (int i = count - 1; i >= 0; --i) delete list[i];
  free(list);
  free(names);
  return true;
}

void CollectionOfRecordElements::Clear() {
  if (!internal_release()) return;
  list = nullptr;
  names = nullptr;
  booleans = 0;
  count = 0;
  capacity = 0;
}

int CollectionOfRecordElements::search_for_name_cb(RecordElement** slot, const char* key) {
  return std::strcmp((*slot)->getName(), key);
}

bool CollectionOfRecordElements::internal_find(const char* name, RecordElement*** where) const {
  if (names == nullptr) {
    *where = nullptr;
    return false;
  }
  auto compare = [](const void* entry, const void* key) {
    RecordElement** slot = const_cast<RecordElement**>(static_cast<RecordElement* const*>(entry));
    return search_for_name_cb(slot, static_cast<const char*>(key));
  };
  const int found = bsearch_nearest_greater(name, names, count, sizeof *names, compare);
  *where = names + (found >= 0 ? found : ~found);
  return found >= 0;
}

bool CollectionOfRecordElements::grow() {
  const int wanted = count * 2 + 4;
  void* bigger = realloc(list, wanted * sizeof *list);
  if (bigger == nullptr) return false;
  list = static_cast<RecordElement**>(bigger);
  bigger = realloc(names, wanted * sizeof *names);
  // The index array may now be bigger than the capacity says; that is harmless.
  if (bigger == nullptr) return false;
  names = static_cast<RecordElement**>(bigger);
  capacity = wanted;
  return true;
}

RecordElement* CollectionOfRecordElements::Add(RecordElement* element, RecordElement** displaced) {
  if (displaced != nullptr) *displaced = nullptr;
  if (element == nullptr) return nullptr;
  // One search finds both an element of the same name and the place in name
  // order. An element of the same name gives up its place in name order to
  // the new one and leaves the index order.
  RecordElement** where = nullptr;
  if (internal_find(element->getName(), &where)) {
    RecordElement* older = *where;
    const int slot = slot_of(older);
    if (slot < 0) return nullptr;  // cannot happen while both orders agree
    leave_index_order(slot);
    if (displaced != nullptr) *displaced = older;
    *where = element;
  } else {
    if (count >= kMaxElements) return nullptr;
    const int at = where != nullptr ? static_cast<int>(where - names) : 0;  // before names grows
    if (count + 1 > capacity && !grow()) return nullptr;
    std::memmove(names + at + 1, names + at, (count - at) * sizeof *names);
    names[at] = element;
    ++count;
  }
  insert_in_index_order(element);
  return element;
}

// Puts an element counted already but not yet in the index order after the
// others of its kind: booleans at the end of the boolean run, the rest last.
void CollectionOfRecordElements::insert_in_index_order(RecordElement* element) {
  const int last = count - 1;
  if (element->getType() != VT_BOOL) {
    element->set_index(last);
    list[last] = element;
    return;
  }
  std::memmove(list + booleans + 1, list + booleans, (last - booleans) * sizeof *list);
  for (int i = booleans + 1; i <= last; ++i) list[i]->set_index(i);
  element->set_index(booleans);
  list[booleans] = element;
  ++booleans;
}

// Closes the gap an element leaves in the index order; the count stays, as
// the caller either puts another element in or lowers it.
void CollectionOfRecordElements::leave_index_order(int slot) {
  if (slot < booleans) --booleans;
  std::memmove(list + slot, list + slot + 1, (count - slot - 1) * sizeof *list);
  for (int i = slot; i < count - 1; ++i) list[i]->set_index(i);
}

int CollectionOfRecordElements::slot_of(const RecordElement* element) const {
  const int slot = element->getIndex();
  if (slot < count && list[slot] == element) return slot;
  for (int i = 0; i < count; ++i) {
    if (list[i] == element) return i;
  }
  return -1;
}

int CollectionOfRecordElements::Remove(RecordElement* element) {
  return element != nullptr ? Remove(element->getName()) : 0;
}

int CollectionOfRecordElements::Remove(const char* name) {
  RecordElement** where = nullptr;
  if (name == nullptr || !internal_find(name, &where)) return 0;
  return remove_at(where) ? 1 : 0;
}

bool CollectionOfRecordElements::remove_at(RecordElement** where) {
  const int slot = slot_of(*where);
  if (slot < 0) return false;  // cannot happen while both orders agree
  leave_index_order(slot);
  const int at = static_cast<int>(where - names);
  std::memmove(names + at, names + at + 1, (count - at - 1) * sizeof *names);
  --count;
  return true;
}

RecordElement* CollectionOfRecordElements::Find(int index) const {
  if (index < 0 || index >= count) return nullptr;
  return list[index];
}

RecordElement* CollectionOfRecordElements::Find(const char* name) const {
  RecordElement** where = nullptr;
  if (name == nullptr || !internal_find(name, &where)) return nullptr;
  return *where;
}

void CollectionOfRecordElements::ZeroEntries() {
  auto kept = [](const RecordElement* element) {
    return (element->getFlags() & RecordElement::kExcludeFromHeader) != 0;
  };
  // The name order is filtered first: the elements that go are destroyed below.
  int named = 0;
  for (int i = 0; i < count; ++i) {
    if (kept(names[i])) names[named++] = names[i];
  }
  int slots = 0;
  int kept_booleans = 0;
  for (int i = 0; i < count; ++i) {
    RecordElement* element = list[i];
    if (!kept(element)) {
      delete element;
      continue;
    }
    if (i < booleans) ++kept_booleans;
    element->set_index(slots);
    list[slots++] = element;
  }
  count = slots;
  booleans = kept_booleans;
}

void CollectionOfRecordElements::Dump() const {
  for (int i = 0; i < count; ++i) {
    const RecordElement* element = list[i];
    const int flags = element->getFlags();
    std::printf("%d. %s ", element->getIndex(), element->getName());
    if ((flags & RecordElement::kExcludeFromHeader) != 0) std::printf("(Excluded From Header) ");
    if ((flags & RecordElement::kNull) != 0) {
      std::printf("(NULL)\n");
      continue;
    }
    if ((flags & RecordElement::kOwned) != 0) std::printf("(ALLOC) ");
    dump_value(element);
    std::printf("\n");
  }
  std::fflush(stdout);
}

namespace {

template <typename T>
T load(const void* data) {
  T result;
  std::memcpy(&result, data, sizeof result);
  return result;
}

// The printable length of a string value: up to its NUL, never past its size.
int string_length(const void* data, int size) {
  const void* nul = std::memchr(data, 0, size);
  return nul != nullptr
             ? static_cast<int>(static_cast<const char*>(nul) - static_cast<const char*>(data))
             : size;
}

}  // namespace

void CollectionOfRecordElements::dump_value(const RecordElement* element) {
  const void* data = element->getData();
  const int size = element->getDataSize();
  if (data == nullptr) {
    std::printf("(NULL)");
    return;
  }
  const int type = element->getType();
  if ((type & VT_VECTOR) != 0) {
    std::printf("\n");
    dump_hex(data, size);
    return;
  }
  switch (type) {
    case VT_I2: std::printf("%d", load<int16_t>(data)); break;
    case VT_I4:
    case VT_INT: std::printf("%d", load<int32_t>(data)); break;
    case VT_R4: std::printf("%f", load<float>(data)); break;
    case VT_R8: std::printf("%f", load<double>(data)); break;
    case VT_BSTR:
      std::printf("%.*s", string_length(data, size), static_cast<const char*>(data));
      break;
    case VT_BOOL: std::printf(load<uint32_t>(data) != 0 ? "TRUE" : "FALSE"); break;
    case VT_I1: std::printf("%d", load<int8_t>(data)); break;
    case VT_UI1: std::printf("%d", load<uint8_t>(data)); break;
    case VT_UI2: std::printf("%d", load<uint16_t>(data)); break;
    case VT_UI4:
    case VT_UINT: std::printf("%u", load<uint32_t>(data)); break;
    case VT_RECORD:
    case VT_BLOB:
      std::printf("\n");
      dump_hex(data, size);
      break;
    default: break;  // a type without a printed form
  }
}

void CollectionOfRecordElements::dump_hex(const void* data, int size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (int row = 0; row < size; row += 16) {
    std::printf("%04x> ", row);
    for (int i = 0; i < 16 && row + i < size; ++i) {
      std::printf("%02x ", bytes[row + i]);
      if (i == 7) std::printf("- ");
    }
    std::printf("\n");
  }
}
