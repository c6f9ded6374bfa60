// Test-only reader of an unencoded Jet 4 file held in memory: finds a table
// definition by its columns, lists its real indexes and decodes the values
// of a row. It trusts the file (fixtures only) and stands in for the engine
// in the index tests.
#ifndef JET_TESTING_FIXTURE_DATABASE_H_
#define JET_TESTING_FIXTURE_DATABASE_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "jet/index_definition.h"
#include "jet/index_page.h"

namespace jet::testing {

struct FixtureColumn {
  std::u16string name;
  std::uint8_t type = 0;
  std::uint16_t number = 0;
  std::uint16_t var_index = 0;
  std::uint16_t fixed_offset = 0;
  std::uint16_t length = 0;
  std::uint16_t sort_order = 0;
  std::uint8_t sort_version = 0;
  std::uint8_t flags = 0;
  bool fixed() const { return (flags & 0x01) != 0; }
  ColumnType column_type() const { return static_cast<ColumnType>(type); }
};

struct FixtureTable {
  std::uint32_t page = 0;
  std::vector<FixtureColumn> columns;
  std::vector<IndexDefinition> indexes;  // real indexes, names from the first logical one using each
  std::uint32_t owned_map = 0;
  std::vector<std::size_t> real_index_offsets;  // of each 52-byte record in the definition's first page (or beyond)
  const FixtureColumn& Column(std::u16string_view name) const;
};

class FixtureDatabase : public CorruptionReporter {
 public:
  explicit FixtureDatabase(const std::filesystem::path& path);
  explicit FixtureDatabase(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::uint32_t page_count() const { return static_cast<std::uint32_t>(bytes_.size() / kIndexPageSize); }
  std::span<const std::uint8_t> Page(std::uint32_t number) const;
  std::span<std::uint8_t> MutablePage(std::uint32_t number);
  std::vector<std::uint8_t>& bytes() { return bytes_; }

  // Returns the table whose definition has a column named `column`.
  FixtureTable FindTable(std::u16string_view column) const;

  // Returns the values of `columns` in the row whose home slot is `where`,
  // following an overflow pointer.
  std::vector<KeyValue> RowValues(const FixtureTable& table, EntryRow where,
                                  std::span<const std::uint16_t> columns) const;

  // Returns every live row's home location in scan order (owned data pages
  // by page number, then slots).
  std::vector<EntryRow> ScanRows(const FixtureTable& table) const;

  [[noreturn]] void Corrupt(std::uint32_t page_number, const std::string& detail) const override;

 private:
  std::vector<std::uint8_t> TableBuffer(std::uint32_t page) const;
  std::vector<std::uint8_t> bytes_;
};

// Returns the whole tree of an index as (page number, page) in walk order.
std::vector<std::pair<std::uint32_t, IndexPage>> LoadTree(const FixtureDatabase& db, std::uint32_t root);

}  // namespace jet::testing

#endif  // JET_TESTING_FIXTURE_DATABASE_H_
