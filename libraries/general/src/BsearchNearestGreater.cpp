// The search scans short arrays linearly from the end (fewer than four
// entries) and halves longer ones, remembering the last entry seen above the
// key as the insertion point.
#include "BsearchNearestGreater.h"

namespace {

using Compare = int (*)(const void* entry, const void* key);

const void* entry_at(const void* base, int index, int size) {
  return static_cast<const char*>(base) + static_cast<long long>(index) * size;
}

int scan_short(const void* key, const void* base, int count, int size, Compare cmp) {
  int candidate = count;
  for (int i = count - 1; i >= 0; --i) {
    const int order = cmp(entry_at(base, i, size), key);
    if (order == 0) return i;
    if (order < 0) break;
    candidate = i;
  }
  return ~candidate;
}

}  // namespace

int bsearch_nearest_greater(const void* key, const void* base, int count, int size, Compare cmp) {
  if (count <= 0) return ~0;
  int hi = count - 1;
  if (hi < 3) return scan_short(key, base, count, size, cmp);
  int lo = 0;
  int candidate = count;
  for (;;) {
    const int mid = lo + (hi - lo) / 2;
    const int order = cmp(entry_at(base, mid, size), key);
    if (order == 0) return mid;
    if (order > 0) {
      candidate = mid;
      if (hi == mid) break;
      hi = mid;
    } else if (lo == mid) {
      // The bounds are adjacent or equal: only hi is left to look at.
      if (lo == hi) break;
      lo = hi;
    } else {
      lo = mid;
    }
  }
  return ~candidate;
}
