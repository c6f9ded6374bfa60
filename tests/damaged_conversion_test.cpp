// Damaged databases: real fixtures cut short or with one structure made to
// lie. The whole conversion must end in an error that names the file, write
// nothing (the file stays byte-identical), and never crash or hang.
#include <gtest/gtest.h>

#include <functional>

#include "jet/bytes.h"
#include "jet/errors.h"
#include "jet/usage_map.h"
#include "tests/support/conversion_harness.h"
#include "tests/support/fixtures.h"

namespace {

using testsupport::ScratchDir;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPage = 4096;
const std::string kDefaultLabels1251 = testsupport::FromHex("c0c3c480c5c6c8a3ca");

// Where Artikli's structures lie in the undamaged file, found with the
// engine so that the damages below hit what they mean to.
struct Landmarks {
  std::uint32_t definition_page = 0;
  jet::RowPointer owned_map;
  std::uint32_t first_data_page = 0;
  std::uint32_t last_data_page = 0;
  std::size_t owned_map_row = 0;  // byte offset of the map row in the file
};

Landmarks FindLandmarks(const std::filesystem::path& path) {
  jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadOnly), std::u16string(u"korpamilev"));
  const auto entry = jet::FindTable(database.pages(), u"Artikli");
  if (!entry) throw std::runtime_error("no Artikli");
  const jet::TableDefinition table = jet::ReadTableDefinition(database.pages(), entry->definition_page);
  Landmarks landmarks;
  landmarks.definition_page = table.page;
  landmarks.owned_map = table.owned_map;
  const jet::UsageMap owned(database.pages(), table.owned_map);
  landmarks.first_data_page = owned.NextPage(0).value();
  landmarks.last_data_page = owned.LastPage().value();
  const jet::PageRef page = database.pages().Read(table.owned_map.page);
  landmarks.owned_map_row =
      table.owned_map.page * kPage + jet::ReadRowSlot(database.pages(), table.owned_map.page, *page, table.owned_map.row).start;
  return landmarks;
}

void Put16At(Bytes& bytes, std::size_t at, std::uint32_t value) { jet::Put16(bytes, at, value); }
void Put32At(Bytes& bytes, std::size_t at, std::uint32_t value) { jet::Put32(bytes, at, value); }

struct Damage {
  const char* fixture;
  const char* what;
  std::function<void(Bytes&, const Landmarks&)> apply;
};

std::vector<Damage> Damages() {
  auto truncate_to = [](std::function<std::size_t(const Bytes&, const Landmarks&)> size) {
    return [size](Bytes& bytes, const Landmarks& at) { bytes.resize(size(bytes, at)); };
  };
  return {
      {"artikli/artikli-basic.mdb", "truncated to nothing", truncate_to([](const Bytes&, const Landmarks&) { return 0; })},
      {"artikli/artikli-basic.mdb", "truncated inside the header",
       truncate_to([](const Bytes&, const Landmarks&) { return 100; })},
      {"artikli/artikli-basic.mdb", "truncated after the header page",
       truncate_to([](const Bytes&, const Landmarks&) { return kPage; })},
      {"artikli/artikli-basic.mdb", "truncated inside the catalog",
       truncate_to([](const Bytes&, const Landmarks&) { return 2 * kPage + 1000; })},
      {"artikli/artikli-basic.mdb", "truncated before Artikli's first data page",
       truncate_to([](const Bytes&, const Landmarks& at) { return at.first_data_page * kPage; })},
      {"artikli/artikli-many.mdb", "truncated inside Artikli's last data page",
       truncate_to([](const Bytes&, const Landmarks& at) { return at.last_data_page * kPage + 2000; })},
      {"artikli/artikli-many.mdb", "truncated in the middle of Artikli's data pages",
       truncate_to([](const Bytes&, const Landmarks& at) { return (at.first_data_page + at.last_data_page) / 2 * kPage; })},
      {"artikli/artikli-basic.mdb", "owned-pages map pointer past the end of the file",
       [](Bytes& bytes, const Landmarks& at) { Put32At(bytes, at.definition_page * kPage + 55, 0xFFFFFF00); }},
      {"artikli/artikli-basic.mdb", "definition page chain that loops onto itself",
       [](Bytes& bytes, const Landmarks& at) { Put32At(bytes, at.definition_page * kPage + 4, at.definition_page); }},
      {"artikli/artikli-basic.mdb", "inline usage map whose window lies outside the file",
       [](Bytes& bytes, const Landmarks& at) {
         bytes[at.owned_map_row] = 0x00;  // the fixture's map is a reference map; made inline here
         Put32At(bytes, at.owned_map_row + 1, 0x00F00000);
         bytes[at.owned_map_row + 5] = 0xFF;
       }},
      {"artikli/artikli-many.mdb", "reference usage map naming a map page outside the file",
       [](Bytes& bytes, const Landmarks& at) {
         ASSERT_EQ(bytes[at.owned_map_row], 0x01);
         Put32At(bytes, at.owned_map_row + 1, 0x00FFFFF0);
       }},
      {"artikli/artikli-basic.mdb", "row offset past the end of its page",
       [](Bytes& bytes, const Landmarks& at) { Put16At(bytes, at.first_data_page * kPage + 14, 0x1FF0); }},
      {"artikli/artikli-many.mdb", "row offset past its page on a later data page",
       [](Bytes& bytes, const Landmarks& at) { Put16At(bytes, at.last_data_page * kPage + 14 + 2, 0x1FF0); }},
      {"artikli/artikli-basic.mdb", "row count larger than the page's offset table",
       [](Bytes& bytes, const Landmarks& at) { Put16At(bytes, at.first_data_page * kPage + 12, 0xFFFF); }},
      {"artikli/artikli-basic.mdb", "definition that claims more columns than it holds",
       [](Bytes& bytes, const Landmarks& at) { Put16At(bytes, at.definition_page * kPage + 45, 0x7FFF); }},
      {"artikli/artikli-basic.mdb", "first row claiming more columns than fit in it",
       [](Bytes& bytes, const Landmarks& at) {
         const std::size_t row = at.first_data_page * kPage + (jet::Get16(bytes, at.first_data_page * kPage + 14) & 0x1FFF);
         Put16At(bytes, row, 0x7FFF);
       }},
      {"artikli/artikli-many.mdb", "a later row claiming more columns than fit in it",
       [](Bytes& bytes, const Landmarks& at) {
         const std::size_t page = at.last_data_page * kPage;
         const std::size_t row = page + (jet::Get16(bytes, page + 14 + 2 * 3) & 0x1FFF);
         Put16At(bytes, row, 0x7FFF);
       }},
      {"artikli/artikli-many.mdb", "a later row whose first variable value ends before it starts",
       [](Bytes& bytes, const Landmarks& at) {
         const std::size_t page = at.last_data_page * kPage;
         const std::size_t start = page + (jet::Get16(bytes, page + 14 + 2 * 3) & 0x1FFF);
         const std::size_t end = page + (jet::Get16(bytes, page + 14 + 2 * 2) & 0x1FFF);
         const std::size_t mask = (jet::Get16(bytes, start) + 7) / 8;
         Put16At(bytes, end - mask - 4 - 2, 2);  // the second value's start, which ends the first
       }},
  };
}

TEST(DamagedConversionTest, ConversionNamesTheFileAndWritesNothing) {
  for (const Damage& damage : Damages()) {
    SCOPED_TRACE(std::string(damage.fixture) + ": " + damage.what);
    ScratchDir scratch;
    const std::filesystem::path path = scratch.Copy(damage.fixture, "damaged.mdb");
    Bytes bytes = testsupport::ReadBytes(path);
    damage.apply(bytes, FindLandmarks(path));
    testsupport::WriteBytes(path, bytes);

    std::string message;
    {
      testsupport::ConversionHarness harness(path, kDefaultLabels1251);
      try {
        harness.Run();
        ADD_FAILURE() << "the conversion reported success";
      } catch (const std::runtime_error& error) {
        message = error.what();
      }
      EXPECT_TRUE(harness.ui.messages.empty());
    }
    EXPECT_NE(message.find(path.string()), std::string::npos) << message;
    EXPECT_TRUE(testsupport::ReadBytes(path) == bytes) << "the damaged file was written to";
  }
}

}  // namespace
