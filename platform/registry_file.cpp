#include "platform/registry_file.h"

#include <cstdio>
#include <cstdlib>

#include "platform/wide_text.h"

namespace platform {

namespace {

constexpr std::uint32_t kTypeNone = 0;
constexpr std::uint32_t kTypeString = 1;
constexpr std::uint32_t kTypeExpandString = 2;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;
constexpr std::uint32_t kTypeMultiString = 7;

// Character classes of the C locale, whatever locale the program runs in.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }
unsigned HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

// Hands out the file's lines as wineserver reads them: a line ends at a
// newline, a trailing CR is dropped, and a NUL byte ends the line's text
// (the rest of that line is not read).
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  struct Line {
    std::size_t offset;
    std::string text;  // NUL-free, so C parsing functions stop at its end
  };

  std::optional<Line> Next() {
    if (position_ >= text_.size()) return std::nullopt;
    const std::size_t start = position_;
    std::size_t end = text_.find('\n', start);
    const bool has_newline = end != std::string_view::npos;
    if (!has_newline) end = text_.size();
    position_ = has_newline ? end + 1 : end;
    std::string_view line = text_.substr(start, end - start);
    const std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos) {
      line = line.substr(0, nul);
    } else if (has_newline && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    return Line{start, std::string(line)};
  }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

// Reads escaped text from text[start] up to `delimiter`. Returns the index
// just past the delimiter, or nullopt when the delimiter is missing.
std::optional<std::size_t> ParseEscaped(const std::string& text, std::size_t start, char delimiter,
                                        std::u16string& out) {
  static constexpr unsigned char kUtf8Length[128] = {
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x80-0x8f
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x90-0x9f
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xa0-0xaf
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xb0-0xbf
      0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xc0-0xcf
      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xd0-0xdf
      2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xe0-0xef
      3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xf0-0xff
  };
  static constexpr unsigned char kUtf8Mask[4] = {0x7f, 0x1f, 0x0f, 0x07};
  static constexpr char32_t kUtf8Minimum[4] = {0x0, 0x80, 0x800, 0x10000};

  out.clear();
  std::size_t p = start;
  const std::size_t size = text.size();
  auto at = [&](std::size_t i) { return i < size ? text[i] : '\0'; };
  while (p < size && text[p] != delimiter) {
    if (text[p] == '\\') {
      ++p;
      if (p >= size) break;
      const char c = text[p];
      char16_t unit = 0;
      bool escaped = true;
      switch (c) {
        case 'a': unit = '\a'; ++p; break;
        case 'b': unit = '\b'; ++p; break;
        case 'e': unit = 0x1b; ++p; break;
        case 'f': unit = '\f'; ++p; break;
        case 'n': unit = '\n'; ++p; break;
        case 'r': unit = '\r'; ++p; break;
        case 't': unit = '\t'; ++p; break;
        case 'v': unit = '\v'; ++p; break;
        case 'x':
          ++p;
          if (!IsHexDigit(at(p))) {
            unit = 'x';
          } else {
            // At most four digits: "\x04101" is U+0410 then "1".
            unsigned value = 0;
            for (int digits = 0; digits < 4 && IsHexDigit(at(p)); ++digits, ++p) {
              value = value * 16 + HexDigitValue(text[p]);
            }
            unit = static_cast<char16_t>(value);
          }
          break;
        default:
          if (IsOctalDigit(c)) {
            unsigned value = 0;
            for (int digits = 0; digits < 3 && IsOctalDigit(at(p)); ++digits, ++p) {
              value = value * 8 + static_cast<unsigned>(text[p] - '0');
            }
            unit = static_cast<char16_t>(value);
          } else {
            escaped = false;  // the escaped character is read as it stands
          }
          break;
      }
      if (escaped) {
        out += unit;
        continue;
      }
    }
    const auto lead = static_cast<unsigned char>(text[p++]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      continue;
    }
    // UTF-8: a sequence cut short or out of range is dropped, and the bytes
    // read so far stay read.
    const int length = kUtf8Length[lead - 0x80];
    if (length == 0) continue;
    char32_t value = lead & kUtf8Mask[length];
    bool complete = true;
    for (int i = 0; i < length; ++i) {
      const auto next = static_cast<unsigned char>(at(p) ^ 0x80);
      if (next >= 0x40) {
        complete = false;
        break;
      }
      value = (value << 6) | next;
      ++p;
    }
    if (!complete || value < kUtf8Minimum[length] || value > 0x10FFFF) continue;
    if (value <= 0xFFFF) {
      out += static_cast<char16_t>(value);
    } else {
      value -= 0x10000;
      out += static_cast<char16_t>(0xD800 | (value >> 10));
      out += static_cast<char16_t>(0xDC00 | (value & 0x3FF));
    }
  }
  if (p >= size) return std::nullopt;  // no delimiter
  return p + 1;
}

std::string ToLittleEndianBytes(std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Reads "hex(N):" at text[start]: returns the type and the index after the
// colon, as wineserver reads it with strtoul (so "hex():" is type 0).
std::optional<std::pair<std::uint32_t, std::size_t>> ParseHexType(const std::string& text,
                                                                 std::size_t start) {
  const char* begin = text.c_str() + start + 4;
  char* end = nullptr;
  const unsigned long type = std::strtoul(begin, &end, 16);
  const std::size_t after = static_cast<std::size_t>(end - text.c_str());
  if (text.compare(after, 2, "):") != 0) return std::nullopt;
  return std::make_pair(static_cast<std::uint32_t>(type), after + 2);
}

// Reads a comma-separated hex byte list from text[start]. Returns the index
// where the list stops, or nullopt when a number does not fit a byte.
std::optional<std::size_t> ParseHexBytes(const std::string& text, std::size_t start, std::string& out) {
  std::size_t p = start;
  while (p < text.size() && IsHexDigit(text[p])) {
    const char* begin = text.c_str() + p;
    char* end = nullptr;
    const unsigned long value = std::strtoul(begin, &end, 16);
    if (end == begin || value > 0xFF) return std::nullopt;
    out += static_cast<char>(value);
    p = static_cast<std::size_t>(end - text.c_str());
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p < text.size() && text[p] == ',') ++p;
    while (p < text.size() && IsSpace(text[p])) ++p;
  }
  return p;
}

class Loader {
 public:
  explicit Loader(std::string_view text) : reader_(text) {}

  RegistryFile Load() {
    RegistryFile file;
    std::optional<LineReader::Line> header = reader_.Next();
    if (!header || header->text != kRegistryHeader) return file;
    file.valid = true;
    RegistryKey* key = nullptr;
    while (std::optional<LineReader::Line> line = reader_.Next()) {
      const std::string& text = line->text;
      std::size_t p = 0;
      while (p < text.size() && IsSpace(text[p])) ++p;
      const char first = p < text.size() ? text[p] : '\0';
      switch (first) {
        case '[':
          key = LoadKey(file, text, p + 1, line->offset);
          break;
        case '@':
        case '"':
          if (key) LoadValue(*key, text, p);
          break;
        case '#':
          if (key) {
            if (text.compare(p, 5, "#link") == 0) key->link = true;
          } else if (!GlobalOptionAccepted(text, p)) {
            return file;  // wineserver stops reading the file here
          }
          break;
        default:
          break;  // comments, empty lines and anything unrecognised
      }
    }
    return file;
  }

 private:
  static bool GlobalOptionAccepted(const std::string& text, std::size_t p) {
    if (text.compare(p, 6, "#arch=") != 0) return true;
    const std::string_view arch = std::string_view(text).substr(p + 6);
    return arch == "win32" || arch == "win64";
  }

  // Loads "[path] time": creates every level and returns the key, or
  // nullptr when the header is malformed (the values after it are dropped).
  RegistryKey* LoadKey(RegistryFile& file, const std::string& text, std::size_t start, std::size_t offset) {
    std::u16string path;
    if (!ParseEscaped(text, start, ']', path)) return nullptr;
    // A path that is empty or starts with a NUL names the branch itself.
    std::vector<std::u16string> levels;
    if (!path.empty() && path[0] != u'\0') {
      std::size_t begin = 0;
      while (begin <= path.size()) {
        std::size_t end = path.find(u'\\', begin);
        if (end == std::u16string::npos) end = path.size();
        if (end > begin) levels.emplace_back(path.substr(begin, end - begin));
        begin = end + 1;
      }
    }
    RegistryKey* key = &file.root;
    for (const std::u16string& level : levels) {
      if (level.size() > kMaxKeyNameLength) return nullptr;  // the levels above stay
      key = &key->AddSubKey(level);
    }
    file.sections.push_back(RegistrySection{offset, std::move(levels)});
    return key;
  }

  void LoadValue(RegistryKey& key, const std::string& text, std::size_t p) {
    std::u16string name;
    if (text[p] == '@') {
      ++p;
    } else {
      std::optional<std::size_t> after = ParseEscaped(text, p + 1, '"', name);
      if (!after) return;
      p = *after;
    }
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (p >= text.size() || text[p] != '=') return;
    ++p;
    while (p < text.size() && IsSpace(text[p])) ++p;
    if (name.size() > kMaxValueNameLength) return;

    RegistryValue& value = key.values[FoldCase(name)];
    if (value.name.empty()) value.name = name;
    if (!LoadData(text, p, value)) {
      value.type = kTypeNone;
      value.data.clear();
    }
  }

  bool LoadData(const std::string& text, std::size_t p, RegistryValue& value) {
    std::uint32_t type = 0;
    enum class Syntax { kString, kDword, kHex } syntax;
    auto starts = [&](std::string_view tag) { return text.compare(p, tag.size(), tag) == 0; };
    if (starts("\"")) {
      type = kTypeString, syntax = Syntax::kString, p += 1;
    } else if (starts("str:\"")) {
      type = kTypeString, syntax = Syntax::kString, p += 5;
    } else if (starts("str(2):\"")) {
      type = kTypeExpandString, syntax = Syntax::kString, p += 8;
    } else if (starts("str(7):\"")) {
      type = kTypeMultiString, syntax = Syntax::kString, p += 8;
    } else if (starts("hex:")) {
      type = kTypeBinary, syntax = Syntax::kHex, p += 4;
    } else if (starts("dword:")) {
      type = kTypeDword, syntax = Syntax::kDword, p += 6;
    } else if (starts("hex(")) {
      std::optional<std::pair<std::uint32_t, std::size_t>> hex_type = ParseHexType(text, p);
      if (!hex_type) return false;
      type = hex_type->first, syntax = Syntax::kHex, p = hex_type->second;
    } else {
      return false;
    }

    std::string data;
    switch (syntax) {
      case Syntax::kString: {
        std::u16string units;
        if (!ParseEscaped(text, p, '"', units)) return false;
        units += u'\0';  // the stored text carries its terminator
        data = ToLittleEndianBytes(units);
        break;
      }
      case Syntax::kDword: {
        // As strtoul reads it: blanks, a sign and "0x" are accepted, junk
        // after the digits is ignored, and no digits at all give 0.
        const auto dword = static_cast<std::uint32_t>(std::strtoul(text.c_str() + p, nullptr, 16));
        for (int i = 0; i < 4; ++i) data += static_cast<char>((dword >> (8 * i)) & 0xFF);
        break;
      }
      case Syntax::kHex: {
        std::string line = text;
        for (;;) {
          std::optional<std::size_t> end = ParseHexBytes(line, p, data);
          if (!end) return false;
          p = *end;
          while (p < line.size() && IsSpace(line[p])) ++p;
          if (p >= line.size()) break;
          if (line[p] != '\\') return false;
          std::optional<LineReader::Line> next = reader_.Next();
          if (!next) return false;
          line = std::move(next->text);
          p = 0;
          while (p < line.size() && IsSpace(line[p])) ++p;
        }
        break;
      }
    }
    value.type = type;
    value.data = std::move(data);
    return true;
  }

  LineReader reader_;
};

bool SameValues(const RegistryKey& a, const RegistryKey& b) {
  if (a.link != b.link || a.values.size() != b.values.size()) return false;
  for (auto ia = a.values.begin(), ib = b.values.begin(); ia != a.values.end(); ++ia, ++ib) {
    if (ia->first != ib->first || ia->second.type != ib->second.type || ia->second.data != ib->second.data) {
      return false;
    }
  }
  return true;
}

}  // namespace

const RegistryKey* RegistryKey::FindSubKey(std::u16string_view subkey_name) const {
  const auto it = subkeys.find(FoldCase(subkey_name));
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegistryKey* RegistryKey::FindSubKey(std::u16string_view subkey_name) {
  const auto it = subkeys.find(FoldCase(subkey_name));
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegistryKey& RegistryKey::AddSubKey(std::u16string_view subkey_name) {
  std::unique_ptr<RegistryKey>& slot = subkeys[FoldCase(subkey_name)];
  if (!slot) {
    slot = std::make_unique<RegistryKey>();
    slot->name = std::u16string(subkey_name);
  }
  return *slot;
}

const RegistryValue* RegistryKey::FindValue(std::u16string_view value_name) const {
  const auto it = values.find(FoldCase(value_name));
  return it == values.end() ? nullptr : &it->second;
}

RegistryFile ParseRegistryFile(std::string_view text) {
  RegistryFile file = Loader(text).Load();
  // New lines follow the header's own line end.
  const std::size_t newline = text.find('\n');
  if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') file.line_end = "\r\n";
  return file;
}

std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path) {
  if (!path.empty() && path[0] == u'\\') return std::nullopt;
  std::vector<std::u16string> levels;
  std::size_t begin = 0;
  while (begin < path.size()) {
    std::size_t end = path.find(u'\\', begin);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > begin) {
      if (end - begin > kMaxKeyNameLength) return std::nullopt;
      levels.emplace_back(path.substr(begin, end - begin));
    }
    begin = end + 1;
  }
  return levels;
}

std::string EscapeRegistryText(std::u16string_view text, std::string_view delimiters) {
  static constexpr char kEscapes[33] = ".......abtnvfr.............e....";
  std::string out;
  char buffer[16];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool more = i + 1 < text.size();
    if (c > 127) {
      // Padded to four digits when a hex digit follows, so it reads back.
      const bool pad = more && text[i + 1] < 128 && IsHexDigit(static_cast<char>(text[i + 1]));
      std::snprintf(buffer, sizeof buffer, pad ? "\\x%04x" : "\\x%x", static_cast<unsigned>(c));
      out += buffer;
    } else if (c < 32) {
      if (kEscapes[c] != '.') {
        out += '\\';
        out += kEscapes[c];
      } else {
        const bool pad = more && text[i + 1] >= '0' && text[i + 1] <= '7';
        std::snprintf(buffer, sizeof buffer, pad ? "\\%03o" : "\\%o", static_cast<unsigned>(c));
        out += buffer;
      }
    } else {
      const char ascii = static_cast<char>(c);
      if (ascii == '\\' || delimiters.find(ascii) != std::string_view::npos) out += '\\';
      out += ascii;
    }
  }
  return out;
}

std::string FormatEmptyKeySection(std::span<const std::u16string> path,
                                  std::chrono::system_clock::time_point time,
                                  std::string_view line_end) {
  // 100 ns ticks between 1601-01-01 and 1970-01-01.
  constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ULL;
  const auto since_1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
  const std::uint64_t ticks = kTicks1601To1970 + static_cast<std::uint64_t>(since_1970 < 0 ? 0 : since_1970) / 100;
  const auto seconds = static_cast<unsigned>((ticks - kTicks1601To1970) / 10000000ULL);

  std::string section = "[";
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i > 0) section += "\\\\";
    section += EscapeRegistryText(path[i], "[]");
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "] %u", seconds);
  section += buffer;
  section += line_end;
  std::snprintf(buffer, sizeof buffer, "#time=%x%08x", static_cast<unsigned>(ticks >> 32),
                static_cast<unsigned>(ticks & 0xFFFFFFFFU));
  section += buffer;
  section += line_end;
  return section;
}

bool SameKeys(const RegistryKey& a, const RegistryKey& b) {
  if (!SameValues(a, b) || a.subkeys.size() != b.subkeys.size()) return false;
  for (auto ia = a.subkeys.begin(), ib = b.subkeys.begin(); ia != a.subkeys.end(); ++ia, ++ib) {
    if (ia->first != ib->first || !SameKeys(*ia->second, *ib->second)) return false;
  }
  return true;
}

bool SameKeysPlusPath(const RegistryKey* before, const RegistryKey& after,
                      std::span<const std::u16string> path) {
  if (before == nullptr) {
    if (after.link || !after.values.empty()) return false;
    if (path.empty()) return after.subkeys.empty();
    if (after.subkeys.size() != 1) return false;
    const RegistryKey* next = after.FindSubKey(path[0]);
    return next != nullptr && SameKeysPlusPath(nullptr, *next, path.subspan(1));
  }
  if (path.empty()) return SameKeys(*before, after);
  if (!SameValues(*before, after)) return false;
  const std::u16string added = FoldCase(path[0]);
  for (const auto& [name, subkey] : before->subkeys) {
    if (name != added && !after.subkeys.contains(name)) return false;
  }
  for (const auto& [name, subkey] : after.subkeys) {
    if (name == added) continue;
    const auto it = before->subkeys.find(name);
    if (it == before->subkeys.end() || !SameKeys(*it->second, *subkey)) return false;
  }
  const RegistryKey* next = after.FindSubKey(path[0]);
  return next != nullptr && SameKeysPlusPath(before->FindSubKey(path[0]), *next, path.subspan(1));
}

}  // namespace platform
