// The ncurses dialog of the Linux front end.
#include "shell/tui/TuiView.h"

#include <curses.h>

#include <algorithm>
#include <cstdio>

#include "shell/DialogEvents.h"
#include "shell/RunReport.h"
#include "shell/RunReporter.h"
#include "shell/tui/TerminalCheck.h"
#include "units/UnitOutcome.h"

namespace {

constexpr int kEscape = 27;
constexpr int kTab = '\t';
constexpr int kStdin = 0;
// The widths of the list's columns are given in dialog pixels; roughly this
// many of them make one character cell.
constexpr int kPixelsPerCell = 6;

const char kAddressHint[] =
    "Tarvos that do not appear in the above list (even after multiple rescans) can be added by "
    "manually entering the address in the address box below.";
const char kHelp[] =
    "Space:mark *:all f:failed Enter:row 1-5:sort a:addr r:rescan s:start q:exit Tab";
const char kScanning[] = "Scanning...";

// Whether a status text is the result of a job that did not succeed: a
// failure of the outcome table (a text that also names a finished outcome
// does not count), or a cancel.
bool IsFailureText(const std::string& status) {
  if (status == unit_status::kCancelled) return true;
  bool failed = false;
  for (const OutcomeRow& row : kOutcomes) {
    if (status != row.text) continue;
    if (row.state == InstallState::Finished) return false;
    failed = failed || row.state == InstallState::Failed;
  }
  return failed;
}

// Cuts or pads the text to exactly width characters.
std::string Fit(const std::string& text, int width) {
  if (width <= 0) return std::string();
  std::string fitted = text.substr(0, static_cast<std::size_t>(width));
  fitted.resize(static_cast<std::size_t>(width), ' ');
  return fitted;
}

// Splits the text into lines of at most width characters at spaces.
std::vector<std::string> Wrap(const std::string& text, int width) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

TuiView::TuiView(platform::MainLoop& loop, DialogEvents& events) : loop_(loop), events_(events) {}

TuiView::~TuiView() { Close(); }

bool TuiView::open_screen() {
  if (screen_) return true;
  if (closed_) return false;
  // The screen goes to the terminal itself: the program's standard output
  // carries diagnostics (ping lines, disconnects) that would tear it.
  terminal_ = std::fopen("/dev/tty", "w");
  if (newterm(nullptr, terminal_ != nullptr ? terminal_ : stdout, stdin) == nullptr) {
    close_terminal();
    return false;
  }
  screen_ = true;
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  loop_.WatchDescriptor(kStdin, [this] { on_input(); });
  return true;
}

void TuiView::Close() {
  if (screen_) {
    loop_.UnwatchDescriptor(kStdin);
    endwin();
    screen_ = false;
  }
  close_terminal();
  closed_ = true;
}

void TuiView::close_terminal() {
  if (terminal_ != nullptr) std::fclose(terminal_);
  terminal_ = nullptr;
}

void TuiView::InsertColumns(const ListColumn* columns, int count) {
  columns_.assign(columns, columns + count);
}

int TuiView::InsertRow(int index, const UnitRow& unit, bool selected) {
  if (index < 0 || index > RowCount()) index = RowCount();
  Row row;
  row.address = unit.address;
  row.cells.assign(columns_.size(), std::string());
  row.selected = selected || marks_.count(unit.address) != 0;
  if (row.selected) marks_.insert(unit.address);
  rows_.insert(rows_.begin() + index, row);
  UpdateRow(index, unit);
  return index;
}

void TuiView::UpdateRow(int row, const UnitRow& unit) {
  if (row < 0 || row >= RowCount()) return;
  std::vector<std::string>& cells = rows_[static_cast<std::size_t>(row)].cells;
  for (std::size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
    if (!columns_[i].isStatus()) cells[i] = columns_[i].text(unit);
  }
}

void TuiView::ShowStatus(int row, const std::string& status) {
  if (row < 0 || row >= RowCount()) return;
  std::vector<std::string>& cells = rows_[static_cast<std::size_t>(row)].cells;
  for (std::size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
    if (columns_[i].isStatus()) cells[i] = status;
  }
}

void TuiView::DeleteAllRows() { rows_.clear(); }

bool TuiView::IsRowSelected(int row) const {
  return row >= 0 && row < RowCount() && rows_[static_cast<std::size_t>(row)].selected;
}

void TuiView::SetCountText(const std::string& text) { count_ = text; }

void TuiView::EnableStartInstall(bool enabled) { startEnabled_ = enabled; }

bool TuiView::ReadAddress(std::uint32_t* value) {
  unsigned fields[4];
  char end = 0;
  // Four fields of up to three digits, nothing after them, each at most 255.
  if (std::sscanf(address_.c_str(), "%3u.%3u.%3u.%3u%c", &fields[0], &fields[1], &fields[2],
                  &fields[3], &end) != 4) {
    return false;
  }
  std::uint32_t result = 0;
  for (const unsigned field : fields) {
    if (field > 255) return false;
    result = result << 8 | field;
  }
  *value = result;
  return true;
}

void TuiView::SetTitle(const std::string& title) { title_ = title; }

void TuiView::Show() {
  shown_ = open_screen();
  if (shown_) draw();
}

void TuiView::ShowMessage(const std::string& text, const std::string& caption) {
  if (!open_screen()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return;
  }
  // The box is modal: it waits for its key, as a message box does.
  for (;;) {
    if (shown_) draw();
    draw_message(text, caption);
    nodelay(stdscr, FALSE);
    const int key = getch();
    nodelay(stdscr, TRUE);
    // A blocking read gives no key only when the terminal has gone: the
    // box counts as closed, as nobody is left to close it.
    if (key == ERR) break;
    if (key == '\n' || key == '\r' || key == KEY_ENTER || key == ' ' || key == kEscape) break;
  }
  if (shown_) draw();
}

void TuiView::StartTick(unsigned periodMs) {
  tickTimer_ = loop_.AddTimer(periodMs, [this] {
    events_.OnTick();
    if (scanning_ && std::chrono::steady_clock::now() >= scanEnds_) {
      scanning_ = false;
      statusLine_.clear();
    }
    // A terminal resize reaches the program as a key, with no byte on
    // standard input to wake the loop; the tick picks it up.
    on_input();
  });
}

void TuiView::ShowNote(const std::string& text) {
  statusLine_ = text;
  if (screen_ && shown_) draw();
}

void TuiView::TickSoon() {
  loop_.Post([this] { events_.OnTick(); });
}

void TuiView::StopTick() {
  if (tickTimer_ != 0) loop_.KillTimer(tickTimer_);
  tickTimer_ = 0;
}

// A key whose sequence the terminal type does not name (Home of a terminal
// that sends "ESC [ 1 ~" where the type says "ESC O H", or an Alt chord)
// reaches the program as Escape with its other bytes right behind it: those
// bytes are read and the key is ignored, so that it does not exit the
// program. A real Escape comes alone. True when a sequence was skipped.
bool TuiView::skip_unknown_sequence() {
  int next = getch();
  if (next == ERR) return false;
  if (next == '[' || next == 'O') {
    // Parameter and intermediate bytes, up to the final byte.
    do next = getch();
    while (next >= 0x20 && next <= 0x3F);
  }
  return true;
}

void TuiView::on_input() {
  if (!screen_) return;
  for (int key = getch(); key != ERR && screen_; key = getch()) {
    if (key == kEscape && skip_unknown_sequence()) continue;
    on_key(key);
  }
  // A terminal that hung up or reached its end keeps standard input
  // readable with nothing to read: the program ends as "Exit" ends it,
  // instead of waking for it again and again.
  if (screen_ && tui::InputGone()) {
    exit_program();
    return;
  }
  if (screen_ && shown_) draw();
}

void TuiView::on_key(int key) {
  if (!scanning_) statusLine_.clear();
  if (on_global_key(key)) return;
  switch (focus_) {
    case Focus::List: on_list_key(key); break;
    case Focus::Address: on_address_key(key); break;
    default:
      if (key == '\n' || key == '\r' || key == KEY_ENTER || key == ' ') press(focus_);
      break;
  }
}

// Keys that mean the same wherever the focus is; digits and letters count
// only outside the address box, where they are typed.
bool TuiView::on_global_key(int key) {
  const bool typing = focus_ == Focus::Address;
  if (key == kEscape || (key == 'q' && !typing)) {
    exit_program();
  } else if (key == kTab || key == KEY_BTAB) {
    move_focus(key == kTab ? 1 : -1);
  } else if (key == KEY_RESIZE) {
    // The next draw lays the screen out for the new size.
  } else if (key >= KEY_F(1) && key <= KEY_F(5)) {
    events_.OnColumnClick(key - KEY_F(1));
  } else if (!typing && key >= '1' && key <= '5') {
    events_.OnColumnClick(key - '1');
  } else if (!typing && key == 'a') {
    focus_ = Focus::Address;
  } else if (!typing && key == 'r') {
    press(Focus::Rescan);
  } else if (!typing && key == 's') {
    press(Focus::Start);
  } else {
    return false;
  }
  return true;
}

void TuiView::on_list_key(int key) {
  const int page = std::max(1, LINES - 12);
  switch (key) {
    case KEY_UP: move_cursor(-1); break;
    case KEY_DOWN: move_cursor(1); break;
    case KEY_PPAGE: move_cursor(-page); break;
    case KEY_NPAGE: move_cursor(page); break;
    case KEY_HOME: move_cursor(-RowCount()); break;
    case KEY_END: move_cursor(RowCount()); break;
    case ' ':
      if (cursor_ < RowCount()) mark(cursor_, !IsRowSelected(cursor_));
      move_cursor(1);
      break;
    case '*': mark_all_or_none(); break;
    case 'f': mark_failed(); break;
    case '\n':
    case '\r':
    case KEY_ENTER:
      if (cursor_ < RowCount()) events_.OnItemActivate(cursor_);
      break;
    default: break;
  }
}

void TuiView::on_address_key(int key) {
  if ((key >= '0' && key <= '9') || key == '.') {
    if (address_.size() < 15) address_ += static_cast<char>(key);
  } else if ((key == KEY_BACKSPACE || key == 127 || key == 8) && !address_.empty()) {
    address_.pop_back();
  } else if (key == '\n' || key == '\r' || key == KEY_ENTER) {
    press(Focus::Add);
  }
}

void TuiView::press(Focus button) {
  switch (button) {
    case Focus::Add: add_address(); break;
    case Focus::Rescan:
      events_.OnRescan();
      // Units answer the query within the time the run report waits for
      // their answers.
      scanning_ = true;
      scanEnds_ =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(RunReporter::kRescanMs);
      statusLine_ = kScanning;
      break;
    case Focus::Start:
      if (startEnabled_) events_.OnStartInstall();
      break;
    case Focus::Exit: exit_program(); break;
    default: break;
  }
}

void TuiView::add_address() {
  std::uint32_t value = 0;
  if (!ReadAddress(&value)) {
    statusLine_ = "\"" + address_ +
                  "\" is not an address: type four numbers from 0 to 255, such as 192.168.1.20";
    return;
  }
  events_.OnAdd();
  focus_ = Focus::List;
}

void TuiView::mark(int row, bool marked) {
  Row& data = rows_[static_cast<std::size_t>(row)];
  data.selected = marked;
  if (marked) {
    marks_.insert(data.address);
  } else {
    marks_.erase(data.address);
  }
}

void TuiView::mark_all_or_none() {
  const bool all =
      std::all_of(rows_.begin(), rows_.end(), [](const Row& row) { return row.selected; });
  for (int row = 0; row < RowCount(); ++row) mark(row, !all);
}

void TuiView::mark_failed() {
  const auto status = std::find_if(columns_.begin(), columns_.end(),
                                   [](const ListColumn& column) { return column.isStatus(); });
  const auto at = static_cast<std::size_t>(status - columns_.begin());
  for (int row = 0; row < RowCount(); ++row) {
    const std::vector<std::string>& cells = rows_[static_cast<std::size_t>(row)].cells;
    const bool failed = at < cells.size() && IsFailureText(cells[at]);
    mark(row, failed || reportFailures_.count(rows_[static_cast<std::size_t>(row)].address) != 0);
  }
}

void TuiView::MarkReportFailures(const std::set<std::uint32_t>& units) {
  reportFailures_ = units;
  for (int row = 0; row < RowCount(); ++row) {
    if (units.count(rows_[static_cast<std::size_t>(row)].address) != 0) mark(row, true);
  }
  marks_.insert(units.begin(), units.end());
}

void TuiView::AddUnit(std::uint32_t address) {
  const std::string typed = address_;
  address_ = DottedAddress(address);
  events_.OnAdd();
  address_ = typed;
}

void TuiView::exit_program() {
  events_.StopAll();
  loop_.Quit(0);
}

void TuiView::move_cursor(int delta) {
  cursor_ = std::clamp(cursor_ + delta, 0, std::max(0, RowCount() - 1));
}

void TuiView::move_focus(int delta) {
  constexpr int kCount = 6;
  focus_ = static_cast<Focus>((static_cast<int>(focus_) + delta + kCount) % kCount);
}

// Drawing: the whole screen from what the view keeps, after every event.

namespace {

// The status column shows its longest text whole: what it lacks is taken
// from the widest other column.
void WidenStatusColumn(const std::vector<ListColumn>& columns, std::vector<int>& widths) {
  constexpr int kStatusCells = static_cast<int>(kWidestStatusText);
  const auto status = std::find_if(columns.begin(), columns.end(),
                                   [](const ListColumn& column) { return column.isStatus(); });
  const auto at = static_cast<std::size_t>(status - columns.begin());
  if (widths.size() < 2 || at >= widths.size() || widths[at] >= kStatusCells) return;
  std::size_t widest = at == 0 ? 1 : 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (i != at && widths[i] > widths[widest]) widest = i;
  }
  const int moved = std::min(kStatusCells - widths[at], widths[widest] - 3);
  widths[widest] -= moved;
  widths[at] += moved;
}

}  // namespace

std::vector<int> TuiView::column_widths(int width) const {
  // The selection mark takes four cells and one space separates columns;
  // the rest is shared in proportion to the columns' pixel widths, and the
  // list grows with the terminal.
  const int count = static_cast<int>(columns_.size());
  int pixels = 0;
  for (const ListColumn& column : columns_) pixels += column.width;
  const int room = width - 4 - std::max(0, count - 1);
  std::vector<int> widths;
  for (const ListColumn& column : columns_) {
    const int natural = column.width / kPixelsPerCell;
    const int share = pixels > 0 ? column.width * room / pixels : natural;
    widths.push_back(std::max(3, std::max(std::min(natural, room), share)));
  }
  WidenStatusColumn(columns_, widths);
  return widths;
}

void TuiView::draw() {
  if (!screen_) return;
  erase();
  const int width = COLS;
  const std::vector<std::string> hint = Wrap(kAddressHint, std::max(20, width - 2));
  const int bottom = static_cast<int>(hint.size()) + 3;
  attron(A_REVERSE);
  const int pad = std::max(0, (width - static_cast<int>(title_.size())) / 2);
  mvaddstr(0, 0, Fit(std::string(static_cast<std::size_t>(pad), ' ') + title_, width).c_str());
  attroff(A_REVERSE);
  mvaddstr(1, 1, Fit("Click to choose which Tarvos will be updated", width - 2).c_str());
  draw_list(2, std::max(2, LINES - 2 - bottom), width);
  int y = LINES - bottom;
  for (const std::string& line : hint) mvaddstr(y++, 1, Fit(line, width - 2).c_str());
  draw_controls(y, width);
  const int lineAttributes = statusLine_.empty() ? A_DIM : A_BOLD;
  attron(lineAttributes);
  mvaddstr(LINES - 1, 0, Fit(statusLine_.empty() ? kHelp : statusLine_, width).c_str());
  attroff(lineAttributes);
  refresh();
}

void TuiView::draw_list(int top, int height, int width) {
  const std::vector<int> widths = column_widths(width - 2);
  std::string header = "    ";
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    header += Fit(columns_[i].header, widths[i]) + " ";
  }
  attron(A_UNDERLINE);
  mvaddstr(top, 1, Fit(header, width - 2).c_str());
  attroff(A_UNDERLINE);
  const int visible = height - 1;
  move_cursor(0);
  if (cursor_ < scroll_) scroll_ = cursor_;
  if (cursor_ >= scroll_ + visible) scroll_ = cursor_ - visible + 1;
  scroll_ = std::clamp(scroll_, 0, std::max(0, RowCount() - visible));
  for (int line = 0; line < visible && scroll_ + line < RowCount(); ++line) {
    draw_row(top + 1 + line, scroll_ + line, widths, scroll_ + line == cursor_);
  }
}

void TuiView::draw_row(int y, int row, const std::vector<int>& widths, bool cursor) {
  const Row& data = rows_[static_cast<std::size_t>(row)];
  std::string text = data.selected ? "[x] " : "[ ] ";
  for (std::size_t i = 0; i < widths.size() && i < data.cells.size(); ++i) {
    text += Fit(data.cells[i], widths[i]) + " ";
  }
  const int attributes =
      (cursor && focus_ == Focus::List ? A_REVERSE : 0) | (data.selected ? A_BOLD : 0);
  attron(attributes);
  mvaddstr(y, 1, Fit(text, COLS - 2).c_str());
  attroff(attributes);
}

void TuiView::draw_controls(int y, int width) {
  mvaddstr(y, 1, "Address:");
  const int boxAttributes = focus_ == Focus::Address ? A_REVERSE : A_UNDERLINE;
  attron(boxAttributes);
  mvaddstr(y, 10, Fit(address_, 15).c_str());
  attroff(boxAttributes);
  draw_button(y, 27, "Add", Focus::Add, true);
  const std::string count = "Total Tarvos Found: " + count_;
  const int rescanX = std::max(36 + static_cast<int>(count.size()) + 2, width - 13);
  mvaddstr(y, std::max(36, rescanX - static_cast<int>(count.size()) - 2), count.c_str());
  draw_button(y, rescanX, "Rescan", Focus::Rescan, true);
  draw_button(y + 1, 1, "Start Install", Focus::Start, startEnabled_);
  draw_button(y + 1, std::max(22, width - 11), "Exit", Focus::Exit, true);
}

void TuiView::draw_button(int y, int x, const char* label, Focus which, bool enabled) {
  const int attributes = (focus_ == which ? A_REVERSE : 0) | (enabled ? 0 : A_DIM);
  attron(attributes);
  mvprintw(y, x, "[ %s ]", label);
  attroff(attributes);
}

void TuiView::draw_message(const std::string& text, const std::string& caption) {
  const int width = std::min(COLS - 4, std::max(30, static_cast<int>(caption.size()) + 8));
  const int inner = std::max(10, std::min(COLS - 8, 56));
  const std::vector<std::string> lines = Wrap(text, inner);
  const int boxWidth = std::max(width, inner + 4);
  const int boxHeight = static_cast<int>(lines.size()) + 4;
  const int top = std::max(0, (LINES - boxHeight) / 2);
  const int left = std::max(0, (COLS - boxWidth) / 2);
  // The screen behind the box goes out first: the key wait refreshes it,
  // and a first refresh would otherwise clear the box away.
  refresh();
  WINDOW* window = newwin(boxHeight, boxWidth, top, left);
  if (window == nullptr) return;
  box(window, 0, 0);
  mvwaddstr(window, 0, 2, (" " + caption + " ").c_str());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    mvwaddstr(window, 1 + static_cast<int>(i), 2, lines[i].c_str());
  }
  wattron(window, A_REVERSE);
  mvwaddstr(window, boxHeight - 2, (boxWidth - 6) / 2, "[ OK ]");
  wattroff(window, A_REVERSE);
  wrefresh(window);
  delwin(window);
}
