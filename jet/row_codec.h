// Rows in Jet 4's layout: finding each column's bytes in a row, decoding them
// into values, and building a row again with one column changed.
//
// Row, Jet 4 (E = row end, M = (C + 7) / 8):
//   0        2   C, the number of columns when the row was written
//   2        ..  fixed area: each fixed column at 2 + its fixed offset
//   ..       ..  variable data, in variable-slot order, then padding
//   E-M-4-2V 2   EOD: end of the variable data
//   ..       2V  start of variable value i at E-M-4-2i
//   E-M-2    2   V, the number of variable slots in this row
//   E-M      M   null mask, bit k (LSB first) set = column number k not null
// Tables without variable columns have no EOD, offsets or V. A boolean's
// value is its mask bit.
#ifndef JET_ROW_CODEC_H_
#define JET_ROW_CODEC_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/page_file.h"
#include "jet/table_definition.h"

namespace jet {

enum class ValueKind { kNull, kText, kInteger, kReal, kDecimal, kDateTime, kBoolean, kGuid, kBinary };

// A decoded column value.
struct Value {
  ValueKind kind = ValueKind::kNull;
  std::u16string text;           // kText (text and memo)
  std::int64_t integer = 0;      // kInteger
  double real = 0;               // kReal
  bool single_precision = false; // kReal from a 4-byte float
  bool boolean = false;          // kBoolean
  std::string exact;             // kDecimal, kDateTime (ISO-8601), kGuid ("{...}")
  std::vector<std::uint8_t> bytes;  // kBinary
};

// The columns of one row, read in place. The row bytes must outlive it.
class RowView {
 public:
  // Checks the row's structure. Throws CorruptDatabase naming `page_number`.
  RowView(const PageFile& file, std::uint32_t page_number, const TableDefinition& table, std::span<const std::uint8_t> row);

  // Returns the column's bytes, or nullopt when it is NULL. For a boolean,
  // an empty span (its value is the mask bit, see MaskBit).
  std::optional<std::span<const std::uint8_t>> Raw(const Column& column) const;
  bool MaskBit(const Column& column) const;

  // Checks that every column of `table` lies inside the row, as Raw would
  // for each. Throws CorruptDatabase.
  void CheckColumns(const TableDefinition& table) const;

  std::span<const std::uint8_t> row() const { return row_; }
  std::size_t column_count() const { return column_count_; }
  bool has_var_table() const { return has_var_table_; }
  std::size_t var_count() const { return var_count_; }
  // Returns the start of variable slot i (i == var_count(): EOD).
  std::size_t var_offset(std::size_t i) const;
  std::size_t fixed_end() const { return fixed_end_; }
  std::span<const std::uint8_t> null_mask() const { return null_mask_; }

 private:
  const PageFile& file_;
  std::uint32_t page_number_;
  std::span<const std::uint8_t> row_;
  std::size_t column_count_ = 0;
  std::span<const std::uint8_t> null_mask_;
  bool has_var_table_ = false;
  std::size_t var_count_ = 0;
  std::size_t mask_start_ = 0;
  std::size_t fixed_end_ = 0;  // where fixed data must end
};

// Returns the value of `column` in `row`; long values are read through
// `file`. Throws CorruptDatabase.
Value DecodeValue(PageFile& file, const RowView& row, const Column& column);

// Decodes Jet text bytes (UTF-16LE, or compressed when they start FF FE).
std::u16string DecodeText(std::span<const std::uint8_t> bytes);

// Encodes `text` for `column`: compressed when the column allows it, the
// text has more than two characters and all of them are U+0001..U+00FF (that
// is shorter); UTF-16LE otherwise. Encoding: UTF-16 -> Jet text bytes.
std::vector<std::uint8_t> EncodeText(std::u16string_view text, const Column& column);
// The same into `out`, reusing its storage.
void EncodeText(std::u16string_view text, const Column& column, std::vector<std::uint8_t>& out);

// Returns the bytes of a long value (memo or OLE field of `field` bytes).
std::vector<std::uint8_t> ReadLongValue(PageFile& file, std::uint32_t page_number, std::span<const std::uint8_t> field);

// Returns `value` as text, as ADO hands a field out as a string; NULL is "".
std::u16string ValueAsText(const Value& value);

// Returns a copy of the row of `row` with `column` set to `bytes` (nullopt:
// NULL), in Jet 4's layout, at least `min_size` bytes long (zero padding
// before EOD keeps a shrinking row at its old size). Unchanged values are
// copied as they are. Throws Unsupported for a row it cannot rebuild.
std::vector<std::uint8_t> RebuildRow(const TableDefinition& table, const RowView& row, const Column& column,
                                     const std::optional<std::vector<std::uint8_t>>& bytes, std::size_t min_size);
// The same into `out`, reusing its storage; `out` must not hold the row
// `row` views.
void RebuildRow(const TableDefinition& table, const RowView& row, const Column& column,
                std::optional<std::span<const std::uint8_t>> bytes, std::size_t min_size, std::vector<std::uint8_t>& out);

}  // namespace jet

#endif  // JET_ROW_CODEC_H_
