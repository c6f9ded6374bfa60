// Sort keys of index entries: the bytes Jet 4 stores for a row's values in an
// index, which order the entries of every index page.
//
// One key is the concatenation, in the index's column order, of one part per
// column:
//   null value      00 (ascending) / FF (descending), nothing else
//   other values    7F (ascending) / 80 (descending), then the value's bytes
// Value bytes (big-endian, then the order rule of the type):
//   Byte            1 byte
//   Integer, Long   2 / 4 bytes two's complement, top bit flipped
//   Currency        8 bytes two's complement of value * 10000, top bit flipped
//   Float, Double   4 / 8 bytes IEEE; positive: top bit flipped; negative: all
//   Date/Time       bits inverted (a Date/Time is a Double of days)
//   Boolean         00 true, FF false (a null Boolean counts as false)
//   Text, Memo      General sort order codes, see AppendTextKey
// A descending column inverts every value byte after the start flag.
//
// What this file leaves to others: which columns an index has and which
// values a row holds (index_tree.h's callers), the order of entries
// (index_page.h).
#ifndef JET_INDEX_KEY_H_
#define JET_INDEX_KEY_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "jet/column_type.h"

namespace jet {

using KeyBytes = std::vector<std::uint8_t>;

// Jet 4's "General" sort order: LCID 0x0409 with sort version 0 in the
// column descriptor.
inline constexpr std::uint16_t kGeneralSortOrder = 0x0409;
inline constexpr std::uint8_t kGeneralLegacySortVersion = 0;

// One column of an index as the key builder needs it.
struct KeyColumn {
  ColumnType type{};
  bool ascending = true;
  std::uint16_t sort_order = kGeneralSortOrder;  // text and memo only
  std::uint8_t sort_version = kGeneralLegacySortVersion;
};

// A value of one row, already decoded from the row:
//   monostate        null
//   bool             Boolean
//   std::int64_t     Byte, Integer, Long, and Currency as value * 10000
//   double           Float, Double, Date/Time (days since 1899-12-30)
//   std::u16string   Text, Memo (UTF-16)
using KeyValue = std::variant<std::monostate, bool, std::int64_t, double, std::u16string>;

// Returns an empty string when keys can be built for `column`, else the
// reason in words ("a text column with sort order 0x0419"), for the caller's
// refusal message.
std::string WhyKeyUnsupported(const KeyColumn& column);

// Appends the key part of `value` in `column` to `key`. Throws Unsupported
// when the column's type or sort order has no key encoding here, when a text
// holds a character whose General sort code is not known exactly, or when the
// value does not suit the column's type (a text for a Long).
void AppendKeyPart(const KeyColumn& column, const KeyValue& value, KeyBytes& key);

// Returns the whole key of `values` (one per column). Throws as AppendKeyPart.
KeyBytes BuildKey(std::span<const KeyColumn> columns, std::span<const KeyValue> values);

// Returns the whole key of `values`, or nullopt when a text holds a
// character without a known sort code. Throws as AppendKeyPart otherwise.
std::optional<KeyBytes> BuildKeyIfKnown(std::span<const KeyColumn> columns, std::span<const KeyValue> values);

// Appends the General (legacy) sort key of `text` after the start flag:
// truncated to 255 characters, trailing blanks dropped, one code per
// character (upper and lower case share codes), then 01, any accent codes,
// then 00 (descending: all of it inverted and one more 00). Throws
// Unsupported for characters outside the known code table, naming the
// character as U+XXXX.
void AppendTextKey(std::u16string_view text, bool ascending, KeyBytes& key);

}  // namespace jet

#endif  // JET_INDEX_KEY_H_
