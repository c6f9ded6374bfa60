// A Windows-1251 code page for tests, covering ASCII and the Cyrillic
// letters the tests use; everything else is unrepresentable.
#ifndef CONVERSION_TESTING_WINDOWS1251_CODE_PAGE_H_
#define CONVERSION_TESTING_WINDOWS1251_CODE_PAGE_H_

#include <optional>
#include <string>
#include <string_view>

#include "conversion/code_page.h"

namespace conversion::testing {

class Windows1251CodePage : public CodePage {
 public:
  std::optional<std::string> ToAnsi(std::u16string_view text) const override {
    std::string out;
    for (char16_t c : text) {
      const int byte = ByteOf(c);
      if (byte < 0) return std::nullopt;
      out += static_cast<char>(byte);
    }
    return out;
  }

  std::u16string ToWide(std::string_view text) const override {
    std::u16string out;
    for (char c : text) out += CharOf(static_cast<unsigned char>(c));
    return out;
  }

 private:
  static int ByteOf(char16_t c) {
    if (c < 0x80) return c;
    if (c >= 0x0410 && c <= 0x044F) return c - 0x0410 + 0xC0;  // А..я
    switch (c) {
      case 0x0402: return 0x80;  // Ђ
      case 0x0408: return 0xA3;  // Ј
      default: return -1;
    }
  }

  static char16_t CharOf(unsigned char b) {
    if (b < 0x80) return b;
    if (b >= 0xC0) return static_cast<char16_t>(0x0410 + (b - 0xC0));
    if (b == 0x80) return 0x0402;
    if (b == 0xA3) return 0x0408;
    return 0xFFFD;
  }
};

}  // namespace conversion::testing

#endif  // CONVERSION_TESTING_WINDOWS1251_CODE_PAGE_H_
