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

constexpr RowPointer kGlobalMap{1, 0};

RowPointer MapPointer(std::uint32_t raw) { return RowPointer{raw >> 8, static_cast<std::uint8_t>(raw & 0xFF)}; }

// Returns the page holding `page_number`'s bit in `map`. Throws Unsupported
// when the map does not reach that page.
std::uint32_t HolderOf(PageFile& file, const UsageMap& map, std::uint32_t page_number) {
  const std::optional<std::uint32_t> holder = map.HolderPage(page_number);
  if (!holder) {
    throw Unsupported("An index of '" + file.path().string() +
                      "' needs a new page, and the usage maps cannot take one; extending them is not supported.");
  }
  return *holder;
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
  std::vector<std::pair<std::uint32_t, std::uint32_t>> joining;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> leaving;
  for (const IndexUpdatePlan& plan : plans_) {
    for (std::uint32_t page_number : plan.new_pages) joining.emplace_back(page_number, plan.owned_map);
    for (std::uint32_t page_number : plan.released_pages) leaving.emplace_back(page_number, plan.owned_map);
  }
  for (const auto& [page_number, owned_map] : joining) new_pages_.push_back(page_number);
  std::sort(new_pages_.begin(), new_pages_.end());
  // A page may both join and leave in one update; it then stays allocated
  // and empty of entries, which no walk reaches.
  std::erase_if(leaving, [&](const auto& page) {
    return std::find(new_pages_.begin(), new_pages_.end(), page.first) != new_pages_.end();
  });
  // The global map marks free pages, an index's map its own pages.
  for (const auto& [page_number, owned_map] : joining) {
    joining_bits_.push_back({kGlobalMap, page_number, false});
    joining_bits_.push_back({MapPointer(owned_map), page_number, true});
  }
  for (const auto& [page_number, owned_map] : leaving) {
    leaving_bits_.push_back({MapPointer(owned_map), page_number, false});
    leaving_bits_.push_back({kGlobalMap, page_number, true});
  }
  for (const auto* bits : {&joining_bits_, &leaving_bits_}) {
    for (const MapBit& bit : *bits) HolderOf(file_, UsageMap(file_, bit.map), bit.page_number);
  }
}

void IndexMaintenance::WriteMapBits(const std::vector<MapBit>& bits, const PageSource& source) {
  std::map<std::uint32_t, PageBytes> own;
  std::vector<std::pair<std::uint32_t, PageBytes*>> touched;
  for (const MapBit& bit : bits) {
    const UsageMap map(file_, bit.map);
    const std::uint32_t holder = HolderOf(file_, map, bit.page_number);
    PageBytes* bytes = nullptr;
    if (source) {
      bytes = &source(holder);
    } else {
      auto found = own.find(holder);
      if (found == own.end()) found = own.emplace(holder, file_.ReadFresh(holder)).first;
      bytes = &found->second;
    }
    map.ApplyChange(bit.page_number, bit.present, *bytes);
    if (std::none_of(touched.begin(), touched.end(), [&](const auto& t) { return t.first == holder; })) {
      touched.emplace_back(holder, bytes);
    }
  }
  std::sort(touched.begin(), touched.end());
  for (const auto& [holder, bytes] : touched) file_.Write(holder, *bytes);
}

bool IndexMaintenance::empty() const { return plans_.empty(); }

void IndexMaintenance::WriteBeforeRow(const PageSource& source) {
  std::map<std::uint32_t, const PageBytes*> fresh;
  for (const IndexUpdatePlan& plan : plans_) {
    for (const IndexPageWrite& write : plan.before_row) fresh[write.page_number] = &write.bytes;
  }
  // New pages join the file in page order, each with its first content.
  for (std::uint32_t page_number : new_pages_) file_.Write(page_number, *fresh.at(page_number));
  WriteMapBits(joining_bits_, source);
  for (const IndexUpdatePlan& plan : plans_) {
    for (const IndexPageWrite& write : plan.before_row) {
      if (std::find(new_pages_.begin(), new_pages_.end(), write.page_number) == new_pages_.end()) {
        file_.Write(write.page_number, write.bytes);
      }
    }
  }
}

void IndexMaintenance::WriteAfterRow(const PageSource& source) {
  for (const IndexUpdatePlan& plan : plans_) {
    for (const IndexPageWrite& write : plan.after_row) file_.Write(write.page_number, write.bytes);
  }
  WriteMapBits(leaving_bits_, source);
}

}  // namespace jet
