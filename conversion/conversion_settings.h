// The two settings the conversion takes from the cash-register application's
// registry key, and the connection description built from them.
#ifndef CONVERSION_CONVERSION_SETTINGS_H_
#define CONVERSION_CONVERSION_SETTINGS_H_

#include <stdexcept>
#include <string>
#include <string_view>

#include "conversion/settings_store.h"

namespace conversion {

// Both texts are 8-bit, in the ANSI code page the registry hands them out in.
struct ConversionSettings {
  std::string DatabasePath;
  std::string FiscalLabels;
};

// Raised when a setting is stored with a type other than a string.
class SettingsTypeError : public std::runtime_error {
 public:
  explicit SettingsTypeError(std::string value_name);
  const std::string& value_name() const { return value_name_; }

 private:
  std::string value_name_;
};

inline constexpr std::string_view kSettingsKeyPath = "Software\\Zarvel\\Trelon 3";
inline constexpr std::string_view kFiscalPrinterSubKey = "FiscalPrinter";
inline constexpr std::string_view kDatabasePathValue = "PUTANJA_BAZE";
inline constexpr std::string_view kFiscalLabelsValue = "FM_FISCALLABELS";
inline constexpr std::string_view kDefaultDatabasePath =
    "C:\\Program Files\\Zarvel\\Trelon F\\podaci.dtb";
// А Г Д Ђ Е Ж И Ј К in Windows-1251.
inline constexpr std::string_view kDefaultFiscalLabels = "\xC0\xC3\xC4\x80\xC5\xC6\xC8\xA3\xCA";
inline constexpr std::string_view kDatabasePassword = "korpamilev";

// Reads DatabasePath, then FiscalLabels, creating the settings key when it is
// missing. Throws SettingsTypeError for a value that is not a string.
ConversionSettings ReadConversionSettings(SettingsStore& store);

// Returns the connection description for the database at `database_path`,
// the path inserted verbatim.
std::string BuildConnectionString(std::string_view database_path);

}  // namespace conversion

#endif  // CONVERSION_CONVERSION_SETTINGS_H_
