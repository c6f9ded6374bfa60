// Rows on a data page: where each row slot's bytes lie and what its flags say.
// Every number read from the page is checked against the page's bounds.
//
// Data page, Jet 4:
//   0   1   page type, 0x01
//   1   1   0x01
//   2   2   free space: the gap between the offset table and the lowest row
//   4   4   owning table definition page (ASCII "LVAL" on long-value pages)
//   8   4   unused, 0
//   12  2   number of row slots n
//   14  2n  row offsets; bits 0-12 offset, 0x4000 overflow pointer, 0x8000
//           deleted (also set on the row an overflow pointer names)
// Slot 0's row ends at the page end, slot i's where slot i-1's begins.
#ifndef JET_DATA_PAGE_H_
#define JET_DATA_PAGE_H_

#include <cstdint>
#include <span>

#include "jet/page_file.h"

namespace jet {

inline constexpr std::uint8_t kDataPageType = 0x01;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr std::uint16_t kRowOverflowFlag = 0x4000;
inline constexpr std::uint16_t kRowDeletedFlag = 0x8000;

struct RowSlot {
  std::size_t start = 0;  // from the page start
  std::size_t end = 0;
  std::uint16_t flags = 0;

  std::size_t size() const { return end - start; }
  bool deleted() const { return (flags & kRowDeletedFlag) != 0; }
  bool overflow() const { return (flags & kRowOverflowFlag) != 0; }
};

// A row's address: page number and slot.
struct RowPointer {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
  bool operator==(const RowPointer&) const = default;
};

// Returns the number of row slots, checked against the page. Throws
// CorruptDatabase.
std::size_t RowCount(const PageFile& file, std::uint32_t page_number, std::span<const std::uint8_t> page);

// Returns slot `slot` (< RowCount) of the page. Throws CorruptDatabase.
RowSlot ReadRowSlot(const PageFile& file, std::uint32_t page_number, std::span<const std::uint8_t> page, std::size_t slot);

// Returns the row pointer stored in 4 bytes: row number, then 3-byte page.
inline RowPointer ReadRowPointer(std::span<const std::uint8_t> bytes) {
  return RowPointer{static_cast<std::uint32_t>(bytes[1] | (bytes[2] << 8) | (bytes[3] << 16)), bytes[0]};
}

// Returns the free-space figure a data page must carry for its slots and rows.
std::size_t ComputeFreeSpace(const FormatDescription& format, std::span<const std::uint8_t> page);

}  // namespace jet

#endif  // JET_DATA_PAGE_H_
