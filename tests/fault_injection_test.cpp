// Stops (or fails) the file after each of the first page writes of a
// conversion, as a power cut or a full disk would, and checks that what is
// left on disk opens in this engine and in the other readers with every row
// holding either its old or its new value.
#include <gtest/gtest.h>

#include <map>
#include <set>

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
  WriteCounter(std::unique_ptr<jet::File> inner, std::size_t& writes) : inner_(std::move(inner)), writes_(writes) {}
  const std::filesystem::path& path() const override { return inner_->path(); }
  std::uint64_t Size() override { return inner_->Size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override { return inner_->ReadAt(offset, buffer); }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    ++writes_;
    inner_->WriteAt(offset, data);
  }
  void Sync() override { inner_->Sync(); }
  bool writable() const override { return inner_->writable(); }

 private:
  std::unique_ptr<jet::File> inner_;
  std::size_t& writes_;
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

}  // namespace
