// The headless view: one line per status change with the address as the
// list shows it without padding, percentages at most once a second per
// unit, nothing for a redraw of the same text or an empty one, rows that
// the runner selects, addresses it types, messages on the error stream.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "LoopbackNet.h"
#include "TestSupport.h"
#include "platform/MainLoop.h"
#include "shell/DialogEvents.h"
#include "shell/HeadlessView.h"

namespace {

using std::chrono::milliseconds;

using testsupport::CapturedStream;

// A row's unit: the headless view reads only its address.
UnitRow Unit(const std::string& dotted) {
  UnitRow unit;
  unit.address = testsupport::Address(dotted);
  return unit;
}

// Counts the ticks the view delivers; the view reports nothing else.
struct TickCounter : DialogEvents {
  int count = 0;
  void SetTitle() override {}
  void OnTick() override { ++count; }
  void OnStartInstall() override {}
  void OnAdd() override {}
  void OnRescan() override {}
  void OnColumnClick(int) override {}
  void OnItemActivate(int) override {}
  void StopAll() override {}
};

class HeadlessViewTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(out_.get(), nullptr); }

  HeadlessView& View() {
    if (!view_) {
      view_ = std::make_unique<HeadlessView>(loop_, ticks_, out_.get(), err_.get(),
                                             [this] { return now_; });
    }
    return *view_;
  }

  platform::MainLoop loop_;
  CapturedStream out_;
  CapturedStream err_;
  std::chrono::steady_clock::time_point now_{};
  TickCounter ticks_;
  std::unique_ptr<HeadlessView> view_;
};

TEST_F(HeadlessViewTest, OneLinePerStatusChange) {
  HeadlessView& view = View();
  EXPECT_EQ(view.InsertRow(0, Unit("127.0.0.5"), false), 0);
  EXPECT_EQ(view.InsertRow(0, Unit("10.0.0.12"), false), 0);
  view.ShowStatus(1, "");
  view.ShowStatus(1, "Pending");
  view.UpdateRow(1, Unit("10.0.0.12"));  // a redrawn identity prints nothing
  view.ShowStatus(1, "Connecting");
  view.ShowStatus(0, "Connecting");
  view.ShowStatus(1, "Connecting");  // redrawn unchanged
  // A rebuilt list draws the same texts again: nothing new to print.
  view.DeleteAllRows();
  view.InsertRow(0, Unit("127.0.0.5"), true);
  view.ShowStatus(0, "Connecting");
  view.ShowStatus(0, "Success");
  EXPECT_EQ(out_.Text(),
            "127.0.0.5  Pending\n"
            "127.0.0.5  Connecting\n"
            "10.0.0.12  Connecting\n"
            "127.0.0.5  Success\n");
}

TEST_F(HeadlessViewTest, PercentagesAtMostOnceASecondPerUnit) {
  HeadlessView& view = View();
  view.InsertRow(0, Unit("127.0.0.5"), false);
  view.InsertRow(1, Unit("127.0.0.6"), false);
  view.ShowStatus(0, "0.0%");
  view.ShowStatus(1, "0.0%");
  now_ += milliseconds(400);
  view.ShowStatus(0, "12.5%");  // too soon
  view.ShowStatus(1, "12.5%");
  now_ += milliseconds(600);
  view.ShowStatus(0, "42.0%");  // a second after the last one printed
  now_ += milliseconds(100);
  view.ShowStatus(0, "100.0%");
  view.ShowStatus(0, "Installing..");  // never held back
  view.ShowStatus(1, "Failed Connection");
  EXPECT_EQ(out_.Text(),
            "127.0.0.5  0.0%\n"
            "127.0.0.6  0.0%\n"
            "127.0.0.5  42.0%\n"
            "127.0.0.5  Installing..\n"
            "127.0.0.6  Failed Connection\n");
}

TEST_F(HeadlessViewTest, RunnerSelectsRowsAndTypesAddresses) {
  HeadlessView& view = View();
  view.InsertRow(0, Unit("127.0.0.5"), false);
  view.InsertRow(1, Unit("127.0.0.6"), true);
  EXPECT_FALSE(view.IsRowSelected(0));
  EXPECT_TRUE(view.IsRowSelected(1));
  EXPECT_FALSE(view.IsRowSelected(2));
  view.SelectAll();
  EXPECT_TRUE(view.IsRowSelected(0));
  std::uint32_t value = 0;
  EXPECT_FALSE(view.ReadAddress(&value));
  const unsigned char octets[4] = {192, 168, 1, 20};
  std::uint32_t networkOrder = 0;
  std::memcpy(&networkOrder, octets, sizeof networkOrder);
  view.TypeAddress(networkOrder);
  ASSERT_TRUE(view.ReadAddress(&value));
  EXPECT_EQ(value, 0xC0A80114u);  // first field in the highest byte
  EXPECT_FALSE(view.ReadAddress(&value));
}

TEST_F(HeadlessViewTest, MessagesGoToTheErrorStream) {
  View().ShowMessage("Install corrupted, missing files needed for install.", "Error");
  EXPECT_EQ(err_.Text(), "Error: Install corrupted, missing files needed for install.\n");
  EXPECT_EQ(out_.Text(), "");
}

TEST_F(HeadlessViewTest, TickRunsOnTheLoopUntilStopped) {
  ASSERT_TRUE(loop_.IsValid());
  HeadlessView& view = View();
  view.StartTick(10);
  const int stopper = loop_.AddTimer(200, [this] { loop_.Quit(0); });
  loop_.Run();
  loop_.KillTimer(stopper);
  EXPECT_GT(ticks_.count, 2);
  view.StopTick();
  const int seen = ticks_.count;
  const int again = loop_.AddTimer(100, [this] { loop_.Quit(0); });
  loop_.Run();
  loop_.KillTimer(again);
  EXPECT_EQ(ticks_.count, seen);
}

}  // namespace
