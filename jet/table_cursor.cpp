#include "jet/table_cursor.h"

#include "jet/bytes.h"

namespace jet {
namespace {

constexpr std::size_t kMaxOverflowHops = 8;

// Returns true when `page` is a data page of `table`.
bool IsTableDataPage(const PageFile& file, const TableDefinition& table, const PageBytes& page) {
  return page[0] == kDataPageType && Get32(page, file.format().page_owner_offset) == table.page;
}

}  // namespace

bool RowPointerSet::Insert(RowPointer pointer) {
  const std::size_t word = static_cast<std::size_t>(pointer.page) * 4 + pointer.row / 64;
  if (word >= bits_.size()) bits_.resize(word + 1, 0);
  const std::uint64_t bit = std::uint64_t{1} << (pointer.row % 64);
  if ((bits_[word] & bit) != 0) return false;
  bits_[word] |= bit;
  return true;
}

std::optional<RowLocation> LocateRow(PageFile& file, const TableDefinition& table, RowPointer home) {
  RowLocation location;
  location.home = home;
  RowPointer at = home;
  for (std::size_t hop = 0;; ++hop) {
    const PageRef page = file.Read(at.page);
    if (!IsTableDataPage(file, table, *page)) file.Corrupt(at.page, "a row pointer leads to a page of another table");
    const RowSlot slot = ReadRowSlot(file, at.page, *page, at.row);
    if (hop == 0 && slot.deleted()) return std::nullopt;
    if (!slot.overflow()) {
      location.data = at;
      return location;
    }
    if (hop == kMaxOverflowHops) file.Corrupt(at.page, "overflow row pointers form a loop");
    if (slot.size() < 4) file.Corrupt(at.page, "an overflow row pointer is too short");
    location.chain.push_back(at);
    at = ReadRowPointer(std::span<const std::uint8_t>(page->data() + slot.start, 4));
  }
}

void CheckTable(PageFile& file, const TableDefinition& table) {
  const UsageMap owned(file, table.owned_map);
  RowPointerSet targets;  // rows reached through a pointer
  auto check_row = [&](std::uint32_t page_number, const PageBytes& page, const RowSlot& slot) {
    const RowView row(file, page_number, table, std::span<const std::uint8_t>(page.data() + slot.start, slot.size()));
    row.CheckColumns(table);
  };
  for (std::optional<std::uint32_t> page_number = owned.NextPage(0); page_number; page_number = owned.NextPage(*page_number + 1)) {
    const PageRef page = file.Read(*page_number);
    if (!IsTableDataPage(file, table, *page)) continue;
    const std::size_t count = RowCount(file, *page_number, *page);
    for (std::size_t i = 0; i < count; ++i) {
      const RowPointer home{*page_number, static_cast<std::uint8_t>(i)};
      const RowSlot slot = ReadRowSlot(file, home.page, *page, home.row);
      if (slot.deleted()) continue;
      if (!slot.overflow()) {
        check_row(home.page, *page, slot);
        continue;
      }
      const std::optional<RowLocation> location = LocateRow(file, table, home);
      if (!location || !targets.Insert(location->data)) continue;
      const PageRef data_page = file.Read(location->data.page);
      check_row(location->data.page, *data_page, ReadRowSlot(file, location->data.page, *data_page, location->data.row));
    }
    if (*page_number == 0xFFFFFF) break;
  }
}

TableCursor::TableCursor(PageFile& file, const TableDefinition& table)
    : file_(file), table_(table), owned_(std::make_unique<UsageMap>(file, table.owned_map)) {}


void TableCursor::First() {
  started_ = false;
  at_end_ = false;
  visited_targets_.Clear();
  Advance();
}

void TableCursor::Next() {
  if (at_end_) return;
  Advance();
}

void TableCursor::Refresh(const RowLocation& location, std::span<const std::uint8_t> row, bool map_changed, bool same_layout) {
  if (same_layout && location.data == location_.data && row.size() == row_.size()) {
    // The view's offsets hold for the new bytes, in the same buffer.
    std::copy(row.begin(), row.end(), row_.begin());
    return;
  }
  location_ = location;
  row_.assign(row.begin(), row.end());
  view_.emplace(file_, location_.data.page, table_, row_);
  if (location_.data != location_.home) visited_targets_.Insert(location_.data);
  if (map_changed) owned_ = std::make_unique<UsageMap>(file_, table_.owned_map);
}

void TableCursor::Advance() {
  for (;;) {
    if (!started_) {
      const std::optional<std::uint32_t> first = owned_->NextPage(0);
      if (!first) {
        at_end_ = true;
        return;
      }
      started_ = true;
      page_ = *first;
      next_slot_ = 0;
    }
    const PageRef page = file_.Read(page_);
    const std::size_t count = IsTableDataPage(file_, table_, *page) ? RowCount(file_, page_, *page) : 0;
    while (next_slot_ < count) {
      const RowPointer home{page_, static_cast<std::uint8_t>(next_slot_++)};
      const RowSlot slot = ReadRowSlot(file_, page_, *page, home.row);
      if (slot.deleted()) continue;
      if (!slot.overflow()) {
        location_ = RowLocation{home, home, {}};
        row_.assign(page->begin() + static_cast<std::ptrdiff_t>(slot.start), page->begin() + static_cast<std::ptrdiff_t>(slot.end));
        view_.emplace(file_, page_, table_, row_);  // throws for a damaged row
        return;
      }
      const std::optional<RowLocation> location = LocateRow(file_, table_, home);
      if (!location) continue;
      if (location->data != home && !visited_targets_.Insert(location->data)) continue;
      const PageRef data_page = file_.Read(location->data.page);
      const RowSlot data_slot = ReadRowSlot(file_, location->data.page, *data_page, location->data.row);
      location_ = *location;
      row_.assign(data_page->begin() + static_cast<std::ptrdiff_t>(data_slot.start),
                  data_page->begin() + static_cast<std::ptrdiff_t>(data_slot.end));
      view_.emplace(file_, location_.data.page, table_, row_);  // throws for a damaged row
      return;
    }
    if (page_ == 0xFFFFFF) {
      at_end_ = true;
      return;
    }
    const std::optional<std::uint32_t> next = owned_->NextPage(page_ + 1);
    if (!next) {
      at_end_ = true;
      return;
    }
    page_ = *next;
    next_slot_ = 0;
  }
}

}  // namespace jet
