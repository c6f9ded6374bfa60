// Usage maps: the bitmaps that say which pages a table owns, which of them
// have free space, and (the global map) which pages of the file are free.
//
// A map is the bytes of one row on a data page, named by a row pointer.
//   0   1   map type: 0x00 inline, 0x01 reference
// Inline:
//   1   4   first page the bitmap covers
//   5   ..  bitmap, bit k (LSB first) = page first + k
// Reference:
//   1   4n  page numbers of usage-map pages (type 0x05), 0 = none; page j of
//           the list covers pages j*B .. j*B+B-1, B = (page size - 4) * 8,
//           with its bitmap starting at byte 4
// Reading follows the map; changing it is limited to setting or clearing a
// bit inside what the map already covers (see ApplyChange).
#ifndef JET_USAGE_MAP_H_
#define JET_USAGE_MAP_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "jet/data_page.h"
#include "jet/page_file.h"

namespace jet {

class UsageMap {
 public:
  // Reads the map stored at `where` (4 bytes: row, 3-byte page). Throws
  // CorruptDatabase.
  UsageMap(PageFile& file, RowPointer where);

  // Returns the first page number >= `from` the map holds, or nullopt.
  std::optional<std::uint32_t> NextPage(std::uint32_t from) const;

  // Returns the last page number the map holds, or nullopt.
  std::optional<std::uint32_t> LastPage() const;

  bool Contains(std::uint32_t page_number) const;

  // Returns the page that holds the bit of `page_number`, or nullopt when
  // the map does not cover that page (growing or converting the map is not
  // done).
  std::optional<std::uint32_t> HolderPage(std::uint32_t page_number) const;

  // Sets (`present`) or clears the bit of `page_number` in `holder`, the
  // current bytes of HolderPage(page_number). Returns false when the bit
  // already had that value. Throws CorruptDatabase when the map is no longer
  // where it was read.
  bool ApplyChange(std::uint32_t page_number, bool present, PageBytes& holder) const;

  RowPointer where() const { return where_; }

 private:
  // Returns the bit's page and byte position, or nullopt when not covered.
  struct BitPlace {
    std::uint32_t page_number;
    std::size_t byte;  // in that page
    std::uint8_t mask;
  };
  std::optional<BitPlace> Place(std::uint32_t page_number) const;

  PageFile& file_;
  RowPointer where_;
  std::size_t row_start_ = 0;  // on where_.page
  std::vector<std::uint8_t> map_;
  bool inline_ = true;
  std::uint32_t first_page_ = 0;  // inline only
  std::uint32_t bits_per_map_page_ = 0;
};

}  // namespace jet

#endif  // JET_USAGE_MAP_H_
