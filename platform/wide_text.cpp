#include "platform/wide_text.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>

namespace platform {

namespace {

// The C.UTF-8 locale carries the Unicode case tables; it is looked up once
// and never freed. When the system lacks it, only ASCII letters fold.
locale_t CaseLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + ('a' - 'A')) : c;
  // Surrogates are not characters; they stay as they are.
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const locale_t locale = CaseLocale();
  if (locale == static_cast<locale_t>(0)) return c;
  const wint_t lower = towlower_l(static_cast<wint_t>(c), locale);
  // A mapping that leaves the basic plane cannot be one unit; keep the unit.
  return lower <= 0xFFFF ? static_cast<char16_t>(lower) : c;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) c = FoldCase(c);
  return folded;
}

int CompareIgnoringCase(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int difference = static_cast<int>(FoldCase(a[i])) - static_cast<int>(FoldCase(b[i]));
    if (difference != 0) return difference;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace platform
