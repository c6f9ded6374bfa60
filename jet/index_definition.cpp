#include "jet/index_definition.h"

#include <algorithm>
#include <cassert>

namespace jet {
namespace {

constexpr std::size_t kPartsOffset = 4;
constexpr std::size_t kMaxParts = 10;
constexpr std::uint16_t kUnusedPart = 0xFFFF;
constexpr std::uint8_t kAscendingPart = 0x01;
constexpr std::size_t kOwnedMapOffset = 34;
constexpr std::size_t kRootOffset = 38;
constexpr std::size_t kFlagsOffset = 46;

std::uint32_t Get32Le(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

}  // namespace

RealIndexRecord DecodeRealIndex(std::span<const std::uint8_t> bytes) {
  assert(bytes.size() >= kRealIndexSize);
  RealIndexRecord record;
  for (std::size_t i = 0; i < kMaxParts; ++i) {
    const std::size_t at = kPartsOffset + 3 * i;
    const auto number = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    if (number == kUnusedPart) continue;
    record.parts.push_back({number, (bytes[at + 2] & kAscendingPart) != 0});
  }
  record.owned_map = Get32Le(bytes, kOwnedMapOffset);
  record.root_page = Get32Le(bytes, kRootOffset);
  record.flags = bytes[kFlagsOffset];
  return record;
}

bool IndexDefinition::Uses(std::uint16_t column_number) const {
  return std::find(column_numbers.begin(), column_numbers.end(), column_number) != column_numbers.end();
}

}  // namespace jet
