// index_bench: times index maintenance as the conversion drives it.
//
//   1. artikli-indexed: every label of the PoreskaStopa index rewritten as
//      its number (1,638 rows), planned and applied in memory.
//   2. a deep tree: 5,000 rows with long text keys inserted, then each one
//      changed once.
// Prints per-update times, page reads and writes, and new pages.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "jet/index_tree.h"
#include "jet/testing/fixture_database.h"
#include "jet/testing/memory_index_store.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Tally {
  std::size_t updates = 0;
  std::size_t writes = 0;
  std::size_t new_pages = 0;
  double seconds = 0;

  void Print(const char* what, std::size_t reads) const {
    std::printf("%-34s %6zu updates  %8.1f us/update  %5.2f page reads/update  %5.2f page writes/update  %zu new pages\n",
                what, updates, seconds * 1e6 / static_cast<double>(updates),
                static_cast<double>(reads) / static_cast<double>(updates),
                static_cast<double>(writes) / static_cast<double>(updates), new_pages);
  }
};

void Run(jet::testing::MemoryIndexStore& store, const jet::IndexDefinition& index, jet::EntryRow row,
         std::span<const jet::KeyValue> before, std::span<const jet::KeyValue> after, Tally& tally) {
  const auto start = Clock::now();
  const jet::IndexUpdatePlan plan = jet::PlanIndexUpdate(store, index, row, before, after);
  store.Apply(plan);
  tally.seconds += std::chrono::duration<double>(Clock::now() - start).count();
  ++tally.updates;
  tally.writes += plan.before_row.size() + plan.after_row.size();
  tally.new_pages += plan.new_pages.size();
}

void ConvertArtikli() {
  jet::testing::FixtureDatabase db(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-indexed.mdb");
  const auto table = db.FindTable(u"PoreskaStopa");
  const jet::IndexDefinition* index = nullptr;
  for (const auto& candidate : table.indexes) {
    if (candidate.name == "PoreskaStopa") index = &candidate;
  }
  jet::testing::MemoryIndexStore store(db.bytes());
  const std::u16string labels = u"АГДЂЕЖИЈК";
  Tally tally;
  for (const jet::EntryRow row : db.ScanRows(table)) {
    const jet::KeyValue old_value = db.RowValues(table, row, index->column_numbers)[0];
    const auto* text = std::get_if<std::u16string>(&old_value);
    if (text == nullptr || text->empty() || text->size() > labels.size()) continue;
    const auto at = labels.find(*text);
    if (at == std::u16string::npos) continue;
    std::u16string digits;
    for (char c : std::to_string(at)) digits.push_back(static_cast<char16_t>(c));
    const jet::KeyValue new_value = digits;
    Run(store, *index, row, std::span(&old_value, 1), std::span(&new_value, 1), tally);
  }
  tally.Print("artikli-indexed conversion", store.reads());
}

void DeepTree() {
  jet::IndexDefinition index;
  index.name = "Oznaka";
  index.columns = {jet::KeyColumn{jet::ColumnType::kText, true}};
  index.column_numbers = {1};
  index.root_page = 1;
  index.flags = jet::kIndexIgnoreNulls;
  std::vector<std::uint8_t> bytes(2 * jet::kIndexPageSize, 0);
  const auto root = jet::EncodeIndexPage(jet::IndexPage{});
  std::copy(root.begin(), root.end(), bytes.begin() + jet::kIndexPageSize);
  jet::testing::MemoryIndexStore store(bytes);

  std::mt19937 random(1);
  const std::u16string alphabet = u"0123456789АГДЂЕЖИЈК";
  auto text = [&] {
    std::u16string value;
    for (std::size_t n = 60 + random() % 60; n > 0; --n) value.push_back(alphabet[random() % alphabet.size()]);
    return jet::KeyValue(value);
  };
  std::map<jet::EntryRow, jet::KeyValue> rows;
  Tally inserts;
  for (std::uint32_t i = 0; i < 5000; ++i) {
    const jet::EntryRow row{100 + i / 100, static_cast<std::uint8_t>(i % 100)};
    const jet::KeyValue nothing;
    rows[row] = text();
    Run(store, index, row, std::span(&nothing, 1), std::span(&rows[row], 1), inserts);
  }
  const std::size_t reads_after_inserts = store.reads();
  inserts.Print("deep tree: inserts", reads_after_inserts);
  Tally changes;
  for (auto& [row, value] : rows) {
    const jet::KeyValue changed = text();
    Run(store, index, row, std::span(&value, 1), std::span(&changed, 1), changes);
    value = changed;
  }
  changes.Print("deep tree: changes", store.reads() - reads_after_inserts);
  std::printf("deep tree: %u pages\n", store.page_count());
}

}  // namespace

int main() {
  ConvertArtikli();
  DeepTree();
  return 0;
}
