// Damages fixture databases byte by byte and cuts them short, then reads
// every table: the engine must report the damage with its own error kinds,
// never crash, hang or read outside its buffers (the sanitizer build checks
// the last).
#include <gtest/gtest.h>

#include <random>

#include "jet/catalog.h"
#include "jet/errors.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::FixtureDir;
using testsupport::ReadBytes;
using Bytes = std::vector<std::uint8_t>;

// Reads every table of the image; returns "" or the kind of error thrown.
std::string ReadEverything(const std::shared_ptr<Bytes>& bytes, const std::u16string& password) {
  try {
    jet::Database database(std::make_unique<jet::MemoryFile>("damaged.mdb", bytes, false), password);
    for (const jet::CatalogEntry& entry : jet::ReadTables(database.pages())) {
      const jet::TableDefinition table = jet::ReadTableDefinition(database.pages(), entry.definition_page);
      jet::TableCursor cursor(database.pages(), table);
      for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
        const jet::RowView row = cursor.view();
        for (const jet::Column& column : table.columns) jet::DecodeValue(database.pages(), row, column);
      }
    }
    return "";
  } catch (const jet::CorruptDatabase&) {
    return "corrupt";
  } catch (const jet::Unsupported&) {
    return "unsupported";
  } catch (const std::runtime_error& error) {
    if (std::string(error.what()) == "Not a valid password.") return "password";
    return std::string("unexpected error: ") + error.what();
  } catch (const std::exception& error) {
    return std::string("unexpected exception: ") + error.what();
  }
}

// The sanitizer build runs several times slower; it damages fewer places.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRandomOffsets = 3;
#else
constexpr int kRandomOffsets = 12;
#endif

TEST(DamagedFileTest, EveryDamagedByteIsReportedOrHarmless) {
  struct Case {
    const char* file;
    std::u16string password;
    std::size_t page_step;
  };
  const Case cases[] = {
      {"artikli/artikli-overflow.mdb", u"korpamilev", 1},
      {"artikli/artikli-memo.mdb", u"korpamilev", 1},
      {"real/db-enc.mdb", u"", 1},
      {"real/fixedTextTestV2000.mdb", u"", 1},
  };
  std::mt19937 random(20261211);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto image = std::make_shared<Bytes>(ReadBytes(FixtureDir() / c.file));
    const Bytes& original = *image;
    ASSERT_EQ(ReadEverything(image, c.password), "");
    std::size_t reported = 0;
    for (std::size_t page = 0; page * 4096 < original.size(); page += c.page_step) {
      std::vector<std::size_t> offsets = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 13, 14, 15, 16, 17, 18, 19, 20, 4094, 4095};
      for (int i = 0; i < kRandomOffsets; ++i) offsets.push_back(std::uniform_int_distribution<std::size_t>(0, 4095)(random));
      for (const std::size_t offset : offsets) {
        for (const int change : {0x00, 0xFF, -1}) {
          std::uint8_t& byte = (*image)[page * 4096 + offset];
          const std::uint8_t kept = byte;
          byte = change < 0 ? static_cast<std::uint8_t>(byte ^ 0x80) : static_cast<std::uint8_t>(change);
          const std::string result = ReadEverything(image, c.password);
          byte = kept;
          ASSERT_TRUE(result.empty() || result == "corrupt" || result == "unsupported" || result == "password")
              << "page " << page << " offset " << offset << ": " << result;
          if (!result.empty()) ++reported;
        }
      }
    }
    EXPECT_GT(reported, 0u);
  }
}

TEST(DamagedFileTest, FilesCutShortAreReportedAsDamaged) {
  const Bytes original = ReadBytes(FixtureDir() / "artikli/artikli-overflow.mdb");
  for (std::size_t size = 0; size < original.size(); size += 4096) {
    for (const std::size_t cut : {size, size + 1000}) {
      SCOPED_TRACE(cut);
      const auto truncated = std::make_shared<Bytes>(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_EQ(ReadEverything(truncated, u"korpamilev"), "corrupt");
    }
  }
}

}  // namespace
