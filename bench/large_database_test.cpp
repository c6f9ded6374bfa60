// The generated databases as other readers see them: every row the generator
// meant to write, read back by the engine, mdb-export and mdb-reader; the
// primary-key index walked page by page; a conversion of the whole table.
#include "bench/large_database.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "jet/bytes.h"
#include "tests/support/conversion_harness.h"
#include "tests/support/external_reader.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::ScratchDir;
using testsupport::TextRows;

const std::string kMdbExport = FRN_MDB_EXPORT;
const std::string kNode = FRN_NODE;
const std::filesystem::path kOracleDir = FRN_ORACLE_DIR;
const std::filesystem::path kTemplate = testsupport::FixtureDir() / "artikli/artikli-empty.mdb";
constexpr std::uint32_t kRows = 20'000;
const std::string kDefaultLabels1251 = testsupport::FromHex("c0c3c480c5c6c8a3ca");

bool HaveMdbExport() { return !kMdbExport.empty() && std::filesystem::exists(kMdbExport); }
bool HaveMdbReader() {
  return !kNode.empty() && std::filesystem::exists(kNode) && std::filesystem::exists(kOracleDir / "node_modules/mdb-reader");
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// Returns the rows the generator meant to write, in the readers' text form;
// with `converted`, as the conversion leaves them.
TextRows ExpectedRows(std::uint32_t rows, bool converted) {
  TextRows expected;
  for (std::uint32_t number = 0; number < rows; ++number) {
    const bench::ArtikliRow row = bench::MakeArtikliRow(number);
    const std::optional<std::u16string> rate = converted ? bench::ConvertedRate(row) : row.poreska_stopa;
    expected.push_back({std::to_string(row.sifra), testsupport::ToUtf8(row.naziv), Number(row.cena),
                        rate ? testsupport::Normalise(testsupport::ToUtf8(*rate)) : testsupport::kNullText,
                        testsupport::Normalise(testsupport::ToUtf8(row.barkod))});
  }
  return expected;
}

TextRows EngineRows(const std::filesystem::path& path) {
  TextRows rows;
  for (const auto& row : testsupport::ReadRows(path, std::u16string(bench::kLargeDatabasePassword), u"Artikli")) {
    std::vector<std::string> values;
    for (const jet::Value& value : row) {
      values.push_back(value.kind == jet::ValueKind::kNull ? testsupport::kNullText
                                                            : testsupport::Normalise(testsupport::ToUtf8(jet::ValueAsText(value))));
    }
    rows.push_back(std::move(values));
  }
  return rows;
}

class LargeDatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new ScratchDir;
    path_ = scratch_->path() / "large.mdb";
    summary_ = bench::MakeLargeDatabase(kTemplate, path_, kRows);
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }

  static ScratchDir* scratch_;
  static std::filesystem::path path_;
  static bench::LargeDatabaseSummary summary_;
};

ScratchDir* LargeDatabaseTest::scratch_ = nullptr;
std::filesystem::path LargeDatabaseTest::path_;
bench::LargeDatabaseSummary LargeDatabaseTest::summary_;

TEST_F(LargeDatabaseTest, EngineReadsEveryRowItMeantToWrite) {
  EXPECT_EQ(testsupport::FirstDifference(EngineRows(path_), ExpectedRows(kRows, false)), "");
  EXPECT_FALSE(std::filesystem::exists(path_.string() + ".partial"));
}

TEST_F(LargeDatabaseTest, MdbExportReadsEveryRow) {
  if (!HaveMdbExport()) GTEST_SKIP() << "mdb-export is not installed";
  EXPECT_EQ(testsupport::FirstDifference(testsupport::BlankAsNull(testsupport::MdbExportRows(kMdbExport, path_, "Artikli")),
                                          testsupport::BlankAsNull(ExpectedRows(kRows, false))),
            "");
}

TEST_F(LargeDatabaseTest, MdbReaderReadsEveryRow) {
  if (!HaveMdbReader()) GTEST_SKIP() << "node or mdb-reader is not installed";
  EXPECT_EQ(testsupport::FirstDifference(testsupport::MdbReaderRows(kNode, kOracleDir, path_, "Artikli"), ExpectedRows(kRows, false)),
            "");
}

// Index pages decoded independently of the generator: entries end where the
// bitmap at 27 says, entries after the first lose the page's prefix.
struct DecodedIndexPage {
  std::uint8_t type = 0;
  std::uint32_t prev = 0, next = 0, tail = 0;
  std::vector<std::vector<std::uint8_t>> entries;
};

DecodedIndexPage DecodeIndexPage(const std::vector<std::uint8_t>& file, std::uint32_t page_number) {
  const std::span<const std::uint8_t> page(file.data() + static_cast<std::size_t>(page_number) * 4096, 4096);
  DecodedIndexPage decoded;
  decoded.type = page[0];
  decoded.prev = jet::Get32(page, 12);
  decoded.next = jet::Get32(page, 16);
  decoded.tail = jet::Get32(page, 20);
  const std::size_t prefix = jet::Get16(page, 24);
  std::size_t start = 0;
  for (std::size_t bit = 0; bit < 453 * 8; ++bit) {
    if (((page[27 + bit / 8] >> (bit % 8)) & 1) == 0) continue;
    std::vector<std::uint8_t> entry(page.begin() + 480 + static_cast<std::ptrdiff_t>(start), page.begin() + 480 + static_cast<std::ptrdiff_t>(bit));
    if (!decoded.entries.empty()) entry.insert(entry.begin(), decoded.entries[0].begin(), decoded.entries[0].begin() + static_cast<std::ptrdiff_t>(prefix));
    decoded.entries.push_back(std::move(entry));
    start = bit;
  }
  EXPECT_EQ(jet::Get16(page, 2), 4096 - 480 - start) << "free space of index page " << page_number;
  return decoded;
}

std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t b : bytes) value = value << 8 | b;
  return value;
}

// Collects the leaf entries below `page_number` in order, checking that
// each node entry copies the last entry of its child.
void CollectLeafEntries(const std::vector<std::uint8_t>& file, std::uint32_t page_number, std::vector<std::vector<std::uint8_t>>& out,
                        std::vector<std::uint32_t>& leaves) {
  const DecodedIndexPage page = DecodeIndexPage(file, page_number);
  if (page.type == 0x04) {
    out.insert(out.end(), page.entries.begin(), page.entries.end());
    leaves.push_back(page_number);
    return;
  }
  ASSERT_EQ(page.type, 0x03) << "page " << page_number;
  for (const auto& entry : page.entries) {
    ASSERT_EQ(entry.size(), 13u);
    CollectLeafEntries(file, BigEndian(std::span(entry).subspan(9, 4)), out, leaves);
    EXPECT_TRUE(std::equal(entry.begin(), entry.begin() + 9, out.back().begin())) << "node page " << page_number;
  }
  ASSERT_NE(page.tail, 0u) << "node page " << page_number;
  CollectLeafEntries(file, page.tail, out, leaves);
}

TEST_F(LargeDatabaseTest, PrimaryKeyIndexHoldsEveryRowInKeyOrder) {
  const std::vector<std::uint8_t> file = testsupport::ReadBytes(path_);
  const std::vector<std::uint8_t> template_bytes = testsupport::ReadBytes(kTemplate);
  constexpr std::uint32_t kRootPage = 26;  // the template's root, which stays the root
  ASSERT_EQ(template_bytes[kRootPage * 4096], 0x04);
  std::vector<std::vector<std::uint8_t>> entries;
  std::vector<std::uint32_t> leaves;
  CollectLeafEntries(file, kRootPage, entries, leaves);
  ASSERT_EQ(entries.size(), kRows);
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const DecodedIndexPage leaf = DecodeIndexPage(file, leaves[i]);
    EXPECT_EQ(leaf.prev, i == 0 ? 0 : leaves[i - 1]);
    EXPECT_EQ(leaf.next, i + 1 == leaves.size() ? 0 : leaves[i + 1]);
  }
  for (std::uint32_t i = 0; i < kRows; ++i) {
    const auto& entry = entries[i];
    ASSERT_EQ(entry.size(), 9u);
    ASSERT_EQ(entry[0], 0x7F);
    ASSERT_EQ(BigEndian(std::span(entry).subspan(1, 4)) ^ 0x80000000u, i + 1) << "entry " << i;
    // The entry's row pointer names the row holding that Sifra.
    const std::uint32_t page = BigEndian(std::span(entry).subspan(5, 3));
    const std::span<const std::uint8_t> data(file.data() + static_cast<std::size_t>(page) * 4096, 4096);
    ASSERT_EQ(data[0], 0x01);
    ASSERT_LT(entry[8], jet::Get16(data, 12));
    const std::size_t offset = jet::Get16(data, 14 + 2 * entry[8]) & 0x1FFF;
    ASSERT_EQ(jet::Get32(data, offset + 2), i + 1) << "entry " << i;
  }
  // 50 leaves fit under the root node alone.
  EXPECT_EQ(summary_.index_pages, leaves.size() + 1);
}

TEST_F(LargeDatabaseTest, ConversionLeavesTheConvertedRatesForOtherReaders) {
  ScratchDir scratch;
  const std::filesystem::path copy = scratch.path() / "converted.mdb";
  std::filesystem::copy_file(path_, copy);
  {
    testsupport::ConversionHarness harness(copy, kDefaultLabels1251);
    harness.Run();
    ASSERT_EQ(harness.ui.messages.size(), 1u);
  }
  const TextRows expected = ExpectedRows(kRows, true);
  EXPECT_EQ(testsupport::FirstDifference(EngineRows(copy), expected), "");
  if (HaveMdbReader()) {
    EXPECT_EQ(testsupport::FirstDifference(testsupport::MdbReaderRows(kNode, kOracleDir, copy, "Artikli"), expected), "");
  }
}

TEST(LargeDatabaseTemplateTest, RefusesUnsuitableTemplatesAndLeavesNoFile) {
  struct Case {
    const char* fixture;
    std::string message;
  };
  const Case cases[] = {
      {"artikli/artikli-basic.mdb", "Artikli is not empty"},
      {"artikli/no-artikli.mdb", "it has no table Artikli"},
      {"artikli/artikli-no-column.mdb", "Artikli lacks the column PoreskaStopa of the expected type"},
      {"artikli/artikli-indexed.mdb", "Artikli lacks the column Cena of the expected type"},  // CURRENCY
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    ScratchDir scratch;
    const std::filesystem::path source = scratch.Copy(c.fixture, "template.mdb");
    const std::vector<std::uint8_t> before = testsupport::ReadBytes(source);
    const std::filesystem::path output = scratch.path() / "out.mdb";
    try {
      bench::MakeLargeDatabase(source, output, 100);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), "The template '" + source.string() + "' cannot be used: " + c.message + ".");
    }
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_FALSE(std::filesystem::exists(output.string() + ".partial"));
    EXPECT_EQ(testsupport::ReadBytes(source), before);
  }
}

TEST(LargeDatabaseTemplateTest, SmallTablesKeepTheirIndexInTheRootLeaf) {
  for (std::uint32_t rows : {0u, 1u, 401u}) {
    SCOPED_TRACE(rows);
    ScratchDir scratch;
    const std::filesystem::path output = scratch.path() / "small.mdb";
    const bench::LargeDatabaseSummary summary = bench::MakeLargeDatabase(kTemplate, output, rows);
    EXPECT_EQ(summary.index_pages, 1u);
    EXPECT_EQ(EngineRows(output).size(), rows);
    const std::vector<std::uint8_t> file = testsupport::ReadBytes(output);
    EXPECT_EQ(DecodeIndexPage(file, 26).entries.size(), rows);
  }
}

}  // namespace
