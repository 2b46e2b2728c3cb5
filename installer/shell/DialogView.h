// What the controller needs of its dialog, whatever draws it: the Win32
// dialog from template 102, the Linux text UI, the headless runner's line
// printer, or a recording fake in the tests. The controller keeps all the
// logic (which rows exist, what their cells say, when a run starts); a view
// only draws and reports what the user did by calling the controller's
// On... operations.
//
// Every call is made on the main thread. Texts are UTF-8; the Win32 view
// converts them for the wide-character calls it makes.
//
// A view gets each row's unit as data, not as cell text: a view that draws
// cells makes them with the columns' text functions, and one that does not
// (the headless view) reads the fields it wants.
#pragma once

#include <cstdint>
#include <string>

// What a row of the device list shows of its unit, copied from the record
// under the table lock.
struct UnitRow {
  std::uint32_t address = 0;  // network byte order
  std::int32_t node = 0;
  std::string group;
  std::string version;
};

// One column of the device list: its header, its width in pixels (the text
// UI scales the width to characters), and the text of its cell for a unit;
// the status column has no text function, its cells show what ShowStatus
// gives.
struct ListColumn {
  const char* header;
  int width;
  std::string (*text)(const UnitRow& unit);
  bool isStatus() const { return text == nullptr; }
};

class DialogView {
 public:
  virtual ~DialogView() = default;

  // The device list (control 1003). Rows are numbered from 0 in display
  // order; the controller never asks the view to sort.
  virtual void InsertColumns(const ListColumn* columns, int count) = 0;
  // Inserts a row for the unit at index with the given selected state and
  // draws its cells, all but the status; returns the index of the row it
  // inserted.
  virtual int InsertRow(int index, const UnitRow& unit, bool selected) = 0;
  // Draws the row's cells again, all but the status (a merge changed the
  // unit's node, group or version).
  virtual void UpdateRow(int row, const UnitRow& unit) = 0;
  // Draws the row's status.
  virtual void ShowStatus(int row, const std::string& status) = 0;
  virtual void DeleteAllRows() = 0;
  virtual int RowCount() const = 0;
  virtual bool IsRowSelected(int row) const = 0;

  // The read-only count box (control 1011).
  virtual void SetCountText(const std::string& text) = 0;
  // "Start Install" (control 1005).
  virtual void EnableStartInstall(bool enabled) = 0;
  // The address box (control 1000): false when fewer than its four fields
  // are filled in; otherwise the value with the first field in the highest
  // byte. The box keeps its contents.
  virtual bool ReadAddress(std::uint32_t* value) = 0;

  virtual void SetTitle(const std::string& title) = 0;
  // Makes the dialog visible (it is created hidden).
  virtual void Show() = 0;
  // A message box owned by the dialog (or none) with an OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;

  // The controller's tick: the view calls the controller's OnTick every
  // periodMs on the main thread until StopTick.
  virtual void StartTick(unsigned periodMs) = 0;
  virtual void StopTick() = 0;
  // One more OnTick soon, on the main thread; any thread may ask. A view
  // whose runs take no limits (the Win32 dialog) needs none.
  virtual void TickSoon() {}
};
