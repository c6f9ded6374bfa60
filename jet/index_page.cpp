#include "jet/index_page.h"

#include <algorithm>
#include <cassert>

namespace jet {
namespace {

constexpr std::size_t kRowPointerSize = 4;
constexpr std::size_t kChildPointerSize = 4;

std::uint32_t Get32Le(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void Put32Le(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put16Le(std::span<std::uint8_t> b, std::size_t at, std::size_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Splits whole entry bytes into key, row location and (nodes) child.
IndexEntry SplitEntry(const KeyBytes& bytes, bool node) {
  const std::size_t tail = kRowPointerSize + (node ? kChildPointerSize : 0);
  IndexEntry entry;
  const std::size_t key_size = bytes.size() - tail;
  entry.key.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(key_size));
  entry.row.page = (static_cast<std::uint32_t>(bytes[key_size]) << 16) |
                   (static_cast<std::uint32_t>(bytes[key_size + 1]) << 8) | bytes[key_size + 2];
  entry.row.row = bytes[key_size + 3];
  if (node) {
    entry.child = (static_cast<std::uint32_t>(bytes[key_size + 4]) << 24) |
                  (static_cast<std::uint32_t>(bytes[key_size + 5]) << 16) |
                  (static_cast<std::uint32_t>(bytes[key_size + 6]) << 8) | bytes[key_size + 7];
  }
  return entry;
}

std::size_t SharedLength(const KeyBytes& a, const KeyBytes& b) {
  const auto end = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return static_cast<std::size_t>(end.first - a.begin());
}

}  // namespace

KeyBytes IndexEntry::Bytes(bool node) const {
  KeyBytes bytes = key;
  bytes.push_back(static_cast<std::uint8_t>(row.page >> 16));
  bytes.push_back(static_cast<std::uint8_t>(row.page >> 8));
  bytes.push_back(static_cast<std::uint8_t>(row.page));
  bytes.push_back(row.row);
  if (node) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(child >> shift));
  }
  return bytes;
}

std::strong_ordering CompareEntries(const IndexEntry& a, const IndexEntry& b) {
  const auto by_key = std::lexicographical_compare_three_way(a.key.begin(), a.key.end(), b.key.begin(), b.key.end());
  if (by_key != 0) return by_key;
  return a.row <=> b.row;
}

std::uint16_t CommonKeyPrefix(const IndexPage& page) {
  if (page.entries.size() < 2) return 0;
  return static_cast<std::uint16_t>(SharedLength(page.entries.front().key, page.entries.back().key));
}

std::size_t IndexPage::StoredSize() const {
  const bool node = !leaf;
  const std::size_t prefix = CommonKeyPrefix(*this);
  std::size_t total = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) total += entries[i].size(node) - (i == 0 ? 0 : prefix);
  return total;
}

IndexPage DecodeIndexPage(std::span<const std::uint8_t> bytes, std::uint32_t page_number,
                          const CorruptionReporter& reporter) {
  if (bytes.size() != kIndexPageSize) reporter.Corrupt(page_number, "an index page has the wrong size");
  if ((bytes[0] != kIndexNodePage && bytes[0] != kIndexLeafPage) || bytes[1] != 0x01) {
    reporter.Corrupt(page_number, "expected an index page");
  }
  IndexPage page;
  page.leaf = bytes[0] == kIndexLeafPage;
  page.owner = Get32Le(bytes, 4);
  page.unknown8 = Get32Le(bytes, 8);
  page.prev = Get32Le(bytes, 12);
  page.next = Get32Le(bytes, 16);
  page.tail = Get32Le(bytes, 20);
  page.prefix_length = static_cast<std::uint16_t>(bytes[24] | (bytes[25] << 8));
  page.unknown26 = bytes[26];
  const bool node = !page.leaf;
  const std::size_t pointers = kRowPointerSize + (node ? kChildPointerSize : 0);

  KeyBytes first;
  std::size_t start = 0;
  for (std::size_t bit = 0; bit < kIndexEntryMaskSize * 8; ++bit) {
    if ((bytes[kIndexEntryMaskOffset + bit / 8] & (1u << (bit % 8))) == 0) continue;
    if (bit > kIndexPageCapacity) reporter.Corrupt(page_number, "index entries run past the end of the page");
    KeyBytes whole;
    if (page.entries.empty()) {
      whole.assign(bytes.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + start),
                   bytes.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + bit));
      if (page.prefix_length > whole.size()) {
        reporter.Corrupt(page_number, "the index prefix is longer than the first entry");
      }
      first = whole;
    } else {
      whole.assign(first.begin(), first.begin() + page.prefix_length);
      whole.insert(whole.end(), bytes.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + start),
                   bytes.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + bit));
    }
    if (whole.size() < pointers + 1) reporter.Corrupt(page_number, "an index entry is too short");
    IndexEntry entry = SplitEntry(whole, node);
    if (!page.entries.empty() && CompareEntries(page.entries.back(), entry) >= 0) {
      reporter.Corrupt(page_number, "index entries are out of order");
    }
    page.entries.push_back(std::move(entry));
    start = bit;
  }
  if (page.entries.empty() && page.prefix_length != 0) {
    reporter.Corrupt(page_number, "an empty index page has a prefix");
  }
  return page;
}

std::vector<std::uint8_t> EncodeIndexPage(const IndexPage& page, bool keep_prefix,
                                          std::span<const std::uint8_t> background) {
  std::vector<std::uint8_t> bytes(kIndexPageSize, 0);
  if (background.size() == kIndexPageSize) std::copy(background.begin(), background.end(), bytes.begin());
  const bool node = !page.leaf;
  const std::size_t prefix = keep_prefix ? page.prefix_length : CommonKeyPrefix(page);

  bytes[0] = page.leaf ? kIndexLeafPage : kIndexNodePage;
  bytes[1] = 0x01;
  Put32Le(bytes, 4, page.owner);
  Put32Le(bytes, 8, page.unknown8);
  Put32Le(bytes, 12, page.prev);
  Put32Le(bytes, 16, page.next);
  Put32Le(bytes, 20, page.tail);
  Put16Le(bytes, 24, page.entries.empty() ? 0 : prefix);
  bytes[26] = page.unknown26;
  std::fill_n(bytes.begin() + kIndexEntryMaskOffset, kIndexEntryMaskSize, 0);

  std::size_t used = 0;
  for (std::size_t i = 0; i < page.entries.size(); ++i) {
    assert(i == 0 || CompareEntries(page.entries[i - 1], page.entries[i]) < 0);
    const KeyBytes whole = page.entries[i].Bytes(node);
    const std::size_t skip = i == 0 ? 0 : prefix;
    assert(whole.size() >= skip && used + whole.size() - skip <= kIndexPageCapacity);
    std::copy(whole.begin() + static_cast<std::ptrdiff_t>(skip), whole.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + used));
    used += whole.size() - skip;
    bytes[kIndexEntryMaskOffset + used / 8] |= static_cast<std::uint8_t>(1u << (used % 8));
  }
  Put16Le(bytes, 2, kIndexPageSize - kIndexEntriesOffset - used);
  return bytes;
}

}  // namespace jet
