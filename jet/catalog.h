// The system catalog (the table MSysObjects, whose definition is page 2):
// the names of the database's tables and where their definitions start.
#ifndef JET_CATALOG_H_
#define JET_CATALOG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/page_file.h"

namespace jet {

struct CatalogEntry {
  std::u16string name;
  std::uint32_t definition_page = 0;
  bool system = false;
};

// Returns the tables of the database (not linked tables, not queries), in
// catalog order. Throws CorruptDatabase.
std::vector<CatalogEntry> ReadTables(PageFile& file);

// Returns the table named `name` without regard to case, or nullopt.
std::optional<CatalogEntry> FindTable(PageFile& file, std::u16string_view name);

}  // namespace jet

#endif  // JET_CATALOG_H_
