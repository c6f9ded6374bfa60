#include "conversion/conversion_settings.h"

#include <memory>

namespace conversion {

SettingsTypeError::SettingsTypeError(std::string value_name)
    : std::runtime_error("Invalid data type for '" + value_name + "'"),
      value_name_(std::move(value_name)) {}

namespace {

// Looks up one value by the settings' rules: a missing value gives the
// default, an empty one the empty text whatever its type, a string (plain or
// expandable, unexpanded) its text up to the first NUL, anything else throws.
std::string ReadText(SettingsKey& key, std::string_view name, std::string_view default_value) {
  const std::optional<SettingsValue> value = key.QueryValue(name);
  if (!value) return std::string(default_value);
  if (value->data.empty()) return std::string();
  const auto type = static_cast<ValueType>(value->type);
  if (type != ValueType::kString && type != ValueType::kExpandString) {
    throw SettingsTypeError(std::string(name));
  }
  const std::string& data = value->data;
  return data.substr(0, data.find('\0'));
}

}  // namespace

ConversionSettings ReadConversionSettings(SettingsStore& store) {
  // A key that can be neither opened nor created leaves the lookups at the
  // root of the branch, where the values normally do not exist.
  std::unique_ptr<SettingsKey> key = store.CreateKey(kSettingsKeyPath);
  if (!key) key = store.Root();

  ConversionSettings settings;
  settings.DatabasePath = ReadText(*key, kDatabasePathValue, kDefaultDatabasePath);
  if (std::unique_ptr<SettingsKey> printer = key->OpenSubKey(kFiscalPrinterSubKey)) {
    settings.FiscalLabels = ReadText(*printer, kFiscalLabelsValue, kDefaultFiscalLabels);
  } else {
    settings.FiscalLabels = std::string(kDefaultFiscalLabels);
  }
  return settings;
}

std::string BuildConnectionString(std::string_view database_path) {
  std::string description = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
  description += database_path;
  description += ";Jet OLEDB:Database Password=";
  description += kDatabasePassword;
  description += ';';
  return description;
}

}  // namespace conversion
