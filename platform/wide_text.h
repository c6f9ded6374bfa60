// Wide (UTF-16) text helpers shared by the registry reader and the path
// mapping: Wine's way of comparing names without regard to case.
#ifndef PLATFORM_WIDE_TEXT_H_
#define PLATFORM_WIDE_TEXT_H_

#include <string>
#include <string_view>

#include "conversion/unicode.h"

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

using conversion::FromUtf8;
using conversion::ToUtf8;

}  // namespace platform

#endif  // PLATFORM_WIDE_TEXT_H_
