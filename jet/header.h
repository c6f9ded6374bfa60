// The header page (page 0): which format the file is, whether its pages are
// RC4-encoded, and its database password.
//
// Reads only; page 0 is never written by this engine.
#ifndef JET_HEADER_H_
#define JET_HEADER_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "jet/file.h"
#include "jet/format.h"

namespace jet {

struct DatabaseHeader {
  const FormatDescription* format = nullptr;
  std::array<std::uint8_t, 4> encoding_key{};  // all zero: pages are plain
  std::optional<std::u16string> password;      // nullopt: no password set
  std::uint32_t page_count = 0;

  bool encoded() const { return encoding_key != std::array<std::uint8_t, 4>{}; }
};

// Reads and unmasks the header of `file`. Throws Unsupported naming the
// format for Jet 3, ACE and MS Money files; CorruptDatabase for a file that is
// not a Jet database or is cut short.
DatabaseHeader ReadHeader(File& file);

// Throws std::runtime_error("Not a valid password.") when the database has a
// password and `given` differs from it. A database without a password opens
// with any password given, see the definition for why.
void CheckPassword(const DatabaseHeader& header, const std::u16string& given);

}  // namespace jet

#endif  // JET_HEADER_H_
