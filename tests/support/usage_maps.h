// Reads usage maps from the bytes of a plain (not RC4-encoded) database,
// decoded here independently of the engine, so that tests can check the
// maps the engine wrote.
#ifndef TESTS_SUPPORT_USAGE_MAPS_H_
#define TESTS_SUPPORT_USAGE_MAPS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace testsupport {

inline constexpr std::size_t kMapTestPageSize = 4096;

// Reads the usage map at `row` of page `page` in a plain (not RC4-encoded)
// file image, decoded here independently of the engine: returns, for every
// page number below `limit`, whether the map holds it; `outside` for pages
// the map does not describe.
inline std::vector<bool> MapBits(const std::vector<std::uint8_t>& image, std::uint32_t page, std::uint8_t row,
                                 std::uint32_t limit, bool outside) {
  auto get16 = [&](std::size_t at) { return static_cast<std::uint32_t>(image[at] | image[at + 1] << 8); };
  auto get32 = [&](std::size_t at) { return get16(at) | get16(at + 2) << 16; };
  const std::size_t base = page * kMapTestPageSize;
  const std::size_t start = base + (get16(base + 14 + 2 * row) & 0x1FFF);
  const std::size_t end = base + (row == 0 ? kMapTestPageSize : get16(base + 14 + 2 * (row - 1)) & 0x1FFF);
  std::vector<bool> bits(limit, outside);
  if (image[start] == 0) {
    const std::uint32_t first = get32(start + 1);
    for (std::uint32_t bit = 0; bit < (end - start - 5) * 8; ++bit) {
      if (first + bit < limit) bits[first + bit] = (image[start + 5 + bit / 8] >> (bit % 8) & 1) != 0;
    }
    return bits;
  }
  EXPECT_EQ(image[start], 1);
  constexpr std::uint32_t kPerMapPage = (kMapTestPageSize - 4) * 8;
  for (std::size_t j = 0; j < (end - start - 1) / 4; ++j) {
    const std::uint32_t map_page = get32(start + 1 + 4 * j);
    if (map_page == 0) continue;
    if (std::size_t{map_page} * kMapTestPageSize >= image.size()) {
      ADD_FAILURE() << "the map at page " << page << " names page " << map_page << ", past the file's end";
      continue;
    }
    EXPECT_EQ(image[map_page * kMapTestPageSize], 0x05) << "the map at page " << page << " names page " << map_page;
    for (std::uint32_t bit = 0; bit < kPerMapPage; ++bit) {
      const std::uint64_t page_number = j * kPerMapPage + bit;
      if (page_number < limit) bits[page_number] = (image[map_page * kMapTestPageSize + 4 + bit / 8] >> (bit % 8) & 1) != 0;
    }
  }
  return bits;
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_USAGE_MAPS_H_
