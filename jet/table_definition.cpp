#include "jet/table_definition.h"

#include <algorithm>
#include <unordered_set>

#include "jet/bytes.h"

namespace jet {
namespace {

constexpr std::uint8_t kTableDefinitionType = 0x02;
constexpr std::size_t kMaxDefinitionPages = 64;
constexpr std::size_t kMaxIndexes = 1000;  // a sanity bound for damaged counts

// The whole definition, Jet 4 (offsets and sizes from format.h; the
// continuation pages' bytes follow the first page's, see ReadTableDefinition):
//   off  size           meaning
//   16   4              row count
//   41   2              highest column number + 1 (deleted columns keep theirs)
//   43   2              variable-length columns
//   45   2              columns
//   47   4              logical indexes
//   51   4              real indexes
//   55   4              usage map of the table's data pages (row, 3-byte page)
//   59   4              usage map of its pages with free space
//   63   12 x real      per real index: 4 unknown, 4 unique-entry count,
//                       4 unknown
//   ..   25 x columns   column descriptors
//   ..   columns x ..   column names: 2-byte length in bytes, UTF-16LE
//   ..   52 x real      real index records
//   ..   28 x logical   logical index records
//   ..   logical x ..   logical index names, as the column names
// Column descriptor (25 bytes):
//   0   1  type (a ColumnType)
//   5   2  column number
//   7   2  variable-offset table slot
//   11  2  text: sort order LCID; numeric: precision (11) and scale (12)
//   14  1  text: sort order version
//   15  1  flags: 0x01 fixed length
//   16  1  extra flags: 0x01 compressed Unicode allowed
//   21  2  offset in the fixed area
//   23  2  length in bytes
// Real index record (52 bytes):
//   0   4  unknown (1923 in every file seen)
//   4   30 ten slots of (2-byte column number, 0xFFFF unused; 1-byte order,
//          0x01 ascending)
//   34  4  usage map of the index's pages (row, 3-byte page)
//   38  4  root page of the tree
//   42  4  unknown
//   46  1  flags: 0x01 unique, 0x02 ignore nulls, 0x08 required
//   47  5  unknown
// Logical index record (28 bytes):
//   0   4  unknown
//   4   4  index number
//   8   4  the real index it names (position among the records above)
//   12  1  related table type
//   13  4  related index number
//   17  4  related table's definition page
//   21  1  cascade updates     22  1  cascade deletes
//   23  1  kind: 1 primary key, 2 foreign key, 0 other
//   24  4  unknown
constexpr std::size_t kRealIndexColumnSlots = 10;
constexpr std::size_t kRealIndexSlotSize = 3;
constexpr std::uint16_t kUnusedSlot = 0xFFFF;
constexpr std::uint8_t kAscendingSlot = 0x01;

// A bounds-checked reader over the concatenated definition.
class Reader {
 public:
  Reader(const CorruptionReporter& reporter, std::uint32_t page, std::span<const std::uint8_t> bytes)
      : reporter_(reporter), page_(page), bytes_(bytes) {}

  std::span<const std::uint8_t> Take(std::size_t at, std::size_t size) const {
    if (at > bytes_.size() || size > bytes_.size() - at) reporter_.Corrupt(page_, "the table definition ends too early");
    return bytes_.subspan(at, size);
  }
  std::uint8_t U8(std::size_t at) const { return Take(at, 1)[0]; }
  std::uint16_t U16(std::size_t at) const { return Get16(Take(at, 2), 0); }
  std::uint32_t U32(std::size_t at) const { return Get32(Take(at, 4), 0); }

  // Returns the name at `at` (a length of `length_size` bytes, then UTF-16LE)
  // and moves `at` past it.
  std::u16string Name(std::size_t& at, std::size_t length_size) const {
    const std::size_t length = length_size == 1 ? U8(at) : U16(at);
    const std::span<const std::uint8_t> bytes = Take(at + length_size, length);
    std::u16string name;  // Encoding: UTF-16LE bytes -> UTF-16.
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) name.push_back(static_cast<char16_t>(Get16(bytes, i)));
    at += length_size + length;
    return name;
  }

 private:
  const CorruptionReporter& reporter_;
  std::uint32_t page_;
  std::span<const std::uint8_t> bytes_;
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
  return std::any_of(real_indexes.begin(), real_indexes.end(),
                     [&](const RealIndex& index) { return index.Uses(column.number); });
}

bool RealIndex::Uses(std::uint16_t column_number) const {
  return std::any_of(columns.begin(), columns.end(), [&](const IndexColumn& c) { return c.number == column_number; });
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
  return DecodeTableDefinition(bytes, page_number, format, PageFileReporter(file));
}

TableDefinition DecodeTableDefinition(std::span<const std::uint8_t> definition, std::uint32_t page_number,
                                      const FormatDescription& format, const CorruptionReporter& reporter) {
  const Reader in(reporter, page_number, definition);
  TableDefinition table;
  table.page = page_number;
  table.row_count = in.U32(format.tdef_row_count_offset);
  table.max_columns = in.U16(format.tdef_max_columns_offset);
  table.var_columns = in.U16(format.tdef_var_columns_offset);
  const std::size_t column_count = in.U16(format.tdef_columns_offset);
  const std::size_t logical_count = in.U32(format.tdef_logical_indexes_offset);
  const std::size_t real_count = in.U32(format.tdef_real_indexes_offset);
  if (real_count > kMaxIndexes || logical_count > kMaxIndexes) {
    reporter.Corrupt(page_number, "the table definition counts too many indexes");
  }
  table.owned_map = ReadRowPointer(in.Take(format.tdef_owned_map_offset, 4));
  table.free_map = ReadRowPointer(in.Take(format.tdef_free_map_offset, 4));

  std::size_t at = format.tdef_real_index_block_offset + format.tdef_real_index_block_size * real_count;
  const FormatDescription::ColumnFields& field = format.column_fields;
  table.columns.resize(column_count);
  for (Column& column : table.columns) {
    const std::span<const std::uint8_t> d = in.Take(at, format.column_size);
    column.type = d[field.type];
    column.number = Get16(d, field.number);
    column.var_index = Get16(d, field.var_index);
    column.precision = d[field.precision];
    column.scale = d[field.scale];
    column.sort_order = Get16(d, field.sort_order);
    column.sort_version = d[field.sort_version];
    column.flags = d[field.flags];
    column.extra_flags = d[field.extra_flags];
    column.fixed_offset = Get16(d, field.fixed_offset);
    column.length = Get16(d, field.length);
    at += format.column_size;
  }
  for (Column& column : table.columns) column.name = in.Name(at, format.column_name_length_size);

  const FormatDescription::RealIndexFields& index_field = format.real_index_fields;
  table.real_indexes.resize(real_count);
  for (RealIndex& index : table.real_indexes) {
    const std::span<const std::uint8_t> d = in.Take(at, format.real_index_size);
    for (std::size_t slot = 0; slot < kRealIndexColumnSlots; ++slot) {
      const std::size_t from = index_field.first_slot + kRealIndexSlotSize * slot;
      const std::uint16_t number = Get16(d, from);
      if (number != kUnusedSlot) index.columns.push_back({number, (d[from + 2] & kAscendingSlot) != 0});
    }
    index.owned_map = ReadRowPointer(d.subspan(index_field.owned_map, 4));
    index.root_page = Get32(d, index_field.root_page);
    index.flags = d[index_field.flags];
    at += format.real_index_size;
  }

  const FormatDescription::LogicalIndexFields& logical_field = format.logical_index_fields;
  table.logical_indexes.resize(logical_count);
  for (LogicalIndex& index : table.logical_indexes) {
    const std::span<const std::uint8_t> d = in.Take(at, format.logical_index_size);
    index.real_index = Get32(d, logical_field.real_index);
    index.kind = d[logical_field.kind];
    at += format.logical_index_size;
  }
  for (LogicalIndex& index : table.logical_indexes) index.name = in.Name(at, format.column_name_length_size);

  std::stable_sort(table.columns.begin(), table.columns.end(),
                   [](const Column& a, const Column& b) { return a.number < b.number; });
  return table;
}

}  // namespace jet
