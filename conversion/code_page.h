// Conversion between wide (UTF-16) text and the 8-bit text of the machine's
// single-byte ANSI code page.
//
// The run compares 8-bit texts; the database hands out and takes wide text.
// Implementations live in platform/; tests use a small table-driven one.
#ifndef CONVERSION_CODE_PAGE_H_
#define CONVERSION_CODE_PAGE_H_

#include <optional>
#include <string>
#include <string_view>

namespace conversion {

class CodePage {
 public:
  virtual ~CodePage() = default;

  // Returns `text` in the code page, or nullopt when any character of it has
  // no representation there. There is deliberately no substitution character:
  // a '?' standing for an unknown character could match a real '?' label.
  virtual std::optional<std::string> ToAnsi(std::u16string_view text) const = 0;

  // Returns `text`, read in the code page, as wide text. Every byte has a
  // meaning in the single-byte code pages used here; a byte that has none
  // becomes U+FFFD.
  virtual std::u16string ToWide(std::string_view text) const = 0;
};

}  // namespace conversion

#endif  // CONVERSION_CODE_PAGE_H_
