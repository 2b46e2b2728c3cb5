// A set of uniquely named elements kept in two orders at once: the index order,
// in which a record lists and encodes its elements (booleans first, so that
// their bits pack together), and the name order, searched by binary search.
// The collection owns its elements. Both arrays live on the C heap and grow
// together; when they cannot grow, Add refuses the element (returns null) and
// leaves the collection as it was.
#pragma once

#include "RecordElement.h"

class CollectionOfRecordElements {
 public:
  // Indices are 16 bits wide (in the elements and on the wire), which bounds
  // the number of elements.
  static constexpr int kMaxElements = 0xFFFF;

  CollectionOfRecordElements();
  ~CollectionOfRecordElements();

  CollectionOfRecordElements(const CollectionOfRecordElements&) = delete;
  CollectionOfRecordElements& operator=(const CollectionOfRecordElements&) = delete;

  void Clear();
  // Inserts the element and returns it. An element already present under the
  // same name is taken out first, not destroyed: it goes to *displaced when
  // that is given (null there when there was none). Returns null, adding
  // nothing, when the arrays cannot grow.
  RecordElement* Add(RecordElement* element, RecordElement** displaced = nullptr);
  int Remove(RecordElement* element);
  int Remove(const char* name);
  RecordElement* Find(int index) const;
  RecordElement* Find(const char* name) const;
  // Destroys every element that is not excluded from the header; the kept
  // ones become the whole collection, renumbered from 0 in index order.
  void ZeroEntries();
  void Dump() const;
  RecordElement** getList() const { return list; }
  int getCount() const { return count; }

 private:
  bool internal_release();
  bool internal_find(const char* name, RecordElement*** where) const;
  static int search_for_name_cb(RecordElement** slot, const char* key);
  bool grow();
  void insert_in_index_order(RecordElement* element);
  void leave_index_order(int slot);
  int slot_of(const RecordElement* element) const;
  // Takes the element at this place in name order out of both orders.
  bool remove_at(RecordElement** where);
  static void dump_value(const RecordElement* element);
  static void dump_hex(const void* data, int size);

  RecordElement** list;   // index order: slot n holds the element whose index is n
  RecordElement** names;  // the same pointers sorted by name
  int booleans;           // the VT_BOOL elements, in slots 0 to booleans - 1
  int count;
  int capacity;  // slots allocated in each array
};
