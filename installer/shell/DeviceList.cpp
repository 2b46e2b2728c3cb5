// The device list: rows built from the device table in display order.
#include "shell/DeviceList.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "units/DisplayOrder.h"
#include "units/unit_table.h"

namespace {

// The list's columns in their order; the status column has no text function.
const ListColumn kListColumns[] = {
    {"IP Address", 100,
     [](const UnitRow& unit) { return DeviceList::FormatAddress(unit.address); }},
    {"Node", 40, [](const UnitRow& unit) { return std::to_string(unit.node); }},
    {"Group Name", 135, [](const UnitRow& unit) { return unit.group; }},
    {"Version", 65, [](const UnitRow& unit) { return unit.version; }},
    {"Install", 80, nullptr},
};

bool ShownSelected(const tarvo_object* unit) {
  return unit->state == InstallState::Pending || unit->state == InstallState::Running;
}

// Caller holds the table lock.
UnitRow RowOf(const tarvo_object* unit) {
  return UnitRow{unit->address, unit->node, unit->group.value_or(""), unit->version.value_or("")};
}

}  // namespace

std::span<const ListColumn> DeviceList::Columns() { return kListColumns; }

std::string DeviceList::FormatAddress(std::uint32_t address) {
  // Network byte order keeps the first octet in the lowest-addressed byte.
  const auto* octets = reinterpret_cast<const unsigned char*>(&address);
  char text[20];
  std::snprintf(text, sizeof text, "%3d.%3d.%3d.%3d", octets[0], octets[1], octets[2], octets[3]);
  return text;
}

void DeviceList::InsertColumns() {
  if (view_ != nullptr) {
    view_->InsertColumns(kListColumns, static_cast<int>(std::size(kListColumns)));
  }
}

tarvo_object* DeviceList::UnitAtRow(int row) const {
  if (row < 0 || row >= RowCount()) return nullptr;
  return rows_[static_cast<std::size_t>(row)];
}

void DeviceList::RefreshList(bool full) {
  if (view_ == nullptr) return;
  table_.Lock();
  view_->SetCountText(std::to_string(table_.getCount()));
  if (full) {
    view_->DeleteAllRows();
    rows_.clear();
    table_.SortDisplayOrder();
  }
  // Between two refreshes the display order only gains records, each at its
  // sorted place and marked rowChanged, so inserting those rows at their
  // slots keeps row i and slot i on the same unit.
  for (std::size_t slot = 0; slot < table_.getCount(); ++slot) {
    tarvo_object* unit = table_.getDisplayUnit(slot);
    const int row = static_cast<int>(slot);
    if (unit->rowChanged || full) {
      unit->statusChanged = true;
      unit->rowChanged = false;
      unit->identityChanged = false;
      insert_row(row, unit);
    } else if (unit->identityChanged && UnitAtRow(row) == unit) {
      unit->identityChanged = false;
      view_->UpdateRow(row, RowOf(unit));
    }
    UpdateStatusCell(row);
  }
  table_.Unlock();
}

void DeviceList::insert_row(int index, tarvo_object* unit) {
  int row = view_->InsertRow(index, RowOf(unit), ShownSelected(unit));
  if (row < 0 || row > RowCount()) row = RowCount();
  rows_.insert(rows_.begin() + row, unit);
}

void DeviceList::UpdateStatusCell(int row) {
  tarvo_object* unit = UnitAtRow(row);
  if (unit == nullptr || !unit->statusChanged) return;
  unit->statusChanged = false;
  if (view_ != nullptr) view_->ShowStatus(row, unit->statusText);
}

void DeviceList::RefreshStatusColumn() {
  table_.Lock();
  for (int row = 0; row < RowCount(); ++row) UpdateStatusCell(row);
  table_.Unlock();
}

void DeviceList::ColumnClick(int column) {
  // Discovery threads insert into the display order under the table lock
  // with the current sort state, so the state changes under the same lock.
  table_.Lock();
  ApplyColumnClick(CurrentDisplaySort(), column);
  table_.Unlock();
  RefreshList(true);
}

bool DeviceList::AddByAddress() {
  std::uint32_t value = 0;
  if (view_ == nullptr || !view_->ReadAddress(&value)) return false;
  // The box gives the first field in the highest byte; the table wants the
  // first octet in the lowest-addressed byte.
  unsigned char octets[4] = {
      static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
      static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  std::uint32_t address = 0;
  std::memcpy(&address, octets, sizeof address);
  const int entered = table_.AddOrUpdateUnit(0, 0, address, nullptr, 0, kUnknownText, kUnknownText);
  if (entered != 0) RefreshList(true);
  return true;
}

bool DeviceList::HasUnit(std::uint32_t address) {
  const tarvo_object key(table_, 0, 0, address, nullptr, 0, nullptr, nullptr);
  table_.Lock();
  const bool found = table_.FindByAddress(&key) != nullptr;
  table_.Unlock();
  return found;
}
