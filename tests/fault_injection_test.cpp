// Stops (or fails) the file after each of the first page writes of a
// conversion, as a power cut or a full disk would, and checks that what is
// left on disk opens in this engine and in the other readers with every row
// holding either its old or its new value.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "jet/ado.h"
#include "jet/file.h"
#include "tests/support/conversion_harness.h"
#include "tests/support/external_reader.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::FixtureDir;
using testsupport::Json;
using testsupport::ReadBytes;
using testsupport::ReadJsonFile;
using testsupport::ScratchDir;
using Bytes = std::vector<std::uint8_t>;

const std::string kMdbExport = FRN_MDB_EXPORT;
const std::string kNode = FRN_NODE;
const std::filesystem::path kOracleDir = FRN_ORACLE_DIR;

// Passes everything on, counting the writes asked for in `writes`.
class WriteCounter : public jet::File {
 public:
  // `pages`, when given, gets the page number and first byte of each write.
  WriteCounter(std::unique_ptr<jet::File> inner, std::size_t& writes,
               std::vector<std::pair<std::uint64_t, std::uint8_t>>* pages = nullptr)
      : inner_(std::move(inner)), writes_(writes), pages_(pages) {}
  const std::filesystem::path& path() const override { return inner_->path(); }
  std::uint64_t Size() override { return inner_->Size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override { return inner_->ReadAt(offset, buffer); }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    ++writes_;
    if (pages_ && !data.empty()) pages_->emplace_back(offset / 4096, data[0]);
    inner_->WriteAt(offset, data);
  }
  void Sync() override { inner_->Sync(); }
  bool writable() const override { return inner_->writable(); }

 private:
  std::unique_ptr<jet::File> inner_;
  std::size_t& writes_;
  std::vector<std::pair<std::uint64_t, std::uint8_t>>* pages_;
};

struct Outcome {
  Bytes image;
  std::size_t writes = 0;
};

// Converts `fixture` in memory; the file passes `limit` writes, then fails
// or stops.
Outcome ConvertWithLimit(const std::string& fixture, const Json& sidecar, std::size_t limit, jet::FailingFile::Mode mode) {
  auto bytes = std::make_shared<Bytes>(ReadBytes(FixtureDir() / "artikli" / (fixture + ".mdb")));
  std::size_t writes = 0;
  {
    const jet::FileOpener opener = [&](const std::filesystem::path& path) {
      return std::make_unique<WriteCounter>(
          std::make_unique<jet::FailingFile>(std::make_unique<jet::MemoryFile>(path, bytes), limit, mode), writes);
    };
    testsupport::ConversionHarness harness("podaci.mdb", testsupport::FromHex(sidecar["labels_cp1251_hex"].Utf8()), opener);
    try {
      harness.Run();
    } catch (const std::exception&) {
      // A failing disk may end the run; what is on disk is checked below.
    }
    try {
      harness.connection.Close();
    } catch (const std::exception&) {
    }
  }
  return {*bytes, writes};
}

// Checks every row of `image` (scan order) is the sidecar's before or after
// row at that place.
void ExpectOldOrNew(const Bytes& image, const Json& sidecar) {
  const testsupport::Rows rows = testsupport::ReadRows(image, sidecar["password"].text, sidecar["table"].text);
  const Json& before = sidecar["rows_before"];
  const Json& after = sidecar["rows_after"];
  ASSERT_EQ(rows.size(), before.items.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_TRUE(testsupport::SameRow(rows[i], before.items[i]) || testsupport::SameRow(rows[i], after.items[i]))
        << "row " << i << ": " << testsupport::Describe(rows[i]);
  }
}

// The same through another reader: rows keyed by their first column. These
// readers return a moved row's data slot as a live row of its own, so while
// a row is being moved (its new copy written, its home slot not yet pointing
// there) they see it twice, once old and once new; Jet and this engine see
// it once. At most that one row may appear twice.
void ExpectOldOrNewRows(const testsupport::TextRows& rows, const Json& sidecar, bool blank_is_null) {
  std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> expected;
  for (std::size_t i = 0; i < sidecar["rows_before"].items.size(); ++i) {
    auto old_row = testsupport::NormaliseRow(sidecar["rows_before"].items[i]);
    auto new_row = testsupport::NormaliseRow(sidecar["rows_after"].items[i]);
    if (blank_is_null) {
      old_row = testsupport::BlankAsNull({old_row})[0];
      new_row = testsupport::BlankAsNull({new_row})[0];
    }
    expected[old_row[0]] = {old_row, new_row};
  }
  std::set<std::string> seen;
  std::size_t twice = 0;
  for (const auto& row : rows) {
    if (!seen.insert(row[0]).second) ++twice;
    const auto found = expected.find(row[0]);
    ASSERT_NE(found, expected.end()) << "unknown row " << row[0];
    EXPECT_TRUE(row == found->second.first || row == found->second.second) << "row " << row[0];
  }
  EXPECT_EQ(seen.size(), expected.size());
  EXPECT_LE(twice, 1u);
}

struct Case {
  std::string fixture;
  std::size_t every;      // check every n-th stop point (1: all of them)
  std::size_t external;   // also check with the other readers every n-th
};

// The sanitizer build runs several times slower; it samples the large case
// more thinly.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kPackedStep = 97;
#else
constexpr std::size_t kPackedStep = 19;
#endif

TEST(FaultInjectionTest, EveryStopPointLeavesEachRowOldOrNew) {
  const Case cases[] = {
      {"artikli-packed", kPackedStep, 5 * kPackedStep},
      {"artikli-overflow", 1, 1},
      {"artikli-deleted", 1, 1},
      {"artikli-encoded", 1, 1},
      {"artikli-memo", 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Json sidecar = ReadJsonFile((FixtureDir() / "artikli" / (c.fixture + ".json")).string());
    const std::size_t total = ConvertWithLimit(c.fixture, sidecar, SIZE_MAX, jet::FailingFile::Mode::kStop).writes;
    ASSERT_GT(total, 0u);
    for (std::size_t limit = 0; limit <= total; ++limit) {
      if (limit % c.every != 0 && limit > 3 && limit != total) continue;
      SCOPED_TRACE("stopped after " + std::to_string(limit) + " of " + std::to_string(total) + " writes");
      for (const jet::FailingFile::Mode mode : {jet::FailingFile::Mode::kStop, jet::FailingFile::Mode::kFail}) {
        const Outcome outcome = ConvertWithLimit(c.fixture, sidecar, limit, mode);
        ExpectOldOrNew(outcome.image, sidecar);
        if (mode != jet::FailingFile::Mode::kStop || (limit % c.external != 0 && limit != total)) continue;
        ScratchDir scratch;
        const std::filesystem::path path = scratch.path() / "image.mdb";
        testsupport::WriteBytes(path, outcome.image);
        const std::string table = sidecar["table"].Utf8();
        if (std::filesystem::exists(kMdbExport)) {
          SCOPED_TRACE("mdb-export");
          ExpectOldOrNewRows(testsupport::BlankAsNull(testsupport::MdbExportRows(kMdbExport, path, table)), sidecar, true);
        }
        if (std::filesystem::exists(kNode) && std::filesystem::exists(kOracleDir / "node_modules/mdb-reader")) {
          SCOPED_TRACE("mdb-reader");
          ExpectOldOrNewRows(testsupport::MdbReaderRows(kNode, kOracleDir, path, table), sidecar, false);
        }
      }
    }
  }
}

// Growing rows of artikli-many: the rows [first, last) in scan order get a
// name of 40 Cyrillic letters, so each moves to another page.
const std::u16string kLongName(40, u'Ш');
const std::u16string kPassword = u"korpamilev";

struct GrowOutcome {
  Bytes image;
  std::size_t writes = 0;
  std::vector<std::pair<std::uint64_t, std::uint8_t>> pages;  // page number, first byte of each write
};

GrowOutcome GrowRows(const Bytes& start, std::size_t first, std::size_t last, std::size_t limit, jet::FailingFile::Mode mode,
                     const std::function<bool(const Bytes&)>& stop_when = {}) {
  GrowOutcome outcome;
  auto bytes = std::make_shared<Bytes>(start);
  {
    const jet::FileOpener opener = [&](const std::filesystem::path& path) {
      return std::make_unique<WriteCounter>(
          std::make_unique<jet::FailingFile>(std::make_unique<jet::MemoryFile>(path, bytes), limit, mode), outcome.writes,
          &outcome.pages);
    };
    jet::ADOConnection connection({}, opener);
    try {
      connection.SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=podaci.mdb;Jet OLEDB:Database Password=" +
                                     kPassword + u";");
      connection.Open();
      jet::ADOTable table(connection, "Artikli");
      table.Open();
      std::size_t row = 0;
      for (table.First(); !table.AtEnd() && row < last; table.Next(), ++row) {
        if (row < first) continue;
        table.Edit();
        table.FieldByName("Naziv").SetText(kLongName);
        table.Post();
        if (stop_when && stop_when(*bytes)) break;
      }
      connection.Close();
    } catch (const std::exception&) {
      // A failing or stopped disk may end the run; what is on disk is
      // checked by the caller.
    }
  }
  outcome.image = *bytes;
  return outcome;
}

// Checks the rows of `image` in this engine: rows [0, first) grown, rows
// [first, last) old or grown, the rest old.
void ExpectGrownOldOrNew(const Bytes& image, const testsupport::Rows& original, std::size_t first, std::size_t last) {
  const testsupport::Rows rows = testsupport::ReadRows(image, kPassword, u"Artikli");
  ASSERT_EQ(rows.size(), original.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::vector<jet::Value> grown = original[i];
    grown[1].text = kLongName;
    const std::string row = testsupport::Describe(rows[i]);
    if (i < first) {
      ASSERT_EQ(row, testsupport::Describe(grown)) << "row " << i;
    } else if (i >= last) {
      ASSERT_EQ(row, testsupport::Describe(original[i])) << "row " << i;
    } else {
      ASSERT_TRUE(row == testsupport::Describe(grown) || row == testsupport::Describe(original[i])) << "row " << i << ": " << row;
    }
  }
}

// Checks that the global map and Artikli's maps name only map pages the
// image holds, decoded here from the bytes.
void ExpectMapsInsideTheFile(const Bytes& image) {
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kTablePage = 24;  // Artikli's table definition
  auto get16 = [&](std::size_t at) { return static_cast<std::uint32_t>(image[at] | image[at + 1] << 8); };
  auto get32 = [&](std::size_t at) { return get16(at) | get16(at + 2) << 16; };
  const std::uint32_t maps[] = {1u << 8, get32(kTablePage * kPage + 55), get32(kTablePage * kPage + 59)};
  for (const std::uint32_t map : maps) {
    const std::size_t base = (map >> 8) * kPage;
    const std::uint32_t row = map & 0xFF;
    const std::size_t start = base + (get16(base + 14 + 2 * row) & 0x1FFF);
    const std::size_t end = base + (row == 0 ? kPage : get16(base + 14 + 2 * (row - 1)) & 0x1FFF);
    if (image[start] != 0x01) continue;
    for (std::size_t at = start + 1; at + 4 <= end; at += 4) {
      const std::uint32_t map_page = get32(at);
      if (map_page == 0) continue;
      ASSERT_LT(map_page, image.size() / kPage) << "the map at page " << (map >> 8) << " names a page past the file's end";
      EXPECT_EQ(image[map_page * kPage], 0x05) << "the map at page " << (map >> 8) << " names page " << map_page;
    }
  }
}

// The sanitizer build samples fewer stop points.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kGrowthStep = 61;
constexpr std::size_t kPromotionWindow = 4;
#else
constexpr std::size_t kGrowthStep = 23;
constexpr std::size_t kPromotionWindow = 10;
#endif

TEST(FaultInjectionTest, StopsAroundAUsageMapPromotionLeaveEachRowOldOrNew) {
  const Bytes fixture = ReadBytes(FixtureDir() / "artikli/artikli-many.mdb");
  const Json sidecar = ReadJsonFile((FixtureDir() / "artikli/artikli-many.json").string());
  const testsupport::Rows original = testsupport::ReadRows(fixture, kPassword, u"Artikli");
  // Grow rows until the file nearly fills what the global map's inline
  // window (pages 1024-1535) describes; pages 0-1023 are used, so the next
  // growth past it turns the map into a reference map.
  std::size_t first = 0;
  const GrowOutcome prepared = GrowRows(fixture, 0, SIZE_MAX, SIZE_MAX, jet::FailingFile::Mode::kStop, [&](const Bytes& bytes) {
    ++first;
    return bytes.size() / 4096 >= 1534;
  });
  ASSERT_EQ(prepared.image.size() / 4096, 1534u);
  const std::size_t last = first + 150;
  const GrowOutcome full = GrowRows(prepared.image, first, last, SIZE_MAX, jet::FailingFile::Mode::kStop);
  ExpectGrownOldOrNew(full.image, original, last, last);
  const auto map_page = std::find_if(full.pages.begin(), full.pages.end(), [](const auto& write) { return write.second == 0x05 && write.first >= 1534; });
  ASSERT_NE(map_page, full.pages.end()) << "no map page was written";
  const std::size_t promotion = static_cast<std::size_t>(map_page - full.pages.begin()) + 1;  // writes up to the map page
  // The map page follows the new data page; the global map's row, the
  // table's maps and the home slot follow it.
  ASSERT_GE(promotion, 2u);
  EXPECT_EQ(full.pages[promotion - 2].second, 0x01);
  EXPECT_EQ(full.pages[promotion].first, 1u) << "the global map's row is written right after its map page";

  // Rows keyed by their first column, for the other readers.
  std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> expected;
  for (const Json& item : sidecar["rows_before"].items) {
    std::vector<std::string> old_row = testsupport::NormaliseRow(item);
    std::vector<std::string> new_row = old_row;
    new_row[1] = testsupport::ToUtf8(kLongName);
    expected[old_row[0]] = {old_row, new_row};
  }
  auto expect_external = [&](const testsupport::TextRows& rows, bool blank_is_null) {
    std::set<std::string> seen;
    std::size_t twice = 0;
    for (auto row : rows) {
      if (!seen.insert(row[0]).second) ++twice;
      const auto found = expected.find(row[0]);
      ASSERT_NE(found, expected.end()) << "unknown row " << row[0];
      auto [old_row, new_row] = found->second;
      if (blank_is_null) {
        old_row = testsupport::BlankAsNull({old_row})[0];
        new_row = testsupport::BlankAsNull({new_row})[0];
      }
      ASSERT_TRUE(row == old_row || row == new_row) << "row " << row[0];
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_LE(twice, 1u);
  };

  for (std::size_t limit = 0; limit <= full.writes; ++limit) {
    const bool near = limit + kPromotionWindow >= promotion && limit <= promotion + kPromotionWindow;
    if (!near && limit % kGrowthStep != 0 && limit != full.writes) continue;
    SCOPED_TRACE("stopped after " + std::to_string(limit) + " of " + std::to_string(full.writes) + " writes; the map page is write " +
                 std::to_string(promotion));
    for (const jet::FailingFile::Mode mode : {jet::FailingFile::Mode::kStop, jet::FailingFile::Mode::kFail}) {
      const GrowOutcome outcome = GrowRows(prepared.image, first, last, limit, mode);
      ExpectGrownOldOrNew(outcome.image, original, first, last);
      ExpectMapsInsideTheFile(outcome.image);
      if (mode != jet::FailingFile::Mode::kStop || !near || limit + 3 < promotion || limit > promotion + 3) continue;
      ScratchDir scratch;
      const std::filesystem::path path = scratch.path() / "image.mdb";
      testsupport::WriteBytes(path, outcome.image);
      if (std::filesystem::exists(kMdbExport)) {
        SCOPED_TRACE("mdb-export");
        expect_external(testsupport::BlankAsNull(testsupport::MdbExportRows(kMdbExport, path, "Artikli")), true);
      }
      if (std::filesystem::exists(kNode) && std::filesystem::exists(kOracleDir / "node_modules/mdb-reader")) {
        SCOPED_TRACE("mdb-reader");
        expect_external(testsupport::MdbReaderRows(kNode, kOracleDir, path, "Artikli"), false);
      }
    }
  }
}

}  // namespace
