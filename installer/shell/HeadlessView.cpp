// The headless view's rows and status lines (see HeadlessView.h).
#include "shell/HeadlessView.h"

#include "platform/MainLoop.h"
#include "shell/DialogEvents.h"
#include "shell/RunReport.h"
#include "units/DisplayOrder.h"

HeadlessView::HeadlessView(platform::MainLoop& loop, DialogEvents& events, std::FILE* out,
                           std::FILE* err, Clock clock)
    : loop_(loop), events_(events), out_(out), err_(err), clock_(std::move(clock)) {}

HeadlessView::~HeadlessView() { StopTick(); }

void HeadlessView::InsertColumns(const ListColumn* /*columns*/, int /*count*/) {}

int HeadlessView::InsertRow(int index, const UnitRow& unit, bool selected) {
  if (index < 0 || index > RowCount()) index = RowCount();
  rows_.insert(rows_.begin() + index, Row{DottedAddress(unit.address), unit.address, selected});
  return index;
}

void HeadlessView::ShowStatus(int row, const std::string& status) {
  if (row < 0 || row >= RowCount()) return;
  print_status(rows_[static_cast<std::size_t>(row)].address, status);
}

void HeadlessView::DeleteAllRows() { rows_.clear(); }

bool HeadlessView::IsRowSelected(int row) const {
  return row >= 0 && row < RowCount() && rows_[static_cast<std::size_t>(row)].selected;
}

bool HeadlessView::ReadAddress(std::uint32_t* value) {
  if (typed_.empty()) return false;
  *value = HostOrder(typed_.front());
  typed_.pop_front();
  return true;
}

void HeadlessView::ShowMessage(const std::string& text, const std::string& caption) {
  std::fprintf(err_, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(err_);
}

void HeadlessView::StartTick(unsigned periodMs) {
  StopTick();
  tickTimer_ = loop_.AddTimer(periodMs, [this] { events_.OnTick(); });
}

void HeadlessView::TickSoon() {
  loop_.Post([this] { events_.OnTick(); });
}

void HeadlessView::StopTick() {
  if (tickTimer_ == 0) return;
  loop_.KillTimer(tickTimer_);
  tickTimer_ = 0;
}

void HeadlessView::SelectAll() {
  for (Row& row : rows_) row.selected = true;
}

void HeadlessView::SelectOnly(const std::set<std::uint32_t>& units) {
  for (Row& row : rows_) row.selected = units.count(row.unit) != 0;
}

void HeadlessView::TypeAddress(std::uint32_t networkOrder) { typed_.push_back(networkOrder); }

void HeadlessView::print_status(const std::string& address, const std::string& text) {
  if (!printed_.Admit(address, text, clock_())) return;
  std::fprintf(out_, "%s  %s\n", address.c_str(), text.c_str());
  std::fflush(out_);
}
