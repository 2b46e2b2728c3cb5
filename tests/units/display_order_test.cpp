// The list's sort order: each key, the direction, and what a column click
// does to them.
#include <gtest/gtest.h>

#include <memory>

#include "platform/Sockets.h"
#include "units/DisplayOrder.h"
#include "units/unit_table.h"

namespace {

class DisplayOrderTest : public testing::Test {
 protected:
  std::unique_ptr<tarvo_object> Make(const char* address, int node, const char* group,
                                     const char* version, InstallState state = InstallState::Idle) {
    std::uint32_t value = 0;
    platform::ParseAddress(address, &value);
    auto unit = std::make_unique<tarvo_object>(table_, 0, 0, value, nullptr, node, group, version);
    unit->state = state;
    return unit;
  }

  static int Sign(int value) { return (value > 0) - (value < 0); }

  unit_table table_;
};

TEST_F(DisplayOrderTest, EachKeyOrdersAsTheListShowsIt) {
  const auto a = Make("10.0.0.9", 3, "north", "2.10", InstallState::Idle);
  const auto b = Make("10.0.0.10", 12, "North", "2.9", InstallState::Running);
  const struct {
    int key;
    int expected;
  } cases[] = {
      {kSortByAddress, -1},  // 10.0.0.9 before 10.0.0.10: host order, not the stored word
      {kSortByNode, -1},    {kSortByState, 1},  // higher states first
      {kSortByGroup, 0},                        // ASCII case is ignored
      {kSortByVersion, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sign(CompareForDisplay(DisplaySort{c.key, 1}, a.get(), b.get())), c.expected)
        << c.key;
    EXPECT_EQ(Sign(CompareForDisplay(DisplaySort{c.key, -1}, a.get(), b.get())), -c.expected)
        << c.key;
  }
  const auto missing = Make("10.0.0.11", 0, nullptr, nullptr);
  EXPECT_LT(CompareForDisplay(DisplaySort{kSortByGroup, 1}, missing.get(), a.get()), 0)
      << "a missing text sorts as an empty one";
  const auto high = Make("200.0.0.1", 0, "", "");
  EXPECT_GT(CompareForDisplay(DisplaySort{kSortByAddress, 1}, high.get(), a.get()), 0);
}

// The text UI's "Install" sort: the same status text together, whatever
// the state (a script that exits with 1 reads "Success" but is Failed), an
// empty status after every other, and the state within one text.
TEST_F(DisplayOrderTest, TextUiGroupsInstallByStatusText) {
  const auto idle = Make("10.0.0.1", 1, "", "");
  const auto success = Make("10.0.0.2", 2, "", "", InstallState::Finished);
  const auto failedSuccess = Make("10.0.0.3", 3, "", "", InstallState::Failed);
  const auto refused = Make("10.0.0.4", 4, "", "", InstallState::Failed);
  success->statusText = "Success";
  failedSuccess->statusText = "success";
  refused->statusText = "Failed Connection";
  const DisplaySort byText{kSortByState, 1, true};
  EXPECT_LT(CompareForDisplay(byText, refused.get(), success.get()), 0);
  EXPECT_LT(CompareForDisplay(byText, failedSuccess.get(), success.get()), 0)
      << "one text, then the higher state first";
  EXPECT_GT(CompareForDisplay(byText, success.get(), refused.get()), 0);
  EXPECT_GT(CompareForDisplay(byText, idle.get(), success.get()), 0) << "empty after the rest";
  EXPECT_LT(CompareForDisplay(DisplaySort{kSortByState, -1, true}, idle.get(), success.get()), 0);
  // The dialog's sort sees the states alone.
  EXPECT_GT(CompareForDisplay(DisplaySort{kSortByState, 1}, success.get(), refused.get()), 0);
}

TEST_F(DisplayOrderTest, ColumnClicksPickTheKeyAndReverseOnTheSameColumn) {
  DisplaySort sort;
  EXPECT_EQ(sort.key, kSortByAddress);
  EXPECT_EQ(sort.direction, 1);
  ApplyColumnClick(sort, 0);
  EXPECT_EQ(sort.direction, -1) << "same column: reversed";
  ApplyColumnClick(sort, 4);
  EXPECT_EQ(sort.key, kSortByState);
  EXPECT_EQ(sort.direction, 1) << "another column: ascending";
  ApplyColumnClick(sort, 2);
  EXPECT_EQ(sort.key, kSortByGroup);
  ApplyColumnClick(sort, 3);
  EXPECT_EQ(sort.key, kSortByVersion);
  ApplyColumnClick(sort, 1);
  EXPECT_EQ(sort.key, kSortByNode);
  ApplyColumnClick(sort, 5);
  EXPECT_EQ(sort.key, kSortByNode) << "no such column: nothing changes";
}

}  // namespace
