#include "jet/table_definition.h"

#include <algorithm>
#include <unordered_set>

#include "jet/bytes.h"

namespace jet {
namespace {

constexpr std::uint8_t kTableDefinitionType = 0x02;
constexpr std::size_t kMaxDefinitionPages = 64;

// Column descriptor, Jet 4 (25 bytes):
//   0   1  type
//   5   2  column number
//   7   2  variable-offset table slot
//   11  1  numeric precision    12  1  numeric scale
//   15  1  flags: 0x01 fixed length
//   16  1  extra flags: 0x01 compressed Unicode allowed
//   21  2  offset in the fixed area
//   23  2  length in bytes
// Real index definition, Jet 4 (52 bytes):
//   4   30 ten slots of (2-byte column number, 0xFFFF unused; 1-byte order)
constexpr std::size_t kRealIndexColumnSlots = 10;
constexpr std::uint16_t kUnusedSlot = 0xFFFF;

// A bounds-checked reader over the concatenated definition.
class Reader {
 public:
  Reader(PageFile& file, std::uint32_t page, const std::vector<std::uint8_t>& bytes) : file_(file), page_(page), bytes_(bytes) {}

  std::span<const std::uint8_t> Take(std::size_t at, std::size_t size) const {
    if (at > bytes_.size() || size > bytes_.size() - at) file_.Corrupt(page_, "the table definition is cut short");
    return std::span<const std::uint8_t>(bytes_.data() + at, size);
  }
  std::uint8_t U8(std::size_t at) const { return Take(at, 1)[0]; }
  std::uint16_t U16(std::size_t at) const { return Get16(Take(at, 2), 0); }
  std::uint32_t U32(std::size_t at) const { return Get32(Take(at, 4), 0); }

 private:
  PageFile& file_;
  std::uint32_t page_;
  const std::vector<std::uint8_t>& bytes_;
};

char16_t FoldChar(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F)) {
    return static_cast<char16_t>(c - 0x20);
  }
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

}  // namespace

std::u16string FoldCase(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) c = FoldChar(c);
  return folded;
}

const Column* TableDefinition::FindColumn(std::u16string_view name) const {
  const std::u16string wanted = FoldCase(name);
  for (const Column& column : columns) {
    if (FoldCase(column.name) == wanted) return &column;
  }
  return nullptr;
}

bool TableDefinition::IsIndexed(const Column& column) const {
  for (const RealIndex& index : real_indexes) {
    if (std::find(index.column_numbers.begin(), index.column_numbers.end(), column.number) != index.column_numbers.end()) {
      return true;
    }
  }
  return false;
}

TableDefinition ReadTableDefinition(PageFile& file, std::uint32_t page_number) {
  const FormatDescription& format = file.format();
  std::vector<std::uint8_t> bytes;
  std::unordered_set<std::uint32_t> seen;
  for (std::uint32_t next = page_number; next != 0;) {
    if (!seen.insert(next).second || seen.size() > kMaxDefinitionPages) {
      file.Corrupt(page_number, "the pages of a table definition form a loop");
    }
    const PageRef page = file.Read(next);
    if ((*page)[0] != kTableDefinitionType) file.Corrupt(next, "expected a table definition page");
    const std::size_t skip = bytes.empty() ? 0 : format.tdef_continuation_header;
    bytes.insert(bytes.end(), page->begin() + static_cast<std::ptrdiff_t>(skip), page->end());
    next = Get32(*page, format.tdef_next_page_offset);
  }

  const Reader in(file, page_number, bytes);
  TableDefinition table;
  table.page = page_number;
  table.row_count = in.U32(format.tdef_row_count_offset);
  table.max_columns = in.U16(format.tdef_max_columns_offset);
  table.var_columns = in.U16(format.tdef_var_columns_offset);
  const std::size_t column_count = in.U16(format.tdef_columns_offset);
  const std::size_t logical_count = in.U32(format.tdef_logical_indexes_offset);
  const std::size_t real_count = in.U32(format.tdef_real_indexes_offset);
  if (real_count > 1000 || logical_count > 1000) file.Corrupt(page_number, "impossible number of indexes");
  table.owned_map = ReadRowPointer(in.Take(format.tdef_owned_map_offset, 4));
  table.free_map = ReadRowPointer(in.Take(format.tdef_free_map_offset, 4));

  std::size_t at = format.tdef_real_index_block_offset + format.tdef_real_index_block_size * real_count;
  table.columns.resize(column_count);
  for (Column& column : table.columns) {
    const std::span<const std::uint8_t> d = in.Take(at, format.column_size);
    column.type = d[0];
    column.number = Get16(d, 5);
    column.var_index = Get16(d, 7);
    column.precision = d[11];
    column.scale = d[12];
    column.flags = d[15];
    column.extra_flags = d[16];
    column.fixed_offset = Get16(d, 21);
    column.length = Get16(d, 23);
    at += format.column_size;
  }
  for (Column& column : table.columns) {
    const std::size_t length = in.U16(at);
    const std::span<const std::uint8_t> name = in.Take(at + format.column_name_length_size, length);
    for (std::size_t i = 0; i + 1 < name.size(); i += 2) column.name.push_back(static_cast<char16_t>(Get16(name, i)));
    at += format.column_name_length_size + length;
  }
  for (std::size_t i = 0; i < real_count; ++i) {
    const std::span<const std::uint8_t> d = in.Take(at, format.real_index_size);
    RealIndex index;
    for (std::size_t slot = 0; slot < kRealIndexColumnSlots; ++slot) {
      const std::uint16_t number = Get16(d, 4 + 3 * slot);
      if (number != kUnusedSlot) index.column_numbers.push_back(number);
    }
    table.real_indexes.push_back(std::move(index));
    at += format.real_index_size;
  }
  std::stable_sort(table.columns.begin(), table.columns.end(),
                   [](const Column& a, const Column& b) { return a.number < b.number; });
  return table;
}

}  // namespace jet
