// The type byte of a column descriptor, on its own so that the key builder
// can name column types without the whole table definition.
#ifndef JET_COLUMN_TYPE_H_
#define JET_COLUMN_TYPE_H_

#include <cstdint>

namespace jet {

// A file may hold a byte that names none of these; the enum then carries
// that byte unchanged, and the code that meets it refuses it.
enum class ColumnType : std::uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kFloat = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
};

}  // namespace jet

#endif  // JET_COLUMN_TYPE_H_
