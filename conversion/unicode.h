// Conversions between UTF-16, the text of the database and the registry, and
// UTF-8, the encoding of Unix file names, the command line and this program's
// messages.
#ifndef CONVERSION_UNICODE_H_
#define CONVERSION_UNICODE_H_

#include <string>
#include <string_view>

namespace conversion {

// Returns `text` as UTF-8. A surrogate without its partner becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Returns UTF-8 `text` as UTF-16. Invalid bytes become U+FFFD.
std::u16string FromUtf8(std::string_view text);

}  // namespace conversion

#endif  // CONVERSION_UNICODE_H_
