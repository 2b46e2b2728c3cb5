// The order of the device list's rows: one sort key (1 address, 2 node,
// 3 install state, 4 group, 5 version) and a direction (+1 or -1), shared by
// the whole process and changed only on the main thread by a column click.
// The device table keeps its display order with CompareForDisplay, so the
// list can be drawn by index without sorting. Discovery threads insert into
// that order while they hold the table lock, so a column click changes the
// sort state under the same lock.
#pragma once

#include <cstdint>

class tarvo_object;

// An address in network byte order as a number that sorts in dotted order,
// the way the address column and the report list units.
std::uint32_t HostOrder(std::uint32_t networkOrder);

constexpr int kSortByAddress = 1;
constexpr int kSortByNode = 2;
constexpr int kSortByState = 3;
constexpr int kSortByGroup = 4;
constexpr int kSortByVersion = 5;

struct DisplaySort {
  int key = kSortByAddress;
  int direction = 1;
  // The text UI's "Install" column groups the units by their status text
  // (ASCII case ignored, an empty one after every other), then by state;
  // the dialog's orders by state alone.
  bool statusByText = false;
};

// The current sort state; main thread only.
DisplaySort& CurrentDisplaySort();

// The sort key of a list column (0 address, 1 node, 2 group, 3 version,
// 4 install status); 0 for a column the list does not have.
int SortKeyForColumn(int column);

// A click on a column header: the same key again reverses the direction,
// another key sorts ascending by it.
void ApplyColumnClick(DisplaySort& sort, int column);

// The display comparison under the current sort state: negative, 0 or
// positive as a goes before, beside or after b.
int CompareForDisplay(const tarvo_object* a, const tarvo_object* b);
// The same under a given sort state.
int CompareForDisplay(const DisplaySort& sort, const tarvo_object* a, const tarvo_object* b);
