// Converts copies of the Artikli fixtures with the real run over this engine
// and checks the rows the file holds afterwards, the pages that changed, and
// what happens to refused rows and refused databases.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string_view>

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/errors.h"
#include "tests/support/conversion_harness.h"
#include "tests/support/external_reader.h"
#include "tests/support/fixtures.h"
#include "tests/support/usage_maps.h"

namespace {

using testsupport::ConversionHarness;
using testsupport::FixtureDir;
using testsupport::Json;
using testsupport::ReadBytes;
using testsupport::ReadJsonFile;
using testsupport::ReadRows;
using testsupport::SameRow;
using testsupport::ScratchDir;

constexpr std::size_t kPageSize = 4096;

struct Fixture {
  std::string name;
  Json sidecar;
};

std::vector<Fixture> ConvertibleFixtures() {
  std::vector<Fixture> fixtures;
  for (const auto& entry : std::filesystem::directory_iterator(FixtureDir() / "artikli")) {
    if (entry.path().extension() != ".json") continue;
    Json sidecar = ReadJsonFile(entry.path().string());
    if (sidecar["table"].is_null()) continue;
    if (!sidecar["password"].is_null() && sidecar["password"].Utf8() != "korpamilev") continue;
    fixtures.push_back({entry.path().stem().string(), std::move(sidecar)});
  }
  std::sort(fixtures.begin(), fixtures.end(), [](const Fixture& a, const Fixture& b) { return a.name < b.name; });
  return fixtures;
}

// Returns the rows the conversion must leave.
const Json& ExpectedAfter(const Fixture& fixture) { return fixture.sidecar["rows_after"]; }

void ExpectRows(const testsupport::Rows& rows, const Json& expected) {
  ASSERT_EQ(rows.size(), expected.items.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_TRUE(SameRow(rows[i], expected.items[i])) << "row " << i << ": " << testsupport::Describe(rows[i]);
  }
}

std::set<std::size_t> ChangedPages(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after) {
  std::set<std::size_t> pages;
  for (std::size_t page = 0; page * kPageSize < std::max(before.size(), after.size()); ++page) {
    const std::size_t at = page * kPageSize;
    if (at >= before.size() || at >= after.size() ||
        !std::equal(before.begin() + static_cast<std::ptrdiff_t>(at), before.begin() + static_cast<std::ptrdiff_t>(at + kPageSize),
                    after.begin() + static_cast<std::ptrdiff_t>(at))) {
      pages.insert(page);
    }
  }
  return pages;
}

// Returns the pages holding the data of the rows whose values differ between
// `before` and `after` in the sidecar (scan order is the same).
std::set<std::size_t> PagesOfChangedRows(const std::filesystem::path& path, const Json& sidecar, const Json& after) {
  jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadOnly), sidecar["password"].is_null() ? std::nullopt : std::optional(sidecar["password"].text));
  const auto entry = jet::FindTable(database.pages(), sidecar["table"].text);
  const jet::TableDefinition definition = jet::ReadTableDefinition(database.pages(), entry->definition_page);
  jet::TableCursor cursor(database.pages(), definition);
  std::set<std::size_t> pages;
  std::size_t i = 0;
  for (cursor.First(); !cursor.AtEnd(); cursor.Next(), ++i) {
    const Json& old_row = sidecar["rows_before"].items.at(i);
    const Json& new_row = after.items.at(i);
    for (std::size_t c = 0; c < old_row.items.size(); ++c) {
      if (old_row.items[c].text != new_row.items[c].text) pages.insert(cursor.location().data.page);
    }
  }
  return pages;
}

TEST(ConversionFixtureTest, EveryArtikliFixtureConvertsAsItsSidecarSays) {
  const std::vector<Fixture> fixtures = ConvertibleFixtures();
  ASSERT_GE(fixtures.size(), 13u);
  for (const Fixture& fixture : fixtures) {
    SCOPED_TRACE(fixture.name);
    ScratchDir scratch;
    const std::filesystem::path path = scratch.Copy("artikli/" + fixture.name + ".mdb");
    const std::vector<std::uint8_t> before = ReadBytes(path);
    const std::set<std::size_t> row_pages = PagesOfChangedRows(path, fixture.sidecar, ExpectedAfter(fixture));
    {
      ConversionHarness harness(path, testsupport::FromHex(fixture.sidecar["labels_cp1251_hex"].Utf8()));
      harness.Run();
      ASSERT_EQ(harness.ui.messages.size(), 1u);
    }
    const std::optional<std::u16string> password =
        fixture.sidecar["password"].is_null() ? std::nullopt : std::optional(fixture.sidecar["password"].text);
    ExpectRows(ReadRows(path, password, fixture.sidecar["table"].text), ExpectedAfter(fixture));

    // Only pages holding changed rows were written, unless rows had to move.
    const std::set<std::size_t> changed = ChangedPages(before, ReadBytes(path));
    if (fixture.name == "artikli-packed") {
      EXPECT_TRUE(std::includes(changed.begin(), changed.end(), row_pages.begin(), row_pages.end()));
      EXPECT_GT(ReadBytes(path).size(), before.size());
    } else if (fixture.name == "artikli-indexed") {
      // The index pages change too, and split into new pages (index_conversion_test.cpp checks them).
      EXPECT_TRUE(std::includes(changed.begin(), changed.end(), row_pages.begin(), row_pages.end()));
      EXPECT_GT(ReadBytes(path).size(), before.size());
    } else {
      EXPECT_EQ(changed, row_pages);
      EXPECT_EQ(ReadBytes(path).size(), before.size());
    }
  }
}

TEST(ConversionFixtureTest, RefusedDatabasesAreLeftByteIdentical) {
  struct Case {
    std::string fixture;
    std::string message;
  };
  const Case cases[] = {
      {"artikli-other-password", "Not a valid password."},
      {"no-artikli",
       "The Microsoft Jet database engine cannot find the input table or query 'Artikli'. Make sure it exists and that "
       "its name is spelled correctly."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    ScratchDir scratch;
    const std::filesystem::path path = scratch.Copy("artikli/" + c.fixture + ".mdb");
    const std::vector<std::uint8_t> before = ReadBytes(path);
    ConversionHarness harness(path, std::string(conversion::kDefaultFiscalLabels));
    try {
      harness.Run();
      ADD_FAILURE() << "the run went through";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), c.message);
    }
    EXPECT_TRUE(harness.ui.messages.empty());
    harness.connection.Close();
    EXPECT_EQ(ReadBytes(path), before);
  }
}

TEST(ConversionFixtureTest, SecondRunFindsTheConnectionOpenAndChangesNothing) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb");
  ConversionHarness harness(path, std::string(conversion::kDefaultFiscalLabels));
  harness.Run();
  harness.connection.Flush();
  const std::vector<std::uint8_t> once = ReadBytes(path);
  harness.Run();
  EXPECT_TRUE(harness.connection.connected());
  EXPECT_EQ(harness.ui.messages.size(), 2u);
  harness.connection.Close();
  EXPECT_EQ(ReadBytes(path), once);
}

TEST(ConversionFixtureTest, GrowingEveryRowOfALargeTableGrowsTheUsageMaps) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-many.mdb");
  const std::string text = path.string();
  const std::u16string long_name(40, u'Ш');
  const std::vector<std::uint8_t> before = ReadBytes(path);
  {
    testsupport::OpenArtikli open(path);
    jet::ADOTable& table = open.table;
    std::size_t posted = 0;
    for (table.First(); !table.AtEnd(); table.Next()) {
      table.Edit();
      table.FieldByName("Naziv").SetText(long_name);
      table.Post();
      ++posted;
    }
    EXPECT_EQ(posted, 50000u);
  }
  const std::vector<std::uint8_t> after = ReadBytes(path);
  const testsupport::Rows rows = ReadRows(path, u"korpamilev", u"Artikli");
  ASSERT_EQ(rows.size(), 50000u);
  const testsupport::Rows old_rows = ReadRows(before, u"korpamilev", u"Artikli");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i][1].text, long_name) << "row " << i;
    std::vector<jet::Value> expected = old_rows[i];
    expected[1] = rows[i][1];
    ASSERT_EQ(testsupport::Describe(rows[i]), testsupport::Describe(expected)) << "row " << i;
  }

  // Every data page of the table is in its owned map; every page below the
  // file's end is used (nothing here frees pages), every page past it free.
  const auto page_count = static_cast<std::uint32_t>(after.size() / kPageSize);
  ASSERT_GT(page_count, before.size() / kPageSize + 512) << "the global map's first window was not outgrown";
  constexpr std::uint32_t kTablePage = 24;  // Artikli's table definition
  auto get32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(after[at] | after[at + 1] << 8 | after[at + 2] << 16 | after[at + 3] << 24);
  };
  const std::uint32_t owned_pointer = get32(kTablePage * kPageSize + 55);
  const std::vector<bool> owned =
      testsupport::MapBits(after, owned_pointer >> 8, static_cast<std::uint8_t>(owned_pointer & 0xFF), page_count + 100, false);
  const std::vector<bool> free_pages = testsupport::MapBits(after, 1, 0, page_count + 100, true);
  std::size_t data_pages = 0;
  for (std::uint32_t page = 1; page < page_count; ++page) {
    const std::size_t at = page * kPageSize;
    const bool table_data = after[at] == 0x01 && get32(at + 4) == kTablePage;
    data_pages += table_data;
    EXPECT_EQ(owned[page], table_data) << "page " << page << (table_data ? " is a data page of the table" : " is another page");
    EXPECT_FALSE(free_pages[page]) << "page " << page << " is counted free";
  }
  for (std::uint32_t page = page_count; page < page_count + 100; ++page) EXPECT_TRUE(free_pages[page]) << "page " << page;
  EXPECT_GT(data_pages, 1000u);

  const std::string table_name = "Artikli";
  if (std::filesystem::exists(FRN_MDB_EXPORT)) {
    SCOPED_TRACE("mdb-export");
    const testsupport::TextRows exported = testsupport::MdbExportRows(FRN_MDB_EXPORT, path, table_name);
    ASSERT_EQ(exported.size(), 50000u);
    const std::string expected = testsupport::ToUtf8(long_name);
    for (const auto& row : exported) ASSERT_EQ(row.at(1), expected);
  }
  const std::filesystem::path oracle = FRN_ORACLE_DIR;
  if (std::filesystem::exists(FRN_NODE) && std::filesystem::exists(oracle / "node_modules/mdb-reader")) {
    SCOPED_TRACE("mdb-reader");
    const testsupport::TextRows read = testsupport::MdbReaderRows(FRN_NODE, oracle, path, table_name);
    ASSERT_EQ(read.size(), 50000u);
    const std::string expected = testsupport::ToUtf8(long_name);
    for (const auto& row : read) ASSERT_EQ(row.at(1), expected);
  }
}

// Rows that move write new pages, map pages and pointers through the page
// encoding of an RC4-encoded database like every other page.
TEST(ConversionFixtureTest, RowsMovedInAnEncodedDatabaseReadBackInEveryReader) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-encoded.mdb");
  const std::u16string long_name(40, u'Ж');
  const std::vector<std::uint8_t> before = ReadBytes(path);
  std::size_t posted = 0;
  {
    testsupport::OpenArtikli open(path);
    for (jet::ADOTable& table = open.table; !table.AtEnd(); table.Next()) {
      table.Edit();
      table.FieldByName("Naziv").SetText(long_name);
      table.Post();
      ++posted;
    }
  }
  ASSERT_GT(ReadBytes(path).size(), before.size()) << "no row moved to a new page";
  const testsupport::Rows rows = ReadRows(path, u"korpamilev", u"Artikli");
  ASSERT_EQ(rows.size(), posted);
  for (const auto& row : rows) ASSERT_EQ(row[1].text, long_name);
  const std::string expected = testsupport::ToUtf8(long_name);
  if (std::filesystem::exists(FRN_MDB_EXPORT)) {
    SCOPED_TRACE("mdb-export");
    const testsupport::TextRows exported = testsupport::MdbExportRows(FRN_MDB_EXPORT, path, "Artikli");
    ASSERT_EQ(exported.size(), posted);
    for (const auto& row : exported) ASSERT_EQ(row.at(1), expected);
  }
  const std::filesystem::path oracle = FRN_ORACLE_DIR;
  if (std::filesystem::exists(FRN_NODE) && std::filesystem::exists(oracle / "node_modules/mdb-reader")) {
    SCOPED_TRACE("mdb-reader");
    const testsupport::TextRows read = testsupport::MdbReaderRows(FRN_NODE, oracle, path, "Artikli");
    ASSERT_EQ(read.size(), posted);
    for (const auto& row : read) ASSERT_EQ(row.at(1), expected);
  }
}

// Returns a hash of the file's bytes (it may be large and mostly sparse).
std::size_t HashOfFile(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A map whose row has no entry for the range of the new page refuses the
// post naming the file, and the refused post writes nothing.
TEST(ConversionFixtureTest, AMapThatCannotReachTheNewPageRefusesThePostWritingNothing) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-many.mdb");
  const std::string text = path.string();
  {
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    // Artikli's free-space map moves to a new 6-byte row on page 25 (one
    // byte of bitmap, so one map-page entry once it becomes a reference
    // map), holding pages 1041 and 1045 (1045 is the last data page).
    constexpr std::size_t kMapsPage = 25 * kPageSize;
    ASSERT_EQ(jet::Get16(bytes, kMapsPage + 12), 3u);
    const std::size_t lowest = jet::Get16(bytes, kMapsPage + 14 + 4) & 0x1FFF;
    const std::size_t start = lowest - 6;
    const std::uint8_t row[] = {0x00, 0x10, 0x04, 0x00, 0x00, 0x22};  // first page 1040; bits 1, 5
    std::copy(std::begin(row), std::end(row), bytes.begin() + static_cast<std::ptrdiff_t>(kMapsPage + start));
    jet::Put16(bytes, kMapsPage + 14 + 6, static_cast<std::uint32_t>(start));
    jet::Put16(bytes, kMapsPage + 12, 4);
    jet::Put16(bytes, kMapsPage + 2, jet::Get16(bytes, kMapsPage + 2) - 8);
    jet::Put32(bytes, 24 * kPageSize + 59, 25u << 8 | 3u);
    testsupport::WriteBytes(path, bytes);
    // Free (zero, sparse) pages up to page 32736, the end of a map page's
    // range: the next page added lies in the second range.
    std::filesystem::resize_file(path, 32736 * kPageSize);
  }
  const std::u16string long_name(40, u'Ш');
  std::size_t grown = 0;
  {
    testsupport::OpenArtikli open(path);
    jet::ADOConnection& connection = open.connection;
    jet::ADOTable& table = open.table;
    std::string refusal;
    for (table.First(); !table.AtEnd() && refusal.empty(); table.Next()) {
      table.Edit();
      table.FieldByName("Naziv").SetText(long_name);
      try {
        table.Post();
        ++grown;
      } catch (const jet::Unsupported& error) {
        refusal = error.what();
        table.Cancel();
      }
    }
    EXPECT_EQ(refusal, "The usage map at page 25 row 3 of '" + text +
                           "' cannot reach page 32736: its row has room for pages below 32736 only (127 MB of database), and a "
                           "database that large is not supported.");
    connection.Flush();
    const std::size_t before = HashOfFile(path);
    table.Edit();
    table.FieldByName("Naziv").SetText(long_name);
    EXPECT_THROW(table.Post(), jet::Unsupported);
    table.Cancel();
    connection.Flush();
    EXPECT_EQ(HashOfFile(path), before);
    EXPECT_EQ(std::filesystem::file_size(path), 32736 * kPageSize);
  }
  const testsupport::Rows rows = ReadRows(path, u"korpamilev", u"Artikli");
  ASSERT_EQ(rows.size(), 50000u);
  std::size_t long_names = 0;
  for (const auto& row : rows) long_names += row[1].text == long_name;
  EXPECT_EQ(long_names, grown);
  EXPECT_GT(grown, 0u);  // rows that moved to page 1045 while it had room
}

TEST(ConversionFixtureTest, ARowMovedTwiceLeavesItsOldCopyDeleted) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-packed.mdb");
  const Json sidecar = ReadJsonFile((FixtureDir() / "artikli/artikli-packed.json").string());
  {
    ConversionHarness harness(path, testsupport::FromHex(sidecar["labels_cp1251_hex"].Utf8()));
    harness.Run();
  }
  // The first row that moved lives on the first page added, which the moves
  // after it filled; a longer name no longer fits there.
  const std::u16string long_name(50, u'Ш');
  std::size_t moved = 0;
  jet::RowPointer old_copy;
  {
    testsupport::OpenArtikli open(path);
    jet::ADOConnection& connection = open.connection;
    jet::ADOTable& table = open.table;
    jet::TableCursor cursor(connection.database().pages(), table.definition());
    for (cursor.First(); cursor.location().data == cursor.location().home; cursor.Next(), table.Next()) ++moved;
    old_copy = cursor.location().data;
    table.Edit();
    table.FieldByName("Naziv").SetText(long_name);
    table.Post();
  }
  Json expected = sidecar["rows_after"];
  expected.items[moved].items[1].text = long_name;
  ExpectRows(ReadRows(path, u"korpamilev", u"Artikli"), expected);
  // The old copy's slot is marked deleted, so no reader sees the row twice.
  jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadOnly), u"korpamilev");
  const jet::PageRef page = database.pages().Read(old_copy.page);
  const jet::RowSlot slot = jet::ReadRowSlot(database.pages(), old_copy.page, *page, old_copy.row);
  EXPECT_EQ(slot.flags, jet::kRowDeletedFlag | jet::kRowOverflowFlag);
  const std::string mdb_export = FRN_MDB_EXPORT;
  if (!mdb_export.empty() && std::filesystem::exists(mdb_export)) {
    const testsupport::TextRows rows = testsupport::MdbExportRows(mdb_export, path, "Artikli");
    std::set<std::string> keys;
    for (const auto& row : rows) keys.insert(row[0]);
    EXPECT_EQ(rows.size(), expected.items.size());
    EXPECT_EQ(keys.size(), expected.items.size());
  }
}

}  // namespace
