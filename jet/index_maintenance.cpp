#include "jet/index_maintenance.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "jet/bytes.h"
#include "jet/connection_string.h"
#include "jet/errors.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

RowPointer MapPointer(std::uint32_t raw) { return RowPointer{raw >> 8, static_cast<std::uint8_t>(raw & 0xFF)}; }

// Returns a page source that reads each page once from the disk into `own`.
MapGrowth::PageSource OwnCopies(PageFile& file, std::map<std::uint32_t, PageBytes>& own) {
  return [&file, &own](std::uint32_t page_number) -> PageBytes& {
    auto found = own.find(page_number);
    if (found == own.end()) found = own.emplace(page_number, file.ReadFresh(page_number)).first;
    return found->second;
  };
}

}  // namespace

std::vector<IndexDefinition> ReadTableIndexes(PageFile& file, const TableDefinition& table) {
  return IndexDefinitionsOf(table, PageFileReporter(file));
}

KeyValue KeyValueOf(const RowView& row, const Column& column) {
  if (column.column_type() == ColumnType::kBoolean) return row.MaskBit(column);
  const std::optional<std::span<const std::uint8_t>> raw = row.Raw(column);
  if (!raw) return std::monostate{};
  const std::span<const std::uint8_t> bytes = *raw;
  auto need = [&](std::size_t size) {
    if (bytes.size() < size) throw Unsupported("A value of an indexed column is shorter than its type.");
  };
  switch (column.column_type()) {
    case ColumnType::kByte: need(1); return std::int64_t{bytes[0]};
    case ColumnType::kInteger: need(2); return std::int64_t{static_cast<std::int16_t>(Get16(bytes, 0))};
    case ColumnType::kLong: need(4); return std::int64_t{static_cast<std::int32_t>(Get32(bytes, 0))};
    case ColumnType::kCurrency: need(8); return static_cast<std::int64_t>(Get64(bytes, 0));
    case ColumnType::kFloat: {
      need(4);
      float value;
      const std::uint32_t bits = Get32(bytes, 0);
      std::memcpy(&value, &bits, sizeof value);
      return double{value};
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      need(8);
      double value;
      const std::uint64_t bits = Get64(bytes, 0);
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    case ColumnType::kText: return DecodeText(bytes);  // Encoding: Jet text bytes -> UTF-16.
    default:
      throw Unsupported("The column '" + ToUtf8(column.name) + "' is part of an index of a type kept up to date here.");
  }
}

std::vector<std::uint8_t> PageFileIndexStore::ReadPage(std::uint32_t page_number) {
  if (page_number >= file_.page_count()) Corrupt(page_number, "an index points beyond the end of the file");
  return *file_.Read(page_number);
}

IndexMaintenance::IndexMaintenance(PageFile& file, const TableDefinition& table, RowPointer home, const RowView& old_row,
                                   const RowView& new_row, std::span<const Column* const> changed)
    : file_(file) {
  // Most posts change no indexed column; they need not read the indexes.
  if (std::none_of(changed.begin(), changed.end(), [&](const Column* column) { return table.IsIndexed(*column); })) return;
  PageFileIndexStore store(file);
  for (const IndexDefinition& index : ReadTableIndexes(file, table)) {
    const bool touched = std::any_of(changed.begin(), changed.end(),
                                     [&](const Column* column) { return index.Uses(column->number); });
    if (!touched) continue;
    std::vector<KeyValue> before;
    std::vector<KeyValue> after;
    for (std::uint16_t number : index.column_numbers) {
      const auto column = std::find_if(table.columns.begin(), table.columns.end(),
                                       [&](const Column& c) { return c.number == number; });
      if (column == table.columns.end()) file.Corrupt(table.page, "an index uses a column the table does not have");
      before.push_back(KeyValueOf(old_row, *column));
      after.push_back(KeyValueOf(new_row, *column));
    }
    IndexUpdatePlan plan = PlanIndexUpdate(store, index, EntryRow{home.page, home.row}, before, after);
    if (!plan.empty()) plans_.push_back(std::move(plan));
  }
  PrepareMaps();
}

IndexMaintenance::IndexMaintenance(PageFile& file, std::vector<IndexUpdatePlan> plans)
    : file_(file), plans_(std::move(plans)) {
  std::erase_if(plans_, [](const IndexUpdatePlan& plan) { return plan.empty(); });
  PrepareMaps();
}

void IndexMaintenance::PrepareMaps() {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> leaving;
  for (const IndexUpdatePlan& plan : plans_) {
    for (std::uint32_t page_number : plan.new_pages) {
      new_pages_.push_back(page_number);
      joining_bits_.push_back({MapPointer(plan.owned_map), page_number});
    }
    for (std::uint32_t page_number : plan.released_pages) leaving.emplace_back(page_number, plan.owned_map);
  }
  std::sort(new_pages_.begin(), new_pages_.end());
  // A page may both join and leave in one update; it then stays allocated
  // and empty of entries, which no walk reaches.
  std::erase_if(leaving, [&](const auto& page) {
    return std::find(new_pages_.begin(), new_pages_.end(), page.first) != new_pages_.end();
  });
  for (const auto& [page_number, owned_map] : leaving) leaving_bits_.push_back({MapPointer(owned_map), page_number});
  // The maps must be able to take the new pages: found now, before any
  // write.
  if (!joining_bits_.empty()) {
    std::map<std::uint32_t, PageBytes> scratch;
    MapGrowth maps(file_, file_.page_count() + new_page_count(), OwnCopies(file_, scratch));
    AddNewPages(maps);
    maps.Finish();
  }
}

void IndexMaintenance::AddNewPages(MapGrowth& maps) const {
  for (const MapBit& bit : joining_bits_) maps.Add(bit.map, bit.page_number);
  for (std::uint32_t page_number : new_pages_) maps.Take(page_number);
}

void IndexMaintenance::WriteMaps(const MapGrowth& maps, const std::map<std::uint32_t, PageBytes>& own, const PageSource& source) {
  for (const auto& [page_number, bytes] : maps.new_pages()) file_.Write(page_number, bytes);
  for (std::uint32_t page_number : maps.WriteOrder()) file_.Write(page_number, source ? source(page_number) : own.at(page_number));
}

bool IndexMaintenance::empty() const { return plans_.empty(); }

void IndexMaintenance::WriteNewPages() {
  std::map<std::uint32_t, const PageBytes*> fresh;
  for (const IndexUpdatePlan& plan : plans_) {
    for (const IndexPageWrite& write : plan.before_row) fresh[write.page_number] = &write.bytes;
  }
  // New pages join the file in page order, each with its first content.
  for (std::uint32_t page_number : new_pages_) file_.Write(page_number, *fresh.at(page_number));
}

void IndexMaintenance::WriteEntryPages() {
  for (const IndexUpdatePlan& plan : plans_) {
    for (const IndexPageWrite& write : plan.before_row) {
      if (std::find(new_pages_.begin(), new_pages_.end(), write.page_number) == new_pages_.end()) {
        file_.Write(write.page_number, write.bytes);
      }
    }
  }
}

void IndexMaintenance::WriteBeforeRow() {
  // The maps are changed in memory first: a refusal then writes nothing.
  std::map<std::uint32_t, PageBytes> own;
  MapGrowth maps(file_, file_.page_count() + new_page_count(), OwnCopies(file_, own));
  AddNewPages(maps);
  maps.Finish();
  WriteNewPages();
  WriteMaps(maps, own, {});
  WriteEntryPages();
}

void IndexMaintenance::WriteAfterRow(const PageSource& source) {
  for (const IndexUpdatePlan& plan : plans_) {
    for (const IndexPageWrite& write : plan.after_row) file_.Write(write.page_number, write.bytes);
  }
  if (leaving_bits_.empty()) return;
  // A page leaves its index's map before the global map frees it.
  std::map<std::uint32_t, PageBytes> own;
  MapGrowth maps(file_, file_.page_count(), source ? source : OwnCopies(file_, own));
  for (const MapBit& bit : leaving_bits_) maps.Remove(bit.map, bit.page_number);
  for (const MapBit& bit : leaving_bits_) maps.Release(bit.page_number);
  WriteMaps(maps, own, source);
}

}  // namespace jet
