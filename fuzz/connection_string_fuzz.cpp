// libFuzzer target: any bytes (read as UTF-16LE) as a connection description.
// Parsing may only throw std::runtime_error; what it accepts must read back
// through Get under any case of the key, and values must convert to UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "jet/connection_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  try {
    const jet::ConnectionString description = jet::ConnectionString::Parse(text);
    for (const char16_t* key : {u"Provider", u"Data Source", u"DATA SOURCE", u"Jet OLEDB:Database Password"}) {
      if (const auto value = description.Get(key)) static_cast<void>(jet::ToUtf8(*value));
    }
    if (description.Get(u"data source") != description.Get(u"Data Source")) std::abort();
  } catch (const std::runtime_error&) {
  }
  static_cast<void>(jet::ToUtf8(text));
  return 0;
}
