#include "jet/index_key.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "jet/errors.h"
#include "jet/testing/fixture_database.h"

namespace jet {
namespace {

KeyBytes Hex(const std::string& text) {
  KeyBytes bytes;
  for (std::size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

constexpr ColumnType kText = ColumnType::kText;

struct KeyCase {
  const char* name;
  KeyColumn column;
  KeyValue value;
  const char* key;
};

TEST(IndexKeyTest, BuildsKeysAsAccessWritesThem) {
  const KeyColumn text_up{kText, true};
  const KeyColumn text_down{kText, false};
  const KeyCase cases[] = {
      {"digit", text_up, u"5", "7F 40 01 00"},
      {"two digits", text_up, u"10", "7F 38 36 01 00"},
      {"Cyrillic A", text_up, u"А", "7F 79 2F 01 00"},
      {"Cyrillic lower case shares the code", text_up, u"а", "7F 79 2F 01 00"},
      {"Cyrillic word", text_up, u"Мир", "7F 79 43 79 3B 79 48 01 00"},
      {"Latin word", text_up, u"row0", "7F 69 64 73 36 01 00"},
      {"trailing blanks are dropped", text_up, u"А  ", "7F 79 2F 01 00"},
      {"leading blank is kept", text_up, u" А", "7F 07 79 2F 01 00"},
      {"empty text", text_up, u"", "7F 01 00"},
      {"null text", text_up, std::monostate{}, "00"},
      {"accented Cyrillic adds its accent after the text", text_up, u"Ѓ", "7F 79 32 01 0E 00"},
      {"accent after a plain letter keeps a placeholder", text_up, u"АЃ", "7F 79 2F 79 32 01 02 0E 00"},
      {"plain letter after an accent is trimmed", text_up, u"ЃА", "7F 79 32 79 2F 01 0E 00"},
      {"descending digit", text_down, u"0", "80 C9 FE FF 00"},
      {"descending null", text_down, std::monostate{}, "FF"},
      {"long zero", {ColumnType::kLong, true}, std::int64_t{0}, "7F 80 00 00 00"},
      {"long three", {ColumnType::kLong, true}, std::int64_t{3}, "7F 80 00 00 03"},
      {"long minus one", {ColumnType::kLong, true}, std::int64_t{-1}, "7F 7F FF FF FF"},
      {"long descending", {ColumnType::kLong, false}, std::int64_t{3}, "80 7F FF FF FC"},
      {"integer", {ColumnType::kInteger, true}, std::int64_t{-2}, "7F 7F FE"},
      {"byte", {ColumnType::kByte, true}, std::int64_t{200}, "7F C8"},
      {"byte descending", {ColumnType::kByte, false}, std::int64_t{200}, "80 37"},
      {"currency 1.5", {ColumnType::kCurrency, true}, std::int64_t{15000}, "7F 80 00 00 00 00 00 3A 98"},
      {"double 1.0", {ColumnType::kDouble, true}, 1.0, "7F BF F0 00 00 00 00 00 00"},
      {"double -1.0", {ColumnType::kDouble, true}, -1.0, "7F 40 0F FF FF FF FF FF FF"},
      {"double descending -1.0", {ColumnType::kDouble, false}, -1.0, "80 BF F0 00 00 00 00 00 00"},
      {"float 1.0", {ColumnType::kFloat, true}, 1.0, "7F BF 80 00 00"},
      {"date", {ColumnType::kDateTime, true}, 2.5, "7F C0 04 00 00 00 00 00 00"},
      {"boolean true", {ColumnType::kBoolean, true}, true, "7F 00"},
      {"boolean false", {ColumnType::kBoolean, true}, false, "7F FF"},
      {"null boolean counts as false", {ColumnType::kBoolean, true}, std::monostate{}, "7F FF"},
      {"boolean descending true", {ColumnType::kBoolean, false}, true, "80 FF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KeyBytes key;
    AppendKeyPart(c.column, c.value, key);
    EXPECT_EQ(key, Hex(c.key));
  }
}

TEST(IndexKeyTest, MultiColumnKeyConcatenatesParts) {
  const KeyColumn columns[] = {{kText, true}, {ColumnType::kLong, false}};
  const KeyValue values[] = {std::u16string(u"1"), std::int64_t{0}};
  EXPECT_EQ(BuildKey(columns, values), Hex("7F 38 01 00 80 7F FF FF FF"));
}

TEST(IndexKeyTest, SortsDigitsBeforeLettersAndNumbersNumerically) {
  const KeyColumn text{kText, true};
  const std::u16string in_order[] = {u"", u"0", u"1", u"10", u"2", u"9", u"A", u"b", u"А", u"Г", u"Ђ", u"К"};
  for (std::size_t i = 1; i < std::size(in_order); ++i) {
    KeyBytes before;
    KeyBytes after;
    AppendKeyPart(text, in_order[i - 1], before);
    AppendKeyPart(text, in_order[i], after);
    EXPECT_LT(before, after) << "position " << i;
  }
  KeyBytes minus;
  KeyBytes plus;
  AppendKeyPart({ColumnType::kDouble, true}, -0.5, minus);
  AppendKeyPart({ColumnType::kDouble, true}, 0.25, plus);
  EXPECT_LT(minus, plus);
}

struct RefusalCase {
  const char* name;
  KeyColumn column;
  KeyValue value;
  const char* message;
};

TEST(IndexKeyTest, RefusesWhatItCannotEncodeExactly) {
  const RefusalCase cases[] = {
      {"Latin letter with a modifier code", {kText, true}, u"ć", "The index key of the character U+0107 is not known to this program"},
      {"apostrophe has an extra code", {kText, true}, u"a'b", "The index key of the character U+0027 is not known to this program"},
      {"control character", {kText, true}, u"\x01", "The index key of the character U+0001 is not known to this program"},
      {"outside the tables", {kText, true}, u"€", "The index key of the character U+20AC is not known to this program"},
      {"other sort order", {kText, true, 0x0419, 0}, u"0",
       "This program cannot build index keys for a text column with sort order 0x0419 version 0"},
      {"2010 General sort", {kText, true, 0x0409, 1}, u"0",
       "This program cannot build index keys for a text column with sort order 0x0409 version 1"},
      {"GUID column", {ColumnType::kGuid, true}, std::monostate{}, "This program cannot build index keys for a column of type 0x0F"},
      {"type byte no column type has", {static_cast<ColumnType>(0x12), true}, std::monostate{},
       "This program cannot build index keys for a column of type 0x12"},
      {"text for a long", {ColumnType::kLong, true}, u"1", "A value does not match the type of its indexed column (type 0x04)"},
      {"byte out of range", {ColumnType::kByte, true}, std::int64_t{256}, "A value does not match the type of its indexed column (type 0x02)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KeyBytes key;
    try {
      AppendKeyPart(c.column, c.value, key);
      ADD_FAILURE() << "no error";
    } catch (const Unsupported& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

// Re-encodes the row values behind every leaf entry of the fixtures' indexes
// and compares with the key Access or Jackcess stored.
struct FixtureIndexCase {
  const char* file;
  const char16_t* column;  // any column of the table
  std::size_t checked;
  std::size_t refused;  // values with characters whose codes we do not reproduce
};

TEST(IndexKeyTest, MatchesKeysStoredInFixtureIndexes) {
  const FixtureIndexCase cases[] = {
      {"artikli/artikli-indexed.mdb", u"PoreskaStopa", 4000, 0},
      {"real/fixedTextTestV2000.mdb", u"c_flag_", 10, 2},
      {"real/indexTestV2000.mdb", u"otherfk1", 16, 0},
      {"real/testV2000.mdb", u"A", 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    testing::FixtureDatabase db(std::filesystem::path(FRN_FIXTURES_DIR) / c.file);
    const auto table = db.FindTable(c.column);
    std::size_t checked = 0;
    std::size_t refused = 0;
    for (const auto& index : table.indexes) {
      SCOPED_TRACE(index.name);
      for (const auto& [number, page] : testing::LoadTree(db, index.root_page)) {
        if (!page.leaf) continue;
        for (const auto& entry : page.entries) {
          const auto values = db.RowValues(table, entry.row, index.column_numbers);
          try {
            EXPECT_EQ(BuildKey(index.columns, values), entry.key) << "page " << number;
            ++checked;
          } catch (const Unsupported&) {
            ++refused;
          }
        }
      }
    }
    EXPECT_EQ(checked, c.checked);
    EXPECT_EQ(refused, c.refused);
  }
}

}  // namespace
}  // namespace jet
