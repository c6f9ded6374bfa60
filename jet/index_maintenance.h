// Keeps a table's indexes in step with one row update: the engine's side of
// index_tree.h. It reads the indexes from the table definition, takes the
// old and new values of the changed row from its bytes, plans every index
// that uses a changed column, and writes the plans around the row's own
// write.
//
// Write order of one update (see index_tree.h for why):
//   1. new index pages, at the end of the file;
//   2. their bits in the global map (taken) and in each index's usage map,
//      with any map pages these maps grow by (usage_map.h: MapGrowth);
//   3. per index, the pages that add the row's new entry;
//   4. the row (the caller, between WriteBeforeRow and WriteAfterRow);
//   5. per index, the pages that drop the old entry;
//   6. pages that left a tree: bits in the index's usage map cleared, in the
//      global map set (free).
// Everything that can refuse the update (a value without a key encoding, a
// unique or required index, damage, a usage map that cannot grow to take a
// new page) is found while planning, before step 1.
#ifndef JET_INDEX_MAINTENANCE_H_
#define JET_INDEX_MAINTENANCE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "jet/data_page.h"
#include "jet/index_tree.h"
#include "jet/page_file.h"
#include "jet/row_codec.h"
#include "jet/table_definition.h"
#include "jet/usage_map.h"

namespace jet {

// Returns the real indexes of `table` (IndexDefinitionsOf). Throws
// CorruptDatabase for an index naming a column the table lacks.
std::vector<IndexDefinition> ReadTableIndexes(PageFile& file, const TableDefinition& table);

// Returns the value of `column` in `row` as keys take it. Throws Unsupported
// for a type keys are not built for here (memo, binary, ...).
KeyValue KeyValueOf(const RowView& row, const Column& column);

// Index pages through the page file; new pages get numbers from the end of
// the file on.
class PageFileIndexStore : public IndexPageStore {
 public:
  explicit PageFileIndexStore(PageFile& file) : file_(file) {}
  std::vector<std::uint8_t> ReadPage(std::uint32_t page_number) override;
  std::uint32_t ReservePage() override { return file_.page_count() + reserved_++; }
  [[noreturn]] void Corrupt(std::uint32_t page_number, const std::string& detail) const override {
    file_.Corrupt(page_number, detail);
  }
  std::uint32_t reserved() const { return reserved_; }

 private:
  PageFile& file_;
  std::uint32_t reserved_ = 0;
};

class IndexMaintenance {
 public:
  // Plans the changes of every index of `table` that uses one of `changed`,
  // for the row whose home slot is `home`, from `old_row` to `new_row`.
  // Writes nothing. Throws Unsupported, DuplicateKey, NullInRequiredIndex,
  // CorruptDatabase.
  IndexMaintenance(PageFile& file, const TableDefinition& table, RowPointer home, const RowView& old_row,
                   const RowView& new_row, std::span<const Column* const> changed);

  // Takes plans made with PlanIndexUpdate over a PageFileIndexStore of
  // `file` (one store for all of them, so that new page numbers differ).
  // Throws Unsupported when a usage map cannot grow to take a new page.
  IndexMaintenance(PageFile& file, std::vector<IndexUpdatePlan> plans);

  bool empty() const;
  // Returns how many index pages step 1 adds to the file (map pages step 2
  // may add come after them).
  std::uint32_t new_page_count() const { return static_cast<std::uint32_t>(new_pages_.size()); }

  using PageSource = MapGrowth::PageSource;

  // Steps 1-3 for an update whose row stays where it is. Call with nothing
  // staged in the page file (WriteBack first). Throws IoError.
  void WriteBeforeRow();

  // The same in parts, for a caller that adds pages of its own and writes
  // the map pages itself, between WriteNewPages and WriteEntryPages.
  // Step 1. Throws IoError.
  void WriteNewPages();
  // Step 2 in memory: the new index pages join their index's map and are
  // taken in the global map. Throws Unsupported, CorruptDatabase.
  void AddNewPages(MapGrowth& maps) const;
  // Step 3. Throws IoError.
  void WriteEntryPages();

  // Steps 5-6; `source` gives the working copies of map pages the caller
  // keeps (nothing: read here). Throws IoError.
  void WriteAfterRow(const PageSource& source = {});

 private:
  struct MapBit {
    RowPointer map;
    std::uint32_t page_number;
  };
  // Writes the map pages `maps` changed and added, as MapGrowth says.
  void WriteMaps(const MapGrowth& maps, const std::map<std::uint32_t, PageBytes>& own, const PageSource& source);
  void PrepareMaps();

  PageFile& file_;
  std::vector<IndexUpdatePlan> plans_;
  std::vector<std::uint32_t> new_pages_;
  std::vector<MapBit> joining_bits_;  // index maps; the global map takes them all
  std::vector<MapBit> leaving_bits_;
};

}  // namespace jet

#endif  // JET_INDEX_MAINTENANCE_H_
