// A table's definition (TDEF pages): its columns, its real indexes and where
// its usage maps lie.
#ifndef JET_TABLE_DEFINITION_H_
#define JET_TABLE_DEFINITION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/column_type.h"
#include "jet/data_page.h"
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

  bool fixed() const { return (flags & 0x01) != 0; }
  bool compressible() const { return (extra_flags & 0x01) != 0; }
  ColumnType column_type() const { return static_cast<ColumnType>(type); }
};

struct RealIndex {
  std::vector<std::uint16_t> column_numbers;
};

struct TableDefinition {
  std::uint32_t page = 0;
  std::uint32_t row_count = 0;
  std::uint16_t max_columns = 0;
  std::uint16_t var_columns = 0;
  std::vector<Column> columns;  // in column-number order
  std::vector<RealIndex> real_indexes;
  RowPointer owned_map;
  RowPointer free_map;

  // Returns the column named `name` without regard to case, or nullptr.
  const Column* FindColumn(std::u16string_view name) const;

  // Returns true when a real index uses the column.
  bool IsIndexed(const Column& column) const;
};

// Reads the definition starting at `page_number`. Throws CorruptDatabase.
TableDefinition ReadTableDefinition(PageFile& file, std::uint32_t page_number);

// Returns `text` with letters folded to upper case (Latin, Latin-1, Greek and
// Cyrillic), for comparing names without regard to case as Jet does.
std::u16string FoldCase(std::u16string_view text);

}  // namespace jet

#endif  // JET_TABLE_DEFINITION_H_
