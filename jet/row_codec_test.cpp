#include "jet/row_codec.h"

#include <gtest/gtest.h>

#include "jet/errors.h"

namespace jet {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RowCodecTest, DecodesPlainAndCompressedText) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"UTF-16LE", {0x10, 0x04, 0x30, 0x00}, u"А0"},
      {"empty", {}, u""},
      {"compressed, one-byte mode", {0xFF, 0xFE, 'a', 'b', 'c'}, u"abc"},
      {"compressed, switching to two-byte mode and back", {0xFF, 0xFE, 'a', 0x00, 0x10, 0x04, 0x00, 'b'}, u"aАb"},
      {"compressed, ending in two-byte mode", {0xFF, 0xFE, 0x00, 0x1C, 0x04, 0x38, 0x04}, u"Ми"},
      {"compressed, just the mark", {0xFF, 0xFE}, u""},
      {"odd trailing byte is dropped", {0x41, 0x00, 0x42}, u"A"},
      {"compressed, cut inside a unit", {0xFF, 0xFE, 0x00, 0x1C}, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeText(c.bytes), c.text);
  }
}

TEST(RowCodecTest, EncodesTextCompressedOnlyWhereShorterAndAllowed) {
  Column compressible;
  compressible.extra_flags = 0x01;
  Column plain;
  struct Case {
    const char* what;
    const Column& column;
    std::u16string text;
    Bytes bytes;
  };
  const Case cases[] = {
      {"one digit stays UTF-16 (same size as the label it replaces)", compressible, u"0", {0x30, 0x00}},
      {"two digits stay UTF-16", compressible, u"10", {0x31, 0x00, 0x30, 0x00}},
      {"three Latin-1 characters compress", compressible, u"abé", {0xFF, 0xFE, 'a', 'b', 0xE9}},
      {"Cyrillic never compresses", compressible, u"АГД", {0x10, 0x04, 0x13, 0x04, 0x14, 0x04}},
      {"a column without compression", plain, u"abc", {'a', 0, 'b', 0, 'c', 0}},
      {"empty", compressible, u"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(EncodeText(c.text, c.column), c.bytes);
    EXPECT_EQ(DecodeText(c.bytes), c.text);
  }
}

// A table of a fixed LONG (number 0) and two variable TEXT columns
// (numbers 1 and 2), and a row of it built by hand.
class RowCodecRowTest : public ::testing::Test {
 protected:
  RowCodecRowTest() : file_(std::make_unique<MemoryFile>("t.mdb", std::make_shared<Bytes>(4096), false), Header()) {
    Column id;
    id.name = u"Id";
    id.type = static_cast<std::uint8_t>(ColumnType::kLong);
    id.number = 0;
    id.flags = 0x01;
    id.length = 4;
    Column rate;
    rate.name = u"Rate";
    rate.type = static_cast<std::uint8_t>(ColumnType::kText);
    rate.number = 1;
    rate.var_index = 0;
    rate.length = 4;
    rate.extra_flags = 0x01;
    Column code;
    code.name = u"Code";
    code.type = static_cast<std::uint8_t>(ColumnType::kText);
    code.number = 2;
    code.var_index = 1;
    code.length = 40;
    table_.columns = {id, rate, code};
    table_.max_columns = 3;
    table_.var_columns = 2;
  }
  static DatabaseHeader Header() {
    DatabaseHeader header;
    header.format = &kJet4Format;
    header.page_count = 1;
    return header;
  }

  // C=3 | Id=7 | "А" | "xy" | EOD=12 | start1=8 start0=6 | V=2 | mask 0x07
  Bytes row_ = {0x03, 0x00, 0x07, 0x00, 0x00, 0x00, 0x10, 0x04, 'x', 0x00, 'y', 0x00,
                0x0C, 0x00, 0x08, 0x00, 0x06, 0x00, 0x02, 0x00, 0x07};
  PageFile file_;
  TableDefinition table_;

  std::vector<Value> Decode(const Bytes& row) {
    const RowView view(file_, 1, table_, row);
    std::vector<Value> values;
    for (const Column& column : table_.columns) values.push_back(DecodeValue(file_, view, column));
    return values;
  }
};

TEST_F(RowCodecRowTest, ReadsEveryColumnOfAHandBuiltRow) {
  const std::vector<Value> values = Decode(row_);
  EXPECT_EQ(values[0].integer, 7);
  EXPECT_EQ(values[1].text, u"А");
  EXPECT_EQ(values[2].text, u"xy");
}

TEST_F(RowCodecRowTest, RebuildsARowWithOneColumnChanged) {
  struct Case {
    const char* what;
    std::optional<Bytes> bytes;
    std::size_t size;
    ValueKind kind;
    std::u16string text;
  };
  const Case cases[] = {
      {"same size: written in place of the old bytes", Bytes{'0', 0}, 21, ValueKind::kText, u"0"},
      {"shorter: padded to the old size", Bytes{}, 21, ValueKind::kText, u""},
      {"longer: the row grows", Bytes{'1', 0, '0', 0}, 23, ValueKind::kText, u"10"},
      {"NULL: the mask bit is cleared", std::nullopt, 21, ValueKind::kNull, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RowView view(file_, 1, table_, row_);
    const Bytes rebuilt = RebuildRow(table_, view, table_.columns[1], c.bytes, row_.size());
    EXPECT_EQ(rebuilt.size(), c.size);
    const std::vector<Value> values = Decode(rebuilt);
    EXPECT_EQ(values[0].integer, 7);
    EXPECT_EQ(values[1].kind, c.kind);
    EXPECT_EQ(values[1].text, c.text);
    EXPECT_EQ(values[2].text, u"xy");
  }
  // The same-size change touches only the value's own bytes.
  const Bytes same = RebuildRow(table_, RowView(file_, 1, table_, row_), table_.columns[1], Bytes{'0', 0}, row_.size());
  Bytes expected = row_;
  expected[6] = '0';
  expected[7] = 0;
  EXPECT_EQ(same, expected);
}

TEST_F(RowCodecRowTest, DamagedRowsAreReportedNotRead) {
  struct Case {
    const char* what;
    std::size_t at;
    std::uint8_t value;
  };
  const Case cases[] = {
      {"variable offset past the offset table", 16, 0x40},
      {"EOD past the offset table", 12, 0x7F},
      {"too many variable slots", 18, 0x30},
      {"column count too large for the row", 1, 0x01},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes damaged = row_;
    damaged[c.at] = c.value;
    try {
      Decode(damaged);
      ADD_FAILURE() << "decoded";
    } catch (const CorruptDatabase& error) {
      EXPECT_EQ(error.page_number(), 1u);
    }
  }
}

}  // namespace
}  // namespace jet
