// Wide (UTF-16) text helpers shared by the registry reader and the path
// mapping: Wine's way of comparing names without regard to case, and the
// conversions to and from UTF-8, the encoding of Unix file names and of
// this program's messages.
#ifndef PLATFORM_WIDE_TEXT_H_
#define PLATFORM_WIDE_TEXT_H_

#include <string>
#include <string_view>

namespace platform {

// Returns `c` in lower case by the Unicode simple case mapping, one UTF-16
// unit at a time, as Wine lowers names before comparing them.
char16_t FoldCase(char16_t c);

// Returns `text` with every unit lowered by FoldCase.
std::u16string FoldCase(std::u16string_view text);

// Compares two names the way Wine orders registry keys and values: unit by
// unit after FoldCase over the shorter length, then the shorter one first.
// Returns <0, 0 or >0.
int CompareIgnoringCase(std::u16string_view a, std::u16string_view b);

// Returns `text` as UTF-8. A surrogate without its partner becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Returns UTF-8 `text` as UTF-16. Invalid bytes become U+FFFD.
std::u16string FromUtf8(std::string_view text);

}  // namespace platform

#endif  // PLATFORM_WIDE_TEXT_H_
