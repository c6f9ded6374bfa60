// Keeps a table's indexes in step with one row update: the engine's side of
// index_tree.h. It reads the indexes from the table definition, takes the
// old and new values of the changed row from its bytes, plans every index
// that uses a changed column, and writes the plans around the row's own
// write.
//
// Write order of one update (see index_tree.h for why):
//   1. new index pages, at the end of the file;
//   2. their bits in the global map (taken) and in each index's usage map;
//   3. per index, the pages that add the row's new entry;
//   4. the row (the caller, between WriteBeforeRow and WriteAfterRow);
//   5. per index, the pages that drop the old entry;
//   6. pages that left a tree: bits in the index's usage map cleared, in the
//      global map set (free).
// Everything that can refuse the update (a value without a key encoding, a
// unique or required index, damage, a usage map that cannot take a new page)
// is found while planning, before step 1.
#ifndef JET_INDEX_MAINTENANCE_H_
#define JET_INDEX_MAINTENANCE_H_

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/data_page.h"
#include "jet/index_tree.h"
#include "jet/page_file.h"
#include "jet/row_codec.h"
#include "jet/table_definition.h"

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
  // Throws Unsupported when a usage map cannot take a new page.
  IndexMaintenance(PageFile& file, std::vector<IndexUpdatePlan> plans);

  bool empty() const;
  // Returns how many pages steps 1-2 add to the file.
  std::uint32_t new_page_count() const { return static_cast<std::uint32_t>(new_pages_.size()); }

  // Gives the working copy of a usage-map page when the caller changes the
  // same map pages in memory (a row moving to a new page); the bits are
  // then set in that copy, which is written here and again by the caller.
  using PageSource = std::function<PageBytes&(std::uint32_t page_number)>;

  // Steps 1-3. Call with nothing staged in the page file (WriteBack first).
  // Throws IoError.
  void WriteBeforeRow(const PageSource& source = {});
  // Steps 5-6. Throws IoError.
  void WriteAfterRow(const PageSource& source = {});

 private:
  struct MapBit {
    RowPointer map;
    std::uint32_t page_number;
    bool present;
  };
  void WriteMapBits(const std::vector<MapBit>& bits, const PageSource& source);
  void PrepareMaps();

  PageFile& file_;
  std::vector<IndexUpdatePlan> plans_;
  std::vector<std::uint32_t> new_pages_;
  std::vector<MapBit> joining_bits_;
  std::vector<MapBit> leaving_bits_;
};

}  // namespace jet

#endif  // JET_INDEX_MAINTENANCE_H_
