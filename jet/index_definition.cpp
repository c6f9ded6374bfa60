#include "jet/index_definition.h"

#include <algorithm>
#include <cassert>
#include <map>

#include "jet/index_page.h"

namespace jet {
namespace {

constexpr std::size_t kPartsOffset = 4;
constexpr std::size_t kMaxParts = 10;
constexpr std::uint16_t kUnusedPart = 0xFFFF;
constexpr std::uint8_t kAscendingPart = 0x01;
constexpr std::size_t kOwnedMapOffset = 34;
constexpr std::size_t kRootOffset = 38;
constexpr std::size_t kFlagsOffset = 46;

std::uint32_t Get32Le(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t Get16Le(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// Table definition offsets (Jet 4), in the whole definition.
constexpr std::size_t kColumnCountOffset = 45;
constexpr std::size_t kLogicalCountOffset = 47;
constexpr std::size_t kRealCountOffset = 51;
constexpr std::size_t kRealBlockOffset = 63;
constexpr std::size_t kRealBlockSize = 12;
constexpr std::size_t kColumnSize = 25;
constexpr std::size_t kLogicalIndexSize = 28;
constexpr std::size_t kMaxIndexes = 1000;  // a sanity bound for damaged counts

// Column descriptor fields the keys need.
constexpr std::size_t kColumnTypeOffset = 0;
constexpr std::size_t kColumnNumberOffset = 5;
constexpr std::size_t kColumnSortOrderOffset = 11;
constexpr std::size_t kColumnSortVersionOffset = 14;

// Logical index fields.
constexpr std::size_t kLogicalRealOffset = 8;
constexpr std::size_t kLogicalTypeOffset = 23;
constexpr std::uint8_t kPrimaryKeyType = 1;

}  // namespace

std::vector<IndexDefinition> ReadIndexDefinitions(std::span<const std::uint8_t> definition, std::uint32_t table_page,
                                                  const CorruptionReporter& reporter) {
  std::size_t at = 0;
  auto need = [&](std::size_t bytes) {
    if (at + bytes > definition.size()) reporter.Corrupt(table_page, "the table definition ends too early");
  };
  at = kRealBlockOffset;
  need(0);
  const std::uint16_t column_count = Get16Le(definition, kColumnCountOffset);
  const std::uint32_t logical_count = Get32Le(definition, kLogicalCountOffset);
  const std::uint32_t real_count = Get32Le(definition, kRealCountOffset);
  if (logical_count > kMaxIndexes || real_count > kMaxIndexes) {
    reporter.Corrupt(table_page, "the table definition counts too many indexes");
  }
  at += kRealBlockSize * real_count;

  struct ColumnFacts {
    std::uint8_t type;
    std::uint16_t sort_order;
    std::uint8_t sort_version;
  };
  std::map<std::uint16_t, ColumnFacts> columns;
  for (std::uint16_t i = 0; i < column_count; ++i) {
    need(kColumnSize);
    const auto column = definition.subspan(at, kColumnSize);
    columns[Get16Le(column, kColumnNumberOffset)] = {column[kColumnTypeOffset], Get16Le(column, kColumnSortOrderOffset),
                                                     column[kColumnSortVersionOffset]};
    at += kColumnSize;
  }
  for (std::uint16_t i = 0; i < column_count; ++i) {
    need(2);
    const std::uint16_t length = Get16Le(definition, at);
    need(2u + length);
    at += 2u + length;
  }
  std::vector<RealIndexRecord> records;
  for (std::uint32_t i = 0; i < real_count; ++i) {
    need(kRealIndexSize);
    records.push_back(DecodeRealIndex(definition.subspan(at, kRealIndexSize)));
    at += kRealIndexSize;
  }
  std::vector<std::pair<std::uint32_t, bool>> logical;  // real index, primary key
  for (std::uint32_t i = 0; i < logical_count; ++i) {
    need(kLogicalIndexSize);
    logical.emplace_back(Get32Le(definition, at + kLogicalRealOffset),
                         definition[at + kLogicalTypeOffset] == kPrimaryKeyType);
    at += kLogicalIndexSize;
  }
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < logical_count; ++i) {
    need(2);
    const std::uint16_t length = Get16Le(definition, at);
    need(2u + length);
    std::u16string name;
    for (std::size_t k = 0; k + 1 < length; k += 2) name.push_back(static_cast<char16_t>(Get16Le(definition, at + 2 + k)));
    // Encoding: UTF-16 -> UTF-8, for messages.
    std::string utf8;
    for (std::size_t k = 0; k < name.size(); ++k) {
      std::uint32_t c = name[k];
      if (c >= 0xD800 && c < 0xDC00 && k + 1 < name.size() && name[k + 1] >= 0xDC00 && name[k + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (name[++k] - 0xDC00u);
      } else if (c >= 0xD800 && c < 0xE000) {
        c = 0xFFFD;
      }
      if (c < 0x80) {
        utf8.push_back(static_cast<char>(c));
      } else if (c < 0x800) {
        utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
        utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      } else if (c < 0x10000) {
        utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
        utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      } else {
        utf8.push_back(static_cast<char>(0xF0 | (c >> 18)));
        utf8.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    names.push_back(std::move(utf8));
    at += 2u + length;
  }

  std::vector<IndexDefinition> indexes;
  for (std::uint32_t i = 0; i < real_count; ++i) {
    IndexDefinition index;
    bool named_by_key = false;
    for (std::uint32_t l = 0; l < logical_count; ++l) {
      if (logical[l].first != i) continue;
      if (index.name.empty() || (logical[l].second && !named_by_key)) {
        index.name = names[l];
        named_by_key = logical[l].second;
      }
    }
    index.table_page = table_page;
    index.root_page = records[i].root_page;
    index.owned_map = records[i].owned_map;
    index.flags = records[i].flags;
    for (const auto& part : records[i].parts) {
      const auto column = columns.find(part.column_number);
      if (column == columns.end()) reporter.Corrupt(table_page, "an index uses a column the table does not have");
      index.column_numbers.push_back(part.column_number);
      index.columns.push_back({static_cast<ColumnType>(column->second.type), part.ascending, column->second.sort_order, column->second.sort_version});
    }
    indexes.push_back(std::move(index));
  }
  return indexes;
}

RealIndexRecord DecodeRealIndex(std::span<const std::uint8_t> bytes) {
  assert(bytes.size() >= kRealIndexSize);
  RealIndexRecord record;
  for (std::size_t i = 0; i < kMaxParts; ++i) {
    const std::size_t at = kPartsOffset + 3 * i;
    const auto number = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    if (number == kUnusedPart) continue;
    record.parts.push_back({number, (bytes[at + 2] & kAscendingPart) != 0});
  }
  record.owned_map = Get32Le(bytes, kOwnedMapOffset);
  record.root_page = Get32Le(bytes, kRootOffset);
  record.flags = bytes[kFlagsOffset];
  return record;
}

bool IndexDefinition::Uses(std::uint16_t column_number) const {
  return std::find(column_numbers.begin(), column_numbers.end(), column_number) != column_numbers.end();
}

}  // namespace jet
