// The device list of the main dialog, drawn from the device table: its five
// columns, the rows built and redrawn in display order, the column-click
// sort and the "Add" button. The table is the truth; the list keeps only the
// record behind each row it has drawn (the item parameter of the Win32 list
// view), so a row the user selected always names the unit it shows, even
// when discovery has entered a unit into the display order that the next
// tick has not drawn yet.
//
// Main thread only. Every pass over the table's records takes its lock.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "shell/DialogView.h"

class tarvo_object;
class unit_table;

class DeviceList {
 public:
  // The list's columns: header, width and the cell text of each.
  static std::span<const ListColumn> Columns();
  // The group and version of a unit typed in by hand.
  static constexpr const char* kUnknownText = "???";

  explicit DeviceList(unit_table& table) : table_(table) {}

  // The view to draw on; null until the dialog exists.
  void Attach(DialogView* view) { view_ = view; }
  void InsertColumns();

  // Updates the count box and the rows: a full refresh sorts the display
  // order and rebuilds every row, with each row selected exactly when its
  // unit is Pending or Running; an incremental one inserts the rows of new
  // units, redraws the identity cells of units a merge changed and every
  // flagged status cell.
  void RefreshList(bool full);
  // Redraws the "Install" cell of the row when its unit's statusChanged flag
  // is set. Caller holds the table lock.
  void UpdateStatusCell(int row);
  // UpdateStatusCell for every row, under the table lock.
  void RefreshStatusColumn();
  // Changes the sort state for a click on the column and rebuilds the list.
  void ColumnClick(int column);
  // The "Add" button: enters the unit at the address box's address and
  // rebuilds the list when it is new. False when nothing was entered.
  bool AddByAddress();
  // Whether the table holds a unit at the address (network byte order),
  // found by discovery or added.
  bool HasUnit(std::uint32_t address);

  // The rows drawn, and the unit behind one (null past the last row).
  int RowCount() const { return static_cast<int>(rows_.size()); }
  tarvo_object* UnitAtRow(int row) const;

  // "%3d.%3d.%3d.%3d" of an address in network byte order.
  static std::string FormatAddress(std::uint32_t address);

 private:
  void insert_row(int index, tarvo_object* unit);

  unit_table& table_;
  DialogView* view_ = nullptr;
  std::vector<tarvo_object*> rows_;
};
