// The real indexes of a table as the index code needs them: which columns in
// which order and direction, where the tree starts, and the index's flags.
//
// Real index definition (52 bytes in the table definition):
//   off  size  meaning
//   0    4     unknown (1923 in every file seen)
//   4    30    10 x (2-byte column number, 0xFFFF = unused; 1-byte flags,
//              0x01 = ascending)
//   34   4     usage map of the index's pages (row byte + 3-byte page)
//   38   4     root page of the tree
//   42   4     unknown
//   46   1     flags: 0x01 unique, 0x02 ignore nulls, 0x08 required
//   47   5     unknown
// Logical index definition (28 bytes): 4 unknown, 4 index number, 4 real
// index number, 1 related table type, 4 related index, 4 related table page,
// 1 cascade updates, 1 cascade deletes, 1 index type (1 primary key, 2
// foreign key), 4 unknown. Several logical indexes may share a real one.
#ifndef JET_INDEX_DEFINITION_H_
#define JET_INDEX_DEFINITION_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/index_key.h"

namespace jet {

inline constexpr std::size_t kRealIndexSize = 52;
inline constexpr std::uint8_t kIndexUnique = 0x01;
inline constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr std::uint8_t kIndexRequired = 0x08;

struct RealIndexRecord {
  struct Part {
    std::uint16_t column_number;
    bool ascending;
  };
  std::vector<Part> parts;      // in key order
  std::uint32_t owned_map = 0;  // raw pointer: row in the low byte, page above
  std::uint32_t root_page = 0;
  std::uint8_t flags = 0;
};

// Decodes one record. `bytes` must hold kRealIndexSize bytes (assert).
RealIndexRecord DecodeRealIndex(std::span<const std::uint8_t> bytes);

// An index ready for key building and tree updates.
struct IndexDefinition {
  std::string name;  // the logical index name, for messages
  std::uint32_t table_page = 0;
  std::vector<std::uint16_t> column_numbers;  // in key order
  std::vector<KeyColumn> columns;             // parallel to column_numbers
  std::uint32_t root_page = 0;
  std::uint32_t owned_map = 0;
  std::uint8_t flags = 0;

  bool unique() const { return (flags & kIndexUnique) != 0; }
  bool ignore_nulls() const { return (flags & kIndexIgnoreNulls) != 0; }
  bool required() const { return (flags & kIndexRequired) != 0; }

  // Returns true when the index has `column_number` among its columns.
  bool Uses(std::uint16_t column_number) const;
};

class CorruptionReporter;

// Reads the real indexes of a table from its whole definition (the first
// TDEF page followed by bytes 8.. of each continuation page), `table_page`
// being the first page. Each index is named after the first logical index
// that uses it (a primary key's name preferred), and carries the type and
// sort order of its columns. Reports damage through `reporter`: counts or
// lengths running past the definition, an index naming a column the table
// lacks.
std::vector<IndexDefinition> ReadIndexDefinitions(std::span<const std::uint8_t> definition, std::uint32_t table_page,
                                                  const CorruptionReporter& reporter);

}  // namespace jet

#endif  // JET_INDEX_DEFINITION_H_
