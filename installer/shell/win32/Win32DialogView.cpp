// The Win32 view of the main dialog and its dialog procedure. Every text the
// controller passes is UTF-8 and goes to the wide-character calls, so a
// version string or a group name outside ASCII shows as written. The dialog
// procedure returns FALSE for the messages it handles, which leaves the
// dialog manager's default handling in place (WM_CLOSE then also arrives as
// IDCANCEL, and the stop sequence runs again harmlessly).
#include "Win32DialogView.h"

#include <commctrl.h>

#include "DialogEvents.h"
#include "DialogIds.h"
#include "platform/MainLoop.h"

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// The list view and the address box are common controls; this registers
// their classes once per process.
bool InitCommonControlClasses() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_INTERNET_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  return done;
}

}  // namespace

Win32DialogView::Win32DialogView(DialogEvents* events, platform::MainLoop* loop)
    : events_(events), loop_(loop) {}

Win32DialogView::~Win32DialogView() {
  events_ = nullptr;
  if (dialog_ != nullptr) DestroyWindow(dialog_);
}

bool Win32DialogView::Open() {
  if (!opened_) {
    opened_ = true;
    InitCommonControlClasses();
    // WM_INITDIALOG records the handle before CreateDialogParam returns.
    CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr,
                       DialogProc, reinterpret_cast<LPARAM>(this));
    if (loop_ != nullptr && dialog_ != nullptr) loop_->SetDialog(dialog_);
  }
  return dialog_ != nullptr;
}

void Win32DialogView::InsertColumns(const ListColumn* columns, int count) {
  if (!Open()) return;
  columns_.assign(columns, columns + count);
  for (int i = 0; i < count; ++i) {
    std::wstring header = Widen(columns[i].header);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = columns[i].width;
    column.pszText = header.data();
    column.iSubItem = i;
    SendToList(LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  SendToList(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

// The row goes in with the text of the first column, the other cells follow.
int Win32DialogView::InsertRow(int index, const UnitRow& unit, bool selected) {
  if (!Open()) return -1;
  std::wstring text =
      Widen(columns_.empty() || columns_[0].isStatus() ? std::string() : columns_[0].text(unit));
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_STATE;
  item.iItem = index;
  item.pszText = text.data();
  // Only the selected bit: the focus and the other state bits stay as the
  // list has them.
  item.stateMask = LVIS_SELECTED;
  item.state = selected ? LVIS_SELECTED : 0;
  const int row = static_cast<int>(SendToList(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row >= 0) UpdateRow(row, unit);
  return row;
}

void Win32DialogView::UpdateRow(int row, const UnitRow& unit) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!columns_[i].isStatus()) set_cell(row, i, columns_[i].text(unit));
  }
}

void Win32DialogView::ShowStatus(int row, const std::string& status) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].isStatus()) set_cell(row, i, status);
  }
}

void Win32DialogView::set_cell(int row, std::size_t column, const std::string& text) {
  if (!Open()) return;
  std::wstring wide = Widen(text);
  LVITEMW item{};
  item.iSubItem = static_cast<int>(column);
  item.pszText = wide.data();
  SendToList(LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void Win32DialogView::DeleteAllRows() {
  if (Open()) SendToList(LVM_DELETEALLITEMS, 0, 0);
}

int Win32DialogView::RowCount() const {
  return static_cast<int>(SendToList(LVM_GETITEMCOUNT, 0, 0));
}

bool Win32DialogView::IsRowSelected(int row) const {
  return SendToList(LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
}

void Win32DialogView::SetCountText(const std::string& text) {
  if (Open()) SetDlgItemTextW(dialog_, IDC_COUNT_BOX, Widen(text).c_str());
}

void Win32DialogView::EnableStartInstall(bool enabled) {
  if (Open()) EnableWindow(GetDlgItem(dialog_, IDC_START_INSTALL), enabled ? TRUE : FALSE);
}

bool Win32DialogView::ReadAddress(std::uint32_t* value) {
  if (!Open()) return false;
  DWORD address = 0;
  // The control answers with the number of fields that are filled in.
  const LRESULT filled = SendDlgItemMessageW(dialog_, IDC_ADDRESS_BOX, IPM_GETADDRESS, 0,
                                             reinterpret_cast<LPARAM>(&address));
  if (filled < 4) return false;
  *value = address;
  return true;
}

void Win32DialogView::SetTitle(const std::string& title) {
  if (Open()) SetWindowTextW(dialog_, Widen(title).c_str());
}

void Win32DialogView::Show() {
  if (Open()) ShowWindow(dialog_, SW_SHOW);
}

void Win32DialogView::ShowMessage(const std::string& text, const std::string& caption) {
  // No dialog is made for a message: before the dialog exists the box has
  // no owner, which is how a broken package is reported.
  MessageBoxW(dialog_, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | MB_ICONHAND);
}

void Win32DialogView::StartTick(unsigned periodMs) {
  if (Open()) SetTimer(dialog_, kTickTimerId, periodMs, nullptr);
}

void Win32DialogView::StopTick() {
  if (dialog_ != nullptr) KillTimer(dialog_, kTickTimerId);
}

LRESULT Win32DialogView::SendToList(UINT message, WPARAM wParam, LPARAM lParam) const {
  if (dialog_ == nullptr) return 0;
  return SendDlgItemMessageW(dialog_, IDC_DEVICE_LIST, message, wParam, lParam);
}

INT_PTR CALLBACK Win32DialogView::DialogProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    reinterpret_cast<Win32DialogView*>(lParam)->dialog_ = window;
  }
  auto* view = reinterpret_cast<Win32DialogView*>(GetWindowLongPtrW(window, DWLP_USER));
  // Messages before WM_INITDIALOG (the font, the frame) and after the view
  // let go of its events belong to the dialog manager.
  if (view == nullptr || view->events_ == nullptr) return FALSE;
  return view->HandleMessage(message, wParam, lParam);
}

INT_PTR Win32DialogView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: events_->SetTitle(); return FALSE;
    case WM_CLOSE: Stop(); return FALSE;
    case WM_DESTROY:
      Stop();
      // The window is going: calls that would draw from now on do nothing,
      // and the dialog is not made again.
      dialog_ = nullptr;
      return FALSE;
    case WM_NOTIFY: HandleNotify(*reinterpret_cast<const NMHDR*>(lParam)); return FALSE;
    case WM_COMMAND: return HandleCommand(wParam, lParam);
    case WM_TIMER: events_->OnTick(); return FALSE;
    default: return FALSE;
  }
}

void Win32DialogView::HandleNotify(const NMHDR& header) {
  if (header.idFrom != IDC_DEVICE_LIST) return;
  switch (header.code) {
    case LVN_COLUMNCLICK:
      events_->OnColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
      break;
    case LVN_ITEMACTIVATE:
      events_->OnItemActivate(reinterpret_cast<const NMITEMACTIVATE&>(header).iItem);
      break;
    default: break;  // LVN_ITEMCHANGED among them: selection is read when needed.
  }
}

INT_PTR Win32DialogView::HandleCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const bool clicked = HIWORD(wParam) == 0;
  switch (id) {
    case IDC_START_INSTALL:
      if (clicked) events_->OnStartInstall();
      return FALSE;
    case IDC_ADD:
      if (clicked) events_->OnAdd();
      return FALSE;
    case IDC_RESCAN:
      if (clicked) events_->OnRescan();
      return FALSE;
    case IDC_EXIT:
    case IDCANCEL:
      if (clicked) DestroyWindow(dialog_);
      return FALSE;
    default: return DefWindowProcA(dialog_, WM_COMMAND, wParam, lParam);
  }
}

// The close box and the end of the window both stop the program; the
// second time finds nothing left to stop.
void Win32DialogView::Stop() {
  events_->StopAll();
  PostQuitMessage(0);
}
