#include "jet/usage_map.h"

#include "jet/bytes.h"
#include "jet/errors.h"

namespace jet {
namespace {

constexpr std::uint8_t kInlineMap = 0x00;
constexpr std::uint8_t kReferenceMap = 0x01;
constexpr std::uint8_t kMapPageType = 0x05;
constexpr std::size_t kInlineBitmapOffset = 5;

// Returns the first set bit at or after `bit` in `bitmap`, or -1.
long long NextSetBit(std::span<const std::uint8_t> bitmap, std::uint64_t bit) {
  for (std::uint64_t byte = bit / 8; byte < bitmap.size(); ++byte) {
    std::uint8_t value = bitmap[byte];
    if (byte == bit / 8) value = static_cast<std::uint8_t>(value & (0xFF << (bit % 8)));
    if (value != 0) return static_cast<long long>(byte * 8 + static_cast<std::uint64_t>(__builtin_ctz(value)));
  }
  return -1;
}

long long LastSetBit(std::span<const std::uint8_t> bitmap) {
  for (std::size_t byte = bitmap.size(); byte-- > 0;) {
    if (bitmap[byte] != 0) return static_cast<long long>(byte * 8 + 31 - static_cast<std::size_t>(__builtin_clz(bitmap[byte])));
  }
  return -1;
}

}  // namespace

UsageMap::UsageMap(PageFile& file, RowPointer where) : file_(file), where_(where) {
  const PageRef page = file_.Read(where.page);
  if ((*page)[0] != kDataPageType) file_.Corrupt(where.page, "a usage map points to a page that holds no rows");
  const RowSlot slot = ReadRowSlot(file_, where.page, *page, where.row);
  if (slot.size() < 1) file_.Corrupt(where.page, "empty usage map");
  row_start_ = slot.start;
  map_.assign(page->begin() + static_cast<std::ptrdiff_t>(slot.start), page->begin() + static_cast<std::ptrdiff_t>(slot.end));
  bits_per_map_page_ = static_cast<std::uint32_t>((file_.page_size() - file_.format().map_page_bitmap_offset) * 8);
  if (map_[0] == kInlineMap) {
    if (map_.size() < kInlineBitmapOffset) file_.Corrupt(where.page, "usage map too short");
    first_page_ = Get32(map_, 1);
  } else if (map_[0] == kReferenceMap) {
    inline_ = false;
  } else {
    file_.Corrupt(where.page, "unknown usage map type");
  }
}

std::optional<std::uint32_t> UsageMap::NextPage(std::uint32_t from) const {
  if (inline_) {
    const std::span<const std::uint8_t> bitmap(map_.data() + kInlineBitmapOffset, map_.size() - kInlineBitmapOffset);
    const std::uint64_t bit = from > first_page_ ? from - first_page_ : 0;
    const long long found = NextSetBit(bitmap, bit);
    if (found < 0) return std::nullopt;
    const std::uint64_t page = first_page_ + static_cast<std::uint64_t>(found);
    if (page > 0xFFFFFF) return std::nullopt;
    return static_cast<std::uint32_t>(page);
  }
  const std::size_t entries = (map_.size() - 1) / 4;
  for (std::size_t j = from / bits_per_map_page_; j < entries; ++j) {
    const std::uint32_t map_page = Get32(map_, 1 + 4 * j);
    if (map_page == 0) continue;
    const PageRef page = file_.Read(map_page);
    if ((*page)[0] != kMapPageType) file_.Corrupt(map_page, "a usage map names a page that is not a map page");
    const std::span<const std::uint8_t> bitmap(page->data() + file_.format().map_page_bitmap_offset,
                                               page->size() - file_.format().map_page_bitmap_offset);
    const std::uint64_t base = static_cast<std::uint64_t>(j) * bits_per_map_page_;
    const long long found = NextSetBit(bitmap, from > base ? from - base : 0);
    if (found >= 0) {
      const std::uint64_t result = base + static_cast<std::uint64_t>(found);
      if (result > 0xFFFFFF) return std::nullopt;
      return static_cast<std::uint32_t>(result);
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> UsageMap::LastPage() const {
  if (inline_) {
    const long long found = LastSetBit(std::span<const std::uint8_t>(map_.data() + kInlineBitmapOffset, map_.size() - kInlineBitmapOffset));
    if (found < 0) return std::nullopt;
    return static_cast<std::uint32_t>(first_page_ + static_cast<std::uint64_t>(found));
  }
  for (std::size_t j = (map_.size() - 1) / 4; j-- > 0;) {
    const std::uint32_t map_page = Get32(map_, 1 + 4 * j);
    if (map_page == 0) continue;
    const PageRef page = file_.Read(map_page);
    if ((*page)[0] != kMapPageType) file_.Corrupt(map_page, "a usage map names a page that is not a map page");
    const long long found = LastSetBit(std::span<const std::uint8_t>(page->data() + file_.format().map_page_bitmap_offset,
                                                                     page->size() - file_.format().map_page_bitmap_offset));
    if (found >= 0) return static_cast<std::uint32_t>(static_cast<std::uint64_t>(j) * bits_per_map_page_ + static_cast<std::uint64_t>(found));
  }
  return std::nullopt;
}

bool UsageMap::Contains(std::uint32_t page_number) const {
  const std::optional<std::uint32_t> next = NextPage(page_number);
  return next && *next == page_number;
}

std::optional<UsageMap::BitPlace> UsageMap::Place(std::uint32_t page_number) const {
  if (inline_) {
    if (page_number < first_page_) return std::nullopt;
    const std::uint64_t bit = page_number - first_page_;
    if (bit / 8 >= map_.size() - kInlineBitmapOffset) return std::nullopt;
    return BitPlace{where_.page, row_start_ + kInlineBitmapOffset + bit / 8, static_cast<std::uint8_t>(1u << (bit % 8))};
  }
  const std::size_t j = page_number / bits_per_map_page_;
  if (j >= (map_.size() - 1) / 4) return std::nullopt;
  const std::uint32_t map_page = Get32(map_, 1 + 4 * j);
  if (map_page == 0) return std::nullopt;
  const std::uint64_t bit = page_number % bits_per_map_page_;
  return BitPlace{map_page, file_.format().map_page_bitmap_offset + bit / 8, static_cast<std::uint8_t>(1u << (bit % 8))};
}

std::optional<std::uint32_t> UsageMap::HolderPage(std::uint32_t page_number) const {
  const std::optional<BitPlace> place = Place(page_number);
  if (!place) return std::nullopt;
  return place->page_number;
}

bool UsageMap::ApplyChange(std::uint32_t page_number, bool present, PageBytes& holder) const {
  const std::optional<BitPlace> place = Place(page_number);
  if (!place) throw Unsupported("The usage map does not reach page " + std::to_string(page_number) + ".");
  if (place->page_number == where_.page) {
    const RowSlot slot = ReadRowSlot(file_, where_.page, holder, where_.row);
    if (slot.start != row_start_ || slot.size() != map_.size()) file_.Corrupt(where_.page, "a usage map moved while in use");
  } else if (holder[0] != kMapPageType) {
    file_.Corrupt(place->page_number, "a usage map names a page that is not a map page");
  }
  std::uint8_t& byte = holder[place->byte];
  if (((byte & place->mask) != 0) == present) return false;
  byte = static_cast<std::uint8_t>(present ? (byte | place->mask) : (byte & ~place->mask));
  return true;
}

}  // namespace jet
