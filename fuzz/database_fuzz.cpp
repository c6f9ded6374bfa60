// libFuzzer target: any bytes as a database file. The engine opens a private
// in-memory copy, reads every row of every table it lists, then runs the
// whole conversion on Artikli. Bad bytes may only raise the engine's errors
// (all std::runtime_error); a crash, a hang, a read out of bounds or any
// other exception is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "conversion/conversion_settings.h"
#include "conversion/testing/memory_settings_store.h"
#include "conversion/testing/recording_ui.h"
#include "conversion/testing/windows1251_code_page.h"
#include "jet/ado.h"
#include "jet/catalog.h"
#include "jet/database.h"
#include "jet/row_codec.h"
#include "jet/table_cursor.h"
#include "jet/table_definition.h"

namespace {

// Bounds a walk so that a table that is merely large cannot pass for a hang.
constexpr std::size_t kMaxRows = 200'000;

void ReadEveryTable(const std::vector<std::uint8_t>& bytes) {
  auto copy = std::make_shared<std::vector<std::uint8_t>>(bytes);
  jet::Database database(std::make_unique<jet::MemoryFile>("fuzz.mdb", copy, false), std::u16string(u"korpamilev"));
  for (const jet::CatalogEntry& entry : jet::ReadTables(database.pages())) {
    try {
      const jet::TableDefinition table = jet::ReadTableDefinition(database.pages(), entry.definition_page);
      jet::TableCursor cursor(database.pages(), table);
      std::size_t rows = 0;
      for (cursor.First(); !cursor.AtEnd() && rows < kMaxRows; cursor.Next(), ++rows) {
        const jet::RowView view = cursor.view();
        for (const jet::Column& column : table.columns) {
          static_cast<void>(jet::ValueAsText(jet::DecodeValue(database.pages(), view, column)));
        }
      }
    } catch (const std::runtime_error&) {
      // One damaged table does not stop the others from being read.
    }
  }
}

void Convert(const std::vector<std::uint8_t>& bytes) {
  auto copy = std::make_shared<std::vector<std::uint8_t>>(bytes);
  conversion::testing::MemorySettingsStore settings;
  settings.SetValue(conversion::kSettingsKeyPath, conversion::kDatabasePathValue, conversion::ValueType::kString,
                    std::string("C:\\fuzz.mdb") + '\0');
  const conversion::testing::Windows1251CodePage code_page;
  conversion::testing::RecordingUi ui;
  jet::ADOConnection connection([](std::u16string_view) { return std::filesystem::path("fuzz.mdb"); },
                                [copy](const std::filesystem::path& path) { return std::make_unique<jet::MemoryFile>(path, copy); });
  jet::ADOTable table(connection, std::string(conversion::kTableName));
  conversion::RunConversion({settings, code_page, connection, table, ui});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  try {
    ReadEveryTable(bytes);
  } catch (const std::runtime_error&) {
  }
  try {
    Convert(bytes);
  } catch (const std::runtime_error&) {
  }
  return 0;
}
