// The Windows program's parts put together as its entry point does: the
// device table, the controller and the Win32 dialog, run by this thread's
// messages, against simulated units on the test's loopback network. The
// test drives the dialog as a user would, with messages to its controls:
// the discovered units appear as rows, the selected ones install through
// "Start Install" to their final status, an address typed into the address
// box and added appears as a "???" row, and Esc ends the program. Pictures
// of the dialog with its units and statuses go to the build's screenshots.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "DialogDriving.h"
#include "DialogEvents.h"
#include "DialogIds.h"
#include "TarvoLoadDialog.h"
#include "TestSupport.h"
#include "UnitSim.h"
#include "Win32DialogView.h"
#include "install/InstallLog.h"
#include "units/unit_table.h"

namespace {

using testsupport::SimUnit;

class FieldloaderEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    ZEQ_REQUIRE_NETNS();
    ZEQ_REQUIRE_UNITSIM();
    folder_ = testsupport::ScratchDirectory("fieldloader-end-to-end");
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    SetInstallLogDirectoryForTesting(folder_);
    std::ofstream("payload.bin", std::ios::binary) << std::string(200000, 'x');
    std::ofstream("ftpdwnld.txt") << "cd /opt/tarvo\nsend payload.bin\nauto_install\n";
  }
  void TearDown() override {
    SetInstallLogDirectoryForTesting("");
    if (!previous_.empty()) std::filesystem::current_path(previous_);
  }

  void StartUnits() {
    sim_.AddUnit(SimUnit("127.0.0.2").Node(7).Group("North").Version("2.1"));
    sim_.AddUnit(
        SimUnit("127.0.0.3").Node(8).Group("South").Version("2.0").Knob("refuse-password"));
    sim_.AddUnit(SimUnit("127.0.0.4").Node(9).Group("East").Version("2.0").Knob("exit=7"));
    sim_.AddUnit(SimUnit("127.0.0.5").Node(10).Group("West").Version("2.1"));
    ASSERT_TRUE(sim_.Start()) << sim_.Error();
    for (const char* unit : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"})
      sim_.StoreInstallScript(unit);
  }

  std::filesystem::path previous_;
  std::string folder_;
  testsupport::UnitSim sim_;
};

// The dialog's list as the user reads it.
class ListReader {
 public:
  explicit ListReader(HWND dialog) : list_(GetDlgItem(dialog, IDC_DEVICE_LIST)) {}
  int Rows() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
  std::string Cell(int row, int column) const {
    char text[128] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    return text;
  }
  // The row whose first cell reads `address`, or -1.
  int Find(const std::string& address) const {
    for (int row = 0; row < Rows(); ++row) {
      if (Cell(row, 0) == address) return row;
    }
    return -1;
  }
  bool Selected(int row) const {
    return SendMessageW(list_, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
  }
  void Select(int row) const {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
  }
  HWND Handle() const { return list_; }

 private:
  HWND list_;
};

// Runs the dialog's messages (and so its 800 ms tick) until `done` holds.
bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    dialogtest::Pump(dialog, 50);
  }
  return true;
}

TEST_F(FieldloaderEndToEndTest, DiscoveredUnitsInstallAndAnAddedUnitIsListed) {
  StartUnits();
  // As the entry point builds them: the table first, so it outlives the
  // controller, whose services reach it.
  unit_table table;
  TarvoLoadDialog controller(table);
  Win32DialogView view(&controller);
  ASSERT_TRUE(controller.Create(&view));
  controller.SetupColumns();
  HWND dialog = view.Handle();
  ASSERT_TRUE(IsWindowVisible(dialog));
  const ListReader list(dialog);

  ASSERT_TRUE(PumpUntil(
      dialog, [&] { return list.Rows() == 4; }, 15000))
      << list.Rows();
  const int north = list.Find("127.  0.  0.  2");
  ASSERT_GE(north, 0);
  EXPECT_EQ(list.Cell(north, 1), "7");
  EXPECT_EQ(list.Cell(north, 2), "North");
  EXPECT_EQ(list.Cell(north, 3), "2.1");
  EXPECT_EQ(list.Cell(north, 4), "");
  char count[16] = {};
  GetDlgItemTextA(dialog, IDC_COUNT_BOX, count, sizeof count);
  EXPECT_STREQ(count, "4");

  for (const char* address : {"127.  0.  0.  2", "127.  0.  0.  3", "127.  0.  0.  4"}) {
    // Row -1 would select every row.
    ASSERT_GE(list.Find(address), 0) << address;
    list.Select(list.Find(address));
  }
  HWND start = GetDlgItem(dialog, IDC_START_INSTALL);
  SendMessageW(start, BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowEnabled(start)) << "disabled while the run goes on";
  ASSERT_TRUE(PumpUntil(
      dialog, [&] { return IsWindowEnabled(start) != FALSE; }, 60000))
      << "the run did not end; status " << list.Cell(north, 4);
  EXPECT_EQ(list.Cell(list.Find("127.  0.  0.  2"), 4), "Success");
  EXPECT_EQ(list.Cell(list.Find("127.  0.  0.  3"), 4), "Failed Connection");
  EXPECT_EQ(list.Cell(list.Find("127.  0.  0.  4"), 4), "Unknown Error");
  EXPECT_EQ(list.Cell(list.Find("127.  0.  0.  5"), 4), "") << "not selected, not installed";
  EXPECT_TRUE(sim_.Events("install", "127.0.0.5").empty());

  SendDlgItemMessageW(dialog, IDC_ADDRESS_BOX, IPM_SETADDRESS, 0, MAKEIPADDRESS(127, 0, 0, 9));
  SendMessageW(GetDlgItem(dialog, IDC_ADD), BM_CLICK, 0, 0);
  const int added = list.Find("127.  0.  0.  9");
  ASSERT_GE(added, 0) << "listed at once";
  EXPECT_EQ(list.Cell(added, 1), "0");
  EXPECT_EQ(list.Cell(added, 2), "???");
  EXPECT_EQ(list.Cell(added, 3), "???");
  EXPECT_TRUE(list.Selected(added));
  GetDlgItemTextA(dialog, IDC_COUNT_BOX, count, sizeof count);
  EXPECT_STREQ(count, "5");

  if (dialogtest::ScreenshotFolder() != nullptr) {
    dialogtest::Pump(dialog, 500);
    EXPECT_TRUE(dialogtest::TakeScreenshot(dialog, "fieldloader-end-to-end.png"));
  }

  EXPECT_TRUE(dialogtest::PressKey(dialog, list.Handle(), VK_ESCAPE));
  EXPECT_FALSE(IsWindow(dialog)) << "Esc ends the dialog";
  EXPECT_EQ(dialogtest::TakeQuitCode(), 0) << "and the message loop";
  EXPECT_FALSE(controller.receiving()) << "the services are stopped";
}

}  // namespace
