// The real indexes of a table as the index code needs them: which columns in
// which order and direction with their types and sort orders, where the tree
// starts, the index's flags, and a name for messages. The bytes are decoded
// by table_definition.h; this file only gathers what keys and tree updates
// take from that decoding.
#ifndef JET_INDEX_DEFINITION_H_
#define JET_INDEX_DEFINITION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "jet/errors.h"
#include "jet/index_key.h"
#include "jet/table_definition.h"

namespace jet {

inline constexpr std::uint8_t kIndexUnique = 0x01;
inline constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr std::uint8_t kIndexRequired = 0x08;

// An index ready for key building and tree updates.
struct IndexDefinition {
  std::string name;  // the logical index name, for messages
  std::uint32_t table_page = 0;
  std::vector<std::uint16_t> column_numbers;  // in key order
  std::vector<KeyColumn> columns;             // parallel to column_numbers
  std::uint32_t root_page = 0;
  std::uint32_t owned_map = 0;  // raw pointer: row in the low byte, page above
  std::uint8_t flags = 0;

  bool unique() const { return (flags & kIndexUnique) != 0; }
  bool ignore_nulls() const { return (flags & kIndexIgnoreNulls) != 0; }
  bool required() const { return (flags & kIndexRequired) != 0; }

  // Returns true when the index has `column_number` among its columns.
  bool Uses(std::uint16_t column_number) const;
};

// Returns the real indexes of `table`, in the definition's order. Each index
// is named after the first logical index that uses it (a primary key's name
// preferred), and carries the type and sort order of its columns. Reports
// through `reporter` an index naming a column the table lacks.
std::vector<IndexDefinition> IndexDefinitionsOf(const TableDefinition& table, const CorruptionReporter& reporter);

}  // namespace jet

#endif  // JET_INDEX_DEFINITION_H_
