#include "jet/row_codec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/errors.h"

namespace jet {
namespace {

// Memo and OLE field in the row (12 bytes, then inline data):
//   0   4   length (bits 0-29); bit 31: data follows inline, bit 30: data is
//           one long-value row, neither: a chain of long-value rows, each
//           starting with the row pointer of the next
//   4   4   row pointer of the (first) long-value row: row, 3-byte page
//   8   4   unused
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;
constexpr std::uint32_t kLongValueInline = 0x80000000;
constexpr std::uint32_t kLongValueSingleRow = 0x40000000;
constexpr std::size_t kLongValueHeaderSize = 12;
constexpr std::uint8_t kCompressedTextMark[] = {0xFF, 0xFE};
constexpr std::size_t kNumericSize = 17;

std::size_t FixedSize(ColumnType type) {
  switch (type) {
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong:
    case ColumnType::kFloat: return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return kNumericSize;
    default: return 0;
  }
}

// Returns days since 0000-03-01-based civil date (Howard Hinnant's method).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

// Formats a Jet date/time (days since 1899-12-30; for negative values the
// fraction still counts forward from midnight) as ISO-8601 without a zone.
std::string FormatDateTime(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return "invalid";
  double whole = std::trunc(value);
  long long ms = std::llround(std::fabs(value - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += value < 0 ? -1 : 1;
  }
  long long y;
  unsigned m;
  unsigned d;
  constexpr long long kDaysTo1899_12_30 = -25569;  // from 1970-01-01
  CivilFromDays(static_cast<long long>(whole) + kDaysTo1899_12_30, y, m, d);
  char buffer[128];
  const long long secs = ms / 1000;
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", y, m, d, secs / 3600, secs / 60 % 60, secs % 60);
  std::string text = buffer;
  if (ms % 1000 != 0) {
    std::snprintf(buffer, sizeof buffer, ".%03lld", ms % 1000);
    text += buffer;
  }
  return text;
}

// Writes `digits` (a non-negative integer in decimal) with `scale` decimals.
std::string ScaleDecimal(std::string digits, std::size_t scale, bool negative) {
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, ".");
  return negative ? "-" + digits : digits;
}

// Returns the decimal digits of a 128-bit unsigned integer held as four
// 32-bit words, most significant first.
std::string Digits128(std::uint32_t words[4]) {
  std::string digits;
  bool zero = false;
  while (!zero) {
    std::uint64_t remainder = 0;
    zero = true;
    for (int i = 0; i < 4; ++i) {
      const std::uint64_t current = (remainder << 32) | words[i];
      words[i] = static_cast<std::uint32_t>(current / 10);
      remainder = current % 10;
      if (words[i] != 0) zero = false;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
  }
  return digits;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::string ShortestDouble(double value, bool single) {
  char buffer[64];
  const auto result = single ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
                             : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

RowView::RowView(const PageFile& file, std::uint32_t page_number, const TableDefinition& table, std::span<const std::uint8_t> row)
    : file_(file), page_number_(page_number), row_(row) {
  if (row.size() < 2) file_.Corrupt(page_number, "a row is too short");
  column_count_ = Get16(row, 0);
  const std::size_t mask_size = (column_count_ + 7) / 8;
  if (2 + mask_size > row.size()) file_.Corrupt(page_number, "a row is shorter than its null mask");
  null_mask_ = row.subspan(row.size() - mask_size);
  const std::size_t mask_start = row.size() - mask_size;
  has_var_table_ = table.var_columns > 0;
  if (!has_var_table_) {
    fixed_end_ = mask_start;
    return;
  }
  if (mask_start < 2 + 4) file_.Corrupt(page_number, "a row is too short for its variable columns");
  const std::size_t var_count = Get16(row, mask_start - 2);
  if (mask_start < 2 + 4 + 2 * var_count) file_.Corrupt(page_number, "a row is too short for its variable columns");
  const std::size_t table_start = mask_start - 4 - 2 * var_count;
  var_count_ = var_count;
  mask_start_ = mask_start;
  for (std::size_t i = 0; i <= var_count; ++i) {
    const std::size_t offset = var_offset(i);
    if (offset < 2 || offset > table_start) file_.Corrupt(page_number, "a row's variable offsets point outside it");
  }
  fixed_end_ = var_offset(0);
}

std::size_t RowView::var_offset(std::size_t i) const { return Get16(row_, mask_start_ - 4 - 2 * i); }

bool RowView::MaskBit(const Column& column) const {
  if (column.number >= column_count_) return false;
  return (null_mask_[column.number / 8] >> (column.number % 8)) & 1;
}

std::optional<std::span<const std::uint8_t>> RowView::Raw(const Column& column) const {
  if (column.number >= column_count_) return std::nullopt;
  if (column.column_type() == ColumnType::kBoolean) return std::span<const std::uint8_t>();
  if (!MaskBit(column)) return std::nullopt;
  if (column.fixed()) {
    const std::size_t start = 2 + static_cast<std::size_t>(column.fixed_offset);
    if (start + column.length > fixed_end_) file_.Corrupt(page_number_, "a fixed column lies outside its row");
    return row_.subspan(start, column.length);
  }
  if (!has_var_table_ || column.var_index >= var_count()) return std::nullopt;
  const std::size_t start = var_offset(column.var_index);
  const std::size_t end = var_offset(column.var_index + 1u);
  if (start > end) file_.Corrupt(page_number_, "a variable column has a negative length");
  return row_.subspan(start, end - start);
}

void RowView::CheckColumns(const TableDefinition& table) const {
  for (const Column& column : table.columns) {
    if (column.number >= column_count_ || column.column_type() == ColumnType::kBoolean) continue;
    if (((null_mask_[column.number / 8] >> (column.number % 8)) & 1) == 0) continue;
    if (column.fixed()) {
      if (2 + static_cast<std::size_t>(column.fixed_offset) + column.length > fixed_end_) {
        file_.Corrupt(page_number_, "a fixed column lies outside its row");
      }
    } else if (has_var_table_ && column.var_index < var_count_ && var_offset(column.var_index) > var_offset(column.var_index + 1u)) {
      file_.Corrupt(page_number_, "a variable column has a negative length");
    }
  }
}

std::u16string DecodeText(std::span<const std::uint8_t> bytes) {
  std::u16string text;
  if (bytes.size() >= 2 && bytes[0] == kCompressedTextMark[0] && bytes[1] == kCompressedTextMark[1]) {
    // Encoding: compressed Unicode -> UTF-16. One byte per unit until a 00
    // byte switches to two bytes per unit, and back.
    bool single = true;
    for (std::size_t i = 2; i < bytes.size();) {
      if (bytes[i] == 0) {
        single = !single;
        ++i;
      } else if (single) {
        text.push_back(bytes[i++]);
      } else if (i + 1 < bytes.size()) {
        text.push_back(static_cast<char16_t>(Get16(bytes, i)));
        i += 2;
      } else {
        break;
      }
    }
    return text;
  }
  // Encoding: UTF-16LE -> UTF-16.
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(static_cast<char16_t>(Get16(bytes, i)));
  return text;
}

void EncodeText(std::u16string_view text, const Column& column, std::vector<std::uint8_t>& out) {
  bool compress = column.compressible() && text.size() > 2;
  for (char16_t c : text) {
    if (c == 0 || c > 0xFF) compress = false;
  }
  out.clear();
  if (compress) {
    // Encoding: UTF-16 -> compressed Unicode, all in one-byte mode.
    out.assign(std::begin(kCompressedTextMark), std::end(kCompressedTextMark));
    for (char16_t c : text) out.push_back(static_cast<std::uint8_t>(c));
  } else {
    // Encoding: UTF-16 -> UTF-16LE.
    for (char16_t c : text) {
      out.push_back(static_cast<std::uint8_t>(c & 0xFF));
      out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
}

std::vector<std::uint8_t> EncodeText(std::u16string_view text, const Column& column) {
  std::vector<std::uint8_t> bytes;
  EncodeText(text, column, bytes);
  return bytes;
}

std::vector<std::uint8_t> ReadLongValue(PageFile& file, std::uint32_t page_number, std::span<const std::uint8_t> field) {
  if (field.size() < kLongValueHeaderSize) file.Corrupt(page_number, "a memo or OLE field is too short");
  const std::uint32_t word = Get32(field, 0);
  const std::size_t length = word & kLongValueLengthMask;
  const std::uint32_t kind = word & ~kLongValueLengthMask;
  if (kind == kLongValueInline) {
    if (length > field.size() - kLongValueHeaderSize) file.Corrupt(page_number, "a memo or OLE field is longer than its row");
    return std::vector<std::uint8_t>(field.begin() + kLongValueHeaderSize, field.begin() + static_cast<std::ptrdiff_t>(kLongValueHeaderSize + length));
  }
  if (kind != kLongValueSingleRow && kind != 0) file.Corrupt(page_number, "a memo or OLE field of unknown kind");
  std::vector<std::uint8_t> data;
  std::set<std::pair<std::uint32_t, std::uint8_t>> seen;
  RowPointer next = ReadRowPointer(field.subspan(4, 4));
  while (data.size() < length) {
    if (!seen.emplace(next.page, next.row).second) file.Corrupt(next.page, "the pages of a long value form a loop");
    const PageRef page = file.Read(next.page);
    if ((*page)[0] != kDataPageType) file.Corrupt(next.page, "a long value points to a page that holds no rows");
    const RowSlot slot = ReadRowSlot(file, next.page, *page, next.row);
    std::span<const std::uint8_t> bytes(page->data() + slot.start, slot.size());
    if (kind == kLongValueSingleRow) {
      if (bytes.size() < length) file.Corrupt(next.page, "a long value is shorter than its length");
      data.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
      break;
    }
    if (bytes.size() < 4) file.Corrupt(next.page, "a long value row is too short");
    const RowPointer following = ReadRowPointer(bytes.subspan(0, 4));
    bytes = bytes.subspan(4);
    const std::size_t take = std::min(bytes.size(), length - data.size());
    data.insert(data.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
    if (data.size() < length && following.page == 0) file.Corrupt(next.page, "a long value ends before its length");
    next = following;
  }
  return data;
}

Value DecodeValue(PageFile& file, const RowView& row, const Column& column) {
  Value value;
  const std::optional<std::span<const std::uint8_t>> raw = row.Raw(column);
  if (!raw) return value;
  const std::span<const std::uint8_t> b = *raw;
  const ColumnType type = column.column_type();
  const std::size_t need = FixedSize(type);
  if (need != 0 && b.size() < need) throw CorruptDatabase(file.path(), 0, "a value of column '" + std::string(column.name.begin(), column.name.end()) + "' is too short");
  switch (type) {
    case ColumnType::kBoolean:
      value.kind = ValueKind::kBoolean;
      value.boolean = row.MaskBit(column);
      break;
    case ColumnType::kByte:
      value.kind = ValueKind::kInteger;
      value.integer = b[0];
      break;
    case ColumnType::kInteger:
      value.kind = ValueKind::kInteger;
      value.integer = static_cast<std::int16_t>(Get16(b, 0));
      break;
    case ColumnType::kLong:
      value.kind = ValueKind::kInteger;
      value.integer = static_cast<std::int32_t>(Get32(b, 0));
      break;
    case ColumnType::kCurrency: {
      const auto units = static_cast<std::int64_t>(Get64(b, 0));
      const std::uint64_t magnitude = units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
      value.kind = ValueKind::kDecimal;
      value.exact = ScaleDecimal(std::to_string(magnitude), 4, units < 0);
      break;
    }
    case ColumnType::kFloat: {
      float f;
      const std::uint32_t bits = Get32(b, 0);
      std::memcpy(&f, &bits, 4);
      value.kind = ValueKind::kReal;
      value.real = f;
      value.single_precision = true;
      break;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d;
      const std::uint64_t bits = Get64(b, 0);
      std::memcpy(&d, &bits, 8);
      if (type == ColumnType::kDouble) {
        value.kind = ValueKind::kReal;
        value.real = d;
      } else {
        value.kind = ValueKind::kDateTime;
        value.exact = FormatDateTime(d);
      }
      break;
    }
    case ColumnType::kGuid: {
      const std::string h = Hex(b.subspan(0, 16));
      auto swapped = [&](std::size_t at, std::size_t size) {
        std::string part;
        for (std::size_t i = size; i-- > 0;) part += h.substr(2 * (at + i), 2);
        return part;
      };
      value.kind = ValueKind::kGuid;
      value.exact = "{" + swapped(0, 4) + "-" + swapped(4, 2) + "-" + swapped(6, 2) + "-" + h.substr(16, 4) + "-" + h.substr(20, 12) + "}";
      for (char& c : value.exact) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      break;
    }
    case ColumnType::kNumeric: {
      std::uint32_t words[4];
      for (int i = 0; i < 4; ++i) words[i] = Get32(b, 1 + 4 * static_cast<std::size_t>(i));
      value.kind = ValueKind::kDecimal;
      const std::size_t scale = column.scale > 28 ? 28 : column.scale;
      value.exact = ScaleDecimal(Digits128(words), scale, b[0] != 0);
      break;
    }
    case ColumnType::kText:
      value.kind = ValueKind::kText;
      value.text = DecodeText(b);
      break;
    case ColumnType::kMemo:
      value.kind = ValueKind::kText;
      value.text = DecodeText(ReadLongValue(file, 0, b));
      break;
    case ColumnType::kOle:
      value.kind = ValueKind::kBinary;
      value.bytes = ReadLongValue(file, 0, b);
      break;
    default:
      value.kind = ValueKind::kBinary;
      value.bytes.assign(b.begin(), b.end());
      break;
  }
  return value;
}

std::u16string ValueAsText(const Value& value) {
  std::string ascii;
  switch (value.kind) {
    case ValueKind::kNull: return u"";
    case ValueKind::kText: return value.text;
    case ValueKind::kInteger: ascii = std::to_string(value.integer); break;
    case ValueKind::kReal: ascii = ShortestDouble(value.real, value.single_precision); break;
    case ValueKind::kDecimal:
    case ValueKind::kDateTime:
    case ValueKind::kGuid: ascii = value.exact; break;
    case ValueKind::kBoolean: ascii = value.boolean ? "True" : "False"; break;
    case ValueKind::kBinary: ascii = Hex(value.bytes); break;
  }
  return std::u16string(ascii.begin(), ascii.end());
}

void RebuildRow(const TableDefinition& table, const RowView& row, const Column& column,
                std::optional<std::span<const std::uint8_t>> bytes, std::size_t min_size, std::vector<std::uint8_t>& out) {
  const std::span<const std::uint8_t> old = row.row();
  if (old.data() == out.data()) throw std::logic_error("a row rebuilt over itself");
  if (column.column_type() == ColumnType::kBoolean) throw Unsupported("Changing a yes/no column is not supported.");
  const std::size_t old_columns = row.column_count();
  std::size_t columns = old_columns;
  if (column.number >= old_columns) {
    if (column.fixed()) throw Unsupported("The row was written before the column existed; changing it is not supported.");
    columns = std::max<std::size_t>(table.max_columns, column.number + 1u);
  }
  const std::size_t mask_size = (columns + 7) / 8;
  // The old mask, widened for new columns, with the column's bit set for a
  // value and cleared for NULL.
  auto write_mask = [&](std::uint8_t* mask) {
    const std::span<const std::uint8_t> old_mask = row.null_mask();
    for (std::size_t k = 0; k < mask_size; ++k) mask[k] = k < old_mask.size() ? old_mask[k] : 0;
    const auto bit = static_cast<std::uint8_t>(1u << (column.number % 8));
    mask[column.number / 8] = static_cast<std::uint8_t>(bytes ? (mask[column.number / 8] | bit) : (mask[column.number / 8] & ~bit));
  };

  if (column.fixed()) {
    const std::size_t start = 2 + static_cast<std::size_t>(column.fixed_offset);
    if (bytes && (bytes->size() != column.length || start + column.length > row.fixed_end())) {
      throw Unsupported("A value does not fit its fixed-length column.");
    }
    out.assign(old.begin(), old.end());
    if (bytes) std::copy(bytes->begin(), bytes->end(), out.begin() + static_cast<std::ptrdiff_t>(start));
    write_mask(out.data() + out.size() - mask_size);
    return;
  }
  if (!row.has_var_table()) throw Unsupported("The row has no variable columns to change.");

  const std::size_t old_vars = row.var_count();
  const std::size_t vars = std::max<std::size_t>(old_vars, column.var_index + 1u);
  auto value_of = [&](std::size_t i) -> std::span<const std::uint8_t> {
    if (i == column.var_index) return bytes ? *bytes : std::span<const std::uint8_t>();
    if (i >= old_vars) return {};
    return old.subspan(row.var_offset(i), row.var_offset(i + 1) - row.var_offset(i));
  };
  std::size_t end_of_data = row.fixed_end();
  for (std::size_t i = 0; i < vars; ++i) end_of_data += value_of(i).size();
  // Zero padding before EOD keeps a shrinking row at its old size.
  const std::size_t tail = 2 + 2 * vars + 2 + mask_size;
  const std::size_t eod_at = std::max(end_of_data, min_size > tail ? min_size - tail : 0);
  out.assign(eod_at + tail, 0);
  std::copy(old.begin(), old.begin() + static_cast<std::ptrdiff_t>(row.fixed_end()), out.begin());
  Put16(out, 0, static_cast<std::uint32_t>(columns));
  std::size_t position = row.fixed_end();
  for (std::size_t i = 0; i < vars; ++i) {
    const std::span<const std::uint8_t> value = value_of(i);
    Put16(out, eod_at + 2 + 2 * (vars - 1 - i), static_cast<std::uint32_t>(position));
    std::copy(value.begin(), value.end(), out.begin() + static_cast<std::ptrdiff_t>(position));
    position += value.size();
  }
  Put16(out, eod_at, static_cast<std::uint32_t>(end_of_data));
  Put16(out, eod_at + 2 + 2 * vars, static_cast<std::uint32_t>(vars));
  write_mask(out.data() + out.size() - mask_size);
}

std::vector<std::uint8_t> RebuildRow(const TableDefinition& table, const RowView& row, const Column& column,
                                     const std::optional<std::vector<std::uint8_t>>& bytes, std::size_t min_size) {
  std::vector<std::uint8_t> out;
  std::optional<std::span<const std::uint8_t>> value;
  if (bytes) value = std::span<const std::uint8_t>(*bytes);
  RebuildRow(table, row, column, value, min_size, out);
  return out;
}

}  // namespace jet
