// What the controller needs of its dialog, whatever draws it: the Win32
// dialog from template 102, the Linux text UI, the headless runner's line
// printer, or a recording fake in the tests. The controller keeps all the
// logic (which rows exist, what their cells say, when a run starts); a view
// only draws and reports what the user did by calling the controller's
// On... operations.
//
// Every call is made on the main thread. Texts are UTF-8; the Win32 view
// converts them for the wide-character calls it makes.
#pragma once

#include <cstdint>
#include <string>

// One column of the device list: its header and width in pixels (the text
// UI scales the width to characters).
struct ListColumn {
  const char* header;
  int width;
};

class DialogView {
 public:
  virtual ~DialogView() = default;

  // The device list (control 1003). Rows are numbered from 0 in display
  // order; the controller never asks the view to sort.
  virtual void InsertColumns(const ListColumn* columns, int count) = 0;
  // Inserts a row at index with the text of column 0 and the given selected
  // state; returns the index of the row it inserted.
  virtual int InsertRow(int index, const std::string& firstCell, bool selected) = 0;
  virtual void SetCellText(int row, int column, const std::string& text) = 0;
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
};
