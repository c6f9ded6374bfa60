#include "jet/testing/fixture_database.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>


namespace jet::testing {
namespace {

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint64_t Get64(std::span<const std::uint8_t> b, std::size_t at) {
  return Get32(b, at) | (static_cast<std::uint64_t>(Get32(b, at + 4)) << 32);
}

std::u16string DecodeText(std::span<const std::uint8_t> raw) {
  std::u16string text;
  if (raw.size() >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
    bool compressed = true;
    std::size_t i = 2;
    while (i < raw.size()) {
      if (compressed) {
        if (raw[i] == 0) {
          compressed = false;
          ++i;
          continue;
        }
        text.push_back(raw[i++]);
      } else {
        if (i + 1 >= raw.size()) break;
        if (raw[i] == 0) {
          compressed = true;
          ++i;
          continue;
        }
        text.push_back(static_cast<char16_t>(raw[i] | (raw[i + 1] << 8)));
        i += 2;
      }
    }
    return text;
  }
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2) text.push_back(static_cast<char16_t>(raw[i] | (raw[i + 1] << 8)));
  return text;
}

}  // namespace

const FixtureColumn& FixtureTable::Column(std::u16string_view name) const {
  for (const auto& column : columns) {
    if (column.name == name) return column;
  }
  throw std::runtime_error("no such column in the fixture");
}

FixtureDatabase::FixtureDatabase(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open fixture " + path.string());
  bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::span<const std::uint8_t> FixtureDatabase::Page(std::uint32_t number) const {
  if (number >= page_count()) Corrupt(number, "page beyond the end of the fixture");
  return std::span<const std::uint8_t>(bytes_).subspan(std::size_t{number} * kIndexPageSize, kIndexPageSize);
}

std::span<std::uint8_t> FixtureDatabase::MutablePage(std::uint32_t number) {
  return std::span<std::uint8_t>(bytes_).subspan(std::size_t{number} * kIndexPageSize, kIndexPageSize);
}

void FixtureDatabase::Corrupt(std::uint32_t page_number, const std::string& detail) const {
  throw std::runtime_error("fixture page " + std::to_string(page_number) + ": " + detail);
}

std::vector<std::uint8_t> FixtureDatabase::TableBuffer(std::uint32_t page) const {
  auto first = Page(page);
  std::vector<std::uint8_t> buffer(first.begin(), first.end());
  for (std::uint32_t next = Get32(first, 4); next != 0;) {
    auto more = Page(next);
    buffer.insert(buffer.end(), more.begin() + 8, more.end());
    next = Get32(more, 4);
  }
  return buffer;
}

FixtureTable FixtureDatabase::FindTable(std::u16string_view wanted) const {
  for (std::uint32_t page = 3; page < page_count(); ++page) {
    auto head = Page(page);
    if (head[0] != 0x02 || head[1] != 0x01) continue;
    const std::vector<std::uint8_t> b = TableBuffer(page);
    if (b.size() < 63) continue;
    const std::uint16_t column_count = Get16(b, 45);
    const std::uint32_t logical_count = Get32(b, 47);
    const std::uint32_t real_count = Get32(b, 51);
    if (real_count > 64 || logical_count > 64 || column_count > 255) continue;
    FixtureTable table;
    table.page = page;
    table.owned_map = Get32(b, 55);
    std::size_t at = 63 + 12 * std::size_t{real_count};
    bool ok = true;
    for (std::uint16_t i = 0; i < column_count && ok; ++i, at += 25) {
      if (at + 25 > b.size()) {
        ok = false;
        break;
      }
      FixtureColumn c;
      c.type = b[at];
      c.number = Get16(b, at + 5);
      c.var_index = Get16(b, at + 7);
      c.sort_order = Get16(b, at + 11);
      c.sort_version = b[at + 14];
      c.flags = b[at + 15];
      c.fixed_offset = Get16(b, at + 21);
      c.length = Get16(b, at + 23);
      table.columns.push_back(c);
    }
    for (auto& c : table.columns) {
      if (!ok || at + 2 > b.size()) {
        ok = false;
        break;
      }
      const std::uint16_t length = Get16(b, at);
      if (at + 2 + length > b.size()) {
        ok = false;
        break;
      }
      for (std::size_t i = 0; i + 1 < length; i += 2) c.name.push_back(static_cast<char16_t>(Get16(b, at + 2 + i)));
      at += 2 + length;
    }
    if (!ok) continue;
    const bool found =
        std::any_of(table.columns.begin(), table.columns.end(), [&](const FixtureColumn& c) { return c.name == wanted; });
    if (!found) continue;

    for (std::uint32_t i = 0; i < real_count; ++i, at += kJet4Format.real_index_size) table.real_index_offsets.push_back(at);
    table.indexes = IndexDefinitionsOf(DecodeTableDefinition(b, page, kJet4Format, *this), *this);
    return table;
  }
  throw std::runtime_error("no table with that column in the fixture");
}

std::vector<KeyValue> FixtureDatabase::RowValues(const FixtureTable& table, EntryRow where,
                                                 std::span<const std::uint16_t> wanted) const {
  auto page = Page(where.page);
  std::uint16_t offset = Get16(page, 14 + 2 * std::size_t{where.row});
  if ((offset & 0x4000) != 0) {
    const std::size_t start = offset & 0x1FFF;
    where = EntryRow{Get32(page, start) >> 8, page[start]};
    page = Page(where.page);
    offset = Get16(page, 14 + 2 * std::size_t{where.row});
  }
  const std::size_t start = offset & 0x1FFF;
  const std::size_t end = where.row == 0 ? kIndexPageSize : (Get16(page, 14 + 2 * std::size_t{where.row - 1u}) & 0x1FFF);
  const auto row = page.subspan(start, end - start);
  const std::uint16_t column_count = Get16(row, 0);
  const std::size_t mask_size = (column_count + 7) / 8;
  const auto mask = row.subspan(row.size() - mask_size);
  std::size_t var_count = 0;
  bool has_var = std::any_of(table.columns.begin(), table.columns.end(), [](const FixtureColumn& c) { return !c.fixed(); });
  if (has_var) var_count = Get16(row, row.size() - mask_size - 2);

  std::vector<KeyValue> values;
  for (std::uint16_t number : wanted) {
    const FixtureColumn* column = nullptr;
    for (const auto& c : table.columns) {
      if (c.number == number) column = &c;
    }
    const bool present = number < column_count && (mask[number / 8] & (1u << (number % 8))) != 0;
    if (column->column_type() == ColumnType::kBoolean) {
      values.emplace_back(present);
      continue;
    }
    if (!present) {
      values.emplace_back(std::monostate{});
      continue;
    }
    std::span<const std::uint8_t> raw;
    if (column->fixed()) {
      raw = row.subspan(2 + column->fixed_offset, column->length);
    } else {
      if (column->var_index >= var_count) {
        values.emplace_back(std::monostate{});
        continue;
      }
      const std::size_t table_end = row.size() - mask_size - 2;
      const std::uint16_t from = Get16(row, table_end - 2 - 2 * std::size_t{column->var_index});
      const std::uint16_t to = Get16(row, table_end - 4 - 2 * std::size_t{column->var_index});
      raw = row.subspan(from, to - from);
    }
    switch (column->column_type()) {
      case ColumnType::kByte: values.emplace_back(std::int64_t{raw[0]}); break;
      case ColumnType::kInteger: values.emplace_back(std::int64_t{static_cast<std::int16_t>(Get16(raw, 0))}); break;
      case ColumnType::kLong: values.emplace_back(std::int64_t{static_cast<std::int32_t>(Get32(raw, 0))}); break;
      case ColumnType::kCurrency: values.emplace_back(static_cast<std::int64_t>(Get64(raw, 0))); break;
      case ColumnType::kFloat: {
        float f;
        const std::uint32_t bits = Get32(raw, 0);
        std::memcpy(&f, &bits, 4);
        values.emplace_back(double{f});
        break;
      }
      case ColumnType::kDouble:
      case ColumnType::kDateTime: {
        double d;
        const std::uint64_t bits = Get64(raw, 0);
        std::memcpy(&d, &bits, 8);
        values.emplace_back(d);
        break;
      }
      case ColumnType::kText: values.emplace_back(DecodeText(raw)); break;
      default: throw std::runtime_error("fixture reader: column type not handled");
    }
  }
  return values;
}

std::vector<EntryRow> FixtureDatabase::ScanRows(const FixtureTable& table) const {
  // Owned map: inline (type 0, start page, bitmap) or reference (type 1,
  // pages of bitmaps).
  const std::uint32_t map_page = table.owned_map >> 8;
  const std::uint8_t map_row = static_cast<std::uint8_t>(table.owned_map);
  auto page = Page(map_page);
  const std::size_t start = Get16(page, 14 + 2 * std::size_t{map_row}) & 0x1FFF;
  const std::size_t end = map_row == 0 ? kIndexPageSize : (Get16(page, 14 + 2 * std::size_t{map_row - 1u}) & 0x1FFF);
  const auto map = page.subspan(start, end - start);
  std::vector<std::uint32_t> owned;
  if (map[0] == 0x00) {
    const std::uint32_t first = Get32(map, 1);
    for (std::size_t bit = 0; bit < (map.size() - 5) * 8; ++bit) {
      if ((map[5 + bit / 8] & (1u << (bit % 8))) != 0) owned.push_back(static_cast<std::uint32_t>(first + bit));
    }
  } else {
    for (std::size_t j = 0; 1 + 4 * j + 4 <= map.size(); ++j) {
      const std::uint32_t bitmap_page = Get32(map, 1 + 4 * j);
      if (bitmap_page == 0) continue;
      auto bitmap = Page(bitmap_page);
      for (std::size_t bit = 0; bit < (kIndexPageSize - 4) * 8; ++bit) {
        if ((bitmap[4 + bit / 8] & (1u << (bit % 8))) != 0) {
          owned.push_back(static_cast<std::uint32_t>(j * (kIndexPageSize - 4) * 8 + bit));
        }
      }
    }
  }
  std::vector<EntryRow> rows;
  for (const std::uint32_t number : owned) {
    if (number >= page_count()) continue;
    auto data = Page(number);
    if (data[0] != 0x01 || Get32(data, 4) != table.page) continue;
    const std::uint16_t count = Get16(data, 12);
    for (std::uint16_t slot = 0; slot < count; ++slot) {
      if ((Get16(data, 14 + 2 * std::size_t{slot}) & 0x8000) != 0) continue;
      rows.push_back({number, static_cast<std::uint8_t>(slot)});
    }
  }
  return rows;
}

std::vector<std::pair<std::uint32_t, IndexPage>> LoadTree(const FixtureDatabase& db, std::uint32_t root) {
  std::vector<std::pair<std::uint32_t, IndexPage>> pages;
  std::vector<std::uint32_t> pending{root};
  while (!pending.empty()) {
    const std::uint32_t number = pending.front();
    pending.erase(pending.begin());
    IndexPage page = DecodeIndexPage(db.Page(number), number, db);
    if (!page.leaf) {
      for (const auto& entry : page.entries) pending.push_back(entry.child);
      if (page.tail != 0) pending.push_back(page.tail);
    }
    pages.emplace_back(number, std::move(page));
  }
  return pages;
}

}  // namespace jet::testing
