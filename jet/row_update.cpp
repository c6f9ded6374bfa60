#include "jet/row_update.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

#include "jet/bytes.h"
#include "jet/connection_string.h"
#include "jet/data_page.h"
#include "jet/errors.h"
#include "jet/index_maintenance.h"
#include "jet/row_codec.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

[[noreturn]] void ThrowRowChanged() { throw std::runtime_error(kRowChangedMessage); }

// The pages one update works on, changed in memory, then staged or written
// in the order the invariants need. A page starts from its staged content
// when an earlier post staged it (the disk is checked again when the page is
// written back), else from the disk as it is now.
class PageSet {
 public:
  explicit PageSet(PageFile& file) : file_(file) {}

  PageBytes& Get(std::uint32_t page_number) {
    auto found = pages_.find(page_number);
    if (found != pages_.end()) return found->second.first;
    // A staged page's disk copy is checked when it is written back.
    if (const PageBytes* staged = file_.StagedContent(page_number)) {
      return pages_.emplace(page_number, std::make_pair(*staged, PageBytes())).first->second.first;
    }
    PageBytes disk = file_.ReadFresh(page_number);
    PageBytes copy = disk;
    return pages_.emplace(page_number, std::make_pair(std::move(copy), std::move(disk))).first->second.first;
  }
  PageBytes& Add(std::uint32_t page_number, PageBytes bytes) {
    return (pages_[page_number] = std::make_pair(std::move(bytes), PageBytes())).first;
  }

  // Keeps the page's new content for the page file's next write-back.
  void Stage(std::uint32_t page_number) {
    auto& entry = pages_.at(page_number);
    file_.Stage(page_number, std::move(entry.first), std::move(entry.second));
    pages_.erase(page_number);
  }

  // Writes `page_number` now, unless already written.
  void Write(std::uint32_t page_number) {
    if (std::find(written_.begin(), written_.end(), page_number) != written_.end()) return;
    file_.Write(page_number, pages_.at(page_number).first);
    written_.push_back(page_number);
  }

 private:
  PageFile& file_;
  std::map<std::uint32_t, std::pair<PageBytes, PageBytes>> pages_;  // content, disk image
  std::vector<std::uint32_t> written_;
};

bool IsTableDataPage(const PageFile& file, const TableDefinition& table, const PageBytes& page) {
  return page[0] == kDataPageType && Get32(page, file.format().page_owner_offset) == table.page;
}

std::size_t OffsetAt(const FormatDescription& format, std::size_t slot) { return format.data_row_offsets_offset + 2 * slot; }

// Lays the rows of `page` out again from its end, slot by slot, with slot
// `slot` holding `row`; flags are kept.
void Repack(PageFile& file, std::uint32_t page_number, PageBytes& page, std::size_t slot, std::span<const std::uint8_t> row) {
  const FormatDescription& format = file.format();
  const std::size_t count = RowCount(file, page_number, page);
  std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> rows;
  for (std::size_t i = 0; i < count; ++i) {
    const RowSlot s = ReadRowSlot(file, page_number, page, i);
    if (i == slot) {
      rows.emplace_back(s.flags, std::vector<std::uint8_t>(row.begin(), row.end()));
    } else {
      rows.emplace_back(s.flags, std::vector<std::uint8_t>(page.begin() + static_cast<std::ptrdiff_t>(s.start),
                                                           page.begin() + static_cast<std::ptrdiff_t>(s.end)));
    }
  }
  const std::size_t table_end = OffsetAt(format, count);
  std::size_t position = page.size();
  for (std::size_t i = 0; i < count; ++i) {
    const auto& [flags, bytes] = rows[i];
    if (position < table_end + bytes.size()) throw std::logic_error("re-packed rows do not fit their page");
    position -= bytes.size();
    std::copy(bytes.begin(), bytes.end(), page.begin() + static_cast<std::ptrdiff_t>(position));
    Put16(page, OffsetAt(format, i), static_cast<std::uint32_t>(position | flags));
  }
  std::fill(page.begin() + static_cast<std::ptrdiff_t>(table_end), page.begin() + static_cast<std::ptrdiff_t>(position), 0);
  Put16(page, format.page_free_space_offset, static_cast<std::uint32_t>(position - table_end));
}

// Returns true when `page` has room for one more row of `size` bytes.
bool HasRoom(PageFile& file, std::uint32_t page_number, const PageBytes& page, std::size_t size) {
  const std::size_t count = RowCount(file, page_number, page);
  return count < file.format().max_rows_per_page && ComputeFreeSpace(file.format(), page) >= size + 2;
}

// Appends `row` to `page` as a new slot flagged as an overflow row's data;
// returns its slot number.
std::uint8_t AppendOverflowRow(PageFile& file, std::uint32_t page_number, PageBytes& page, std::span<const std::uint8_t> row) {
  const FormatDescription& format = file.format();
  const std::size_t count = RowCount(file, page_number, page);
  const std::size_t free = ComputeFreeSpace(format, page);
  const std::size_t lowest = OffsetAt(format, count) + free;
  const std::size_t start = lowest - row.size();
  std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
  Put16(page, OffsetAt(format, count), static_cast<std::uint32_t>(start | kRowDeletedFlag));
  Put16(page, format.data_row_count_offset, static_cast<std::uint32_t>(count + 1));
  Put16(page, format.page_free_space_offset, static_cast<std::uint32_t>(free - row.size() - 2));
  return static_cast<std::uint8_t>(count);
}

// Puts the row `read` views with `changes` applied into `row`. Throws
// kRecordTooLargeMessage.
void ChangedRow(const PageFile& file, const TableDefinition& table, std::uint32_t page_number,
                const RowView& read, const std::vector<ColumnChange>& changes, std::vector<std::uint8_t>& row, bool& same_layout) {
  const std::span<const std::uint8_t> read_row = read.row();
  same_layout = false;
  // The common change, a value replaced by one of the same size, keeps the
  // row's layout byte for byte.
  if (changes.size() == 1 && changes[0].bytes && changes[0].column->column_type() != ColumnType::kBoolean) {
    const std::optional<std::span<const std::uint8_t>> old = read.Raw(*changes[0].column);
    if (old && old->size() == changes[0].bytes->size()) {
      row.assign(read_row.begin(), read_row.end());
      std::copy(changes[0].bytes->begin(), changes[0].bytes->end(), row.begin() + (old->data() - read_row.data()));
      same_layout = true;
      return;
    }
  }
  std::vector<std::uint8_t> scratch;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const ColumnChange& change = changes[i];
    std::optional<std::span<const std::uint8_t>> value;
    if (change.bytes) value = std::span<const std::uint8_t>(*change.bytes);
    if (i == 0) {
      RebuildRow(table, read, *change.column, value, read_row.size(), row);
      continue;
    }
    const RowView view(file, page_number, table, row);
    RebuildRow(table, view, *change.column, value, row.size(), scratch);
    row.swap(scratch);
  }
  if (changes.empty()) row.assign(read_row.begin(), read_row.end());
  if (row.size() > file.format().max_row_size) throw std::runtime_error(kRecordTooLargeMessage);
}

// The common update: a row that lives at its home slot, changed in no
// indexed column, keeping its size or growing within its page. The page is
// changed where it is staged, or staged from a fresh read of the disk, which
// must still hold the row as it was read. Returns nullopt, having changed
// nothing, when the update needs more than that.
bool UpdateInPage(PageFile& file, const TableDefinition& table, const RowLocation& location,
                  const RowView& read, const std::vector<ColumnChange>& changes, UpdateResult& result) {
  const std::span<const std::uint8_t> read_row = read.row();
  if (!location.chain.empty() || location.data != location.home) return false;
  for (const ColumnChange& change : changes) {
    if (table.IsIndexed(*change.column)) return false;
  }
  const std::uint32_t page_number = location.home.page;
  PageBytes* staged = file.StagedContent(page_number);
  PageBytes disk;
  if (!staged) disk = file.ReadFresh(page_number);
  const PageBytes& page = staged ? *staged : disk;
  if (!IsTableDataPage(file, table, page) || location.home.row >= RowCount(file, page_number, page)) ThrowRowChanged();
  const RowSlot slot = ReadRowSlot(file, page_number, page, location.home.row);
  if (slot.deleted() || slot.overflow() || slot.size() != read_row.size() ||
      !std::equal(read_row.begin(), read_row.end(), page.begin() + static_cast<std::ptrdiff_t>(slot.start))) {
    ThrowRowChanged();
  }
  std::vector<std::uint8_t>& row = result.row;
  ChangedRow(file, table, page_number, read, changes, row, result.same_layout);
  const bool same_size = row.size() == read_row.size();
  if (!same_size && ComputeFreeSpace(file.format(), page) < row.size() - read_row.size()) return false;

  // A re-pack is laid out on a copy, so that a staged page is never left
  // half changed.
  PageBytes content;
  if (!same_size) {
    content = page;
    Repack(file, page_number, content, location.home.row, row);
    if (staged) *staged = std::move(content);
  } else if (staged) {
    std::copy(row.begin(), row.end(), staged->begin() + static_cast<std::ptrdiff_t>(slot.start));
  } else {
    content = disk;
    std::copy(row.begin(), row.end(), content.begin() + static_cast<std::ptrdiff_t>(slot.start));
  }
  if (!staged) file.Stage(page_number, std::move(content), std::move(disk));
  result.location = location;
  result.maps_changed = false;
  return true;
}

PageBytes NewDataPage(const PageFile& file, std::uint32_t table_page) {
  const FormatDescription& format = file.format();
  PageBytes page(file.page_size(), 0);
  page[0] = kDataPageType;
  page[1] = 0x01;
  Put16(page, format.page_free_space_offset, static_cast<std::uint32_t>(file.page_size() - format.data_row_offsets_offset));
  Put32(page, format.page_owner_offset, table_page);
  return page;
}

}  // namespace

void UpdateRow(PageFile& file, const TableDefinition& table, const RowLocation& location,
               const RowView& read, const std::vector<ColumnChange>& changes, UpdateResult& result) {
  if (!file.writable()) throw std::runtime_error("Cannot update. Database or object is read-only.");
  if (UpdateInPage(file, table, location, read, changes, result)) return;
  const std::span<const std::uint8_t> read_row = read.row();
  const FormatDescription& format = file.format();

  // The row on disk must still be the row that was read, at the same place.
  PageSet pages(file);
  RowPointer at = location.home;
  RowSlot data_slot;
  for (std::size_t hop = 0;; ++hop) {
    PageBytes& page = pages.Get(at.page);
    if (!IsTableDataPage(file, table, page)) ThrowRowChanged();
    if (at.row >= RowCount(file, at.page, page)) ThrowRowChanged();
    const RowSlot slot = ReadRowSlot(file, at.page, page, at.row);
    if (hop == 0 && slot.deleted()) ThrowRowChanged();
    if (!slot.overflow()) {
      if (hop != location.chain.size() || at != location.data) ThrowRowChanged();
      data_slot = slot;
      break;
    }
    if (hop >= location.chain.size() || at != location.chain[hop] || slot.size() < 4) ThrowRowChanged();
    at = ReadRowPointer(std::span<const std::uint8_t>(page.data() + slot.start, 4));
  }
  PageBytes& data_page = pages.Get(location.data.page);
  if (data_slot.size() != read_row.size() ||
      !std::equal(read_row.begin(), read_row.end(), data_page.begin() + static_cast<std::ptrdiff_t>(data_slot.start))) {
    ThrowRowChanged();
  }

  std::vector<std::uint8_t> row;
  bool same_layout = false;
  ChangedRow(file, table, location.data.page, read, changes, row, same_layout);

  // The indexes that use a changed column get the row's new entries before
  // the row is written and lose its old ones after (index_maintenance.h);
  // such a row is then written at once rather than staged.
  std::vector<const Column*> changed;
  for (const ColumnChange& change : changes) changed.push_back(change.column);
  IndexMaintenance indexes(file, table, location.home, read,
                           RowView(file, location.data.page, table, row), changed);
  auto write_row_page = [&](std::uint32_t page_number) {
    if (indexes.empty()) {
      pages.Stage(page_number);
      return;
    }
    file.WriteBack();
    indexes.WriteBeforeRow();
    pages.Write(page_number);
    indexes.WriteAfterRow();
  };

  result.location = location;
  result.row = row;
  result.maps_changed = false;
  result.same_layout = same_layout;
  if (row.size() == read_row.size()) {
    std::copy(row.begin(), row.end(), data_page.begin() + static_cast<std::ptrdiff_t>(data_slot.start));
    write_row_page(location.data.page);
    return;
  }
  if (ComputeFreeSpace(format, data_page) >= row.size() - read_row.size()) {
    Repack(file, location.data.page, data_page, location.data.row, row);
    write_row_page(location.data.page);
    return;
  }

  // A move writes several pages in order; what earlier posts staged goes
  // first, so that nothing is written twice or out of order.
  file.WriteBack();

  // The row no longer fits its page: it moves to a page with room, or to a
  // new page at the end of the file, and its home slot points there.
  PageBytes& home_page = pages.Get(location.home.page);
  const RowSlot home_slot = ReadRowSlot(file, location.home.page, home_page, location.home.row);
  if (home_slot.size() < 4) throw Unsupported("The row is too short to hold a pointer to where it moves.");
  const UsageMap owned(file, table.owned_map);
  const UsageMap free_map(file, table.free_map);
  std::optional<std::uint32_t> target;
  std::optional<std::uint32_t> full;  // named by the free-space map, without room for the row
  const std::optional<std::uint32_t> candidate = free_map.LastPage();
  if (candidate && *candidate != location.home.page && *candidate != location.data.page && *candidate < file.page_count() &&
      owned.Contains(*candidate)) {
    PageBytes& page = pages.Get(*candidate);
    if (IsTableDataPage(file, table, page)) {
      if (HasRoom(file, *candidate, page, row.size())) {
        target = *candidate;
      } else {
        full = *candidate;
      }
    }
  }

  // The maps change in memory first, growing where they do not reach the
  // new pages (usage_map.h); a refusal then writes nothing. New index pages
  // take the numbers after the file's end first, then the new data page,
  // then the map pages.
  auto working_copy = [&](std::uint32_t page_number) -> PageBytes& { return pages.Get(page_number); };
  std::uint32_t next_page = file.page_count() + indexes.new_page_count();
  bool allocated = false;
  if (!target) {
    target = next_page++;
    allocated = true;
  }
  MapGrowth maps(file, next_page, working_copy);
  if (!indexes.empty()) indexes.AddNewPages(maps);
  if (allocated) {
    // Like Jet, a page that could not take the row leaves the free-space
    // map; the new page joins it.
    if (full) maps.Remove(table.free_map, *full);
    maps.Add(table.owned_map, *target);
    maps.Add(table.free_map, *target);
    maps.Take(*target);
    pages.Add(*target, NewDataPage(file, table.page));
  }
  maps.Finish();
  std::vector<RowPointer> retired;
  if (location.chain.size() > 1) retired.assign(location.chain.begin() + 1, location.chain.end());
  if (location.data != location.home) retired.push_back(location.data);
  const std::vector<std::uint32_t> map_pages = maps.WriteOrder();
  for (std::uint32_t holder : map_pages) {
    bool clash = holder == location.home.page || holder == *target;
    for (const RowPointer& old : retired) clash = clash || holder == old.page;
    if (clash) file.Corrupt(holder, "a usage map lies on a data page of the table");
  }
  const std::uint8_t target_row = AppendOverflowRow(file, *target, pages.Get(*target), row);

  // The home slot now points at the new copy; a copy it pointed at before,
  // and any pointer slot between, are marked deleted.
  home_page[home_slot.start] = target_row;
  Put24(home_page, home_slot.start + 1, *target);
  Put16(home_page, OffsetAt(format, location.home.row), static_cast<std::uint32_t>(home_slot.start | home_slot.flags | kRowOverflowFlag));
  for (const RowPointer& old : retired) {
    PageBytes& page = pages.Get(old.page);
    const std::size_t word_at = OffsetAt(format, old.row);
    Put16(page, word_at, static_cast<std::uint32_t>(Get16(page, word_at) | kRowDeletedFlag | kRowOverflowFlag));
  }

  // New pages first, in page order (index pages, the data page, map pages);
  // then the maps that take them; then what points at them: index entries
  // and the home slot.
  if (!indexes.empty()) indexes.WriteNewPages();
  pages.Write(*target);
  for (const auto& [page_number, bytes] : maps.new_pages()) {
    pages.Add(page_number, bytes);
    pages.Write(page_number);
  }
  for (std::uint32_t page_number : map_pages) pages.Write(page_number);
  if (!indexes.empty()) indexes.WriteEntryPages();
  pages.Write(location.home.page);
  for (const RowPointer& old : retired) pages.Write(old.page);
  if (!indexes.empty()) indexes.WriteAfterRow(working_copy);

  result.location.data = RowPointer{*target, target_row};
  result.location.chain = {location.home};
  result.maps_changed = allocated;
  result.same_layout = false;
}

}  // namespace jet
