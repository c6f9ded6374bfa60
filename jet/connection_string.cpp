#include "jet/connection_string.h"

#include <stdexcept>

namespace jet {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::u16string Lower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return lower;
}

[[noreturn]] void Malformed(const std::string& detail) {
  throw std::runtime_error("The connection description is malformed: " + detail + ".");
}

}  // namespace

ConnectionString ConnectionString::Parse(std::u16string_view text) {
  ConnectionString result;
  std::size_t i = 0;
  while (i < text.size()) {
    // Key: up to '='.
    const std::size_t equals = text.find(u'=', i);
    const std::size_t semicolon = text.find(u';', i);
    if (semicolon != std::u16string_view::npos && (equals == std::u16string_view::npos || semicolon < equals)) {
      if (!Trim(text.substr(i, semicolon - i)).empty()) {
        Malformed("'" + ToUtf8(Trim(text.substr(i, semicolon - i))) + "' has no '='");
      }
      i = semicolon + 1;
      continue;
    }
    if (equals == std::u16string_view::npos) {
      if (!Trim(text.substr(i)).empty()) Malformed("'" + ToUtf8(Trim(text.substr(i))) + "' has no '='");
      break;
    }
    const std::u16string_view key = Trim(text.substr(i, equals - i));
    if (key.empty()) Malformed("a value has no name");
    i = equals + 1;
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::u16string value;
    if (i < text.size() && (text[i] == u'"' || text[i] == u'\'')) {
      const char16_t quote = text[i++];
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == quote) {
          if (i + 1 < text.size() && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += text[i++];
      }
      if (!closed) Malformed("the value of '" + ToUtf8(key) + "' has no closing quote");
      while (i < text.size() && IsBlank(text[i])) ++i;
      if (i < text.size() && text[i] != u';') Malformed("text follows the quoted value of '" + ToUtf8(key) + "'");
    } else {
      const std::size_t end = text.find(u';', i);
      const std::size_t stop = end == std::u16string_view::npos ? text.size() : end;
      value = std::u16string(Trim(text.substr(i, stop - i)));
      i = stop;
    }
    if (i < text.size()) ++i;  // the ';'
    result.values_[Lower(key)] = std::move(value);
  }
  return result;
}

std::optional<std::u16string> ConnectionString::Get(std::u16string_view key) const {
  const auto found = values_.find(Lower(Trim(key)));
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

}  // namespace jet
