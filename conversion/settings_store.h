// The registry operations the settings need, and nothing more.
//
// A store is a tree of keys, each holding named values, shaped like the
// current user's branch of the Windows registry. Implementations live in
// platform/ (the registry of a Wine prefix); tests use an in-memory store.
#ifndef CONVERSION_SETTINGS_STORE_H_
#define CONVERSION_SETTINGS_STORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace conversion {

// Registry value types, numbered as the registry numbers them.
enum class ValueType : std::uint32_t {
  kNone = 0,
  kString = 1,        // REG_SZ
  kExpandString = 2,  // REG_EXPAND_SZ
  kBinary = 3,        // REG_BINARY
  kDword = 4,         // REG_DWORD
  kDwordBigEndian = 5,
  kLink = 6,
  kMultiString = 7,  // REG_MULTI_SZ
  kQword = 11,
};

// A value as the ANSI registry functions report it: its type and its data.
// For the string types (kString, kExpandString, kMultiString) `data` is the
// stored text converted to the ANSI code page, including whatever NULs the
// stored data held; for every other type it is the stored bytes unchanged.
// A value stored with no data has an empty `data`, whatever its type.
struct SettingsValue {
  std::uint32_t type = 0;  // a ValueType, or any other number the store holds
  std::string data;
};

// One open key. Destroying it closes it.
class SettingsKey {
 public:
  virtual ~SettingsKey() = default;

  // Opens the existing subkey `name` (one level, or several separated by
  // backslashes) for full access. Never creates it. Returns nullptr when it
  // does not exist or cannot be opened for full access.
  virtual std::unique_ptr<SettingsKey> OpenSubKey(std::string_view name) = 0;

  // Returns the value `name`, or nullopt when the key holds no such value.
  virtual std::optional<SettingsValue> QueryValue(std::string_view name) = 0;
};

// The current user's branch.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // Returns the root of the branch (HKEY_CURRENT_USER itself).
  virtual std::unique_ptr<SettingsKey> Root() = 0;

  // Opens `path` (levels separated by backslashes) under the root for full
  // access, creating every missing level. Returns nullptr when the key can be
  // neither opened nor created that way; that is not an error.
  virtual std::unique_ptr<SettingsKey> CreateKey(std::string_view path) = 0;
};

}  // namespace conversion

#endif  // CONVERSION_SETTINGS_STORE_H_
