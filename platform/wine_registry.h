// The current user's registry branch of a Wine prefix, read from its file
// <prefix>/user.reg, as the settings store of the conversion.
//
// The file is read once, at construction. Lookups follow the registry:
// names ignore case, a key exists when its own section or a section below it
// is present, and values come out with the type and data size the registry
// reports, string data converted to the ANSI code page as RegQueryValueExA
// converts it.
//
// The store never writes a value. CreateKey adds a missing key as an empty
// section, the way wineserver writes one, at the place wineserver would
// write it; every other byte of the file stays as it was. The new file is
// written beside the old one, flushed, and renamed over it, keeping the
// owner and mode. The key then counts as one that can be neither opened nor
// created (CreateKey returns nullptr, nothing is written) when:
//   - the prefix or its user.reg does not exist (nothing is created);
//   - the file's first line is not the Wine header: it is read as empty and
//     never written, since wineserver would discard such a file anyway;
//   - a wineserver runs for the prefix: it holds the registry in memory and
//     would overwrite the file (the file is still read as it is);
//   - the file or its directory cannot be written, the file has no write
//     permission bit, is not a regular file, has other hard links, or
//     changed since it was read;
//   - the key path passes through a symbolic link key.
//
// Text stored with a character the code page lacks: RegQueryValueExA would
// hand out '?' for it, which could then match a real '?' label or name
// another file. QueryValue instead throws UnrepresentableValueError naming
// the value when such a character lies in the text the settings use (a
// string or expandable string up to its first NUL). Anywhere else (after
// the NUL, or in a value of another string type, which the settings reject
// by type anyway) it becomes '?' as on Windows.
#ifndef PLATFORM_WINE_REGISTRY_H_
#define PLATFORM_WINE_REGISTRY_H_

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "conversion/code_page.h"
#include "conversion/settings_store.h"
#include "platform/registry_file.h"

namespace platform {

inline constexpr std::string_view kUserRegistryFileName = "user.reg";
// A user.reg beyond this size is not read (and never written).
inline constexpr std::uintmax_t kMaxRegistryFileSize = 256u << 20;

// Raised by QueryValue for a string the ANSI code page cannot represent.
class UnrepresentableValueError : public std::runtime_error {
 public:
  explicit UnrepresentableValueError(const std::string& value_name);
};

class WineRegistryStore : public conversion::SettingsStore {
 public:
  // Reads <prefix>/user.reg; string values are handed out converted with
  // `code_page`, which must outlive the store and its keys. A file that is
  // missing or cannot be read gives an empty branch; never throws for the
  // file's contents.
  WineRegistryStore(std::filesystem::path prefix, const conversion::CodePage& code_page);
  ~WineRegistryStore() override;

  std::unique_ptr<conversion::SettingsKey> Root() override;
  std::unique_ptr<conversion::SettingsKey> CreateKey(std::string_view path) override;

  // Returns whether user.reg was read with a valid header (false when it is
  // missing, unreadable or not a Wine registry file).
  bool loaded() const { return loaded_; }

 private:
  struct State;
  bool WriteEmptyKey(const std::vector<std::u16string>& path);

  std::filesystem::path prefix_;
  const conversion::CodePage& code_page_;
  std::shared_ptr<State> state_;
  bool loaded_ = false;
};

}  // namespace platform

#endif  // PLATFORM_WINE_REGISTRY_H_
