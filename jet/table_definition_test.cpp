#include "jet/table_definition.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "jet/bytes.h"
#include "jet/catalog.h"
#include "jet/database.h"
#include "jet/errors.h"
#include "jet/index_maintenance.h"

namespace jet {
namespace {

using Bytes = std::vector<std::uint8_t>;

// testV2000.mdb (Jackcess's test database, written by Access 2000) keeps
// Table2's definition on page 30 and its continuation page 708: 89 column
// descriptors fill most of page 30, the fourth real index record starts 8
// bytes before its end, and the logical index names all lie on page 708.
constexpr std::uint32_t kTable2Page = 30;
constexpr std::uint32_t kTable2Continuation = 708;
constexpr std::size_t kPage = 4096;

Bytes TestV2000() {
  std::ifstream in(std::filesystem::path(FRN_FIXTURES_DIR) / "real/testV2000.mdb", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Database Open(Bytes bytes) {
  return Database(std::make_unique<MemoryFile>("x.mdb", std::make_shared<Bytes>(std::move(bytes)), false), std::nullopt);
}

TEST(TableDefinitionTest, ReadsIndexesFromADefinitionOverTwoPages) {
  Database database = Open(TestV2000());
  const std::optional<CatalogEntry> entry = FindTable(database.pages(), u"Table2");
  ASSERT_TRUE(entry);
  ASSERT_EQ(entry->definition_page, kTable2Page);
  const TableDefinition table = ReadTableDefinition(database.pages(), entry->definition_page);
  EXPECT_EQ(table.columns.size(), 89u);
  ASSERT_EQ(table.real_indexes.size(), 5u);
  ASSERT_EQ(table.logical_indexes.size(), 5u);

  struct Expected {
    const char* name;
    std::uint16_t column_number;
    std::uint32_t root_page;
    bool unique;
  };
  // Real index 3 is the record that crosses from page 30 to page 708.
  const Expected expected[] = {
      {"id", 0, 33, false},      {"PrimaryKey", 0, 37, true},  {"column10", 9, 90, false},
      {"column14", 13, 91, false}, {"column75", 74, 146, false},
  };
  const std::vector<IndexDefinition> indexes = ReadTableIndexes(database.pages(), table);
  ASSERT_EQ(indexes.size(), std::size(expected));
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(indexes[i].name, expected[i].name);
    EXPECT_EQ(indexes[i].column_numbers, std::vector<std::uint16_t>{expected[i].column_number});
    EXPECT_EQ(indexes[i].root_page, expected[i].root_page);
    EXPECT_EQ(indexes[i].unique(), expected[i].unique);
    EXPECT_EQ(indexes[i].table_page, kTable2Page);
  }
  EXPECT_TRUE(table.IsIndexed(*table.FindColumn(u"column75")));
  EXPECT_FALSE(table.IsIndexed(*table.FindColumn(u"column76")));
}

TEST(TableDefinitionTest, ReportsADamagedPageChain) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    const char* message;
  };
  const Case cases[] = {
      {"first page names itself as the next", [](Bytes& b) { Put32(b, kTable2Page * kPage + 4, kTable2Page); },
       "The database 'x.mdb' is damaged (page 30): the pages of a table definition form a loop"},
      {"continuation page of another type", [](Bytes& b) { b[kTable2Continuation * kPage] = 0x01; },
       "The database 'x.mdb' is damaged (page 708): expected a table definition page"},
      // Without page 708 the index records run past the bytes at hand.
      {"continuation page left out of the chain", [](Bytes& b) { Put32(b, kTable2Page * kPage + 4, 0); },
       "The database 'x.mdb' is damaged (page 30): the table definition ends too early"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = TestV2000();
    c.damage(bytes);
    Database database = Open(std::move(bytes));
    try {
      ReadTableDefinition(database.pages(), kTable2Page);
      ADD_FAILURE() << "no error";
    } catch (const CorruptDatabase& error) {
      EXPECT_STREQ(error.what(), c.message);
      EXPECT_EQ(error.path(), "x.mdb");
    }
  }
}

}  // namespace
}  // namespace jet
