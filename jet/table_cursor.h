// Walks a table's rows in scan order: its data pages as the owned-pages map
// lists them (ascending), rows in slot order, deleted rows skipped. A row
// that moved to another page (its home slot flagged as an overflow pointer)
// is returned at its home slot's place; the slot holding its data is flagged
// deleted and so never returned at its own place.
//
// Holds one copy of the current row; pages come through the page cache, so
// memory does not grow with the table.
#ifndef JET_TABLE_CURSOR_H_
#define JET_TABLE_CURSOR_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "jet/data_page.h"
#include "jet/page_file.h"
#include "jet/row_codec.h"
#include "jet/table_definition.h"
#include "jet/usage_map.h"

namespace jet {

// Where a row lives: its home slot, and the slot holding its bytes (the same
// unless the row overflowed), with the pointer chain between them.
struct RowLocation {
  RowPointer home;
  RowPointer data;
  std::vector<RowPointer> chain;  // pointer slots from home on, data excluded
};

// A set of rows, one bit per slot, by page: 32 bytes a page up to the
// highest page added, so that remembering every moved row of a large table
// stays small.
class RowPointerSet {
 public:
  // Adds `pointer`; returns false when it was there already.
  bool Insert(RowPointer pointer);
  void Clear() { bits_.clear(); }

 private:
  std::vector<std::uint64_t> bits_;  // 4 words a page
};

// Checks every row of `table` as a walk would read it: data pages, overflow
// pointers and row layouts, without copying a row. Throws CorruptDatabase.
void CheckTable(PageFile& file, const TableDefinition& table);

// Follows overflow pointers from `home` to the row's data. Returns nullopt
// when the home slot is deleted. Throws CorruptDatabase for a loop, a pointer
// to another table's page, or a pointer to a missing row.
std::optional<RowLocation> LocateRow(PageFile& file, const TableDefinition& table, RowPointer home);

class TableCursor {
 public:
  TableCursor(PageFile& file, const TableDefinition& table);

  // Moves to the first row; AtEnd() is true for an empty table.
  void First();
  bool AtEnd() const { return at_end_; }
  // Moves to the next row. Throws CorruptDatabase.
  void Next();

  // The current row (not at the end).
  const RowLocation& location() const { return location_; }
  const std::vector<std::uint8_t>& row_bytes() const { return row_; }
  const RowView& view() const { return *view_; }

  // Replaces the current row's copy after it was written, and re-reads the
  // usage map when the write changed it. `same_layout`: only bytes of values
  // changed, the row's size and offsets did not.
  void Refresh(const RowLocation& location, std::span<const std::uint8_t> row, bool map_changed, bool same_layout = false);

 private:
  void Advance();

  PageFile& file_;
  const TableDefinition& table_;
  std::unique_ptr<UsageMap> owned_;
  bool at_end_ = true;
  bool started_ = false;
  std::uint32_t page_ = 0;
  std::size_t next_slot_ = 0;
  RowLocation location_;
  std::vector<std::uint8_t> row_;
  std::optional<RowView> view_;  // over row_
  RowPointerSet visited_targets_;  // rows reached through a pointer
};

}  // namespace jet

#endif  // JET_TABLE_CURSOR_H_
