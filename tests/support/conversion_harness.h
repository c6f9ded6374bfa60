// Runs the real conversion (RunConversion over ADOConnection/ADOTable) on a
// database file, with in-memory settings and the Windows-1251 code page.
#ifndef TESTS_SUPPORT_CONVERSION_HARNESS_H_
#define TESTS_SUPPORT_CONVERSION_HARNESS_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "conversion/conversion_run.h"
#include "conversion/conversion_settings.h"
#include "conversion/testing/memory_settings_store.h"
#include "conversion/testing/recording_ui.h"
#include "conversion/testing/windows1251_code_page.h"
#include "jet/ado.h"

namespace testsupport {

// Returns the bytes of a hex text ("c0c3").
inline std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Returns the connection description of `path` with `password`.
inline std::u16string Description(const std::filesystem::path& path, std::u16string_view password = u"korpamilev") {
  const std::string text = path.string();
  return u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + std::u16string(text.begin(), text.end()) +
         u";Jet OLEDB:Database Password=" + std::u16string(password) + u";";
}

// A connection to `path` with Artikli open at its first row.
struct OpenArtikli {
  explicit OpenArtikli(const std::filesystem::path& path) {
    connection.SetConnectionString(Description(path));
    connection.Open();
    table.Open();
    table.First();
  }
  jet::ADOConnection connection;
  jet::ADOTable table{connection, "Artikli"};
};

struct ConversionHarness {
  explicit ConversionHarness(const std::filesystem::path& database, const std::string& labels, jet::FileOpener opener = {})
      : connection({}, std::move(opener)), table(connection, std::string(conversion::kTableName)) {
    settings.SetValue(conversion::kSettingsKeyPath, conversion::kDatabasePathValue, conversion::ValueType::kString,
                      database.string() + '\0');
    settings.SetValue(std::string(conversion::kSettingsKeyPath) + "\\" + std::string(conversion::kFiscalPrinterSubKey),
                      conversion::kFiscalLabelsValue, conversion::ValueType::kString, labels + '\0');
  }

  void Run() { conversion::RunConversion({settings, code_page, connection, table, ui}); }

  conversion::testing::MemorySettingsStore settings;
  conversion::testing::Windows1251CodePage code_page;
  conversion::testing::RecordingUi ui;
  jet::ADOConnection connection;
  jet::ADOTable table;
};

}  // namespace testsupport

#endif  // TESTS_SUPPORT_CONVERSION_HARNESS_H_
