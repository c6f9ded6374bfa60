// Converts indexed Artikli databases with the real run over this engine and
// checks every index afterwards: its tree is sound, walking it yields
// exactly the table's rows with their new values in key order, jetdump
// --index prints the rows of the table scan, and the readers nobody here
// wrote read the converted rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "jet/database.h"
#include "jet/index_maintenance.h"
#include "jet/table_cursor.h"
#include "jet/testing/fixture_database.h"
#include "tests/support/conversion_harness.h"
#include "tests/support/external_reader.h"
#include "tests/support/fixtures.h"
#include "tests/support/usage_maps.h"

namespace {

using testsupport::FixtureDir;
using testsupport::Json;
using testsupport::ReadJsonFile;
using testsupport::ScratchDir;

const std::u16string kPassword = u"korpamilev";

const jet::IndexDefinition* FindIndex(const std::vector<jet::IndexDefinition>& indexes, const std::string& name) {
  for (const auto& index : indexes) {
    if (index.name == name) return &index;
  }
  return nullptr;
}

const jet::Column& ColumnNumbered(const jet::TableDefinition& table, std::uint16_t number) {
  for (const jet::Column& column : table.columns) {
    if (column.number == number) return column;
  }
  throw std::runtime_error("no column numbered " + std::to_string(number));
}

// Rewrites artikli-indexed at `path` so that its PoreskaStopa index becomes a
// unique index on (PoreskaStopa ascending, Cena descending, Sifra
// ascending): the index record in the table definition is edited, the root
// emptied, and the tree built again through the engine, entry by entry.
void MakeMultiColumnUnique(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes = testsupport::ReadBytes(path);
  {
    jet::testing::FixtureDatabase original(bytes);
    const auto table = original.FindTable(u"PoreskaStopa");
    std::size_t slot = 0;
    while (table.indexes.at(slot).name != "PoreskaStopa") ++slot;
    std::uint8_t* record = bytes.data() + std::size_t{table.page} * jet::kIndexPageSize + table.real_index_offsets[slot];
    for (std::size_t i = 0; i < 10; ++i) {
      record[4 + 3 * i] = 0xFF;
      record[5 + 3 * i] = 0xFF;
      record[6 + 3 * i] = 0x00;
    }
    const std::uint8_t parts[] = {3, 0, 0x01, 2, 0, 0x00, 0, 0, 0x01};
    std::copy(std::begin(parts), std::end(parts), record + 4);
    record[46] = 0x80 | jet::kIndexUnique;
    jet::IndexPage root;
    root.owner = table.page;
    const auto empty = jet::EncodeIndexPage(root);
    std::copy(empty.begin(), empty.end(), bytes.begin() + std::size_t{table.indexes[slot].root_page} * jet::kIndexPageSize);
  }
  testsupport::WriteBytes(path, bytes);

  jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadWrite), kPassword);
  jet::PageFile& pages = database.pages();
  const auto entry = jet::FindTable(pages, u"Artikli");
  const jet::TableDefinition table = jet::ReadTableDefinition(pages, entry->definition_page);
  jet::IndexDefinition building = *FindIndex(jet::ReadTableIndexes(pages, table), "PoreskaStopa");
  building.flags = jet::kIndexIgnoreNulls;  // "all null" then means "no entry yet"
  const std::vector<jet::KeyValue> nothing(3);
  jet::TableCursor cursor(pages, table);
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
    std::vector<jet::KeyValue> values;
    for (std::uint16_t number : building.column_numbers) values.push_back(jet::KeyValueOf(cursor.view(), ColumnNumbered(table, number)));
    jet::PageFileIndexStore store(pages);
    const jet::RowPointer home = cursor.location().home;
    std::vector<jet::IndexUpdatePlan> plans;
    plans.push_back(jet::PlanIndexUpdate(store, building, {home.page, home.row}, nothing, values));
    jet::IndexMaintenance writer(pages, std::move(plans));
    writer.WriteBeforeRow();
    writer.WriteAfterRow();
  }
}

// Checks every index of Artikli in the file against its table scan; returns
// the number of index entries checked.
std::size_t CheckIndexesAgainstScan(const std::filesystem::path& path) {
  jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadOnly), kPassword);
  jet::PageFile& pages = database.pages();
  const auto entry = jet::FindTable(pages, u"Artikli");
  const jet::TableDefinition table = jet::ReadTableDefinition(pages, entry->definition_page);

  // Values of the indexable columns by column number, per home slot.
  std::map<std::pair<std::uint32_t, std::uint8_t>, std::map<std::uint16_t, jet::KeyValue>> rows;
  jet::TableCursor cursor(pages, table);
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
    auto& values = rows[{cursor.location().home.page, cursor.location().home.row}];
    for (const jet::Column& column : table.columns) {
      if (column.column_type() == jet::ColumnType::kDouble) continue;  // not in these indexes
      values[column.number] = jet::KeyValueOf(cursor.view(), column);
    }
  }

  std::size_t checked = 0;
  jet::PageFileIndexStore store(pages);
  for (const jet::IndexDefinition& index : jet::ReadTableIndexes(pages, table)) {
    SCOPED_TRACE(index.name);
    EXPECT_EQ(jet::CheckIndexTree(store, index), std::vector<std::string>{});
    const std::vector<jet::IndexEntry> entries = jet::WalkIndex(store, index);
    EXPECT_EQ(entries.size(), rows.size());
    std::set<std::pair<std::uint32_t, std::uint8_t>> seen;
    for (const jet::IndexEntry& item : entries) {
      const auto row = rows.find({item.row.page, item.row.row});
      if (row == rows.end()) {
        ADD_FAILURE() << "entry for a row the scan does not have";
        continue;
      }
      seen.insert(row->first);
      std::vector<jet::KeyValue> values;
      for (std::uint16_t number : index.column_numbers) values.push_back(row->second.at(number));
      EXPECT_EQ(item.key, jet::BuildKey(index.columns, values));
      ++checked;
    }
    EXPECT_EQ(seen.size(), rows.size());
  }
  return checked;
}

testsupport::TextRows SortedLines(const std::string& text) {
  testsupport::TextRows lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back({text.substr(start, end - start)});
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return testsupport::Sorted(lines);
}

struct Case {
  const char* name;
  bool multi_column;
  bool padded;  // free pages appended up to page 512, the end of the maps' first windows
  std::size_t entries;
};

constexpr std::size_t kPageSize = 4096;

// Appends free (zeroed) pages to the file at `path` up to page 512: the
// global map (start 0, 512 pages) marks them free already, and the first
// new index page then lies past what the global map and the indexes' maps
// reach, so that they must grow.
void PadTo512Pages(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes = testsupport::ReadBytes(path);
  bytes.resize(512 * kPageSize, 0);
  testsupport::WriteBytes(path, bytes);
}

// Returns the pages of `index`'s tree.
std::vector<std::uint32_t> TreePages(jet::IndexPageStore& store, const jet::IndexDefinition& index) {
  std::vector<std::uint32_t> pages;
  std::vector<std::uint32_t> next{index.root_page};
  while (!next.empty() && pages.size() < 10000) {
    const std::uint32_t number = next.back();
    next.pop_back();
    pages.push_back(number);
    const jet::IndexPage page = jet::DecodeIndexPage(store.ReadPage(number), number, store);
    if (page.leaf) continue;
    for (const auto& item : page.entries) next.push_back(item.child);
    if (page.tail != 0) next.push_back(page.tail);
  }
  return pages;
}

// Checks the maps of a converted padded file: every page of Artikli's index
// trees is in its index's owned map, and the global map counts as used
// every page a map holds, every data page of the table and every map page.
void ExpectIndexPagesInTheMaps(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> image = testsupport::ReadBytes(path);
  const auto page_count = static_cast<std::uint32_t>(image.size() / kPageSize);
  ASSERT_GT(page_count, 512u) << "no index page was added";
  const std::vector<bool> free_pages = testsupport::MapBits(image, 1, 0, page_count, true);
  std::vector<bool> in_a_map(page_count, false);
  std::size_t new_tree_pages = 0;
  jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadOnly), kPassword);
  jet::PageFile& pages = database.pages();
  const jet::TableDefinition table = jet::ReadTableDefinition(pages, jet::FindTable(pages, u"Artikli")->definition_page);
  jet::PageFileIndexStore store(pages);
  for (const auto& index : jet::ReadTableIndexes(pages, table)) {
    SCOPED_TRACE(index.name);
    const std::vector<bool> owned =
        testsupport::MapBits(image, index.owned_map >> 8, static_cast<std::uint8_t>(index.owned_map & 0xFF), page_count, false);
    for (std::uint32_t page = 0; page < page_count; ++page) in_a_map[page] = in_a_map[page] || owned[page];
    for (std::uint32_t page : TreePages(store, index)) {
      EXPECT_TRUE(owned[page]) << "index page " << page << " is not in its index's map";
      new_tree_pages += page >= 512;
    }
  }
  for (std::uint32_t page = 1; page < page_count; ++page) {
    const std::uint8_t type = image[page * kPageSize];
    const bool table_data = type == 0x01 && image[page * kPageSize + 4] == table.page;
    if (in_a_map[page] || table_data || type == 0x05) {
      EXPECT_FALSE(free_pages[page]) << "page " << page << " is counted free";
    }
  }
  EXPECT_GT(new_tree_pages, 0u);
}

TEST(IndexConversionTest, ConvertedIndexesWalkAsTheTableScan) {
  const Case cases[] = {
      {"artikli-indexed as made", false, false, 4000},
      {"artikli-indexed with a unique index on (PoreskaStopa, Cena descending, Sifra)", true, false, 4000},
      {"artikli-indexed padded to 512 pages", false, true, 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Json sidecar = ReadJsonFile((FixtureDir() / "artikli/artikli-indexed.json").string());
    ScratchDir scratch;
    const std::filesystem::path path = scratch.Copy("artikli/artikli-indexed.mdb");
    if (c.multi_column) MakeMultiColumnUnique(path);
    if (c.padded) PadTo512Pages(path);
    EXPECT_EQ(CheckIndexesAgainstScan(path), c.entries);
    {
      testsupport::ConversionHarness harness(path, testsupport::FromHex(sidecar["labels_cp1251_hex"].Utf8()));
      harness.Run();
      ASSERT_EQ(harness.ui.messages.size(), 1u);
    }
    EXPECT_EQ(CheckIndexesAgainstScan(path), c.entries);
    EXPECT_EQ(testsupport::ReadRows(path, kPassword, u"Artikli").size(), 2000u);
    if (c.padded) ExpectIndexPagesInTheMaps(path);

    // Our index walker in jetdump against the table scan.
    const std::string jetdump = FRN_JETDUMP;
    const std::string base = testsupport::ShellQuote(jetdump) + " --password korpamilev --table Artikli ";
    const std::string scan = testsupport::RunProgram(base + testsupport::ShellQuote(path.string()));
    for (const char* index : {"PoreskaStopa", "PrimaryKey"}) {
      SCOPED_TRACE(index);
      const std::string walk =
          testsupport::RunProgram(base + "--index " + index + " " + testsupport::ShellQuote(path.string()));
      EXPECT_EQ(SortedLines(walk), SortedLines(scan));
    }

    // The readers nobody here wrote see the converted rows.
    testsupport::TextRows expected;
    for (const Json& row : sidecar["rows_after"].items) expected.push_back(testsupport::NormaliseRow(row));
    if (!std::string(FRN_MDB_EXPORT).empty()) {
      SCOPED_TRACE("mdb-export");
      EXPECT_EQ(testsupport::FirstDifference(testsupport::BlankAsNull(testsupport::MdbExportRows(FRN_MDB_EXPORT, path, "Artikli")),
                                              testsupport::BlankAsNull(expected)),
                "");
    }
    if (!std::string(FRN_NODE).empty() && std::filesystem::exists(std::filesystem::path(FRN_ORACLE_DIR) / "node_modules")) {
      SCOPED_TRACE("mdb-reader");
      EXPECT_EQ(testsupport::FirstDifference(testsupport::MdbReaderRows(FRN_NODE, FRN_ORACLE_DIR, path, "Artikli"), expected), "");
    }
  }
}

// Returns the rows whose entries lie on the leaf chain, duplicates allowed
// (a split caught half-way shows some entries twice).
std::set<std::pair<std::uint32_t, std::uint8_t>> RowsOnChain(jet::IndexPageStore& store, const jet::IndexDefinition& index) {
  std::uint32_t number = index.root_page;
  for (int depth = 0; depth < 10; ++depth) {
    const jet::IndexPage page = jet::DecodeIndexPage(store.ReadPage(number), number, store);
    if (page.leaf) break;
    number = page.entries.empty() ? page.tail : page.entries.front().child;
  }
  std::set<std::pair<std::uint32_t, std::uint8_t>> rows;
  for (int pages = 0; number != 0 && pages < 1000; ++pages) {
    const jet::IndexPage page = jet::DecodeIndexPage(store.ReadPage(number), number, store);
    for (const auto& item : page.entries) rows.insert({item.row.page, item.row.row});
    number = page.next;
  }
  return rows;
}

// Passes everything to `inner` and notes the offset of every write.
class RecordingFile : public jet::File {
 public:
  RecordingFile(std::unique_ptr<jet::File> inner, std::vector<std::uint64_t>& offsets)
      : inner_(std::move(inner)), offsets_(offsets) {}
  const std::filesystem::path& path() const override { return inner_->path(); }
  std::uint64_t Size() override { return inner_->Size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override { return inner_->ReadAt(offset, buffer); }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    offsets_.push_back(offset);
    inner_->WriteAt(offset, data);
  }
  void Sync() override { inner_->Sync(); }
  bool writable() const override { return inner_->writable(); }

 private:
  std::unique_ptr<jet::File> inner_;
  std::vector<std::uint64_t>& offsets_;
};

// Checks a file as a restart after a stop would find it.
void ExpectUsableAfterStop(const std::shared_ptr<std::vector<std::uint8_t>>& bytes, const Json& sidecar) {
  const testsupport::Rows rows = testsupport::ReadRows(*bytes, kPassword, u"Artikli");
  ASSERT_EQ(rows.size(), 2000u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_TRUE(testsupport::SameRow(rows[i], sidecar["rows_before"].items[i]) ||
                testsupport::SameRow(rows[i], sidecar["rows_after"].items[i]))
        << "row " << i;
  }
  jet::Database database(std::make_unique<jet::MemoryFile>("stopped.mdb", bytes, false), kPassword);
  jet::PageFile& pages = database.pages();
  const jet::TableDefinition table = jet::ReadTableDefinition(pages, jet::FindTable(pages, u"Artikli")->definition_page);
  const std::vector<jet::IndexDefinition> indexes = jet::ReadTableIndexes(pages, table);
  jet::PageFileIndexStore store(pages);
  std::vector<std::set<std::pair<std::uint32_t, std::uint8_t>>> chains;
  for (const auto& index : indexes) chains.push_back(RowsOnChain(store, index));
  jet::TableCursor cursor(pages, table);
  std::size_t n = 0;
  for (cursor.First(); !cursor.AtEnd(); cursor.Next(), ++n) {
    const jet::RowPointer home = cursor.location().home;
    for (std::size_t k = 0; k < indexes.size(); ++k) {
      ASSERT_EQ(chains[k].count({home.page, home.row}), 1u) << indexes[k].name;
      if (n % 7 != 0) continue;  // seeks for every seventh row keep the test short
      std::vector<jet::KeyValue> values;
      for (std::uint16_t number : indexes[k].column_numbers) {
        values.push_back(jet::KeyValueOf(cursor.view(), ColumnNumbered(table, number)));
      }
      const jet::IndexEntry current{jet::BuildKey(indexes[k].columns, values), {home.page, home.row}, 0};
      ASSERT_TRUE(jet::SeekFinds(store, indexes[k], current)) << indexes[k].name << " row " << home.page << ":" << int{home.row};
    }
  }
}

// Converts a copy of `original` in memory with the disk stopping after
// `stop` page writes; returns what the disk holds then.
std::shared_ptr<std::vector<std::uint8_t>> ConvertStoppingAfter(const std::vector<std::uint8_t>& original, const std::string& labels,
                                                                std::size_t stop) {
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(original);
  testsupport::ConversionHarness harness("memory.mdb", labels, [&](const std::filesystem::path& path) {
    return std::make_unique<jet::FailingFile>(std::make_unique<jet::MemoryFile>(path, bytes), stop, jet::FailingFile::Mode::kStop);
  });
  harness.Run();
  harness.connection.Close();
  return bytes;
}

// Stops the disk after the N-th page write of a whole conversion, for N
// around the first writes that add index pages (page splits) and at a few
// points spread over the run.
TEST(IndexConversionTest, EveryStopLeavesRowsAndIndexesUsable) {
  const Json sidecar = ReadJsonFile((FixtureDir() / "artikli/artikli-indexed.json").string());
  const std::string labels = testsupport::FromHex(sidecar["labels_cp1251_hex"].Utf8());
  const std::vector<std::uint8_t> original = testsupport::ReadBytes(FixtureDir() / "artikli/artikli-indexed.mdb");

  std::vector<std::uint64_t> offsets;
  {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(original);
    testsupport::ConversionHarness harness("memory.mdb", labels, [&](const std::filesystem::path& path) {
      return std::make_unique<RecordingFile>(std::make_unique<jet::MemoryFile>(path, bytes), offsets);
    });
    harness.Run();
    harness.connection.Close();
  }
  ASSERT_GT(offsets.size(), 3000u);
  std::set<std::size_t> stops;
  for (std::size_t n = 0; n < 4; ++n) stops.insert(n);
  std::size_t splits = 0;
  for (std::size_t i = 0; i < offsets.size() && splits < 2; ++i) {
    if (offsets[i] < original.size()) continue;
    ++splits;
    for (std::size_t n = i >= 1 ? i - 1 : 0; n <= i + 5; ++n) stops.insert(n);
  }
  ASSERT_EQ(splits, 2u);
  for (std::size_t k = 1; k < 5; ++k) stops.insert(offsets.size() * k / 5);

  for (const std::size_t stop : stops) {
    SCOPED_TRACE("stop after " + std::to_string(stop) + " of " + std::to_string(offsets.size()) + " writes");
    const auto bytes = ConvertStoppingAfter(original, labels, stop);
    ExpectUsableAfterStop(bytes, sidecar);
  }
}

// The same with free pages appended up to page 512, so that the first index
// page added turns the global map and the index's map into reference maps:
// stops around the first writes past the end.
TEST(IndexConversionTest, StopsWhileTheMapsGrowForIndexPagesLeaveRowsAndIndexesUsable) {
  const Json sidecar = ReadJsonFile((FixtureDir() / "artikli/artikli-indexed.json").string());
  const std::string labels = testsupport::FromHex(sidecar["labels_cp1251_hex"].Utf8());
  std::vector<std::uint8_t> padded = testsupport::ReadBytes(FixtureDir() / "artikli/artikli-indexed.mdb");
  padded.resize(512 * kPageSize, 0);

  std::vector<std::uint64_t> offsets;
  {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(padded);
    testsupport::ConversionHarness harness("memory.mdb", labels, [&](const std::filesystem::path& path) {
      return std::make_unique<RecordingFile>(std::make_unique<jet::MemoryFile>(path, bytes), offsets);
    });
    harness.Run();
    harness.connection.Close();
  }
  const auto first_new = std::find_if(offsets.begin(), offsets.end(), [&](std::uint64_t offset) { return offset >= padded.size(); });
  ASSERT_NE(first_new, offsets.end());
  const auto at = static_cast<std::size_t>(first_new - offsets.begin());
  for (std::size_t stop = at; stop <= at + 8; ++stop) {
    SCOPED_TRACE("stop after " + std::to_string(stop) + " of " + std::to_string(offsets.size()) + " writes");
    const auto bytes = ConvertStoppingAfter(padded, labels, stop);
    ExpectUsableAfterStop(bytes, sidecar);
    // The global map names only map pages the file holds.
    testsupport::MapBits(*bytes, 1, 0, static_cast<std::uint32_t>(bytes->size() / kPageSize), true);
  }
}

}  // namespace
