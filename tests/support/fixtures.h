// Helpers for tests over the fixture databases in tests/fixtures: paths,
// copies in a scratch folder, and reading a table with the engine.
#ifndef TESTS_SUPPORT_FIXTURES_H_
#define TESTS_SUPPORT_FIXTURES_H_

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/catalog.h"
#include "jet/database.h"
#include "jet/file.h"
#include "jet/row_codec.h"
#include "jet/table_cursor.h"
#include "jet/table_definition.h"
#include "tests/support/json.h"

namespace testsupport {

inline std::filesystem::path FixtureDir() { return FRN_FIXTURES_DIR; }

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A scratch folder, removed with its contents at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "frn-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  // Copies a fixture (relative to the fixture folder) here; returns the copy.
  std::filesystem::path Copy(const std::string& fixture, const std::string& name = "") const {
    const std::filesystem::path target = path_ / (name.empty() ? std::filesystem::path(fixture).filename().string() : name);
    std::filesystem::copy_file(FixtureDir() / fixture, target, std::filesystem::copy_options::overwrite_existing);
    return target;
  }

 private:
  std::filesystem::path path_;
};

using Rows = std::vector<std::vector<jet::Value>>;

// Reads every row of `table` (scan order) with the engine.
inline Rows ReadRows(std::unique_ptr<jet::File> file, const std::optional<std::u16string>& password, std::u16string_view table,
                     std::vector<std::u16string>* column_names = nullptr) {
  jet::Database database(std::move(file), password);
  const std::optional<jet::CatalogEntry> entry = jet::FindTable(database.pages(), table);
  if (!entry) throw std::runtime_error("no table " + ToUtf8(table));
  const jet::TableDefinition definition = jet::ReadTableDefinition(database.pages(), entry->definition_page);
  if (column_names) {
    column_names->clear();
    for (const jet::Column& column : definition.columns) column_names->push_back(column.name);
  }
  Rows rows;
  jet::TableCursor cursor(database.pages(), definition);
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
    const jet::RowView view = cursor.view();
    std::vector<jet::Value> row;
    for (const jet::Column& column : definition.columns) row.push_back(jet::DecodeValue(database.pages(), view, column));
    rows.push_back(std::move(row));
  }
  return rows;
}

inline Rows ReadRows(const std::filesystem::path& path, const std::optional<std::u16string>& password, std::u16string_view table,
                     std::vector<std::u16string>* column_names = nullptr) {
  return ReadRows(jet::OpenFile(path, jet::OpenMode::kReadOnly), password, table, column_names);
}

inline Rows ReadRows(const std::vector<std::uint8_t>& bytes, const std::optional<std::u16string>& password, std::u16string_view table) {
  auto copy = std::make_shared<std::vector<std::uint8_t>>(bytes);
  return ReadRows(std::make_unique<jet::MemoryFile>("memory.mdb", copy, false), password, table);
}

// Returns true when the engine's value equals a sidecar value: strings,
// numbers (currency and decimals given as strings or numbers), booleans,
// null; dates compared without the sidecar's zone and zero milliseconds.
inline bool SameValue(const jet::Value& value, const Json& expected) {
  using jet::ValueKind;
  switch (expected.kind) {
    case Json::Kind::kNull: return value.kind == ValueKind::kNull;
    case Json::Kind::kBool: return value.kind == ValueKind::kBoolean && value.boolean == expected.boolean;
    case Json::Kind::kNumber:
      if (value.kind == ValueKind::kInteger) return static_cast<double>(value.integer) == expected.number;
      if (value.kind == ValueKind::kReal) {
        return value.real == expected.number || std::fabs(value.real - expected.number) <= 1e-6 * std::fabs(expected.number);
      }
      if (value.kind == ValueKind::kDecimal) return std::strtod(value.exact.c_str(), nullptr) == expected.number;
      return false;
    case Json::Kind::kString: {
      if (value.kind == ValueKind::kText) return value.text == expected.text;
      std::string text = expected.Utf8();
      if (value.kind == ValueKind::kDecimal) return value.exact == text;
      if (value.kind == ValueKind::kDateTime) {
        if (!text.empty() && text.back() == 'Z') text.pop_back();
        if (text.size() > 4 && text.compare(text.size() - 4, 4, ".000") == 0) text.resize(text.size() - 4);
        return value.exact == text;
      }
      if (value.kind == ValueKind::kBinary) {
        return "0x" + ToUtf8(jet::ValueAsText(value)) == text;
      }
      if (value.kind == ValueKind::kGuid) return value.exact == text;
      return false;
    }
    default: return false;
  }
}

inline bool SameRow(const std::vector<jet::Value>& row, const Json& expected) {
  if (row.size() != expected.items.size()) return false;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (!SameValue(row[i], expected.items[i])) return false;
  }
  return true;
}

inline std::string Describe(const std::vector<jet::Value>& row) {
  std::string text = "[";
  for (const jet::Value& value : row) {
    if (text.size() > 1) text += ", ";
    text += value.kind == jet::ValueKind::kNull ? "null" : ToUtf8(jet::ValueAsText(value));
  }
  return text + "]";
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_FIXTURES_H_
