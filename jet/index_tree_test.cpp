#include "jet/index_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "jet/errors.h"
#include "jet/testing/fixture_database.h"
#include "jet/testing/memory_index_store.h"

namespace jet {
namespace {

using testing::FixtureDatabase;
using testing::MemoryIndexStore;

constexpr ColumnType kText = ColumnType::kText;
const std::u16string kLabels = u"АГДЂЕЖИЈК";

std::filesystem::path Fixture(const char* name) { return std::filesystem::path(FRN_FIXTURES_DIR) / name; }

// The conversion's rule: the label's 0-based position as digits, or nullopt.
std::optional<std::u16string> Converted(const KeyValue& value) {
  const auto* text = std::get_if<std::u16string>(&value);
  if (text == nullptr || text->empty() || text->size() > kLabels.size()) return std::nullopt;
  const auto at = kLabels.find(*text);
  if (at == std::u16string::npos) return std::nullopt;
  std::u16string digits;
  for (char c : std::to_string(at)) digits.push_back(static_cast<char16_t>(c));
  return digits;
}

const IndexDefinition& IndexNamed(const testing::FixtureTable& table, const std::string& name) {
  for (const auto& index : table.indexes) {
    if (index.name == name) return index;
  }
  throw std::runtime_error("no index " + name);
}

// Returns the entries met walking the leaf chain, duplicates included.
std::vector<IndexEntry> ChainEntries(IndexPageStore& store, std::uint32_t root) {
  std::uint32_t number = root;
  for (;;) {
    const IndexPage page = DecodeIndexPage(store.ReadPage(number), number, store);
    if (page.leaf) break;
    number = page.entries.empty() ? page.tail : page.entries.front().child;
  }
  std::vector<IndexEntry> entries;
  for (int pages = 0; number != 0 && pages < 10000; ++pages) {
    const IndexPage page = DecodeIndexPage(store.ReadPage(number), number, store);
    entries.insert(entries.end(), page.entries.begin(), page.entries.end());
    number = page.next;
  }
  return entries;
}

int TreeHeight(IndexPageStore& store, std::uint32_t root) {
  int height = 0;
  for (std::uint32_t number = root;; ++height) {
    const IndexPage page = DecodeIndexPage(store.ReadPage(number), number, store);
    if (page.leaf) return height;
    number = page.entries.empty() ? page.tail : page.entries.front().child;
  }
}

std::string Problems(IndexPageStore& store, const IndexDefinition& index) {
  std::string all;
  for (const auto& problem : CheckIndexTree(store, index)) all += problem + "\n";
  return all;
}

// Converts the indexed tax-rate column of artikli-indexed row by row, as the
// run does, keeping the PoreskaStopa index; then walks the index and
// compares it with the table scan.
TEST(IndexTreeTest, ConversionKeepsIndexedFixtureInStep) {
  FixtureDatabase db(Fixture("artikli/artikli-indexed.mdb"));
  const auto table = db.FindTable(u"PoreskaStopa");
  const IndexDefinition& index = IndexNamed(table, "PoreskaStopa");
  const IndexDefinition& primary = IndexNamed(table, "PrimaryKey");
  MemoryIndexStore store(db.bytes());
  ASSERT_EQ(Problems(store, index), "");
  const auto primary_before = WalkIndex(store, primary);

  std::map<EntryRow, KeyValue> values;
  std::size_t converted = 0;
  std::size_t splits = 0;
  for (const EntryRow row : db.ScanRows(table)) {
    const KeyValue old_value = db.RowValues(table, row, index.column_numbers)[0];
    values[row] = old_value;
    const auto new_value = Converted(old_value);
    if (!new_value) continue;
    const KeyValue old_values[] = {old_value};
    const KeyValue new_values[] = {*new_value};
    const IndexUpdatePlan plan = PlanIndexUpdate(store, index, row, old_values, new_values);
    splits += plan.new_pages.size();
    store.Apply(plan);
    values[row] = *new_value;
    ++converted;
  }
  EXPECT_EQ(converted, 1638u);  // as the fixture's sidecar counts
  EXPECT_GT(splits, 0u);
  EXPECT_EQ(Problems(store, index), "");

  const auto entries = WalkIndex(store, index);
  ASSERT_EQ(entries.size(), values.size());
  for (const auto& entry : entries) {
    ASSERT_EQ(values.count(entry.row), 1u);
    EXPECT_EQ(entry.key, BuildKey(index.columns, std::span(&values[entry.row], 1)));
  }
  const auto primary_after = WalkIndex(store, primary);
  EXPECT_EQ(primary_after.size(), primary_before.size());
}

// artikli-indexed with its PoreskaStopa index redefined, in the table
// definition and in a tree built anew, as a unique index on (PoreskaStopa
// ascending, Cena descending, Sifra ascending).
std::vector<std::uint8_t> MultiColumnFixture() {
  FixtureDatabase original(Fixture("artikli/artikli-indexed.mdb"));
  const auto table = original.FindTable(u"PoreskaStopa");
  std::size_t slot = 0;
  while (table.indexes[slot].name != "PoreskaStopa") ++slot;
  const std::size_t at = table.real_index_offsets[slot];
  EXPECT_LT(at + kJet4Format.real_index_size, kIndexPageSize);
  const IndexDefinition old_definition = table.indexes[slot];

  std::vector<std::uint8_t> bytes = original.bytes();
  std::uint8_t* record = bytes.data() + std::size_t{table.page} * kIndexPageSize + at;
  const std::uint8_t parts[] = {3, 0, 0x01, 2, 0, 0x00, 0, 0, 0x01};
  for (std::size_t i = 0; i < 10; ++i) {
    record[4 + 3 * i] = 0xFF;
    record[5 + 3 * i] = 0xFF;
    record[6 + 3 * i] = 0x00;
  }
  std::copy(std::begin(parts), std::end(parts), record + 4);
  record[46] = 0x80 | kIndexUnique;

  IndexPage root;
  root.owner = table.page;
  const auto empty = EncodeIndexPage(root);
  std::copy(empty.begin(), empty.end(), bytes.begin() + std::size_t{old_definition.root_page} * kIndexPageSize);

  FixtureDatabase edited(bytes);
  const auto new_table = edited.FindTable(u"PoreskaStopa");
  IndexDefinition building = IndexNamed(new_table, "PoreskaStopa");
  building.flags = kIndexIgnoreNulls;  // so that "all null" means "no entry yet"
  MemoryIndexStore store(bytes);
  const std::vector<KeyValue> nothing(3);
  for (const EntryRow row : edited.ScanRows(new_table)) {
    const auto values = edited.RowValues(new_table, row, building.column_numbers);
    store.Apply(PlanIndexUpdate(store, building, row, nothing, values));
  }
  return store.bytes();
}

TEST(IndexTreeTest, ConversionKeepsMultiColumnUniqueIndexInStep) {
  FixtureDatabase db(MultiColumnFixture());
  const auto table = db.FindTable(u"PoreskaStopa");
  const IndexDefinition& index = IndexNamed(table, "PoreskaStopa");
  ASSERT_EQ(index.column_numbers, (std::vector<std::uint16_t>{3, 2, 0}));
  ASSERT_FALSE(index.columns[1].ascending);
  ASSERT_TRUE(index.unique());
  MemoryIndexStore store(db.bytes());
  ASSERT_EQ(Problems(store, index), "");

  std::map<EntryRow, std::vector<KeyValue>> rows;
  for (const EntryRow row : db.ScanRows(table)) {
    std::vector<KeyValue> values = db.RowValues(table, row, index.column_numbers);
    const auto converted = Converted(values[0]);
    if (converted) {
      std::vector<KeyValue> changed = values;
      changed[0] = *converted;
      store.Apply(PlanIndexUpdate(store, index, row, values, changed));
      values = changed;
    }
    rows[row] = values;
  }
  EXPECT_EQ(Problems(store, index), "");
  const auto entries = WalkIndex(store, index);
  ASSERT_EQ(entries.size(), 2000u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& values = rows.at(entries[i].row);
    EXPECT_EQ(entries[i].key, BuildKey(index.columns, values));
    if (i == 0) continue;
    // Within one tax rate, prices run from high to low.
    const auto& before = rows.at(entries[i - 1].row);
    if (before[0] == values[0]) {
      EXPECT_GE(std::get<std::int64_t>(before[1]), std::get<std::int64_t>(values[1])) << "entry " << i;
    }
  }

  // The same rate, price and article number as another row is refused.
  const EntryRow first = entries[0].row;
  const EntryRow second = entries[1].row;
  try {
    PlanIndexUpdate(store, index, first, rows.at(first), rows.at(second));
    ADD_FAILURE() << "no error";
  } catch (const DuplicateKey& error) {
    EXPECT_EQ(error.index_name(), "PoreskaStopa");
  }
}

IndexDefinition SyntheticIndex(std::uint8_t flags) {
  IndexDefinition index;
  index.name = "Oznaka";
  index.table_page = 2;
  index.column_numbers = {3};
  index.columns = {KeyColumn{kText, true}};
  index.root_page = 1;
  index.owned_map = 0x0301;
  index.flags = flags;
  return index;
}

// A file of three pages: page 1 is the empty root leaf of SyntheticIndex.
std::vector<std::uint8_t> EmptyIndexFile() {
  std::vector<std::uint8_t> bytes(3 * kIndexPageSize, 0);
  IndexPage root;
  root.owner = 2;
  const auto page = EncodeIndexPage(root);
  std::copy(page.begin(), page.end(), bytes.begin() + kIndexPageSize);
  return bytes;
}

std::u16string RandomText(std::mt19937& random) {
  static const std::u16string kAlphabet = u"0123456789 АГДЂЕЖИЈКabcXYZ";
  std::uniform_int_distribution<std::size_t> length(1, 250);
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  std::u16string text;
  for (std::size_t n = length(random); n > 0; --n) text.push_back(kAlphabet[pick(random)]);
  return text;
}

struct Model {
  std::map<EntryRow, std::u16string> rows;

  std::vector<IndexEntry> Entries(const IndexDefinition& index) const {
    std::vector<IndexEntry> entries;
    for (const auto& [row, text] : rows) {
      const KeyValue value = text;
      entries.push_back({BuildKey(index.columns, std::span(&value, 1)), row, 0});
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return CompareEntries(a, b) < 0; });
    return entries;
  }
};

void ExpectSameEntries(const std::vector<IndexEntry>& actual, const std::vector<IndexEntry>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    ASSERT_TRUE(CompareEntries(actual[i], expected[i]) == 0) << "entry " << i;
  }
}

// Inserts, changes and removes entries with long keys at random, so that
// pages split, the root nests, pages empty and tails move, checking the
// whole tree after every change.
TEST(IndexTreeTest, RandomChangesKeepTreeInvariants) {
  const IndexDefinition index = SyntheticIndex(kIndexIgnoreNulls);
  MemoryIndexStore store(EmptyIndexFile());
  Model model;
  std::mt19937 random(20261211);
  int highest = 0;
  std::size_t released = 0;
  // Grow with some removals, then remove every row, so that pages also
  // empty and the root ends as an empty leaf.
  for (int step = 0; step < 1300 || !model.rows.empty(); ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    EntryRow row{static_cast<std::uint32_t>(100 + random() % 40), static_cast<std::uint8_t>(random() % 30)};
    if (step >= 1300) {
      auto it = model.rows.begin();
      std::advance(it, static_cast<std::ptrdiff_t>(random() % model.rows.size()));
      row = it->first;
    }
    const auto known = model.rows.find(row);
    KeyValue old_value;
    if (known != model.rows.end()) old_value = known->second;
    KeyValue new_value;
    const bool remove = known != model.rows.end() && (step >= 1300 || random() % 100 < 15);
    if (!remove) new_value = RandomText(random);
    const IndexUpdatePlan plan = PlanIndexUpdate(store, index, row, std::span(&old_value, 1), std::span(&new_value, 1));
    store.Apply(plan);
    released += plan.released_pages.size();
    if (remove) {
      model.rows.erase(row);
    } else {
      model.rows[row] = std::get<std::u16string>(new_value);
    }
    highest = std::max(highest, TreeHeight(store, index.root_page));
    ASSERT_EQ(Problems(store, index), "");
    ExpectSameEntries(WalkIndex(store, index), model.Entries(index));
  }
  EXPECT_EQ(TreeHeight(store, index.root_page), 0);
  EXPECT_GE(highest, 2);
  EXPECT_GT(released, 0u);
}

// Stops after every single write of updates that split and release pages,
// and checks that every row's current entry is still found, by a seek and
// along the leaves.
TEST(IndexTreeTest, EveryStopLeavesTheIndexUsable) {
  const IndexDefinition index = SyntheticIndex(kIndexIgnoreNulls);
  MemoryIndexStore store(EmptyIndexFile());
  Model model;
  std::mt19937 random(7);
  std::size_t stops = 0;
  std::size_t structural = 0;
  for (int step = 0; step < 400; ++step) {
    const EntryRow row{static_cast<std::uint32_t>(100 + step / 30), static_cast<std::uint8_t>(step % 30)};
    const KeyValue nothing;
    const KeyValue text = RandomText(random);
    const IndexUpdatePlan insert = PlanIndexUpdate(store, index, row, std::span(&nothing, 1), std::span(&text, 1));
    store.Apply(insert);
    model.rows[row] = std::get<std::u16string>(text);
  }
  for (int step = 0; step < 120; ++step) {
    SCOPED_TRACE("change " + std::to_string(step));
    auto it = model.rows.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(random() % model.rows.size()));
    const EntryRow row = it->first;
    const KeyValue old_value = it->second;
    const KeyValue new_value = RandomText(random);
    const IndexUpdatePlan plan = PlanIndexUpdate(store, index, row, std::span(&old_value, 1), std::span(&new_value, 1));
    if (!plan.new_pages.empty() || plan.before_row.size() + plan.after_row.size() > 2) ++structural;
    const std::size_t steps = MemoryIndexStore::Steps(plan);
    for (std::size_t stop = 0; stop <= steps; ++stop) {
      MemoryIndexStore crashed(store.bytes());
      crashed.Apply(plan, stop);
      const bool row_written = stop > plan.before_row.size();
      for (const auto& [other, text] : model.rows) {
        const KeyValue value = other == row && row_written ? new_value : KeyValue(text);
        const IndexEntry wanted{BuildKey(index.columns, std::span(&value, 1)), other, 0};
        ASSERT_TRUE(SeekFinds(crashed, index, wanted)) << "stop " << stop;
      }
      const auto chain = ChainEntries(crashed, index.root_page);
      std::set<EntryRow> rows_on_chain;
      for (const auto& entry : chain) rows_on_chain.insert(entry.row);
      EXPECT_EQ(rows_on_chain.size(), model.rows.size()) << "stop " << stop;
      ++stops;
    }
    store.Apply(plan);
    model.rows[row] = std::get<std::u16string>(new_value);
  }
  EXPECT_GE(structural, 10u);
  EXPECT_GT(stops, 360u);
  ASSERT_EQ(Problems(store, index), "");

  // Removals that take pages out of the tree.
  std::size_t releasing = 0;
  while (!model.rows.empty()) {
    auto it = model.rows.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(random() % model.rows.size()));
    const EntryRow row = it->first;
    const KeyValue old_value = it->second;
    const KeyValue nothing;
    const IndexUpdatePlan plan = PlanIndexUpdate(store, index, row, std::span(&old_value, 1), std::span(&nothing, 1));
    model.rows.erase(row);
    if (!plan.released_pages.empty()) {
      ++releasing;
      for (std::size_t stop = 0; stop <= MemoryIndexStore::Steps(plan); ++stop) {
        MemoryIndexStore crashed(store.bytes());
        crashed.Apply(plan, stop);
        for (const auto& [other, text] : model.rows) {
          const KeyValue value = text;
          const IndexEntry wanted{BuildKey(index.columns, std::span(&value, 1)), other, 0};
          ASSERT_TRUE(SeekFinds(crashed, index, wanted)) << "stop " << stop;
        }
        std::set<EntryRow> rows_on_chain;
        for (const auto& entry : ChainEntries(crashed, index.root_page)) rows_on_chain.insert(entry.row);
        for (const auto& [other, text] : model.rows) EXPECT_EQ(rows_on_chain.count(other), 1u) << "stop " << stop;
      }
    }
    store.Apply(plan);
  }
  EXPECT_GT(releasing, 5u);
  EXPECT_EQ(WalkIndex(store, index).size(), 0u);
}

TEST(IndexTreeTest, UniqueIndexRefusesAnotherRowsKey) {
  FixtureDatabase db(Fixture("artikli/artikli-indexed.mdb"));
  const auto table = db.FindTable(u"PoreskaStopa");
  const IndexDefinition& primary = IndexNamed(table, "PrimaryKey");
  ASSERT_TRUE(primary.unique());
  MemoryIndexStore store(db.bytes());
  const auto rows = db.ScanRows(table);
  const KeyValue first = db.RowValues(table, rows[0], primary.column_numbers)[0];
  const KeyValue second = db.RowValues(table, rows[1], primary.column_numbers)[0];
  try {
    PlanIndexUpdate(store, primary, rows[0], std::span(&first, 1), std::span(&second, 1));
    ADD_FAILURE() << "no error";
  } catch (const DuplicateKey& error) {
    EXPECT_STREQ(error.what(),
                 "The changes you requested to the table were not successful because they would create duplicate "
                 "values in the index, primary key, or relationship.  Change the data in the field or fields that "
                 "contain duplicate data, remove the index, or redefine the index to permit duplicate entries and "
                 "try again.");
    EXPECT_EQ(error.index_name(), "PrimaryKey");
  }
  EXPECT_TRUE(PlanIndexUpdate(store, primary, rows[0], std::span(&first, 1), std::span(&first, 1)).empty());

  const KeyValue unused = std::int64_t{987654};
  const IndexUpdatePlan plan = PlanIndexUpdate(store, primary, rows[0], std::span(&first, 1), std::span(&unused, 1));
  store.Apply(plan);
  EXPECT_EQ(Problems(store, primary), "");
  try {
    PlanIndexUpdate(store, primary, rows[1], std::span(&second, 1), std::span(&unused, 1));
    ADD_FAILURE() << "no error";
  } catch (const DuplicateKey&) {
  }
  const KeyValue nothing;
  try {
    PlanIndexUpdate(store, primary, rows[1], std::span(&second, 1), std::span(&nothing, 1));
    ADD_FAILURE() << "no error";
  } catch (const NullInRequiredIndex& error) {
    EXPECT_STREQ(error.what(), "Index or primary key cannot contain a Null value.");
  }
}

// A file whose index root (page 1) is a leaf holding `entries`.
std::vector<std::uint8_t> IndexFileWith(std::vector<IndexEntry> entries) {
  std::vector<std::uint8_t> bytes = EmptyIndexFile();
  IndexPage root;
  root.owner = 2;
  root.entries = std::move(entries);
  const auto page = EncodeIndexPage(root);
  std::copy(page.begin(), page.end(), bytes.begin() + kIndexPageSize);
  return bytes;
}

KeyBytes TextKey(const std::u16string& text) {
  KeyBytes key{0x7F};
  AppendTextKey(text, true, key);
  return key;
}

TEST(IndexTreeTest, UniqueIndexAllowsRepeatedNulls) {
  const IndexDefinition index = SyntheticIndex(kIndexUnique);
  MemoryIndexStore store(IndexFileWith({{{0x00}, {100, 0}, 0}, {{0x00}, {100, 1}, 0}, {TextKey(u"5"), {100, 2}, 0}}));
  const KeyValue five = std::u16string(u"5");
  const KeyValue seven = std::u16string(u"7");
  const KeyValue nothing;
  store.Apply(PlanIndexUpdate(store, index, {100, 2}, std::span(&five, 1), std::span(&nothing, 1)));
  store.Apply(PlanIndexUpdate(store, index, {100, 0}, std::span(&nothing, 1), std::span(&seven, 1)));
  EXPECT_THROW(PlanIndexUpdate(store, index, {100, 1}, std::span(&nothing, 1), std::span(&seven, 1)), DuplicateKey);
  const auto entries = WalkIndex(store, index);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].key, KeyBytes{0x00});
  EXPECT_EQ(entries[1].key, KeyBytes{0x00});
  EXPECT_EQ(entries[2].key, TextKey(u"7"));
  EXPECT_EQ(entries[2].row, (EntryRow{100, 0}));
}

// The old entry is found by the row location when its key cannot be built
// or is not where the given old value would put it.
TEST(IndexTreeTest, FindsOldEntryByRowLocation) {
  const IndexDefinition index = SyntheticIndex(0);
  struct Case {
    const char* name;
    std::u16string stored;
    std::u16string told;
  };
  const Case cases[] = {
      {"old value with a character without a known code", u"А", u"ćevap"},
      {"old value other than the stored one", u"А", u"Ж"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryIndexStore store(IndexFileWith({{TextKey(u"1"), {100, 1}, 0}, {TextKey(c.stored), {100, 0}, 0}}));
    const KeyValue old_value = c.told;
    const KeyValue new_value = std::u16string(u"0");
    store.Apply(PlanIndexUpdate(store, index, {100, 0}, std::span(&old_value, 1), std::span(&new_value, 1)));
    const auto entries = WalkIndex(store, index);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key, TextKey(u"0"));
    EXPECT_EQ(entries[0].row, (EntryRow{100, 0}));
  }
}

struct RefusalCase {
  const char* name;
  KeyColumn column;
  std::u16string new_value;
  const char* message;
};

// Refusals come while planning: the file is left as it was.
TEST(IndexTreeTest, RefusesIndexesAndValuesItCannotEncode) {
  const RefusalCase cases[] = {
      {"text column with another sort order", {kText, true, 0x0419, 0}, u"0",
       "The index 'Oznaka' cannot be kept up to date: it has a text column with sort order 0x0419 version 0"},
      {"binary column", {ColumnType::kBinary, true}, u"0", "The index 'Oznaka' cannot be kept up to date: it has a column of type 0x09"},
      {"new value without a known code", {kText, true}, u"č", "The index key of the character U+010D is not known to this program"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IndexDefinition index = SyntheticIndex(0);
    index.columns = {c.column};
    MemoryIndexStore store(IndexFileWith({{TextKey(u"А"), {100, 0}, 0}}));
    const KeyValue old_value = std::u16string(u"А");
    const KeyValue new_value = c.new_value;
    try {
      PlanIndexUpdate(store, index, {100, 0}, std::span(&old_value, 1), std::span(&new_value, 1));
      ADD_FAILURE() << "no error";
    } catch (const Unsupported& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

struct DamageCase {
  const char* name;
  std::vector<IndexEntry> entries;
  const char* message;
};

TEST(IndexTreeTest, ReportsDamagedTrees) {
  const IndexDefinition index = SyntheticIndex(0);
  const KeyValue old_value = std::u16string(u"А");
  const KeyValue new_value = std::u16string(u"0");

  MemoryIndexStore no_entry(IndexFileWith({{TextKey(u"1"), {100, 1}, 0}}));
  try {
    PlanIndexUpdate(no_entry, index, {100, 0}, std::span(&old_value, 1), std::span(&new_value, 1));
    ADD_FAILURE() << "no error";
  } catch (const CorruptDatabase& error) {
    EXPECT_STREQ(error.what(), "The database 'memory.mdb' is damaged (page 1): the index 'Oznaka' has no entry for a row");
  }

  // A node whose child is itself.
  std::vector<std::uint8_t> bytes = EmptyIndexFile();
  IndexPage root;
  root.leaf = false;
  root.owner = 2;
  root.entries = {{TextKey(u"Z"), {100, 9}, 1}};
  const auto page = EncodeIndexPage(root);
  std::copy(page.begin(), page.end(), bytes.begin() + kIndexPageSize);
  MemoryIndexStore looping(bytes);
  try {
    PlanIndexUpdate(looping, index, {100, 0}, std::span(&old_value, 1), std::span(&new_value, 1));
    ADD_FAILURE() << "no error";
  } catch (const CorruptDatabase& error) {
    EXPECT_STREQ(error.what(), "The database 'memory.mdb' is damaged (page 1): the index tree loops");
  }
}

}  // namespace
}  // namespace jet
