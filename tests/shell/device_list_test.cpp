// The device list drawn from a device table on a recording view: the columns
// and the address cell, the sort by each column in both directions, the
// incremental refresh that inserts new units in place and redraws changed
// cells, and the "Add" button's address handling.
#include <gtest/gtest.h>

#include <cstring>

#include "../install/job/JobFakes.h"
#include "RecordingView.h"
#include "shell/DeviceList.h"
#include "units/DisplayOrder.h"
#include "units/unit_table.h"

namespace {

using jobtest::Address;

class DeviceListTest : public testing::Test {
 protected:
  void SetUp() override {
    CurrentDisplaySort() = DisplaySort{};
    list_.Attach(&view_);
    list_.InsertColumns();
  }
  void TearDown() override { CurrentDisplaySort() = DisplaySort{}; }

  tarvo_object* Enter(const std::string& address, int node, const char* group,
                      const char* version) {
    table_.AddOrUpdateUnit(0, 0, Address(address), nullptr, node, group, version);
    return jobtest::FindUnit(table_, Address(address));
  }

  void SetState(tarvo_object* unit, InstallState state) {
    table_.Lock();
    unit->setState(state);
    table_.Unlock();
  }

  // The node column top to bottom, which names the units in these tests.
  std::vector<std::string> Nodes() const { return view_.Column(1); }

  jobtest::RecordingChannel channel_;
  jobtest::ScriptedPinger pinger_;
  unit_table table_{&channel_, &pinger_};
  RecordingView view_;
  DeviceList list_{table_};
};

TEST_F(DeviceListTest, ColumnsAndAddressCell) {
  ASSERT_EQ(view_.columns.size(), 5u);
  const char* headers[] = {"IP Address", "Node", "Group Name", "Version", "Install"};
  const int widths[] = {100, 40, 135, 65, 80};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_STREQ(view_.columns[i].header, headers[i]);
    EXPECT_EQ(view_.columns[i].width, widths[i]);
  }
  EXPECT_EQ(DeviceList::FormatAddress(Address("10.0.0.9")), " 10.  0.  0.  9");
  EXPECT_EQ(DeviceList::FormatAddress(Address("192.168.255.1")), "192.168.255.  1");
}

TEST_F(DeviceListTest, EachColumnSortsAndASecondClickReverses) {
  // Node numbers name the units: 1 is 10.0.0.9, 2 is 192.168.1.1, 3 is
  // 10.0.0.10. The versions compare as texts: "1.5" < "10" < "2.0".
  tarvo_object* three = Enter("10.0.0.10", 3, "beta", "2.0");
  Enter("10.0.0.9", 1, "Alpha", "1.5");
  tarvo_object* two = Enter("192.168.1.1", 2, "gamma", "10");
  list_.RefreshList(true);
  using Order = std::vector<std::string>;
  EXPECT_EQ(Nodes(), (Order{"1", "3", "2"})) << "addresses in host byte order";
  list_.ColumnClick(0);
  EXPECT_EQ(Nodes(), (Order{"2", "3", "1"}));
  list_.ColumnClick(1);
  EXPECT_EQ(Nodes(), (Order{"1", "2", "3"})) << "another column sorts ascending";
  list_.ColumnClick(1);
  EXPECT_EQ(Nodes(), (Order{"3", "2", "1"}));
  list_.ColumnClick(2);
  EXPECT_EQ(Nodes(), (Order{"1", "3", "2"})) << "groups without regard to case";
  list_.ColumnClick(2);
  EXPECT_EQ(Nodes(), (Order{"2", "3", "1"}));
  list_.ColumnClick(3);
  EXPECT_EQ(Nodes(), (Order{"1", "2", "3"}));
  list_.ColumnClick(3);
  EXPECT_EQ(Nodes(), (Order{"3", "2", "1"}));
  SetState(three, InstallState::Running);
  SetState(two, InstallState::Failed);
  list_.ColumnClick(4);
  EXPECT_EQ(Nodes(), (Order{"3", "2", "1"})) << "higher states first";
  list_.ColumnClick(4);
  EXPECT_EQ(Nodes(), (Order{"1", "2", "3"}));
  EXPECT_EQ(view_.Column(0), (Order{" 10.  0.  0.  9", "192.168.  1.  1", " 10.  0.  0. 10"}));
}

TEST_F(DeviceListTest, IncrementalRefreshInsertsInPlaceAndRedrawsFlaggedCells) {
  Enter("10.0.0.1", 1, "A", "1.0");
  Enter("10.0.0.3", 3, "C", "1.0");
  list_.RefreshList(true);
  EXPECT_EQ(view_.rebuilds, 1);
  tarvo_object* middle = Enter("10.0.0.2", 2, "B", "1.0");
  list_.RefreshList(false);
  EXPECT_EQ(view_.rebuilds, 1) << "no rebuild for a new unit";
  EXPECT_EQ(Nodes(), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(list_.UnitAtRow(1), middle);
  EXPECT_EQ(view_.countText, "3");
  // A merge that changes the identity redraws the cells of the same row.
  Enter("10.0.0.2", 2, "B", "1.1");
  list_.RefreshList(false);
  EXPECT_EQ(view_.RowCount(), 3);
  EXPECT_EQ(view_.Cell(1, 3), "1.1");
  // Only flagged status cells are drawn.
  const int writes = view_.cellWrites;
  list_.RefreshList(false);
  EXPECT_EQ(view_.cellWrites, writes);
  table_.Lock();
  middle->setStatus("Connecting");
  table_.Unlock();
  list_.RefreshStatusColumn();
  EXPECT_EQ(view_.cellWrites, writes + 1);
  EXPECT_EQ(view_.Status(1), "Connecting");
}

TEST_F(DeviceListTest, AddByAddressEntersAUnitByHand) {
  EXPECT_FALSE(list_.AddByAddress()) << "an empty field does nothing";
  EXPECT_EQ(table_.getCount(), 0u);
  EXPECT_EQ(view_.rebuilds, 0);
  view_.Type(10, 1, 2, 3);
  EXPECT_TRUE(list_.AddByAddress());
  ASSERT_EQ(view_.RowCount(), 1);
  EXPECT_EQ(view_.rows[0].cells,
            (std::vector<std::string>{" 10.  1.  2.  3", "0", "???", "???", ""}));
  EXPECT_TRUE(view_.rows[0].selected) << "a unit typed in is chosen for the install";
  const std::uint8_t octets[4] = {10, 1, 2, 3};
  EXPECT_EQ(std::memcmp(&list_.UnitAtRow(0)->address, octets, 4), 0) << "network byte order";
  EXPECT_EQ(view_.countText, "1");
  // The same address again merges and, not being new, does not rebuild.
  const int rebuilds = view_.rebuilds;
  EXPECT_TRUE(list_.AddByAddress());
  EXPECT_EQ(view_.rebuilds, rebuilds);
  EXPECT_EQ(table_.getCount(), 1u);
  // The count includes units found and units typed in.
  Enter("10.1.2.4", 4, "North", "2.0");
  list_.RefreshList(false);
  EXPECT_EQ(view_.countText, "2");
}

}  // namespace
