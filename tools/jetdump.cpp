// jetdump: prints the tables of a Jet 4 database as JSON lines, to look at a
// table before and after a conversion and to compare this engine with other
// readers.
//
//   jetdump [--password P] [--list | --table NAME [--index NAME]] FILE
//
// With --index the table's rows come in the order of that index, found by
// walking its leaves (the index is checked first; a damaged tree is an
// error), so that the output can be set beside the table scan.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "conversion/unicode.h"
#include "jet/catalog.h"
#include "jet/connection_string.h"
#include "jet/database.h"
#include "jet/file.h"
#include "jet/index_maintenance.h"
#include "jet/row_codec.h"
#include "jet/table_cursor.h"
#include "jet/table_definition.h"

namespace {

constexpr const char* kUsage = "usage: jetdump [--password P] [--list | --table NAME [--index NAME]] FILE\n";

// Encoding: the command line is UTF-8.
using conversion::FromUtf8;

std::string JsonString(std::u16string_view text) {
  const std::string utf8 = jet::ToUtf8(text);
  std::string out = "\"";
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string JsonValue(const jet::Value& value) {
  switch (value.kind) {
    case jet::ValueKind::kNull: return "null";
    case jet::ValueKind::kText: return JsonString(value.text);
    case jet::ValueKind::kBoolean: return value.boolean ? "true" : "false";
    case jet::ValueKind::kReal:
      if (value.real != value.real || value.real - value.real != 0) return "null";
      return jet::ToUtf8(jet::ValueAsText(value));
    case jet::ValueKind::kInteger: return jet::ToUtf8(jet::ValueAsText(value));
    case jet::ValueKind::kBinary: return "\"0x" + jet::ToUtf8(jet::ValueAsText(value)) + "\"";
    default: return "\"" + value.exact + "\"";
  }
}

void PrintRow(jet::PageFile& pages, const jet::TableDefinition& table, const jet::RowView& row) {
  std::string line = "{";
  for (const jet::Column& column : table.columns) {
    if (line.size() > 1) line += ", ";
    line += JsonString(column.name) + ": " + JsonValue(jet::DecodeValue(pages, row, column));
  }
  line += "}\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void DumpTable(jet::PageFile& pages, const jet::CatalogEntry& entry) {
  const jet::TableDefinition table = jet::ReadTableDefinition(pages, entry.definition_page);
  jet::TableCursor cursor(pages, table);
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) PrintRow(pages, table, cursor.view());
}

// Prints the rows in the order of the index `name`; returns false (after
// saying why on stderr) when there is no such index or its tree is damaged.
bool DumpIndex(jet::PageFile& pages, const jet::CatalogEntry& entry, const std::string& name) {
  const jet::TableDefinition table = jet::ReadTableDefinition(pages, entry.definition_page);
  const std::vector<jet::IndexDefinition> indexes = jet::ReadTableIndexes(pages, table);
  const auto index = std::find_if(indexes.begin(), indexes.end(), [&](const jet::IndexDefinition& i) { return i.name == name; });
  if (index == indexes.end()) {
    std::fprintf(stderr, "jetdump: no index '%s' on table '%s'\n", name.c_str(), jet::ToUtf8(entry.name).c_str());
    return false;
  }
  jet::PageFileIndexStore store(pages);
  const std::vector<std::string> problems = jet::CheckIndexTree(store, *index);
  for (const std::string& problem : problems) std::fprintf(stderr, "jetdump: index '%s': %s\n", name.c_str(), problem.c_str());
  if (!problems.empty()) return false;
  for (const jet::IndexEntry& item : jet::WalkIndex(store, *index)) {
    const std::optional<jet::RowLocation> location = jet::LocateRow(pages, table, jet::RowPointer{item.row.page, item.row.row});
    if (!location) {
      std::fprintf(stderr, "jetdump: index '%s' names the deleted row %u:%u\n", name.c_str(), item.row.page,
                   static_cast<unsigned>(item.row.row));
      return false;
    }
    const jet::PageRef page = pages.Read(location->data.page);
    const jet::RowSlot slot = jet::ReadRowSlot(pages, location->data.page, *page, location->data.row);
    const std::span<const std::uint8_t> bytes(page->data() + slot.start, slot.size());
    PrintRow(pages, table, jet::RowView(pages, location->data.page, table, bytes));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::u16string> password;
  std::optional<std::string> table;
  std::optional<std::string> index;
  bool list = false;
  std::optional<std::string> file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--password" && i + 1 < argc) {
      password = FromUtf8(argv[++i]);
    } else if (arg == "--table" && i + 1 < argc) {
      table = argv[++i];
    } else if (arg == "--index" && i + 1 < argc) {
      index = argv[++i];
    } else if (arg == "--list") {
      list = true;
    } else if (arg.rfind("--", 0) == 0 || file) {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      file = arg;
    }
  }
  if (!file || (list && table) || (index && !table)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    jet::Database database(jet::OpenFile(*file, jet::OpenMode::kReadOnly), password);
    jet::PageFile& pages = database.pages();
    if (table) {
      const std::optional<jet::CatalogEntry> entry = jet::FindTable(pages, FromUtf8(*table));
      if (!entry) {
        std::fprintf(stderr, "jetdump: no table '%s' in '%s'\n", table->c_str(), file->c_str());
        return 1;
      }
      if (index) return DumpIndex(pages, *entry, *index) ? 0 : 1;
      DumpTable(pages, *entry);
      return 0;
    }
    for (const jet::CatalogEntry& entry : jet::ReadTables(pages)) {
      if (entry.system) continue;
      if (list) {
        std::printf("%s\n", jet::ToUtf8(entry.name).c_str());
      } else {
        std::printf("{\"table\": %s}\n", JsonString(entry.name).c_str());
        DumpTable(pages, entry);
      }
    }
    std::fflush(stdout);
    return 0;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "jetdump: %s\n", error.what());
    return 1;
  }
}
