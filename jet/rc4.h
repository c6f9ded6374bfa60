// RC4, the stream cipher Jet uses to mask its header page and to encode the
// pages of an "encrypted" database. Applying it twice restores the input.
#ifndef JET_RC4_H_
#define JET_RC4_H_

#include <cstdint>
#include <span>

namespace jet {

// XORs `data` with the RC4 keystream of `key`, starting the stream at its
// first byte.
void ApplyRc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data);

}  // namespace jet

#endif  // JET_RC4_H_
