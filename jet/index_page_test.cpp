#include "jet/index_page.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "jet/testing/fixture_database.h"

namespace jet {
namespace {

// Every index page of every unencoded Jet 4 fixture decodes, and encodes back
// to the same bytes (those after the entries taken from the original, where
// Jackcess leaves stale bytes).
TEST(IndexPageTest, RoundTripsEveryFixtureIndexPage) {
  std::size_t pages = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(FRN_FIXTURES_DIR)) {
    if (entry.path().extension() != ".mdb") continue;
    testing::FixtureDatabase db(entry.path());
    if (db.Page(0)[0x14] != 1) continue;  // Jet 4 only
    if (entry.path().filename().string().find("enc") != std::string::npos) continue;  // RC4-encoded pages
    for (std::uint32_t number = 1; number < db.page_count(); ++number) {
      const auto bytes = db.Page(number);
      if ((bytes[0] != kIndexNodePage && bytes[0] != kIndexLeafPage) || bytes[1] != 0x01) continue;
      SCOPED_TRACE(entry.path().filename().string() + " page " + std::to_string(number));
      const IndexPage page = DecodeIndexPage(bytes, number, db);
      const auto again = EncodeIndexPage(page, true, bytes);
      EXPECT_TRUE(std::equal(again.begin(), again.end(), bytes.begin()));
      ++pages;
    }
  }
  EXPECT_GT(pages, 400u);
}

TEST(IndexPageTest, EncodesWithCommonPrefixAndZeroedSlack) {
  IndexPage page;
  page.leaf = true;
  page.owner = 24;
  page.entries = {{{0x7F, 0x79, 0x2F, 0x01, 0x00}, {0x33, 0x23}, 0},
                  {{0x7F, 0x79, 0x32, 0x01, 0x00}, {0x34, 0x01}, 0}};
  const auto bytes = EncodeIndexPage(page);
  const std::uint8_t expected_entries[] = {0x7F, 0x79, 0x2F, 0x01, 0x00, 0x00, 0x00, 0x33, 0x23,
                                           0x32, 0x01, 0x00, 0x00, 0x00, 0x34, 0x01};
  EXPECT_EQ(bytes[0], kIndexLeafPage);
  EXPECT_EQ(bytes[24], 2);  // prefix 7F 79
  EXPECT_TRUE(std::equal(std::begin(expected_entries), std::end(expected_entries), bytes.begin() + 480));
  EXPECT_EQ(bytes[27 + 1], 0x02);  // first entry ends at byte 9
  EXPECT_EQ(bytes[27 + 2], 0x01);  // second at byte 16
  EXPECT_EQ(bytes[2] | (bytes[3] << 8), 4096 - 480 - 16);
  EXPECT_TRUE(std::all_of(bytes.begin() + 480 + 16, bytes.end(), [](std::uint8_t b) { return b == 0; }));

  testing::FixtureDatabase reporter(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-empty.mdb");
  const IndexPage back = DecodeIndexPage(bytes, 7, reporter);
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[1].key, page.entries[1].key);
  EXPECT_EQ(back.entries[1].row, page.entries[1].row);
  EXPECT_EQ(page.StoredSize(), 16u);
}

struct DamageCase {
  const char* name;
  std::size_t offset;
  std::uint8_t value;
  const char* message;
};

TEST(IndexPageTest, ReportsDamagedPages) {
  IndexPage page;
  page.entries = {{{0x7F, 0x38, 0x01, 0x00}, {0x10, 0x01}, 0}, {{0x7F, 0x3A, 0x01, 0x00}, {0x10, 0x02}, 0}};
  const auto good = EncodeIndexPage(page);
  const DamageCase cases[] = {
      {"data page type", 0, 0x01, "fixture page 9: expected an index page"},
      {"prefix longer than the first entry", 24, 40, "fixture page 9: the index prefix is longer than the first entry"},
      {"bit beyond the entry area", 27 + 452, 0x02, "fixture page 9: index entries run past the end of the page"},
      {"entry of three bytes", 27, 0x08, "fixture page 9: an index entry is too short"},
      {"entries out of order (second key lowered)", 480 + 8, 0x30, "fixture page 9: index entries are out of order"},
  };
  testing::FixtureDatabase reporter(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-empty.mdb");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = good;
    bytes[c.offset] = c.value;
    try {
      DecodeIndexPage(bytes, 9, reporter);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace jet
