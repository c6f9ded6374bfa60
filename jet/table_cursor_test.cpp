#include "jet/table_cursor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "jet/bytes.h"
#include "jet/catalog.h"
#include "jet/database.h"

namespace jet {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RowPointerSetTest, TellsRowsApartByPageAndSlot) {
  RowPointerSet set;
  const std::pair<RowPointer, bool> steps[] = {
      {{5, 0}, true},   {{5, 0}, false},  {{5, 1}, true},   {{5, 63}, true},   {{5, 64}, true},
      {{5, 255}, true}, {{4, 255}, true}, {{6, 0}, true},   {{0xFFFFFF, 7}, true}, {{0xFFFFFF, 7}, false},
      {{5, 64}, false}, {{4, 255}, false}, {{0, 0}, true},
  };
  for (const auto& [pointer, added] : steps) {
    SCOPED_TRACE(std::to_string(pointer.page) + ":" + std::to_string(pointer.row));
    EXPECT_EQ(set.Insert(pointer), added);
  }
  set.Clear();
  EXPECT_TRUE(set.Insert({5, 0}));
}

// Two home slots whose pointers name one data row are damage; the walk and
// the check return that row once, at the first of them, rather than twice.
TEST(TableCursorTest, TwoPointersToOneRowGiveItOnce) {
  std::ifstream in(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-overflow.mdb", std::ios::binary);
  auto bytes = std::make_shared<Bytes>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  // The first two overflow pointers of the table, as the walk meets them.
  std::vector<std::size_t> pointers;  // file offsets of their 4 bytes
  std::size_t rows = 0;
  {
    Database database(std::make_unique<MemoryFile>("m.mdb", std::make_shared<Bytes>(*bytes)), u"korpamilev");
    const TableDefinition table = ReadTableDefinition(database.pages(), FindTable(database.pages(), u"Artikli")->definition_page);
    TableCursor cursor(database.pages(), table);
    for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
      ++rows;
      const RowPointer home = cursor.location().home;
      if (cursor.location().data == home || pointers.size() == 2) continue;
      const PageRef page = database.pages().Read(home.page);
      pointers.push_back(home.page * 4096 + ReadRowSlot(database.pages(), home.page, *page, home.row).start);
    }
  }
  ASSERT_EQ(pointers.size(), 2u);
  std::copy_n(bytes->begin() + static_cast<std::ptrdiff_t>(pointers[0]), 4, bytes->begin() + static_cast<std::ptrdiff_t>(pointers[1]));

  Database database(std::make_unique<MemoryFile>("m.mdb", bytes), u"korpamilev");
  const TableDefinition table = ReadTableDefinition(database.pages(), FindTable(database.pages(), u"Artikli")->definition_page);
  CheckTable(database.pages(), table);
  TableCursor cursor(database.pages(), table);
  std::size_t walked = 0;
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) ++walked;
  EXPECT_EQ(walked, rows - 1);
}

}  // namespace
}  // namespace jet
