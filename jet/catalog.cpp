#include "jet/catalog.h"

#include "jet/row_codec.h"
#include "jet/table_cursor.h"
#include "jet/table_definition.h"

namespace jet {
namespace {

constexpr std::uint32_t kCatalogPage = 2;
constexpr std::int64_t kTableType = 1;
constexpr std::int64_t kTablesContainer = 0x0F000001;
constexpr std::uint32_t kIdPageMask = 0x00FFFFFF;
constexpr std::uint32_t kSystemFlags = 0x80000002;

}  // namespace

std::vector<CatalogEntry> ReadTables(PageFile& file) {
  const TableDefinition catalog = ReadTableDefinition(file, kCatalogPage);
  const Column* id = catalog.FindColumn(u"Id");
  const Column* name = catalog.FindColumn(u"Name");
  const Column* type = catalog.FindColumn(u"Type");
  const Column* flags = catalog.FindColumn(u"Flags");
  const Column* parent = catalog.FindColumn(u"ParentId");
  if (!id || !name || !type || !flags || !parent) file.Corrupt(kCatalogPage, "the system catalog lacks a column it must have");
  std::vector<CatalogEntry> tables;
  TableCursor cursor(file, catalog);
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
    const RowView row = cursor.view();
    const Value type_value = DecodeValue(file, row, *type);
    const Value parent_value = DecodeValue(file, row, *parent);
    if (type_value.kind != ValueKind::kInteger || (type_value.integer & 0x7FFF) != kTableType) continue;
    if (parent_value.kind != ValueKind::kInteger || parent_value.integer != kTablesContainer) continue;
    const Value id_value = DecodeValue(file, row, *id);
    const Value flags_value = DecodeValue(file, row, *flags);
    CatalogEntry entry;
    entry.name = DecodeValue(file, row, *name).text;
    entry.definition_page = static_cast<std::uint32_t>(id_value.integer) & kIdPageMask;
    entry.system = (static_cast<std::uint32_t>(flags_value.integer) & kSystemFlags) != 0;
    tables.push_back(std::move(entry));
  }
  return tables;
}

std::optional<CatalogEntry> FindTable(PageFile& file, std::u16string_view name) {
  const std::u16string wanted = FoldCase(name);
  for (CatalogEntry& entry : ReadTables(file)) {
    if (FoldCase(entry.name) == wanted) return std::move(entry);
  }
  return std::nullopt;
}

}  // namespace jet
