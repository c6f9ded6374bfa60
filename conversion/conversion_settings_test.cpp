#include "conversion/conversion_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "conversion/testing/memory_settings_store.h"

namespace conversion {
namespace {

using testing::MemorySettingsStore;

constexpr std::string_view kKey = "Software\\Zarvel\\Trelon 3";
constexpr std::string_view kPrinterKey = "Software\\Zarvel\\Trelon 3\\FiscalPrinter";

// Builds a std::string from any of its constructors' arguments, so that
// texts with embedded NULs keep them.
template <class... Args>
std::string S(Args&&... args) {
  return std::string(std::forward<Args>(args)...);
}

struct LookupCase {
  const char* what;
  std::function<void(MemorySettingsStore&)> setup;
  std::string expected_path;
  std::string expected_labels;
};

TEST(ReadConversionSettingsTest, FollowsTheLookupRules) {
  const std::string path = "D:\\Kasa\\baza.mdb";
  const LookupCase cases[] = {
      {"no key at all: both defaults", [](MemorySettingsStore&) {}, S(kDefaultDatabasePath),
       S(kDefaultFiscalLabels)},
      {"key without values", [](MemorySettingsStore& s) { s.At(kKey); }, S(kDefaultDatabasePath),
       S(kDefaultFiscalLabels)},
      {"both strings",
       [&](MemorySettingsStore& s) {
         s.SetValue(kKey, "PUTANJA_BAZE", ValueType::kString, path + '\0');
         s.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kString, S("ABC\0", 4));
       },
       path, "ABC"},
      {"FiscalPrinter without FM_FISCALLABELS",
       [](MemorySettingsStore& s) { s.At(kPrinterKey); }, S(kDefaultDatabasePath),
       S(kDefaultFiscalLabels)},
      {"empty path string is not the default",
       [](MemorySettingsStore& s) { s.SetValue(kKey, "PUTANJA_BAZE", ValueType::kString, S("\0", 1)); },
       "", S(kDefaultFiscalLabels)},
      {"zero-size string value",
       [](MemorySettingsStore& s) {
         s.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kString, "");
       },
       S(kDefaultDatabasePath), ""},
      {"zero-size values of other types give the empty text",
       [](MemorySettingsStore& s) {
         s.SetValue(kKey, "PUTANJA_BAZE", ValueType::kDword, "");
         s.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kBinary, "");
       },
       "", ""},
      {"expandable string taken as stored",
       [](MemorySettingsStore& s) {
         s.SetValue(kKey, "PUTANJA_BAZE", ValueType::kExpandString, S("%APPDATA%\\x.mdb\0", 17));
       },
       "%APPDATA%\\x.mdb", S(kDefaultFiscalLabels)},
      {"cut at the first NUL",
       [](MemorySettingsStore& s) {
         s.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kString, S("AB\0CD\0", 6));
       },
       S(kDefaultDatabasePath), "AB"},
      {"string without terminator",
       [](MemorySettingsStore& s) {
         s.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kString, "XYZ");
       },
       S(kDefaultDatabasePath), "XYZ"},
      {"names compare without regard to case",
       [](MemorySettingsStore& s) {
         s.SetValue("SOFTWARE\\zarvel\\TRELON 3", "putanja_baze", ValueType::kString, S("p\0", 2));
         s.SetValue("software\\Zarvel\\Trelon 3\\fiscalprinter", "Fm_FiscalLabels",
                    ValueType::kString, S("q\0", 2));
       },
       "p", "q"},
      {"FiscalPrinter that refuses full access gives the default labels",
       [](MemorySettingsStore& s) {
         s.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kString, S("q\0", 2));
         s.At(kPrinterKey).refuses_full_access = true;
       },
       S(kDefaultDatabasePath), S(kDefaultFiscalLabels)},
      {"values in the root are not the settings",
       [](MemorySettingsStore& s) {
         s.SetValue("", "PUTANJA_BAZE", ValueType::kString, S("root\0", 5));
       },
       S(kDefaultDatabasePath), S(kDefaultFiscalLabels)},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySettingsStore store;
    c.setup(store);
    const ConversionSettings settings = ReadConversionSettings(store);
    EXPECT_EQ(settings.DatabasePath, c.expected_path);
    EXPECT_EQ(settings.FiscalLabels, c.expected_labels);
  }
}

TEST(ReadConversionSettingsTest, CreatesTheMissingKeyAndWritesNoValue) {
  MemorySettingsStore store;
  ReadConversionSettings(store);
  const MemorySettingsStore::Key* key = store.Find(kKey);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->values.empty());
  EXPECT_TRUE(key->subkeys.empty());
}

TEST(ReadConversionSettingsTest, WrongTypesThrowNamingTheValue) {
  struct Case {
    const char* what;
    std::string_view key;
    std::string_view name;
    ValueType type;
    std::string data;
  };
  const Case cases[] = {
      {"path as a number", kKey, "PUTANJA_BAZE", ValueType::kDword, S("\1\0\0\0", 4)},
      {"labels as a number", kPrinterKey, "FM_FISCALLABELS", ValueType::kDword, S("\1\0\0\0", 4)},
      {"labels as raw bytes", kPrinterKey, "FM_FISCALLABELS", ValueType::kBinary, "\xC0"},
      {"labels as a list of strings", kPrinterKey, "FM_FISCALLABELS", ValueType::kMultiString,
       S("A\0\0", 3)},
      {"path as a quad word", kKey, "PUTANJA_BAZE", ValueType::kQword, S(8, '\1')},
      {"labels of type none", kPrinterKey, "FM_FISCALLABELS", ValueType::kNone, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySettingsStore store;
    store.SetValue(c.key, c.name, c.type, c.data);
    try {
      ReadConversionSettings(store);
      ADD_FAILURE() << "no error";
    } catch (const SettingsTypeError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid data type for '" + S(c.name) + "'");
      EXPECT_EQ(e.value_name(), c.name);
    }
  }
}

TEST(ReadConversionSettingsTest, KeyThatCannotBeCreatedFallsBackToTheRoot) {
  MemorySettingsStore store;
  store.set_creation_refused(true);
  // In the root, where the settings normally are not, they are still found.
  store.SetValue("", "PUTANJA_BAZE", ValueType::kString, S("root\0", 5));
  store.SetValue("FiscalPrinter", "FM_FISCALLABELS", ValueType::kString, S("xy\0", 3));
  const ConversionSettings settings = ReadConversionSettings(store);
  EXPECT_EQ(settings.DatabasePath, "root");
  EXPECT_EQ(settings.FiscalLabels, "xy");
  EXPECT_EQ(store.Find(kKey), nullptr);
}

TEST(ReadConversionSettingsTest, KeyThatRefusesFullAccessFallsBackToTheRoot) {
  MemorySettingsStore store;
  store.SetValue(kKey, "PUTANJA_BAZE", ValueType::kString, S("hidden\0", 7));
  store.At(kKey).refuses_full_access = true;
  const ConversionSettings settings = ReadConversionSettings(store);
  EXPECT_EQ(settings.DatabasePath, kDefaultDatabasePath);
  EXPECT_EQ(settings.FiscalLabels, kDefaultFiscalLabels);
}

TEST(BuildConnectionStringTest, InsertsThePathVerbatim) {
  struct Case {
    const char* what;
    std::string path;
  };
  const Case cases[] = {
      {"default path", S(kDefaultDatabasePath)},
      {"empty path", ""},
      {"semicolon in the path", "C:\\a;b\\baza.mdb"},
      {"leading and trailing blanks", "  C:\\baza.mdb  "},
      {"quotes and equals signs", "C:\\\"x\"=y.mdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(BuildConnectionString(c.path),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + c.path +
                  ";Jet OLEDB:Database Password=korpamilev;");
  }
}

}  // namespace
}  // namespace conversion
