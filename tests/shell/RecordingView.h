// A DialogView that draws nothing and remembers everything: the columns, the
// rows with their cells and selected state, the count box, the button, the
// title, the messages and the tick. Tests play the user on it (select rows,
// type an address) and read back what the controller drew, so the
// controller's logic runs on both platforms without a screen.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "shell/DeviceList.h"
#include "shell/DialogView.h"

class RecordingView : public DialogView {
 public:
  struct Row {
    std::vector<std::string> cells;
    bool selected = false;
  };

  void InsertColumns(const ListColumn* columns, int count) override {
    for (int i = 0; i < count; ++i) this->columns.push_back(columns[i]);
  }
  // The cells are made with the list's column table, as a drawing view
  // makes them from the columns it was given.
  int InsertRow(int index, const UnitRow& unit, bool selected) override {
    if (index < 0 || index > RowCount()) index = RowCount();
    Row row;
    row.cells.assign(listColumns.size(), std::string());
    row.selected = selected;
    rows.insert(rows.begin() + index, row);
    ++insertedRows;
    draw(index, unit);
    return index;
  }
  void UpdateRow(int row, const UnitRow& unit) override {
    draw(row, unit);
    ++cellWrites;
  }
  void ShowStatus(int row, const std::string& status) override {
    for (std::size_t i = 0; i < listColumns.size(); ++i) {
      if (listColumns[i].isStatus()) rows.at(static_cast<std::size_t>(row)).cells.at(i) = status;
    }
    ++cellWrites;
    statusTrail.push_back(status);
  }
  void DeleteAllRows() override {
    rows.clear();
    ++rebuilds;
  }
  int RowCount() const override { return static_cast<int>(rows.size()); }
  bool IsRowSelected(int row) const override {
    return rows.at(static_cast<std::size_t>(row)).selected;
  }
  void SetCountText(const std::string& text) override { countText = text; }
  void EnableStartInstall(bool enabled) override { startEnabled = enabled; }
  bool ReadAddress(std::uint32_t* value) override {
    if (!address.has_value()) return false;
    *value = *address;
    return true;
  }
  void SetTitle(const std::string& text) override { title = text; }
  void Show() override { shown = true; }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.emplace_back(text, caption);
  }
  void StartTick(unsigned periodMs) override {
    tickPeriodMs = periodMs;
    tickActive = true;
  }
  void StopTick() override {
    tickActive = false;
    ++tickStops;
  }
  void TickSoon() override { ++tickSoonCalls; }

  // The user's side.
  void Select(int row, bool selected = true) {
    rows.at(static_cast<std::size_t>(row)).selected = selected;
  }
  // Types a full address into the box, first field first.
  void Type(int a, int b, int c, int d) {
    address = static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
              static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
  }
  // The row whose first cell shows the address, or -1.
  int FindRow(const std::string& addressText) const {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].cells[0] == addressText) return static_cast<int>(i);
    }
    return -1;
  }
  std::string Cell(int row, int column) const {
    return rows.at(static_cast<std::size_t>(row)).cells.at(static_cast<std::size_t>(column));
  }
  // The row's status, wherever the list's table puts the status column.
  std::string Status(int row) const {
    for (std::size_t i = 0; i < listColumns.size(); ++i) {
      if (listColumns[i].isStatus()) return Cell(row, static_cast<int>(i));
    }
    return std::string();
  }
  // One column of every row, top to bottom.
  std::vector<std::string> Column(int column) const {
    std::vector<std::string> texts;
    for (const Row& row : rows) texts.push_back(row.cells.at(static_cast<std::size_t>(column)));
    return texts;
  }

  void draw(int row, const UnitRow& unit) {
    for (std::size_t i = 0; i < listColumns.size(); ++i) {
      if (!listColumns[i].isStatus()) {
        rows.at(static_cast<std::size_t>(row)).cells.at(i) = listColumns[i].text(unit);
      }
    }
  }

  std::span<const ListColumn> listColumns = DeviceList::Columns();
  std::vector<ListColumn> columns;
  std::vector<Row> rows;
  std::string countText;
  bool startEnabled = true;
  std::optional<std::uint32_t> address;
  std::string title;
  bool shown = false;
  std::vector<std::pair<std::string, std::string>> messages;
  unsigned tickPeriodMs = 0;
  bool tickActive = false;
  int tickStops = 0;
  // Job threads count under the table's lock; read it under the lock too.
  int tickSoonCalls = 0;
  int rebuilds = 0;
  int insertedRows = 0;
  int cellWrites = 0;
  // Every text written into an "Install" cell, in order.
  std::vector<std::string> statusTrail;
};
