// A table's definition (TDEF pages): its columns, its indexes as the
// definition records them, and where its usage maps lie. Turning the
// indexes into what key building and tree updates need is
// index_definition.h's part.
#ifndef JET_TABLE_DEFINITION_H_
#define JET_TABLE_DEFINITION_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/column_type.h"
#include "jet/data_page.h"
#include "jet/errors.h"
#include "jet/format.h"
#include "jet/page_file.h"

namespace jet {

struct Column {
  std::u16string name;
  std::uint8_t type = 0;  // a ColumnType, or another byte the file holds
  std::uint16_t number = 0;     // bit of the null mask
  std::uint16_t var_index = 0;  // slot in the variable-offset table
  std::uint16_t fixed_offset = 0;
  std::uint16_t length = 0;  // bytes; text: 2 per character
  std::uint8_t flags = 0;
  std::uint8_t extra_flags = 0;
  std::uint8_t precision = 0;  // numeric
  std::uint8_t scale = 0;      // numeric
  std::uint16_t sort_order = 0;   // text: LCID of the sort order
  std::uint8_t sort_version = 0;  // text: 0 = General legacy

  bool fixed() const { return (flags & 0x01) != 0; }
  bool compressible() const { return (extra_flags & 0x01) != 0; }
  ColumnType column_type() const { return static_cast<ColumnType>(type); }
};

// One column of a real index's key.
struct IndexColumn {
  std::uint16_t number = 0;  // a Column::number
  bool ascending = true;
};

// A physical index: the tree and its pages. Several logical indexes may
// share one.
struct RealIndex {
  std::vector<IndexColumn> columns;  // in key order
  RowPointer owned_map;              // usage map of the index's pages
  std::uint32_t root_page = 0;
  std::uint8_t flags = 0;  // 0x01 unique, 0x02 ignore nulls, 0x08 required

  // Returns true when `column_number` is one of the key's columns.
  bool Uses(std::uint16_t column_number) const;
};

// An index as Access shows it: a name over a real index.
struct LogicalIndex {
  std::u16string name;
  std::uint32_t real_index = 0;  // position in TableDefinition::real_indexes
  std::uint8_t kind = 0;         // 1 primary key, 2 foreign key, 0 other

  bool primary_key() const { return kind == 1; }
};

struct TableDefinition {
  std::uint32_t page = 0;
  std::uint32_t row_count = 0;
  std::uint16_t max_columns = 0;
  std::uint16_t var_columns = 0;
  std::vector<Column> columns;  // in column-number order
  std::vector<RealIndex> real_indexes;
  std::vector<LogicalIndex> logical_indexes;
  RowPointer owned_map;
  RowPointer free_map;

  // Returns the column named `name` without regard to case, or nullptr.
  const Column* FindColumn(std::u16string_view name) const;

  // Returns true when a real index uses the column.
  bool IsIndexed(const Column& column) const;
};

// Reports damage found by a decoder as CorruptDatabase naming `file`.
class PageFileReporter : public CorruptionReporter {
 public:
  explicit PageFileReporter(PageFile& file) : file_(file) {}
  [[noreturn]] void Corrupt(std::uint32_t page_number, const std::string& detail) const override {
    file_.Corrupt(page_number, detail);
  }

 private:
  PageFile& file_;
};

// Reads the definition starting at `page_number`: that page and the
// continuation pages it chains to. Throws CorruptDatabase.
TableDefinition ReadTableDefinition(PageFile& file, std::uint32_t page_number);

// Decodes a whole definition laid out as `format` says: the first page
// followed by the bytes after the header of each continuation page, as
// ReadTableDefinition gathers them; `page_number` is the first page's.
// Reports through `reporter` counts or lengths running past the bytes and
// impossible numbers of indexes.
TableDefinition DecodeTableDefinition(std::span<const std::uint8_t> definition, std::uint32_t page_number,
                                      const FormatDescription& format, const CorruptionReporter& reporter);

// Returns `text` with letters folded to upper case (Latin, Latin-1, Greek and
// Cyrillic), for comparing names without regard to case as Jet does.
std::u16string FoldCase(std::u16string_view text);

}  // namespace jet

#endif  // JET_TABLE_DEFINITION_H_
