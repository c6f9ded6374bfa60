// An in-memory settings store for tests: a tree of keys with case-insensitive
// names, where keys can be marked as ones that refuse full access.
#ifndef CONVERSION_TESTING_MEMORY_SETTINGS_STORE_H_
#define CONVERSION_TESTING_MEMORY_SETTINGS_STORE_H_

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/settings_store.h"

namespace conversion::testing {

class MemorySettingsStore : public SettingsStore {
 public:
  struct Key {
    std::map<std::string, SettingsValue> values;  // by lower-case name
    std::map<std::string, std::unique_ptr<Key>> subkeys;
    bool refuses_full_access = false;
  };

  // Returns the key at `path`, creating missing levels; for setting up tests.
  Key& At(std::string_view path) {
    Key* key = &root_;
    for (const std::string& level : Split(path)) {
      std::unique_ptr<Key>& child = key->subkeys[Lower(level)];
      if (!child) child = std::make_unique<Key>();
      key = child.get();
    }
    return *key;
  }

  void SetValue(std::string_view path, std::string_view name, ValueType type, std::string data) {
    At(path).values[Lower(name)] = SettingsValue{static_cast<std::uint32_t>(type), std::move(data)};
  }

  // Returns the key at `path` without creating it, or nullptr.
  const Key* Find(std::string_view path) const {
    const Key* key = &root_;
    for (const std::string& level : Split(path)) {
      auto it = key->subkeys.find(Lower(level));
      if (it == key->subkeys.end()) return nullptr;
      key = it->second.get();
    }
    return key;
  }

  // Makes CreateKey fail as it does for a user who may not write the branch.
  void set_creation_refused(bool refused) { creation_refused_ = refused; }

  std::unique_ptr<SettingsKey> Root() override { return std::make_unique<OpenKey>(root_); }

  std::unique_ptr<SettingsKey> CreateKey(std::string_view path) override {
    Key* key = &root_;
    for (const std::string& level : Split(path)) {
      auto it = key->subkeys.find(Lower(level));
      if (it == key->subkeys.end()) {
        if (creation_refused_) return nullptr;
        it = key->subkeys.emplace(Lower(level), std::make_unique<Key>()).first;
      }
      key = it->second.get();
    }
    if (key->refuses_full_access) return nullptr;
    return std::make_unique<OpenKey>(*key);
  }

 private:
  class OpenKey : public SettingsKey {
   public:
    explicit OpenKey(Key& key) : key_(key) {}
    std::unique_ptr<SettingsKey> OpenSubKey(std::string_view name) override {
      Key* key = &key_;
      for (const std::string& level : Split(name)) {
        auto it = key->subkeys.find(Lower(level));
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
      }
      if (key->refuses_full_access) return nullptr;
      return std::make_unique<OpenKey>(*key);
    }
    std::optional<SettingsValue> QueryValue(std::string_view name) override {
      auto it = key_.values.find(Lower(name));
      if (it == key_.values.end()) return std::nullopt;
      return it->second;
    }

   private:
    Key& key_;
  };

  static std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
  }

  static std::vector<std::string> Split(std::string_view path) {
    std::vector<std::string> levels;
    std::size_t start = 0;
    while (start <= path.size()) {
      const std::size_t end = std::min(path.find('\\', start), path.size());
      if (end > start) levels.emplace_back(path.substr(start, end - start));
      start = end + 1;
    }
    return levels;
  }

  Key root_;
  bool creation_refused_ = false;
};

}  // namespace conversion::testing

#endif  // CONVERSION_TESTING_MEMORY_SETTINGS_STORE_H_
