#include "jet/usage_map.h"

#include <algorithm>

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

}  // namespace jet

namespace jet {
namespace {

constexpr std::uint8_t kMapPageTypeByte = 0x05;

bool GetBit(std::span<const std::uint8_t> bytes, std::size_t at, std::uint64_t bit) {
  return (bytes[at + bit / 8] & (1u << (bit % 8))) != 0;
}

void SetBit(std::span<std::uint8_t> bytes, std::size_t at, std::uint64_t bit, bool value) {
  std::uint8_t& byte = bytes[at + bit / 8];
  const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
  byte = static_cast<std::uint8_t>(value ? (byte | mask) : (byte & ~mask));
}

std::string Describe(RowPointer map) {
  if (map == kGlobalMap) return "The global usage map";
  return "The usage map at page " + std::to_string(map.page) + " row " + std::to_string(map.row);
}

}  // namespace

MapGrowth::MapGrowth(PageFile& file, std::uint32_t next_page, PageSource source)
    : file_(file),
      next_page_(next_page),
      source_(std::move(source)),
      bits_per_map_page_(static_cast<std::uint32_t>((file.page_size() - file.format().map_page_bitmap_offset) * 8)) {}

PageBytes& MapGrowth::Page(std::uint32_t page_number, Role role) {
  auto found = new_pages_.find(page_number);
  if (found != new_pages_.end()) return found->second;
  if (page_number == 0 || page_number >= file_.page_count()) file_.Corrupt(page_number, "a usage map points past the end of the file");
  if (std::none_of(changed_.begin(), changed_.end(), [&](const auto& c) { return c.first == page_number; })) {
    changed_.emplace_back(page_number, role);
  }
  return source_(page_number);
}

MapGrowth::Row MapGrowth::ReadRow(RowPointer map, Role role) {
  PageBytes& page = Page(map.page, role);
  if (page[0] != kDataPageType) file_.Corrupt(map.page, "a usage map points to a page that holds no rows");
  const RowSlot slot = ReadRowSlot(file_, map.page, page, map.row);
  if (slot.deleted() || slot.size() < 1) file_.Corrupt(map.page, "empty usage map");
  if (page[slot.start] == kInlineMap) {
    if (slot.size() <= kInlineBitmapOffset) file_.Corrupt(map.page, "usage map too short");
  } else if (page[slot.start] != kReferenceMap) {
    file_.Corrupt(map.page, "unknown usage map type");
  } else if (slot.size() < 5) {
    file_.Corrupt(map.page, "usage map too short");
  }
  return Row{&page, slot.start, slot.size()};
}

PageBytes& MapGrowth::MapPage(std::uint32_t page_number, Role role) {
  PageBytes& page = Page(page_number, role);
  if (page[0] != kMapPageTypeByte) file_.Corrupt(page_number, "a usage map names a page that is not a map page");
  return page;
}

std::uint32_t MapGrowth::NewMapPage() {
  if (next_page_ > 0xFFFFFF) throw Unsupported("The database '" + file_.path().string() + "' has no page numbers left.");
  const std::uint32_t page_number = next_page_++;
  PageBytes page(file_.page_size(), 0);
  page[0] = kMapPageTypeByte;
  page[1] = 0x01;
  new_pages_.emplace(page_number, std::move(page));
  return page_number;
}

void MapGrowth::TooLarge(RowPointer map, std::size_t entries, std::uint32_t page_number) const {
  const std::uint64_t pages = static_cast<std::uint64_t>(entries) * bits_per_map_page_;
  throw Unsupported(Describe(map) + " of '" + file_.path().string() + "' cannot reach page " + std::to_string(page_number) +
                    ": its row has room for pages below " + std::to_string(pages) + " only (" +
                    std::to_string(pages * file_.page_size() >> 20) +
                    " MB of database), and a database that large is not supported.");
}

void MapGrowth::SetReferenceBit(RowPointer map, const Row& row, std::uint32_t page_number, bool value, Role role) {
  const std::size_t entries = (row.size - 1) / 4;
  const std::size_t j = page_number / bits_per_map_page_;
  if (j >= entries) {
    if (!value) return;
    TooLarge(map, entries, page_number);
  }
  const std::size_t entry_at = row.start + 1 + 4 * j;
  std::uint32_t map_page = Get32(*row.page, entry_at);
  if (map_page == 0) {
    if (!value) return;
    map_page = NewMapPage();
    Put32(*row.page, entry_at, map_page);
  }
  SetBit(MapPage(map_page, role), file_.format().map_page_bitmap_offset, page_number % bits_per_map_page_, value);
}

void MapGrowth::Promote(RowPointer map, const Row& row, const std::vector<std::uint32_t>& pages) {
  const std::size_t entries = (row.size - 1) / 4;
  for (std::uint32_t page_number : pages) {
    if (page_number / bits_per_map_page_ >= entries) TooLarge(map, entries, page_number);
  }
  PageBytes& page = *row.page;
  std::fill_n(page.begin() + static_cast<std::ptrdiff_t>(row.start), row.size, 0);
  page[row.start] = kReferenceMap;
  for (std::uint32_t page_number : pages) SetReferenceBit(map, row, page_number, true, Role::kOther);
}

void MapGrowth::Add(RowPointer map, std::uint32_t page_number) {
  const Row row = ReadRow(map, Role::kOther);
  PageBytes& page = *row.page;
  if (page[row.start] == kReferenceMap) {
    SetReferenceBit(map, row, page_number, true, Role::kOther);
    return;
  }
  const std::uint32_t start = Get32(page, row.start + 1);
  const std::uint64_t window = static_cast<std::uint64_t>(row.size - kInlineBitmapOffset) * 8;
  const std::size_t bitmap = row.start + kInlineBitmapOffset;
  if (page_number >= start && page_number - start < window) {
    SetBit(page, bitmap, page_number - start, true);
    return;
  }
  std::vector<std::uint32_t> held;
  for (std::uint64_t bit = 0; bit < window; ++bit) {
    if (GetBit(page, bitmap, bit) && start + bit <= 0xFFFFFF) held.push_back(static_cast<std::uint32_t>(start + bit));
  }
  held.push_back(page_number);
  std::sort(held.begin(), held.end());
  const std::uint32_t new_start = held.front() & ~7u;
  if (held.back() - new_start < window) {
    // The window moves: every page the map holds still fits.
    std::fill_n(page.begin() + static_cast<std::ptrdiff_t>(bitmap), window / 8, 0);
    Put32(page, row.start + 1, new_start);
    for (std::uint32_t held_page : held) SetBit(page, bitmap, held_page - new_start, true);
    return;
  }
  Promote(map, row, held);
}

void MapGrowth::Remove(RowPointer map, std::uint32_t page_number) {
  const Row row = ReadRow(map, Role::kOther);
  PageBytes& page = *row.page;
  if (page[row.start] == kReferenceMap) {
    SetReferenceBit(map, row, page_number, false, Role::kOther);
    return;
  }
  const std::uint32_t start = Get32(page, row.start + 1);
  const std::uint64_t window = static_cast<std::uint64_t>(row.size - kInlineBitmapOffset) * 8;
  if (page_number >= start && page_number - start < window) SetBit(page, row.start + kInlineBitmapOffset, page_number - start, false);
}

void MapGrowth::Take(std::uint32_t page_number) {
  const Row row = ReadRow(kGlobalMap, Role::kTake);
  PageBytes& page = *row.page;
  if (page[row.start] == kReferenceMap) {
    const std::size_t entries = (row.size - 1) / 4;
    const std::size_t j = page_number / bits_per_map_page_;
    if (j >= entries) TooLarge(kGlobalMap, entries, page_number);
    const std::size_t entry_at = row.start + 1 + 4 * j;
    if (Get32(page, entry_at) == 0) {
      // A range without a map page counts as free; its new page marks the
      // pages of the range below the file's end used.
      const std::uint32_t map_page = NewMapPage();
      Put32(page, entry_at, map_page);
      PageBytes& bits = new_pages_.at(map_page);
      const std::uint64_t base = static_cast<std::uint64_t>(j) * bits_per_map_page_;
      for (std::uint64_t bit = 0; bit < bits_per_map_page_; ++bit) {
        SetBit(bits, file_.format().map_page_bitmap_offset, bit, base + bit >= next_page_);
      }
    }
    SetReferenceBit(kGlobalMap, row, page_number, false, Role::kTake);
    return;
  }
  const std::uint32_t start = Get32(page, row.start + 1);
  const std::uint64_t window = static_cast<std::uint64_t>(row.size - kInlineBitmapOffset) * 8;
  const std::size_t bitmap = row.start + kInlineBitmapOffset;
  if (page_number >= start && page_number - start < window) {
    SetBit(page, bitmap, page_number - start, false);
    return;
  }
  if (page_number > start) {
    // The window may move up when every page leaving it is free and no
    // page of the file lies between its old end and its new start.
    const std::uint64_t end = start + window;
    const std::uint64_t new_start = (page_number - window + 1 + 7) & ~std::uint64_t{7};
    bool movable = new_start <= end;
    for (std::uint64_t bit = 0; movable && bit < new_start - start; ++bit) movable = GetBit(page, bitmap, bit);
    if (movable) {
      std::vector<bool> old_bits(window);
      for (std::uint64_t bit = 0; bit < window; ++bit) old_bits[bit] = GetBit(page, bitmap, bit);
      for (std::uint64_t bit = 0; bit < window; ++bit) {
        const std::uint64_t at = new_start + bit;
        SetBit(page, bitmap, bit, at < end ? old_bits[at - start] : at >= next_page_);
      }
      Put32(page, row.start + 1, static_cast<std::uint32_t>(new_start));
      SetBit(page, bitmap, page_number - new_start, false);
      return;
    }
  }
  PromoteGlobal(row);
  SetReferenceBit(kGlobalMap, row, page_number, false, Role::kTake);
}

void MapGrowth::PromoteGlobal(const Row& row) {
  PageBytes& page = *row.page;
  const std::uint32_t start = Get32(page, row.start + 1);
  const std::uint64_t window = static_cast<std::uint64_t>(row.size - kInlineBitmapOffset) * 8;
  const std::size_t bitmap = row.start + kInlineBitmapOffset;
  std::vector<bool> old_bits(window);
  for (std::uint64_t bit = 0; bit < window; ++bit) old_bits[bit] = GetBit(page, bitmap, bit);
  // Map pages for every range below the file's end, themselves included.
  std::uint64_t count = 0;
  while ((next_page_ + count + bits_per_map_page_ - 1) / bits_per_map_page_ > count) ++count;
  const std::size_t entries = (row.size - 1) / 4;
  if (count > entries) TooLarge(kGlobalMap, entries, static_cast<std::uint32_t>(next_page_ + count - 1));
  std::vector<std::uint32_t> map_pages;
  for (std::uint64_t j = 0; j < count; ++j) map_pages.push_back(NewMapPage());
  const std::size_t at = file_.format().map_page_bitmap_offset;
  for (std::uint64_t j = 0; j < count; ++j) {
    PageBytes& bits = new_pages_.at(map_pages[j]);
    for (std::uint64_t bit = 0; bit < bits_per_map_page_; ++bit) {
      const std::uint64_t q = j * bits_per_map_page_ + bit;
      const bool free = q < start ? false : q < start + window ? old_bits[q - start] : q >= next_page_;
      SetBit(bits, at, bit, free);
    }
  }
  std::fill_n(page.begin() + static_cast<std::ptrdiff_t>(row.start), row.size, 0);
  page[row.start] = kReferenceMap;
  for (std::uint64_t j = 0; j < count; ++j) Put32(page, row.start + 1 + 4 * j, map_pages[j]);
}

void MapGrowth::Release(std::uint32_t page_number) {
  const Row row = ReadRow(kGlobalMap, Role::kRelease);
  PageBytes& page = *row.page;
  if (page[row.start] == kReferenceMap) {
    SetReferenceBit(kGlobalMap, row, page_number, true, Role::kRelease);
    return;
  }
  const std::uint32_t start = Get32(page, row.start + 1);
  const std::uint64_t window = static_cast<std::uint64_t>(row.size - kInlineBitmapOffset) * 8;
  if (page_number >= start && page_number - start < window) SetBit(page, row.start + kInlineBitmapOffset, page_number - start, true);
}

void MapGrowth::Finish() {
  for (;;) {
    std::vector<std::uint32_t> untaken;
    for (const auto& [page_number, bytes] : new_pages_) {
      if (std::find(taken_map_pages_.begin(), taken_map_pages_.end(), page_number) == taken_map_pages_.end()) {
        untaken.push_back(page_number);
      }
    }
    if (untaken.empty()) return;
    for (std::uint32_t page_number : untaken) {
      taken_map_pages_.push_back(page_number);
      Take(page_number);
    }
  }
}

std::vector<std::uint32_t> MapGrowth::WriteOrder() const {
  std::vector<std::uint32_t> order;
  for (Role role : {Role::kTake, Role::kOther, Role::kRelease}) {
    for (const auto& [page_number, page_role] : changed_) {
      if (page_role == role) order.push_back(page_number);
    }
  }
  return order;
}

}  // namespace jet
