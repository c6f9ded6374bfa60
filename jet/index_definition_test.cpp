#include "jet/index_definition.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "jet/bytes.h"
#include "jet/index_page.h"
#include "jet/testing/fixture_database.h"

namespace jet {
namespace {

std::vector<std::uint8_t> ArtikliDefinition(testing::FixtureDatabase& db, std::uint32_t& page) {
  page = db.FindTable(u"PoreskaStopa").page;
  const auto bytes = db.Page(page);
  return {bytes.begin(), bytes.end()};
}

TEST(IndexDefinitionTest, ReadsIndexesOfArtikli) {
  testing::FixtureDatabase db(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-indexed.mdb");
  std::uint32_t page = 0;
  const auto definition = ArtikliDefinition(db, page);
  const auto indexes = IndexDefinitionsOf(DecodeTableDefinition(definition, page, kJet4Format, db), db);
  ASSERT_EQ(indexes.size(), 2u);
  EXPECT_EQ(indexes[0].name, "PrimaryKey");
  EXPECT_EQ(indexes[0].column_numbers, std::vector<std::uint16_t>{0});
  EXPECT_TRUE(indexes[0].unique());
  EXPECT_TRUE(indexes[0].required());
  EXPECT_EQ(indexes[0].root_page, 26u);
  EXPECT_EQ(indexes[1].name, "PoreskaStopa");
  EXPECT_EQ(indexes[1].column_numbers, std::vector<std::uint16_t>{3});
  EXPECT_EQ(indexes[1].columns[0].type, ColumnType::kText);
  EXPECT_EQ(indexes[1].columns[0].sort_order, kGeneralSortOrder);
  EXPECT_FALSE(indexes[1].unique());
  EXPECT_EQ(indexes[1].root_page, 27u);
  EXPECT_EQ(indexes[1].owned_map, 0x1903u);  // row 3 of page 25
}

struct DamageCase {
  const char* name;
  std::size_t cut_to;  // 0: keep the length
  std::size_t offset;
  std::uint8_t value;
  const char* message;
};

TEST(IndexDefinitionTest, ReportsDamagedDefinitions) {
  testing::FixtureDatabase db(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-indexed.mdb");
  std::uint32_t page = 0;
  const auto good = ArtikliDefinition(db, page);
  // The logical index names follow the real and the logical index records.
  const auto table = db.FindTable(u"PoreskaStopa");
  const std::size_t names_at = table.real_index_offsets.back() + kJet4Format.real_index_size +
                               kJet4Format.logical_index_size * Get32(good, kJet4Format.tdef_logical_indexes_offset);
  const DamageCase cases[] = {
      {"cut in the middle of the index records", 300, 0, 0, "fixture page 24: the table definition ends too early"},
      {"cut before the columns", 40, 0, 0, "fixture page 24: the table definition ends too early"},
      {"real index count far too high", 0, 54, 0x7F, "fixture page 24: the table definition counts too many indexes"},
      {"logical index name longer than the definition", 0, names_at + 1, 0x7F,
       "fixture page 24: the table definition ends too early"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = good;
    if (c.cut_to != 0) bytes.resize(c.cut_to);
    if (c.offset != 0) bytes[c.offset] = c.value;
    try {
      DecodeTableDefinition(bytes, page, kJet4Format, db);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST(IndexDefinitionTest, ReportsAnIndexOnAColumnTheTableLacks) {
  testing::FixtureDatabase db(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-indexed.mdb");
  const auto table = db.FindTable(u"PoreskaStopa");
  std::uint32_t page = 0;
  auto bytes = ArtikliDefinition(db, page);
  // The first column slot of the last real index now names column 0xF0.
  Put16(bytes, table.real_index_offsets.back() + kJet4Format.real_index_fields.first_slot, 0xF0);
  const TableDefinition damaged = DecodeTableDefinition(bytes, page, kJet4Format, db);
  try {
    IndexDefinitionsOf(damaged, db);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "fixture page 24: an index uses a column the table does not have");
  }
}

}  // namespace
}  // namespace jet
