// The view of a headless run: the dialog without a screen. It keeps the
// address and selected state of the rows the controller draws, and prints
// one line on its output stream whenever a unit's status shows a new text:
//
//   127.0.0.5  Connecting
//   127.0.0.5  42.0%
//
// A percentage is printed at most once a second per unit (the copy reports
// far more often than anybody reads); every other change is printed at
// once. A rebuilt list draws the same texts again, which prints nothing.
// Message boxes go to the error stream as "caption: text".
//
// The headless runner plays the user on it: it selects every row and types
// the --add addresses into the address box, one at a time. The controller's
// tick runs on the main loop's timer.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "shell/DialogView.h"
#include "shell/StatusThrottle.h"

namespace platform {
class MainLoop;
}
class DialogEvents;

class HeadlessView : public DialogView {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kPercentInterval = StatusThrottle::kPercentInterval;

  // events hears the tick; clock is replaceable for tests.
  HeadlessView(platform::MainLoop& loop, DialogEvents& events, std::FILE* out, std::FILE* err,
               Clock clock = std::chrono::steady_clock::now);
  ~HeadlessView() override;
  HeadlessView(const HeadlessView&) = delete;
  HeadlessView& operator=(const HeadlessView&) = delete;

  void InsertColumns(const ListColumn* columns, int count) override;
  int InsertRow(int index, const UnitRow& unit, bool selected) override;
  void UpdateRow(int /*row*/, const UnitRow& /*unit*/) override {}
  void ShowStatus(int row, const std::string& status) override;
  void DeleteAllRows() override;
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  bool IsRowSelected(int row) const override;
  void SetCountText(const std::string& text) override { count_ = text; }
  void EnableStartInstall(bool enabled) override { startEnabled_ = enabled; }
  bool ReadAddress(std::uint32_t* value) override;
  void SetTitle(const std::string& /*title*/) override {}
  void Show() override {}
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void StartTick(unsigned periodMs) override;
  void StopTick() override;
  void TickSoon() override;

  // The runner's side: select every row, or exactly the rows of the given
  // units (network byte order), and type an address (network byte order)
  // for the next "Add".
  void SelectAll();
  void SelectOnly(const std::set<std::uint32_t>& units);
  void TypeAddress(std::uint32_t networkOrder);
  bool startEnabled() const { return startEnabled_; }

 private:
  struct Row {
    std::string address;  // dotted, as the status lines show it
    std::uint32_t unit = 0;
    bool selected = false;
  };
  void print_status(const std::string& address, const std::string& text);

  platform::MainLoop& loop_;
  DialogEvents& events_;
  std::FILE* out_;
  std::FILE* err_;
  Clock clock_;
  int tickTimer_ = 0;
  std::vector<Row> rows_;
  StatusThrottle printed_;
  std::deque<std::uint32_t> typed_;
  std::string count_;
  bool startEnabled_ = true;
};
