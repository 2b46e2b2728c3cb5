// The main dialog on Windows: template 102 made modeless, its list view,
// boxes and buttons driven for the controller through DialogView, and the
// dialog procedure that turns the dialog's messages into DialogEvents
// reports.
//
// The dialog is made on the first call that draws (the controller's first
// use of its view once it has bound it), so a broken package's message box
// appears before any window exists and WM_INITDIALOG's title request reaches
// a controller that can already draw. Once the dialog has been destroyed it
// is never made again: later calls do nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "DialogView.h"

class DialogEvents;
namespace platform {
class MainLoop;
}

class Win32DialogView : public DialogView {
 public:
  // The dialog's timer, delivered as WM_TIMER to the dialog procedure.
  static constexpr UINT_PTR kTickTimerId = 7000;

  // With a loop, the dialog is handed to it when made, so that the loop
  // serves its keyboard navigation.
  explicit Win32DialogView(DialogEvents* events, platform::MainLoop* loop = nullptr);
  // Destroys a dialog that still exists without reporting to the events.
  ~Win32DialogView() override;
  Win32DialogView(const Win32DialogView&) = delete;
  Win32DialogView& operator=(const Win32DialogView&) = delete;

  // Makes the (hidden) dialog if it was never made; true while it exists.
  bool Open();
  // The dialog, or null before Open and after it was destroyed.
  HWND Handle() const { return dialog_; }

  void InsertColumns(const ListColumn* columns, int count) override;
  int InsertRow(int index, const UnitRow& unit, bool selected) override;
  void UpdateRow(int row, const UnitRow& unit) override;
  void ShowStatus(int row, const std::string& status) override;
  void DeleteAllRows() override;
  int RowCount() const override;
  bool IsRowSelected(int row) const override;
  void SetCountText(const std::string& text) override;
  void EnableStartInstall(bool enabled) override;
  bool ReadAddress(std::uint32_t* value) override;
  void SetTitle(const std::string& title) override;
  void Show() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void StartTick(unsigned periodMs) override;
  void StopTick() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void HandleNotify(const NMHDR& header);
  INT_PTR HandleCommand(WPARAM wParam, LPARAM lParam);
  void Stop();
  LRESULT SendToList(UINT message, WPARAM wParam, LPARAM lParam) const;
  void set_cell(int row, std::size_t column, const std::string& text);

  DialogEvents* events_;
  platform::MainLoop* loop_;
  std::vector<ListColumn> columns_;
  HWND dialog_ = nullptr;
  bool opened_ = false;
};
