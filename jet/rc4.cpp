#include "jet/rc4.h"

#include <array>
#include <utility>

namespace jet {

void ApplyRc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
  std::array<std::uint8_t, 256> state;
  for (int i = 0; i < 256; ++i) state[i] = static_cast<std::uint8_t>(i);
  if (!key.empty()) {
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
      j = static_cast<std::uint8_t>(j + state[i] + key[static_cast<std::size_t>(i) % key.size()]);
      std::swap(state[i], state[j]);
    }
  }
  std::uint8_t i = 0;
  std::uint8_t j = 0;
  for (std::uint8_t& byte : data) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + state[i]);
    std::swap(state[i], state[j]);
    byte ^= state[static_cast<std::uint8_t>(state[i] + state[j])];
  }
}

}  // namespace jet
