#include "jet/index_definition.h"

#include <algorithm>

#include "conversion/unicode.h"

namespace jet {

std::vector<IndexDefinition> IndexDefinitionsOf(const TableDefinition& table, const CorruptionReporter& reporter) {
  std::vector<IndexDefinition> indexes;
  for (std::size_t i = 0; i < table.real_indexes.size(); ++i) {
    const RealIndex& real = table.real_indexes[i];
    IndexDefinition index;
    bool named_by_key = false;
    for (const LogicalIndex& logical : table.logical_indexes) {
      if (logical.real_index != i) continue;
      if (index.name.empty() || (logical.primary_key() && !named_by_key)) {
        index.name = conversion::ToUtf8(logical.name);  // Encoding: UTF-16 -> UTF-8, for messages.
        named_by_key = logical.primary_key();
      }
    }
    index.table_page = table.page;
    index.root_page = real.root_page;
    index.owned_map = (real.owned_map.page << 8) | real.owned_map.row;
    index.flags = real.flags;
    for (const IndexColumn& part : real.columns) {
      const auto column = std::find_if(table.columns.begin(), table.columns.end(),
                                       [&](const Column& c) { return c.number == part.number; });
      if (column == table.columns.end()) reporter.Corrupt(table.page, "an index uses a column the table does not have");
      index.column_numbers.push_back(part.number);
      index.columns.push_back({column->column_type(), part.ascending, column->sort_order, column->sort_version});
    }
    indexes.push_back(std::move(index));
  }
  return indexes;
}

bool IndexDefinition::Uses(std::uint16_t column_number) const {
  return std::find(column_numbers.begin(), column_numbers.end(), column_number) != column_numbers.end();
}

}  // namespace jet
