// Binary search of a sorted array that also tells where a missing key would
// go: the collection keeps its name order with it, finding an element and its
// insertion point in one search.
#pragma once

// Searches `count` entries of `size` bytes at `base`, sorted ascending by
// `cmp` (which compares an entry with the key: negative when the entry is
// below it). Returns the index of an entry that compares equal, or, when none
// does, ~i (a negative number) where i is the index of the smallest entry
// above the key, or `count` when there is none.
int bsearch_nearest_greater(const void* key, const void* base, int count, int size,
                            int (*cmp)(const void* entry, const void* key));
