// The main dialog made for real from its template and driven in-process the
// way a user would drive it (button clicks, keys through the dialog
// manager, list notifications) and the way the controller draws it (through
// the view). A recording controller shows which reports reach the
// controller. Under wine on a virtual display the last test
// asks the launcher for a screenshot of the filled dialog.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "DialogDriving.h"
#include "DialogEvents.h"
#include "DialogIds.h"
#include "Win32DialogView.h"
#include "shell/DeviceList.h"

namespace {

// UTF-8 on purpose: the view must hand it to the wide-character calls.
const char kTitle[] = "Tarvo Installer (Version 1.0.0-\xCE\xB2)";
const wchar_t kWideTitle[] = L"Tarvo Installer (Version 1.0.0-\x03B2)";

// The program's own columns, which draw the cells from a unit.
const std::span<const ListColumn> kColumns = DeviceList::Columns();

// A unit as the controller hands it to the view, at a.b.c.d.
UnitRow UnitAt(int a, int b, int c, int d, int node = 0, const char* group = "",
               const char* version = "") {
  UnitRow unit;
  const unsigned char octets[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                   static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::memcpy(&unit.address, octets, sizeof octets);
  unit.node = node;
  unit.group = group;
  unit.version = version;
  return unit;
}

// Records what reaches the controller and answers as the controller does
// where the dialog depends on it (the title, the tick at stop).
struct RecordingController : DialogEvents {
  DialogView* view = nullptr;
  std::vector<std::string> calls;

  void SetTitle() override {
    calls.push_back("SetTitle");
    view->SetTitle(kTitle);
  }
  void OnTick() override { calls.push_back("OnTick"); }
  void OnStartInstall() override { calls.push_back("OnStartInstall"); }
  void OnAdd() override { calls.push_back("OnAdd"); }
  void OnRescan() override { calls.push_back("OnRescan"); }
  void OnColumnClick(int column) override {
    calls.push_back("OnColumnClick " + std::to_string(column));
  }
  void OnItemActivate(int row) override {
    calls.push_back("OnItemActivate " + std::to_string(row));
  }
  void StopAll() override {
    calls.push_back("StopAll");
    view->StopTick();
  }
};

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

LONG_PTR StyleOf(HWND window) { return GetWindowLongPtrW(window, GWL_STYLE); }

using dialogtest::PressKey;
using dialogtest::Pump;
using dialogtest::TakeQuitCode;

class Win32DialogViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    controller.view = &view;
    ASSERT_TRUE(view.Open());
    dialog = view.Handle();
  }
  // Leaves the queue empty for the next test: a posted quit or Cancel must
  // not reach it. Messages are dispatched, since a paint request stays
  // queued until its window has painted.
  void TearDown() override {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message != WM_QUIT) DispatchMessageW(&message);
    }
  }

  HWND Control(int id) const { return GetDlgItem(dialog, id); }
  HWND List() const { return Control(IDC_DEVICE_LIST); }
  // The reports after the title request that every dialog starts with.
  std::vector<std::string> Reports() const {
    return std::vector<std::string>(controller.calls.begin() + 1, controller.calls.end());
  }
  // The dialog manager converts the position and the size each on its own,
  // and so does this.
  RECT InDialogUnits(int x, int y, int width, int height) const {
    RECT rect{x, y, width, height};
    MapDialogRect(dialog, &rect);
    return RECT{rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
  }
  RECT PlacementOf(HWND control) const {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }
  std::wstring CellText(int row, int column) const {
    wchar_t text[128] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(List(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    return text;
  }
  void FillRows() {
    view.InsertColumns(kColumns.data(), 5);
    const UnitRow units[] = {UnitAt(10, 0, 0, 9, 3, "North", "4.2.1"),
                             UnitAt(10, 0, 0, 10, 4, "North", "4.2.0"),
                             UnitAt(192, 168, 1, 200, 0, "???", "???"),
                             UnitAt(192, 168, 1, 201, 7,
                                    "S\xC3\xBC"
                                    "d",
                                    "4.2.1")};
    const char* statuses[] = {"Running", "Pending", "Failed", ""};
    for (int row = 0; row < 4; ++row) {
      const int index = view.InsertRow(row, units[row], row < 2);
      view.ShowStatus(index, statuses[row]);
    }
    view.SetCountText("4");
  }

  RecordingController controller;
  Win32DialogView view{&controller};
  HWND dialog = nullptr;
};

struct PlacedControl {
  int id;
  const wchar_t* className;
  const wchar_t* caption;
  int x, y, width, height;
};

// Every control of the template in tab order; -1 for the ones without an id,
// no caption where the control shows its own text (the address box).
const PlacedControl kTemplate[] = {
    {-1, L"Button", L"Click to choose which Tarvos will be updated", 7, 7, 308, 328},
    {IDC_DEVICE_LIST, L"SysListView32", L"", 13, 19, 294, 239},
    {-1, L"Static",
     L"Tarvos that do not appear in the above list (even after multiple rescans) can be added by "
     L"manually entering the address in the address box below.",
     13, 260, 211, 28},
    {IDC_ADDRESS_BOX, L"SysIPAddress32", nullptr, 14, 290, 103, 15},
    {IDC_ADD, L"Button", L"Add", 123, 290, 32, 14},
    {-1, L"Static", L"Total Tarvos Found:", 242, 259, 31, 27},
    {IDC_COUNT_BOX, L"Edit", L"", 277, 270, 30, 14},
    {IDC_RESCAN, L"Button", L"Rescan", 239, 290, 68, 14},
    {IDC_START_INSTALL, L"Button", L"Start Install", 7, 339, 134, 18},
    {IDC_EXIT, L"Button", L"Exit", 181, 339, 134, 18},
};

TEST_F(Win32DialogViewTest, TemplateHoldsEveryControlInTabOrderWithItsPlace) {
  HWND control = GetWindow(dialog, GW_CHILD);
  for (const PlacedControl& expected : kTemplate) {
    SCOPED_TRACE(testing::Message()
                 << "control " << expected.id << " at " << expected.x << "," << expected.y);
    ASSERT_NE(control, nullptr);
    if (expected.id != -1) {
      EXPECT_EQ(GetDlgCtrlID(control), expected.id);
    }
    EXPECT_EQ(ClassOf(control), expected.className);
    if (expected.caption != nullptr) {
      EXPECT_EQ(TextOf(control), expected.caption);
    }
    const RECT want = InDialogUnits(expected.x, expected.y, expected.width, expected.height);
    const RECT got = PlacementOf(control);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right, want.right);
    EXPECT_EQ(got.bottom, want.bottom);
    control = GetWindow(control, GW_HWNDNEXT);
  }
  EXPECT_EQ(control, nullptr) << "a control the template does not list";
}

TEST_F(Win32DialogViewTest, DialogAndControlsHaveTheirStyles) {
  const LONG_PTR style = StyleOf(dialog);
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);
  EXPECT_NE(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, 0);
  EXPECT_FALSE(IsWindowVisible(dialog)) << "made hidden, shown by the controller";
  RECT client;
  GetClientRect(dialog, &client);
  const RECT size = InDialogUnits(0, 0, 322, 364);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);

  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");

  const LONG_PTR list = StyleOf(List());
  EXPECT_EQ(list & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_NE(list & LVS_SHOWSELALWAYS, 0);
  EXPECT_EQ(list & LVS_SINGLESEL, 0) << "several units are chosen at once";
  EXPECT_NE(list & WS_TABSTOP, 0);
  EXPECT_NE(StyleOf(Control(IDC_ADDRESS_BOX)) & WS_TABSTOP, 0);
  const HWND countBox = Control(IDC_COUNT_BOX);
  EXPECT_EQ(StyleOf(countBox) & (ES_READONLY | ES_AUTOHSCROLL), ES_READONLY | ES_AUTOHSCROLL);
  // The edit control draws a border asked for with WS_BORDER as a sunken
  // client edge.
  EXPECT_TRUE((StyleOf(countBox) & WS_BORDER) != 0 ||
              (GetWindowLongPtrW(countBox, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);

  EXPECT_EQ(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELONG(IDC_START_INSTALL, DC_HASDEFID));
  EXPECT_EQ(StyleOf(Control(IDC_START_INSTALL)) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
}

TEST_F(Win32DialogViewTest, TitleComesFromTheControllerAtCreationAndShowCentres) {
  EXPECT_EQ(controller.calls, std::vector<std::string>{"SetTitle"});
  EXPECT_EQ(TextOf(dialog), kWideTitle);

  view.Show();
  EXPECT_TRUE(IsWindowVisible(dialog));
  RECT window, area;
  GetWindowRect(dialog, &window);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_NEAR((window.left + window.right) / 2, (area.left + area.right) / 2, 2);
  EXPECT_NEAR((window.top + window.bottom) / 2, (area.top + area.bottom) / 2, 2);
}

TEST_F(Win32DialogViewTest, ColumnsAreLeftAlignedWithTheirHeadersAndWidths) {
  view.InsertColumns(kColumns.data(), 5);
  const HWND header = reinterpret_cast<HWND>(SendMessageW(List(), LVM_GETHEADER, 0, 0));
  EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 5);
  for (int i = 0; i < 5; ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.pszText = text;
    column.cchTextMax = 64;
    ASSERT_TRUE(SendMessageW(List(), LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
    wchar_t expected[64] = {};
    MultiByteToWideChar(CP_UTF8, 0, kColumns[i].header, -1, expected, 64);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(column.cx, kColumns[i].width) << kColumns[i].header;
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  }
  EXPECT_NE(SendMessageW(List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT, 0);
}

TEST_F(Win32DialogViewTest, RowsCarryTheirTextsAndOnlyTheSelectedState) {
  view.InsertColumns(kColumns.data(), 5);
  EXPECT_EQ(view.InsertRow(0, UnitAt(10, 0, 0, 9), true), 0);
  EXPECT_EQ(view.InsertRow(1, UnitAt(10, 0, 0, 10), false), 1);
  // A row inserted in the middle moves the later ones down.
  EXPECT_EQ(view.InsertRow(1, UnitAt(192, 168, 1, 200), true), 1);
  view.UpdateRow(1, UnitAt(192, 168, 1, 200, 0,
                           "S\xC3\xBC"
                           "d"));
  view.ShowStatus(2, "Pending");

  EXPECT_EQ(view.RowCount(), 3);
  EXPECT_EQ(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(CellText(0, 0), L" 10.  0.  0.  9");
  EXPECT_EQ(CellText(1, 0), L"192.168.  1.200");
  EXPECT_EQ(CellText(1, 2),
            L"S\x00FC"
            L"d");
  EXPECT_EQ(CellText(2, 0), L" 10.  0.  0. 10");
  EXPECT_EQ(CellText(2, 4), L"Pending");
  EXPECT_TRUE(view.IsRowSelected(0));
  EXPECT_TRUE(view.IsRowSelected(1));
  EXPECT_FALSE(view.IsRowSelected(2));
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(SendMessageW(List(), LVM_GETITEMSTATE, row, LVIS_FOCUSED | LVIS_CUT), 0)
        << "row " << row << " got more than its selected bit";
  }

  // The user's selection is what the view reports; the change itself is
  // no news for the controller.
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED;
  state.state = LVIS_SELECTED;
  SendMessageW(List(), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));
  state.state = 0;
  SendMessageW(List(), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
  EXPECT_TRUE(view.IsRowSelected(2));
  EXPECT_FALSE(view.IsRowSelected(0));
  EXPECT_TRUE(Reports().empty());

  view.DeleteAllRows();
  EXPECT_EQ(view.RowCount(), 0);
}

TEST_F(Win32DialogViewTest, CountBoxAndStartInstallFollowTheController) {
  view.SetCountText("12");
  wchar_t text[16] = {};
  GetDlgItemTextW(dialog, IDC_COUNT_BOX, text, 16);
  EXPECT_STREQ(text, L"12");

  view.EnableStartInstall(false);
  EXPECT_FALSE(IsWindowEnabled(Control(IDC_START_INSTALL)));
  view.EnableStartInstall(true);
  EXPECT_TRUE(IsWindowEnabled(Control(IDC_START_INSTALL)));
}

TEST_F(Win32DialogViewTest, AddressBoxGivesOnlyAFullAddressAndKeepsIt) {
  const HWND box = Control(IDC_ADDRESS_BOX);
  SendMessageW(box, IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 1, 200));
  std::uint32_t value = 0;
  ASSERT_TRUE(view.ReadAddress(&value));
  EXPECT_EQ(value, 0xC0A801C8u) << "first field in the highest byte";
  value = 0;
  EXPECT_TRUE(view.ReadAddress(&value));
  EXPECT_EQ(value, 0xC0A801C8u);

  SendMessageW(box, IPM_CLEARADDRESS, 0, 0);
  value = 7;
  EXPECT_FALSE(view.ReadAddress(&value));
  EXPECT_EQ(value, 7u) << "an incomplete address leaves the caller's value alone";

  // One field typed, three empty.
  SetWindowTextW(FindWindowExW(box, nullptr, L"Edit", nullptr), L"10");
  EXPECT_FALSE(view.ReadAddress(&value));
}

TEST_F(Win32DialogViewTest, ButtonsAndEnterReachTheController) {
  SendMessageW(Control(IDC_START_INSTALL), BM_CLICK, 0, 0);
  SendMessageW(Control(IDC_ADD), BM_CLICK, 0, 0);
  SendMessageW(Control(IDC_RESCAN), BM_CLICK, 0, 0);
  // Enter in a box that does not take it presses the default button.
  EXPECT_TRUE(PressKey(dialog, Control(IDC_COUNT_BOX), VK_RETURN));
  EXPECT_EQ(Reports(),
            (std::vector<std::string>{"OnStartInstall", "OnAdd", "OnRescan", "OnStartInstall"}));
}

TEST_F(Win32DialogViewTest, OtherNotificationsAndCommandsReachNobody) {
  for (int id : {IDC_START_INSTALL, IDC_ADD, IDC_RESCAN, IDC_EXIT, IDCANCEL}) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_SETFOCUS),
                 reinterpret_cast<LPARAM>(Control(id)));
  }
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(4321, 0), 0);
  // A list notification from another control is not the list's.
  NMLISTVIEW click{};
  click.hdr.hwndFrom = Control(IDC_ADD);
  click.hdr.idFrom = IDC_ADD;
  click.hdr.code = LVN_COLUMNCLICK;
  SendMessageW(dialog, WM_NOTIFY, IDC_ADD, reinterpret_cast<LPARAM>(&click));
  EXPECT_TRUE(Reports().empty());
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_EQ(TakeQuitCode(), -1);
}

TEST_F(Win32DialogViewTest, HeaderClickAndRowActivationReachTheController) {
  FillRows();
  // A click on the fourth header, as the header control reports it.
  NMHEADERW click{};
  click.hdr.hwndFrom = reinterpret_cast<HWND>(SendMessageW(List(), LVM_GETHEADER, 0, 0));
  click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(click.hdr.hwndFrom));
  click.hdr.code = HDN_ITEMCLICKW;
  click.iItem = 3;
  SendMessageW(List(), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));

  RECT row{};
  row.left = LVIR_BOUNDS;
  ASSERT_TRUE(SendMessageW(List(), LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&row)));
  SendMessageW(List(), WM_LBUTTONDBLCLK, MK_LBUTTON,
               MAKELPARAM(row.left + 20, (row.top + row.bottom) / 2));
  EXPECT_EQ(Reports(), (std::vector<std::string>{"OnColumnClick 3", "OnItemActivate 2"}));
}

TEST_F(Win32DialogViewTest, TickIsTimer7000OnTheDialogUntilStopped) {
  view.StartTick(20);
  const DWORD start = GetTickCount();
  while (Reports().empty() && GetTickCount() - start < 5000) Pump(dialog, 20);
  ASSERT_FALSE(Reports().empty());
  EXPECT_EQ(Reports().front(), "OnTick");
  EXPECT_TRUE(KillTimer(dialog, 7000)) << "the tick is timer 7000 of the dialog";

  view.StartTick(800);
  view.StopTick();
  EXPECT_FALSE(KillTimer(dialog, 7000)) << "StopTick left the timer running";
}

TEST_F(Win32DialogViewTest, ExitDestroysTheDialogStopsAndQuits) {
  view.StartTick(800);
  SendMessageW(Control(IDC_EXIT), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(Reports(), std::vector<std::string>{"StopAll"});
  EXPECT_EQ(TakeQuitCode(), 0);
  EXPECT_EQ(view.Handle(), nullptr);

  // A controller that draws after the end draws nothing, and no second
  // dialog appears.
  view.Show();
  view.SetCountText("3");
  EXPECT_EQ(view.Handle(), nullptr);
  EXPECT_EQ(view.RowCount(), 0);
  EXPECT_FALSE(view.IsRowSelected(0));
}

TEST_F(Win32DialogViewTest, EscapeEndsTheDialog) {
  EXPECT_TRUE(PressKey(dialog, List(), VK_ESCAPE));
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(Reports(), std::vector<std::string>{"StopAll"});
  EXPECT_EQ(TakeQuitCode(), 0);
}

TEST_F(Win32DialogViewTest, CloseBoxStopsAndTheDialogGoes) {
  SendMessageW(dialog, WM_CLOSE, 0, 0);
  ASSERT_FALSE(Reports().empty());
  EXPECT_EQ(Reports().front(), "StopAll");
  // The dialog manager turns the close into Cancel, which destroys the
  // dialog and runs the stop sequence a second time.
  Pump(dialog, 200);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(Reports(), (std::vector<std::string>{"StopAll", "StopAll"}));
}

TEST_F(Win32DialogViewTest, ViewDestroyedFirstTakesItsDialogWithoutReports) {
  RecordingController other;
  HWND otherDialog;
  {
    Win32DialogView otherView(&other);
    other.view = &otherView;
    // The first drawing call makes the dialog.
    otherView.SetCountText("1");
    otherDialog = otherView.Handle();
    ASSERT_TRUE(IsWindow(otherDialog));
  }
  EXPECT_FALSE(IsWindow(otherDialog));
  EXPECT_EQ(other.calls, std::vector<std::string>{"SetTitle"});
  EXPECT_EQ(TakeQuitCode(), -1);
}

// The launcher (xvfb-wine-run.sh) names a folder in ZEQ_SCREENSHOT_DIR and
// takes a picture of the screen when a request file appears there.
TEST_F(Win32DialogViewTest, ScreenshotOfAFilledDialog) {
  if (dialogtest::ScreenshotFolder() == nullptr)
    GTEST_SKIP() << "no screenshot launcher (ZEQ_SCREENSHOT_DIR unset)";
  FillRows();
  SendMessageW(Control(IDC_ADDRESS_BOX), IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 1, 201));
  view.EnableStartInstall(false);
  view.Show();
  Pump(dialog, 500);

  EXPECT_TRUE(dialogtest::TakeScreenshot(dialog, "win32-dialog.png")) << "no screenshot taken";
}

}  // namespace
