// Index pages of Jet 4: the nodes (type 0x03) and leaves (type 0x04) of an
// index's tree, decoded into whole entries and encoded back.
//
// Page layout (little-endian header; entries are big-endian):
//   off  size  meaning
//   0    1     0x03 node, 0x04 leaf
//   1    1     0x01
//   2    2     free space: page size - 480 - stored entry bytes
//   4    4     owning table definition page
//   8    4     unknown, kept
//   12   4     previous page on this level (0 = none)
//   16   4     next page on this level (0 = none)
//   20   4     tail child page (nodes; 0 = none)
//   24   2     prefix length p
//   26   1     unknown, kept
//   27   453   entry-end bitmap: bit b (LSB first) set = an entry ends b
//              bytes after offset 480
//   480  ..    entries back to back; every entry after the first is stored
//              without its first p bytes, which are those of the first entry
// Entry: key bytes, 3-byte data page, 1-byte row (the row's home slot);
// node entries add the 4-byte child page. A node entry is a copy of the last
// entry below that child; the last child of a node with several children is
// named only by the tail field.
//
// What this file leaves to others: which entries a page should hold
// (index_tree.h), reading and writing pages (the caller).
#ifndef JET_INDEX_PAGE_H_
#define JET_INDEX_PAGE_H_

#include <compare>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/errors.h"
#include "jet/index_key.h"

namespace jet {

inline constexpr std::uint8_t kIndexNodePage = 0x03;
inline constexpr std::uint8_t kIndexLeafPage = 0x04;
inline constexpr std::size_t kIndexEntriesOffset = 480;
inline constexpr std::size_t kIndexEntryMaskOffset = 27;
inline constexpr std::size_t kIndexEntryMaskSize = 453;
// Entry bytes one page holds: the smaller of the room after the header and
// the bytes the bitmap can mark (4096 - 480 = 3616 = 452 * 8).
inline constexpr std::size_t kIndexPageCapacity = 3616;
inline constexpr std::size_t kIndexPageSize = 4096;

// The row an entry stands for: its home slot.
struct EntryRow {
  std::uint32_t page = 0;  // 24 bits on disk
  std::uint8_t row = 0;
  auto operator<=>(const EntryRow&) const = default;
};

struct IndexEntry {
  KeyBytes key;
  EntryRow row;
  std::uint32_t child = 0;  // node entries only

  // Returns the bytes as stored (before prefix compression).
  KeyBytes Bytes(bool node) const;
  std::size_t size(bool node) const { return key.size() + (node ? 8 : 4); }
};

// Orders entries as Jet does: key bytes unsigned, a shorter key before a
// longer one it begins, then by row location.
std::strong_ordering CompareEntries(const IndexEntry& a, const IndexEntry& b);

struct IndexPage {
  bool leaf = true;
  std::uint32_t owner = 0;  // table definition page
  std::uint32_t unknown8 = 0;
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  std::uint32_t tail = 0;
  std::uint8_t unknown26 = 0;
  std::uint16_t prefix_length = 0;  // as decoded; Encode recomputes unless told to keep it
  std::vector<IndexEntry> entries;

  // Returns the entry bytes the page takes with the prefix Encode would use.
  std::size_t StoredSize() const;
};

// Decodes the index page `page_number`. Reports through `reporter`: a wrong
// page type or size, a bitmap marking bytes beyond the page, entries too
// short for their pointers, a prefix longer than the first entry, entries
// out of order.
IndexPage DecodeIndexPage(std::span<const std::uint8_t> bytes, std::uint32_t page_number,
                          const CorruptionReporter& reporter);

// Returns the common prefix length of the first and last entries' keys, the
// prefix Jet uses on a page it writes.
std::uint16_t CommonKeyPrefix(const IndexPage& page);

// Encodes `page` into a full page image. With `keep_prefix` the decoded
// prefix_length is used (for a byte-identical copy), else CommonKeyPrefix.
// Bytes after the entries come from `background` when it is a page-sized
// image, else they are zero. Precondition: StoredSize() <= capacity and the
// entries are sorted (assert).
std::vector<std::uint8_t> EncodeIndexPage(const IndexPage& page, bool keep_prefix = false,
                                          std::span<const std::uint8_t> background = {});

}  // namespace jet

#endif  // JET_INDEX_PAGE_H_
