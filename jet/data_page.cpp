#include "jet/data_page.h"

#include "jet/bytes.h"

namespace jet {

std::size_t RowCount(const PageFile& file, std::uint32_t page_number, std::span<const std::uint8_t> page) {
  const FormatDescription& format = file.format();
  const std::size_t count = Get16(page, format.data_row_count_offset);
  if (count > format.max_rows_per_page || format.data_row_offsets_offset + 2 * count > page.size()) {
    file.Corrupt(page_number, "impossible number of rows on a data page");
  }
  return count;
}

RowSlot ReadRowSlot(const PageFile& file, std::uint32_t page_number, std::span<const std::uint8_t> page, std::size_t slot) {
  const FormatDescription& format = file.format();
  const std::size_t count = RowCount(file, page_number, page);
  if (slot >= count) file.Corrupt(page_number, "a row pointer names a row the page does not have");
  const std::size_t table_end = format.data_row_offsets_offset + 2 * count;
  RowSlot result;
  const std::uint16_t word = Get16(page, format.data_row_offsets_offset + 2 * slot);
  result.flags = static_cast<std::uint16_t>(word & ~kRowOffsetMask);
  result.start = word & kRowOffsetMask;
  result.end = slot == 0 ? page.size() : (Get16(page, format.data_row_offsets_offset + 2 * (slot - 1)) & kRowOffsetMask);
  if (result.end > page.size() || result.start > result.end || result.start < table_end) {
    // Deleted rows whose bytes Jet removed may carry any offset; they are
    // never read, so only their bounds matter here.
    if (result.deleted() && !result.overflow()) {
      result.start = result.end = table_end;
      return result;
    }
    file.Corrupt(page_number, "row " + std::to_string(slot) + " lies outside its page");
  }
  return result;
}

std::size_t ComputeFreeSpace(const FormatDescription& format, std::span<const std::uint8_t> page) {
  const std::size_t count = Get16(page, format.data_row_count_offset);
  const std::size_t table_end = format.data_row_offsets_offset + 2 * count;
  std::size_t lowest = page.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t start = Get16(page, format.data_row_offsets_offset + 2 * i) & kRowOffsetMask;
    if (start >= table_end && start < lowest) lowest = start;
  }
  return lowest - table_end;
}

}  // namespace jet
