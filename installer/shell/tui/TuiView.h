// The Linux text front end's dialog: an ncurses screen with the same
// controls as the Windows dialog. The device list with a cursor and
// multiple selection, the address box with its "Add" button, "Rescan",
// "Start Install", "Exit", the "Total Tarvos Found:" count and centred
// message boxes. It keeps what the controller asked it to show, redraws the
// whole screen after each event, and hands what the user did to the
// controller's On... operations.
//
// Keys: Tab and Shift-Tab move between the controls; in the list, the arrows
// move the cursor, Space marks or unmarks the row and moves down, "*" marks
// every row or, when all are marked, none, "f" marks exactly the rows whose
// last result was a failure (in this program run, or in the report given
// to --retry), Enter acts on the row as a double-click does;
// 1-5 or F1-F5 sort by a column (the "Install" column groups the units by
// their status text, see DisplaySort); "a" goes to the address box, where digits
// and dots are typed and Enter adds (and the focus goes back to the list;
// an address that is not one says so on the status line); "r" rescans and
// shows "Scanning..." until the units have had their time to answer; "s"
// starts the install; Enter or Space presses the button that has the focus;
// Esc or "q" exits. Enter on a row with no run in progress starts the
// install of the whole selection, so it stays the default action.
//
// Marks belong to units, not to rows: the view keeps them by address, so a
// sort or a rebuild of the list (which deletes and inserts every row) keeps
// them.
//
// Input comes through the main loop's watch on standard input and the tick
// through its timer, so a key press never delays the tick. The screen is
// started when the dialog is first shown (or a message box needs it) and
// the terminal is restored by Close or destruction.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/MainLoop.h"
#include "shell/DialogView.h"

class DialogEvents;

class TuiView : public DialogView {
 public:
  TuiView(platform::MainLoop& loop, DialogEvents& events);
  ~TuiView() override;
  TuiView(const TuiView&) = delete;
  TuiView& operator=(const TuiView&) = delete;

  void InsertColumns(const ListColumn* columns, int count) override;
  int InsertRow(int index, const UnitRow& unit, bool selected) override;
  void UpdateRow(int row, const UnitRow& unit) override;
  void ShowStatus(int row, const std::string& status) override;
  void DeleteAllRows() override;
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  bool IsRowSelected(int row) const override;
  void SetCountText(const std::string& text) override;
  void EnableStartInstall(bool enabled) override;
  bool ReadAddress(std::uint32_t* value) override;
  void SetTitle(const std::string& title) override;
  void Show() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void StartTick(unsigned periodMs) override;
  void StopTick() override;
  void TickSoon() override;

  // The units that failed or were cancelled in an earlier run's report
  // (--retry, network byte order): marked now, and "f" marks them with the
  // units that failed in this program run.
  void MarkReportFailures(const std::set<std::uint32_t>& units);
  // Enters the unit at the address (network byte order) as "Add" would,
  // leaving what the address box holds as it was.
  void AddUnit(std::uint32_t address);
  // A line on the status line until the next key: what the program is
  // doing when no key asked for it (the verify phase after a run).
  void ShowNote(const std::string& text);

  // Ends the screen and gives the terminal back; safe to call again.
  void Close();

  // The controls that take the focus, in tab order.
  enum class Focus { List, Address, Add, Rescan, Start, Exit };

 private:
  struct Row {
    std::uint32_t address = 0;
    std::vector<std::string> cells;
    bool selected = false;
  };

  bool open_screen();
  void close_terminal();
  void on_input();
  bool skip_unknown_sequence();
  void on_key(int key);
  bool on_global_key(int key);
  void on_list_key(int key);
  void on_address_key(int key);
  void press(Focus button);
  void add_address();
  void mark(int row, bool marked);
  void mark_all_or_none();
  void mark_failed();
  void exit_program();
  void move_cursor(int delta);
  void move_focus(int delta);

  void draw();
  void draw_list(int top, int height, int width);
  void draw_row(int y, int row, const std::vector<int>& widths, bool cursor);
  void draw_controls(int y, int width);
  void draw_button(int y, int x, const char* label, Focus which, bool enabled);
  void draw_message(const std::string& text, const std::string& caption);
  std::vector<int> column_widths(int width) const;

  platform::MainLoop& loop_;
  DialogEvents& events_;
  std::FILE* terminal_ = nullptr;
  bool screen_ = false;
  bool shown_ = false;
  bool closed_ = false;
  int tickTimer_ = 0;
  std::vector<ListColumn> columns_;
  std::vector<Row> rows_;
  std::string count_;
  bool startEnabled_ = true;
  std::string title_;
  std::string address_;
  Focus focus_ = Focus::List;
  int cursor_ = 0;
  int scroll_ = 0;
  // The addresses of the marked units, across rebuilds of the list.
  std::set<std::uint32_t> marks_;
  std::set<std::uint32_t> reportFailures_;
  // The status line's text in place of the key help, until the next key
  // (or, for a rescan, until scanEnds_).
  std::string statusLine_;
  bool scanning_ = false;
  std::chrono::steady_clock::time_point scanEnds_;
};
