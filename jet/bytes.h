// Little-endian reads and writes on byte buffers, bounds-checked by the
// caller through span sizes.
#ifndef JET_BYTES_H_
#define JET_BYTES_H_

#include <cstdint>
#include <span>

namespace jet {

inline std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t Get24(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16);
}
inline std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return Get24(b, at) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint64_t Get64(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint64_t>(Get32(b, at)) | (static_cast<std::uint64_t>(Get32(b, at + 4)) << 32);
}
inline void Put16(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put24(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v);
  b[at + 2] = static_cast<std::uint8_t>(v >> 16);
}
inline void Put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  Put24(b, at, v);
  b[at + 3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace jet

#endif  // JET_BYTES_H_
