// The text format of a Wine registry file (user.reg, system.reg): reading a
// whole file into a key tree the way wineserver loads it, and writing the
// section of a new empty key the way wineserver saves one.
//
//   WINE REGISTRY Version 2                 first line, exactly (a final CR is dropped)
//   ;; All keys relative to \\User\\S-...   comment
//   #arch=win32                             global option (before the first key)
//
//   [Software\\Zarvel\\Trelon 3] 1718000000 key path (escaped, levels joined by
//   #time=1dabcdef01234567                  "\\"), seconds since 1970; option lines
//   "PUTANJA_BAZE"="C:\\podaci.dtb"         values: "name"=data or @=data
//
// | data written as     | type           | data held                              |
// |---------------------|----------------|----------------------------------------|
// | "text", str:"text"  | 1 (string)     | UTF-16LE of text plus a NUL unit        |
// | str(2):"text"       | 2 (expandable) | same                                   |
// | str(7):"a\0b\0"     | 7 (multi)      | same                                   |
// | dword:0000002a      | 4              | 4 bytes, little-endian                 |
// | hex:01,02           | 3 (binary)     | the listed bytes; none gives size 0    |
// | hex(N):01,02        | N (hex number) | the listed bytes; none gives size 0    |
//
// Escapes in quoted text and key paths: \a \b \e \f \n \r \t \v, \x and up to
// four hex digits, \ and up to three octal digits, \ before anything else
// stands for that character. Bytes above 127 are read as UTF-8; invalid ones
// are dropped. A hex list continues on the next line after a trailing "\".
//
// Lines that cannot be read are skipped as wineserver skips them: a value
// whose data is malformed is kept with type 0 and no data, a malformed key
// header drops the values that follow it, unknown lines are ignored.
#ifndef PLATFORM_REGISTRY_FILE_H_
#define PLATFORM_REGISTRY_FILE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr std::string_view kRegistryHeader = "WINE REGISTRY Version 2";
// Longest key name of one level and longest value name, in UTF-16 units.
inline constexpr std::size_t kMaxKeyNameLength = 256;
inline constexpr std::size_t kMaxValueNameLength = 16383;

struct RegistryValue {
  std::u16string name;  // as first spelled in the file
  std::uint32_t type = 0;
  std::string data;  // the stored bytes (UTF-16LE for the string types)
};

// One key of the tree. Subkeys and values are indexed by their name after
// FoldCase, so lookups ignore case as the registry does.
struct RegistryKey {
  std::u16string name;  // as first spelled in the file
  bool link = false;    // a symbolic link key ("#link")
  std::map<std::u16string, std::unique_ptr<RegistryKey>> subkeys;
  std::map<std::u16string, RegistryValue> values;

  // Returns the subkey `subkey_name` (any case), or nullptr.
  const RegistryKey* FindSubKey(std::u16string_view subkey_name) const;
  RegistryKey* FindSubKey(std::u16string_view subkey_name);
  // Returns the subkey `subkey_name`, adding it with that spelling when missing.
  RegistryKey& AddSubKey(std::u16string_view subkey_name);
  // Returns the value `value_name` (any case), or nullptr.
  const RegistryValue* FindValue(std::u16string_view value_name) const;
};

// A key header that loaded: where its line starts and the levels it names.
struct RegistrySection {
  std::size_t offset = 0;
  std::vector<std::u16string> path;
};

struct RegistryFile {
  bool valid = false;       // the first line is the Wine header
  std::string line_end = "\n";  // "\r\n" when the header line ends so
  RegistryKey root;
  std::vector<RegistrySection> sections;  // in file order
};

// Reads a whole registry file. A file whose first line is not the header
// gives an empty, invalid tree. Never throws for any input.
RegistryFile ParseRegistryFile(std::string_view text);

// Returns the key levels of `path` (backslash separated, empty levels
// skipped), or nullopt when it is not a usable key path: it starts with a
// backslash or a level is longer than kMaxKeyNameLength.
std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path);

// Returns `text` escaped as wineserver writes names and text; `delimiters`
// are the two characters that must be escaped besides the backslash ("[]" in
// key paths, "\"\"" in quoted text).
std::string EscapeRegistryText(std::u16string_view text, std::string_view delimiters);

// Returns the section wineserver writes for an empty key: a header line with
// the path and the time in seconds since 1970, and a #time line with the
// time in 100 ns units since 1601, each ended by `line_end`.
std::string FormatEmptyKeySection(std::span<const std::u16string> path,
                                  std::chrono::system_clock::time_point time,
                                  std::string_view line_end);

// Returns whether `a` and `b` hold the same keys, links and values (names
// compared ignoring case, data exactly); times are not compared.
bool SameKeys(const RegistryKey& a, const RegistryKey& b);

// Returns whether `after` is `before` with the empty key `path` added (and
// the levels leading to it), and nothing else changed. `before` may be null
// when that level did not exist.
bool SameKeysPlusPath(const RegistryKey* before, const RegistryKey& after,
                      std::span<const std::u16string> path);

}  // namespace platform

#endif  // PLATFORM_REGISTRY_FILE_H_
