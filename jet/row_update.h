// Writing a changed row back into the file in Jet 4's own layout.
//
// Invariants (hold on disk after every single page write):
//   1. Every row holds either its old or its new bytes: a row is changed by
//      one page write (in place, or by re-packing its page), or by moving it
//      (overflow) where the new copy and the usage maps are written before
//      the home slot's pointer switches to it.
//   2. Data pages keep their layout: offsets never rising with the slot,
//      rows packed without holes, the free-space field equal to the gap
//      between the offset table and the lowest row, slot flags preserved.
//   3. A page joins the file only through the global map, the table's owned
//      map and its free-space map, all written before any row points to it;
//      a map that does not reach the page grows first (usage_map.h), its
//      new map pages written before the map row that names them.
//   4. Pages no change needs are not written.
//   5. Nothing is written when the update is refused: a value an index
//      cannot take (index_maintenance.h), a row changed on disk since it was
//      read, a row too large.
//   6. Every index using a changed column gets the row's new entry before
//      the row is written and loses the old one after (index_maintenance.h).
//
// Other programs: the first post to a page reads it from the disk and
// refuses a row that is no longer what was read. Later posts to the page
// change the staged copy (page_file.h), and the page file checks the disk
// once more before it writes the page back; a page another program changed
// in between is not written, its posts are dropped and the write-back
// reports the row-changed error. Each page is thus read from the disk once
// for its posts, not once per post.
#ifndef JET_ROW_UPDATE_H_
#define JET_ROW_UPDATE_H_

#include <optional>
#include <utility>
#include <vector>

#include "jet/page_file.h"
#include "jet/row_codec.h"
#include "jet/table_cursor.h"
#include "jet/table_definition.h"

namespace jet {

// One column's new stored bytes (nullopt: NULL).
struct ColumnChange {
  const Column* column;
  std::optional<std::vector<std::uint8_t>> bytes;
};

struct UpdateResult {
  RowLocation location;              // where the row lives now
  std::vector<std::uint8_t> row;     // its bytes
  bool maps_changed = false;         // a page was added to the table
  bool same_layout = false;          // only a value's bytes changed, in place
};

// Writes the row at `location`, read as `read`, with `changes` applied,
// and puts where it lives now and its bytes into `result` (whose buffers are
// reused: a walk updates many rows). Throws std::runtime_error("Row cannot be
// located for updating. Some values may have been changed since it was last
// read.") when the row on disk is no longer what was read; see the
// invariants for what else is refused. `result` is unspecified after a
// throw.
void UpdateRow(PageFile& file, const TableDefinition& table, const RowLocation& location,
               const RowView& read, const std::vector<ColumnChange>& changes, UpdateResult& result);

inline constexpr const char* kRecordTooLargeMessage = "Record is too large.";

}  // namespace jet

#endif  // JET_ROW_UPDATE_H_
