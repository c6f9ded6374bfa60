#include "jet/ado.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "jet/errors.h"
#include "tests/support/conversion_harness.h"
#include "tests/support/fixtures.h"

namespace jet {
namespace {

using testsupport::ReadBytes;
using testsupport::Description;
using testsupport::OpenArtikli;
using testsupport::ScratchDir;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(ADOConnectionTest, RefusesWhatItCannotOpenWithAClearMessage) {
  ScratchDir scratch;
  const std::filesystem::path missing = scratch.path() / "nema.mdb";
  struct Case {
    std::u16string description;
    std::string message;
  };
  const Case cases[] = {
      {u"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=x.mdb;", kProviderNotFoundMessage},
      {u"Data Source=x.mdb;", kProviderNotFoundMessage},
      {u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"x.mdb", "The connection description is malformed: the value of 'Data Source' has no closing quote."},
      {u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=;Jet OLEDB:Database Password=korpamilev;",
       "The connection description names no database file (Data Source is empty)."},
      {Description(missing), "Could not find file '" + missing.string() + "'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ADOConnection connection;
    connection.SetConnectionString(c.description);
    EXPECT_EQ(ErrorOf([&] { connection.Open(); }), c.message);
    EXPECT_FALSE(connection.connected());
  }
}

TEST(ADOConnectionTest, ProviderNameIsMatchedWithoutRegardToCase) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb");
  ADOConnection connection;
  std::u16string description = Description(path);
  description.replace(9, 23, u"microsoft.jet.oledb.4.0");
  connection.SetConnectionString(description);
  EXPECT_NO_THROW(connection.Open());
}

TEST(ADOConnectionTest, OpenAndOpenTableDoNothingWhenOpen) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb");
  ADOConnection connection;
  connection.SetConnectionString(Description(path));
  connection.Open();
  Database* database = &connection.database();
  connection.SetConnectionString(Description(scratch.path() / "other.mdb"));  // applies to the next open only
  connection.Open();
  EXPECT_EQ(&connection.database(), database);
  ADOTable table(connection, "artikli");
  table.Open();
  table.First();
  table.Next();
  const std::u16string second = table.FieldByName("Naziv").AsText();
  table.Open();
  EXPECT_EQ(table.FieldByName("NAZIV").AsText(), second);
}

TEST(ADOTableTest, MissingTableColumnAndRowAreNamed) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-empty.mdb");
  ADOConnection connection;
  ADOTable closed(connection, "Artikli");
  EXPECT_EQ(ErrorOf([&] { closed.Open(); }), kClosedMessage);
  connection.SetConnectionString(Description(path));
  connection.Open();
  ADOTable missing(connection, "Kupci");
  EXPECT_EQ(ErrorOf([&] { missing.Open(); }),
            "The Microsoft Jet database engine cannot find the input table or query 'Kupci'. Make sure it exists and that "
            "its name is spelled correctly.");
  ADOTable table(connection, "Artikli");
  table.Open();
  table.First();
  EXPECT_TRUE(table.AtEnd());
  EXPECT_EQ(ErrorOf([&] { table.FieldByName("Stopa"); }), kNoSuchFieldMessage);
  EXPECT_EQ(ErrorOf([&] { table.FieldByName("PoreskaStopa").AsText(); }), kNoCurrentRowMessage);
  EXPECT_EQ(ErrorOf([&] { table.Edit(); }), kNoCurrentRowMessage);
}

TEST(ADOTableTest, RefusedPostsWriteNothingAndTheWalkGoesOn) {
  struct Case {
    std::string fixture;
    std::string column;
    std::u16string text;
    std::string message;
  };
  const Case cases[] = {
      {"artikli-narrow", "PoreskaStopa", u"10", kFieldTooSmallMessage},
      {"artikli-basic", "Naziv", std::u16string(51, u'x'), kFieldTooSmallMessage},
      {"artikli-indexed", "PoreskaStopa", u"č", "The index key of the character U+010D is not known to this program"},
      {"artikli-indexed", "Sifra", u"1788",  // the second row's key
       "The changes you requested to the table were not successful because they would create duplicate values in "
       "the index, primary key, or relationship.  Change the data in the field or fields that contain duplicate "
       "data, remove the index, or redefine the index to permit duplicate entries and try again."},
      {"artikli-numeric", "PoreskaStopa", u"A", "The value 'A' is not a whole number in range for the column 'PoreskaStopa'."},
      {"artikli-numeric", "PoreskaStopa", u"99999999999", "The value '99999999999' is not a whole number in range for the column 'PoreskaStopa'."},
      {"artikli-basic", "Cena", u"12,5", "The value '12,5' is not a number for the column 'Cena'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture + " " + c.column);
    ScratchDir scratch;
    const std::filesystem::path path = scratch.Copy("artikli/" + c.fixture + ".mdb");
    const std::vector<std::uint8_t> before = ReadBytes(path);
    {
      OpenArtikli open(path);
      ADOTable& table = open.table;
      const std::u16string old_value = table.FieldByName(c.column).AsText();
      table.Edit();
      table.FieldByName(c.column).SetText(c.text);
      EXPECT_EQ(ErrorOf([&] { table.Post(); }), c.message);
      EXPECT_EQ(table.FieldByName(c.column).AsText(), c.text);  // still in edit mode
      table.Cancel();
      EXPECT_EQ(table.FieldByName(c.column).AsText(), old_value);
      table.Next();
      EXPECT_FALSE(table.AtEnd());
    }
    EXPECT_EQ(ReadBytes(path), before);
  }
}

TEST(ADOTableTest, NumericColumnsTakeTextThatParsesAsTheirType) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb");
  {
    OpenArtikli open(path);
    ADOTable& table = open.table;
    table.Edit();
    table.FieldByName("Cena").SetText(u"12.5");
    table.Post();
  }
  const testsupport::Rows rows = testsupport::ReadRows(path, u"korpamilev", u"Artikli");
  EXPECT_EQ(rows[0][2].real, 12.5);
}

// Where each row's rate lies in the file, with the row's page, in walk order.
struct RatePlace {
  std::uint32_t page;
  std::uint64_t offset;
};
std::vector<RatePlace> RatePlaces(const std::filesystem::path& path) {
  Database database(OpenFile(path, OpenMode::kReadOnly), u"korpamilev");
  const TableDefinition definition = ReadTableDefinition(database.pages(), FindTable(database.pages(), u"Artikli")->definition_page);
  std::vector<RatePlace> places;
  TableCursor cursor(database.pages(), definition);
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
    const PageRef page = database.pages().Read(cursor.location().data.page);
    const RowSlot slot = ReadRowSlot(database.pages(), cursor.location().data.page, *page, cursor.location().data.row);
    const auto raw = cursor.view().Raw(*definition.FindColumn(u"PoreskaStopa"));
    places.push_back({cursor.location().data.page, static_cast<std::uint64_t>(cursor.location().data.page) * 4096 + slot.start +
                                                       static_cast<std::uint64_t>(raw->data() - cursor.row_bytes().data())});
  }
  return places;
}

// Another program writes Ж over the rate at `offset`.
void WriteElsewhere(const std::filesystem::path& path, std::uint64_t offset) {
  std::fstream other(path, std::ios::in | std::ios::out | std::ios::binary);
  other.seekp(static_cast<std::streamoff>(offset));
  other.write("\x16\x04", 2);
}

TEST(ADOTableTest, RowChangedByAnotherProgramIsRefused) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb");
  const std::vector<RatePlace> places = RatePlaces(path);
  OpenArtikli open(path);
  ADOConnection& connection = open.connection;
  ADOTable& table = open.table;
  ASSERT_EQ(table.FieldByName("PoreskaStopa").AsText(), u"А");
  WriteElsewhere(path, places[0].offset);
  const std::vector<std::uint8_t> changed = ReadBytes(path);
  table.Edit();
  table.FieldByName("PoreskaStopa").SetText(u"0");
  EXPECT_EQ(ErrorOf([&] { table.Post(); }),
            "Row cannot be located for updating. Some values may have been changed since it was last read.");
  table.Cancel();
  connection.Close();
  EXPECT_EQ(ReadBytes(path), changed);
}

// A page is checked against the disk when its first row is posted and again
// when the walk leaves it; a change by another program in between drops
// what was posted on that page and stops the walk there.
TEST(ADOTableTest, PageChangedByAnotherProgramAfterAPostIsNotWrittenOver) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb");
  const std::vector<RatePlace> places = RatePlaces(path);
  ASSERT_GE(places.size(), 3u);
  ASSERT_EQ(places[0].page, places[2].page);
  OpenArtikli open(path);
  ADOConnection& connection = open.connection;
  ADOTable& table = open.table;
  table.Edit();
  table.FieldByName("PoreskaStopa").SetText(u"7");
  table.Post();
  WriteElsewhere(path, places[2].offset);
  const std::vector<std::uint8_t> theirs = ReadBytes(path);
  std::string error = "(no error)";
  while (!table.AtEnd() && error == "(no error)") error = ErrorOf([&] { table.Next(); });
  EXPECT_EQ(error, "Row cannot be located for updating. Some values may have been changed since it was last read.");
  connection.Close();
  EXPECT_EQ(ReadBytes(path), theirs);
  const testsupport::Rows rows = testsupport::ReadRows(path, u"korpamilev", u"Artikli");
  EXPECT_EQ(rows[0][3].text, u"А");
  EXPECT_EQ(rows[2][3].text, u"Ж");
}

TEST(ADOConnectionTest, DatabaseInUseIsRefusedAtOpenAndLeftAlone) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb", "podaci.dtb");
  const std::vector<std::uint8_t> before = ReadBytes(path);
  std::ofstream(scratch.path() / "podaci.ldb") << std::string(64, ' ');
  const int fd = ::open((scratch.path() / "podaci.ldb").c_str(), O_RDWR);
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0x10000001;
  lock.l_len = 1;
  ASSERT_EQ(::fcntl(fd, F_SETLK, &lock), 0);
  ADOConnection connection;
  connection.SetConnectionString(Description(path));
  EXPECT_EQ(ErrorOf([&] { connection.Open(); }), "Could not use '" + path.string() + "'; file already in use.");
  ::close(fd);
  ADOConnection second;
  second.SetConnectionString(Description(path));
  second.Open();
  ADOConnection third;
  third.SetConnectionString(Description(path));
  EXPECT_EQ(ErrorOf([&] { third.Open(); }), "Could not use '" + path.string() + "'; file already in use.");
  second.Close();
  EXPECT_EQ(ReadBytes(path), before);
}

// Counts flushes of an in-memory file.
class CountingFile : public MemoryFile {
 public:
  CountingFile(std::shared_ptr<std::vector<std::uint8_t>> bytes, int& syncs) : MemoryFile("m.mdb", std::move(bytes)), syncs_(syncs) {}
  void Sync() override { ++syncs_; }

 private:
  int& syncs_;
};

TEST(ADOConnectionTest, CloseAndDestructionFlushToDisk) {
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(ReadBytes(testsupport::FixtureDir() / "artikli/artikli-basic.mdb"));
  int syncs = 0;
  const FileOpener opener = [&](const std::filesystem::path&) { return std::make_unique<CountingFile>(bytes, syncs); };
  {
    ADOConnection connection({}, opener);
    connection.SetConnectionString(Description("m.mdb"));
    connection.Open();
    connection.Close();
    EXPECT_EQ(syncs, 1);
    connection.Open();
  }
  EXPECT_EQ(syncs, 2);
}

// Records how many flushes had happened when the completion message showed.
class FlushWatchingUi : public conversion::testing::RecordingUi {
 public:
  explicit FlushWatchingUi(const int& syncs) : syncs_(syncs) {}
  void ShowMessage(conversion::MessageKind kind, std::string_view caption, std::string_view text) override {
    syncs_at_message = syncs_;
    RecordingUi::ShowMessage(kind, caption, text);
  }
  int syncs_at_message = -1;

 private:
  const int& syncs_;
};

TEST(ADOTableTest, ChangesAreOnDiskBeforeTheCompletionMessage) {
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(ReadBytes(testsupport::FixtureDir() / "artikli/artikli-basic.mdb"));
  const std::vector<std::uint8_t> before = *bytes;
  int syncs = 0;
  const FileOpener opener = [&](const std::filesystem::path&) { return std::make_unique<CountingFile>(bytes, syncs); };
  testsupport::ConversionHarness harness("m.mdb", std::string(conversion::kDefaultFiscalLabels), opener);
  FlushWatchingUi ui(syncs);
  conversion::RunConversion({harness.settings, harness.code_page, harness.connection, harness.table, ui});
  EXPECT_EQ(ui.syncs_at_message, 1);
  EXPECT_NE(*bytes, before);
}

TEST(ADOTableTest, MovingOnPostsAPendingEditAsADODoes) {
  ScratchDir scratch;
  const std::filesystem::path path = scratch.Copy("artikli/artikli-basic.mdb");
  {
    OpenArtikli open(path);
    ADOTable& table = open.table;
    table.Edit();
    table.FieldByName("PoreskaStopa").SetText(u"0");
    table.Next();
  }
  EXPECT_EQ(testsupport::ReadRows(path, u"korpamilev", u"Artikli")[0][3].text, u"0");
}

}  // namespace
}  // namespace jet
