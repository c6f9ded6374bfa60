// Reads every fixture database with the engine and compares the rows with
// the dumps in their sidecars, which come from readers nobody here wrote
// (mdb-reader for the Access-made files, Jackcess for the generated ones).
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "jet/errors.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::FixtureDir;
using testsupport::Json;
using testsupport::ReadJsonFile;
using testsupport::ReadRows;
using testsupport::SameRow;

std::vector<std::filesystem::path> Sidecars(const std::string& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(FixtureDir() / folder)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<std::u16string> PasswordOf(const Json& sidecar) {
  if (!sidecar.Has("password") || sidecar["password"].is_null()) return std::nullopt;
  return sidecar["password"].text;
}

// The sidecars of the Access-made files list rows in mdb-reader's order,
// which differs from scan order for overflow rows, so rows are matched as a
// multiset there.
void ExpectSameRowsAnyOrder(const testsupport::Rows& rows, const Json& expected) {
  ASSERT_EQ(rows.size(), expected.items.size());
  std::vector<bool> used(rows.size());
  for (const Json& want : expected.items) {
    bool found = false;
    for (std::size_t i = 0; i < rows.size() && !found; ++i) {
      if (!used[i] && SameRow(rows[i], want)) used[i] = found = true;
    }
    EXPECT_TRUE(found) << "row missing: " << testsupport::ToUtf8(want.items.empty() ? u"" : want.items[0].text);
  }
}

TEST(FixtureReadTest, AccessMadeFilesReadAsTheirSidecarsSay) {
  int tables = 0;
  for (const std::filesystem::path& sidecar_path : Sidecars("real")) {
    const Json sidecar = ReadJsonFile(sidecar_path.string());
    if (sidecar["jet_version_byte"].number != 1) continue;  // Jet 3: see the format test
    std::filesystem::path mdb = sidecar_path;
    mdb.replace_extension(".mdb");
    for (const auto& [name, table] : sidecar["tables"].members) {
      SCOPED_TRACE(mdb.filename().string() + " " + name);
      std::vector<std::u16string> columns;
      const testsupport::Rows rows = ReadRows(mdb, PasswordOf(sidecar), std::u16string(name.begin(), name.end()), &columns);
      ASSERT_EQ(columns.size(), table["columns"].items.size());
      for (std::size_t i = 0; i < columns.size(); ++i) EXPECT_EQ(columns[i], table["columns"].items[i]["name"].text);
      ExpectSameRowsAnyOrder(rows, table["rows"]);
      ++tables;
    }
  }
  EXPECT_GE(tables, 20);
}

TEST(FixtureReadTest, ArtikliFixturesReadAsTheirBeforeRowsInScanOrder) {
  int files = 0;
  for (const std::filesystem::path& sidecar_path : Sidecars("artikli")) {
    const Json sidecar = ReadJsonFile(sidecar_path.string());
    if (sidecar["table"].is_null()) continue;
    std::filesystem::path mdb = sidecar_path;
    mdb.replace_extension(".mdb");
    SCOPED_TRACE(mdb.filename().string());
    std::vector<std::u16string> columns;
    const testsupport::Rows rows = ReadRows(mdb, PasswordOf(sidecar), sidecar["table"].text, &columns);
    ASSERT_EQ(columns.size(), sidecar["columns"].items.size());
    for (std::size_t i = 0; i < columns.size(); ++i) EXPECT_EQ(columns[i], sidecar["columns"].items[i].text);
    const Json& expected = sidecar["rows_before"];
    ASSERT_EQ(rows.size(), expected.items.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      ASSERT_TRUE(SameRow(rows[i], expected.items[i])) << "row " << i << ": " << testsupport::Describe(rows[i]);
    }
    ++files;
  }
  EXPECT_GE(files, 15);
}

TEST(FixtureReadTest, PasswordsAreCheckedAsJetChecksThem) {
  struct Case {
    const char* file;
    std::optional<std::u16string> password;
    bool opens;
  };
  const Case cases[] = {
      {"real/V2000_with-password.mdb", u"korpamilev", false},
      {"real/V2003_with-password.mdb", u"korpamilev", false},
      {"real/V2000_with-password.mdb", u"password", true},
      {"real/V2003_with-password.mdb", u"password", true},
      {"real/V2000_with-password.mdb", u"Password", false},  // case counts
      {"real/V2000_with-password.mdb", std::nullopt, false},
      {"artikli/artikli-basic.mdb", u"korpamilev", true},
      {"artikli/artikli-basic.mdb", u"korpamilev ", false},
      {"artikli/artikli-other-password.mdb", u"korpamilev", false},
      {"artikli/artikli-other-password.mdb", u"drugalozinka", true},
      // Unprotected databases open whatever password is given.
      {"artikli/artikli-no-password.mdb", u"korpamilev", true},
      {"real/V2000_no-password.mdb", u"korpamilev", true},
      {"real/db-enc.mdb", u"korpamilev", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " with " + (c.password ? testsupport::ToUtf8(*c.password) : "no password"));
    auto open = [&] { jet::Database database(jet::OpenFile(FixtureDir() / c.file, jet::OpenMode::kReadOnly), c.password); };
    if (c.opens) {
      EXPECT_NO_THROW(open());
    } else {
      try {
        open();
        ADD_FAILURE() << "opened";
      } catch (const std::runtime_error& error) {
        EXPECT_EQ(typeid(error), typeid(std::runtime_error));
        EXPECT_STREQ(error.what(), "Not a valid password.");
      }
    }
  }
}

TEST(FixtureReadTest, RefusesAccess97WithAMessageNamingTheFormat) {
  const std::filesystem::path path = FixtureDir() / "real/testV1997.mdb";
  try {
    jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadOnly), std::nullopt);
    FAIL() << "opened";
  } catch (const jet::Unsupported& error) {
    EXPECT_EQ(std::string(error.what()), "'" + path.string() +
                                             "' is an Access 97 (Jet 3) database, which is not supported yet; only "
                                             "Access 2000-2003 (Jet 4) databases are.");
  }
}

}  // namespace
