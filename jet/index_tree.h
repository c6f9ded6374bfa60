// Keeping an index tree in step with a changed row: the row's old entry is
// removed and its new one inserted at its place in sort order, with the
// parents' copies of last entries, tails, page splits and emptied pages
// handled as Jet lays them out (index_page.h).
//
// Tree invariants this code keeps (and expects of the file):
//   1. Every page's entries are in ascending order (CompareEntries); each
//      page's entry bytes fit kIndexPageCapacity.
//   2. A node entry equals, in key and row, the last entry of the subtree
//      below its child.
//   3. A node with two or more children names the last one only in its tail
//      field; a node with a single child lists it as an entry and has no
//      tail.
//   4. Leaves are chained by prev/next from the first to the last; node
//      pages are chained only among children of the same parent.
//   5. The root page never moves: when it splits, its content moves into a
//      new child. An emptied root becomes an empty leaf; another emptied page
//      leaves the tree and is released.
//
// Crash safety. An update is planned in memory first; a failure while
// planning (damage, a refused value, a usage map that cannot grow) writes nothing. The
// plan then orders its page writes so that a stop after any single write
// leaves every index walkable and holding an entry for each row's current
// value:
//   1. new pages (nothing refers to them yet);
//   2. `before_row`: the pages that add the new entry, parents before
//      children, and on one level a page's left neighbour before the page
//      (a split copies entries to the new page before they leave the old
//      one);
//   3. the row itself (the caller);
//   4. `after_row`: the pages that drop the old entry, in the same order;
//   5. released pages go back to the usage maps (the caller).
// Remaining window: between steps 2 and 4 the index holds both the old and
// the new entry of the row, and during a split some entries sit on two
// pages at once, so a reader walking the leaves may see a row twice (never
// miss one). A page write is assumed to reach the disk whole.
#ifndef JET_INDEX_TREE_H_
#define JET_INDEX_TREE_H_

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "jet/index_definition.h"
#include "jet/index_key.h"
#include "jet/index_page.h"

namespace jet {

// Page access the index code needs; the engine's page file implements it.
class IndexPageStore : public CorruptionReporter {
 public:
  // Returns the current bytes of `page_number` (kIndexPageSize of them).
  // Throws CorruptDatabase for a page outside the file.
  virtual std::vector<std::uint8_t> ReadPage(std::uint32_t page_number) = 0;

  // Returns the number a new page will get, at the end of the file, distinct
  // on every call; nothing is written or marked yet (see IndexUpdatePlan).
  // Throws Unsupported when the file cannot take another page.
  virtual std::uint32_t ReservePage() = 0;
};

// A unique index already holds the new key (Jet's error 3022).
class DuplicateKey : public std::runtime_error {
 public:
  explicit DuplicateKey(std::string index_name);
  const std::string& index_name() const { return index_name_; }

 private:
  std::string index_name_;
};

// A required index (a primary key) would get a null (Jet's error 3058).
class NullInRequiredIndex : public std::runtime_error {
 public:
  explicit NullInRequiredIndex(std::string index_name);
  const std::string& index_name() const { return index_name_; }

 private:
  std::string index_name_;
};

struct IndexPageWrite {
  std::uint32_t page_number;
  std::vector<std::uint8_t> bytes;
};

// The page writes of one index update, in the order they must reach the
// file (see the crash-safety note above).
struct IndexUpdatePlan {
  // Pages to add to the file, to the index's usage map (owned_map) and to
  // take out of the global free map, before any write below.
  std::vector<std::uint32_t> new_pages;
  std::vector<IndexPageWrite> before_row;
  std::vector<IndexPageWrite> after_row;
  // Pages no longer in the tree, to release after `after_row`.
  std::vector<std::uint32_t> released_pages;
  std::uint32_t owned_map = 0;
  // The new key was in no other row's entry: Jet counts distinct keys per
  // index in the table definition (real index block, +4) and adds one.
  bool adds_distinct_key = false;

  bool empty() const { return before_row.empty() && after_row.empty(); }
};

// Throws Unsupported, naming the index, when one of its columns has a type
// or sort order keys cannot be built for.
void CheckIndexSupported(const IndexDefinition& index);

// Plans the change of row `row` in `index` from `old_values` to `new_values`
// (one value per index column, in key order). The old entry is looked up by
// its key, or, when the old key cannot be built or is not where it belongs,
// by the row location. Throws Unsupported (index or new value not
// encodable), DuplicateKey, NullInRequiredIndex, or CorruptDatabase through
// the store (damaged tree, no entry for the row). Reads pages only.
IndexUpdatePlan PlanIndexUpdate(IndexPageStore& store, const IndexDefinition& index, EntryRow row,
                                std::span<const KeyValue> old_values, std::span<const KeyValue> new_values);

// Returns true when a seek for `entry` (key and row), descending from the
// root as Jet does, reaches a leaf that holds it. Reports damage through the
// store.
bool SeekFinds(IndexPageStore& store, const IndexDefinition& index, const IndexEntry& entry);

// Returns every entry of the index in order, walking the leaves from the
// first along the next links. Reports through the store: a broken chain, a
// loop, entries out of order across pages.
std::vector<IndexEntry> WalkIndex(IndexPageStore& store, const IndexDefinition& index);

// Returns the problems found in the whole tree (invariants 1-4), empty when
// none: a check for tests and tools, loading every page of the index.
std::vector<std::string> CheckIndexTree(IndexPageStore& store, const IndexDefinition& index);

}  // namespace jet

#endif  // JET_INDEX_TREE_H_
