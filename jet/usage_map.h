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
// The global map (page 1, row 0) marks free pages: a set bit is a free page,
// and a page outside what the map covers counts as free.
//
// UsageMap reads a map. MapGrowth changes maps on working copies of their
// pages, growing a map that does not reach a page; writing the pages, in
// the order its comment gives, is left to the caller (row_update.h,
// index_maintenance.h).
#ifndef JET_USAGE_MAP_H_
#define JET_USAGE_MAP_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
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

  RowPointer where() const { return where_; }

 private:
  PageFile& file_;
  RowPointer where_;
  std::size_t row_start_ = 0;  // on where_.page
  std::vector<std::uint8_t> map_;
  bool inline_ = true;
  std::uint32_t first_page_ = 0;  // inline only
  std::uint32_t bits_per_map_page_ = 0;
};

inline constexpr RowPointer kGlobalMap{1, 0};

// Changes to usage maps, made on working copies of the pages that hold them.
// A map that does not reach a page it must take grows the way Jet's own
// maps do:
//   - an inline map moves its window (first page a multiple of 8) when every
//     page it holds still fits; otherwise it becomes a reference map in the
//     same row, (length - 1) / 4 entries, naming new map pages that hold its
//     old pages and the new one;
//   - a reference map without a map page for the range gets a new map page;
//     one whose row has no entry for the range is refused (Unsupported).
// The global map's window moves only when every page leaving it is free;
// else it becomes a reference map whose pages mark every page below the
// file's end used unless the old map marked it free. A page the maps did
// not cover and that lies below the file's end is thus never counted free.
// New map pages take numbers from `next_page` on and are used pages:
// Finish() takes them in the global map.
//
// Write order (the caller's): its own new pages, then new_pages() in page
// order, then WriteOrder(); only then anything that points at its new pages.
class MapGrowth {
 public:
  // Returns the working copy of an existing page, the same object on every
  // call for one page.
  using PageSource = std::function<PageBytes&(std::uint32_t page_number)>;

  MapGrowth(PageFile& file, std::uint32_t next_page, PageSource source);

  // Adds `page_number` to the table's or index's map at `map`, growing it
  // when needed. Throws Unsupported, CorruptDatabase.
  void Add(RowPointer map, std::uint32_t page_number);
  // Removes `page_number` from the map at `map`; a page the map does not
  // reach is not in it. Throws CorruptDatabase.
  void Remove(RowPointer map, std::uint32_t page_number);
  // Marks `page_number` used in the global map, growing it when needed.
  // Throws Unsupported, CorruptDatabase.
  void Take(std::uint32_t page_number);
  // Marks `page_number` free in the global map where it reaches that page;
  // elsewhere the page stays counted used. Throws CorruptDatabase.
  void Release(std::uint32_t page_number);
  // Takes every map page added so far in the global map. Call after the
  // other changes. Throws Unsupported, CorruptDatabase.
  void Finish();

  // Returns the new map pages (type 0x05) by page number.
  const std::map<std::uint32_t, PageBytes>& new_pages() const { return new_pages_; }
  // Returns the existing pages changed, in the order to write them: the
  // global map's pages that take pages, the other maps' pages, the global
  // map's pages that release pages.
  std::vector<std::uint32_t> WriteOrder() const;
  // Returns the first page number not yet given to a map page.
  std::uint32_t next_page() const { return next_page_; }

 private:
  enum class Role { kTake, kOther, kRelease };
  struct Row {
    PageBytes* page;
    std::size_t start;
    std::size_t size;
  };
  PageBytes& Page(std::uint32_t page_number, Role role);
  Row ReadRow(RowPointer map, Role role);
  PageBytes& MapPage(std::uint32_t page_number, Role role);
  std::uint32_t NewMapPage();
  void SetReferenceBit(RowPointer map, const Row& row, std::uint32_t page_number, bool value, Role role);
  void Promote(RowPointer map, const Row& row, const std::vector<std::uint32_t>& pages);
  void PromoteGlobal(const Row& row);
  [[noreturn]] void TooLarge(RowPointer map, std::size_t entries, std::uint32_t page_number) const;

  PageFile& file_;
  std::uint32_t next_page_;
  PageSource source_;
  std::uint32_t bits_per_map_page_;
  std::map<std::uint32_t, PageBytes> new_pages_;
  std::vector<std::pair<std::uint32_t, Role>> changed_;
  std::vector<std::uint32_t> taken_map_pages_;
};

}  // namespace jet

#endif  // JET_USAGE_MAP_H_
