#include "platform/wine_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

#include "platform/wide_text.h"
#include "platform/wine_prefix.h"

namespace platform {

struct WineRegistryStore::State {
  std::string text;  // the file's bytes as read
  RegistryFile file;
};

namespace {

constexpr std::uint32_t kTypeString = 1;
constexpr std::uint32_t kTypeExpandString = 2;
constexpr std::uint32_t kTypeMultiString = 7;

bool IsStringType(std::uint32_t type) {
  return type == kTypeString || type == kTypeExpandString || type == kTypeMultiString;
}

// Returns the whole file, or nullopt when it cannot be read or is too big.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (count == 0) break;
    contents.append(buffer, static_cast<std::size_t>(count));
    if (contents.size() > kMaxRegistryFileSize) {
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  return contents;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t count = ::write(fd, data.data(), data.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

// Orders key paths as wineserver saves them: level by level ignoring case,
// a key before the keys below it.
int ComparePaths(const std::vector<std::u16string>& a, const std::vector<std::u16string>& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (const int order = CompareIgnoringCase(a[i], b[i]); order != 0) return order;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool PrecededByBlankLine(std::string_view text, std::size_t offset) {
  if (offset < 2 || text[offset - 1] != '\n') return false;
  if (text[offset - 2] == '\n') return true;
  return offset >= 3 && text[offset - 2] == '\r' && text[offset - 3] == '\n';
}

// Replaces `file` with `contents`: a new file beside it, flushed, renamed
// over it, with the old owner and mode. Gives up, leaving the file as it
// was, when the file is not what was read (`expected`), cannot or should not
// be written, or a wineserver starts meanwhile.
bool ReplaceFile(const std::filesystem::path& file, std::string_view expected, std::string_view contents,
                 const std::filesystem::path& prefix) {
  std::error_code error;
  // Through a symbolic link the file it names is replaced; the link stays.
  std::filesystem::path target = file;
  if (std::filesystem::is_symlink(file, error)) {
    target = std::filesystem::canonical(file, error);
    if (error) return false;
  }
  struct stat original {};
  if (::lstat(target.c_str(), &original) != 0 || !S_ISREG(original.st_mode) || original.st_nlink != 1) return false;
  // A file without write permission is left alone, also for root.
  if ((original.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target.c_str(), W_OK) != 0) return false;

  std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool written = WriteAll(fd, contents) && ::fchmod(fd, original.st_mode & 07777) == 0;
  if (written && (original.st_uid != ::geteuid() || original.st_gid != ::getegid())) {
    written = ::fchown(fd, original.st_uid, original.st_gid) == 0;
  }
  written = written && ::fsync(fd) == 0;
  written = (::close(fd) == 0) && written;
  // Last checks right before the rename: nobody changed the file and no
  // wineserver took the registry over since it was read.
  if (written) {
    const std::optional<std::string> current = ReadWholeFile(target);
    written = current && *current == expected && !WineServerRunning(prefix);
  }
  if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  const int directory = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return true;
}

class WineKey : public conversion::SettingsKey {
 public:
  WineKey(std::shared_ptr<const void> owner, const RegistryKey& node, const conversion::CodePage& code_page)
      : owner_(std::move(owner)), node_(node), code_page_(code_page) {}

  std::unique_ptr<conversion::SettingsKey> OpenSubKey(std::string_view name) override {
    // Encoding: the ANSI name becomes wide text, as RegOpenKeyExA does.
    const std::optional<std::vector<std::u16string>> levels = SplitKeyPath(code_page_.ToWide(name));
    if (!levels) return nullptr;
    const RegistryKey* key = &node_;
    for (const std::u16string& level : *levels) {
      key = key->FindSubKey(level);
      if (key == nullptr || key->link) return nullptr;  // links are not followed
    }
    return std::make_unique<WineKey>(owner_, *key, code_page_);
  }

  std::optional<conversion::SettingsValue> QueryValue(std::string_view name) override {
    const RegistryValue* value = node_.FindValue(code_page_.ToWide(name));
    if (value == nullptr) return std::nullopt;
    conversion::SettingsValue result;
    result.type = value->type;
    result.data = IsStringType(value->type) ? ToAnsiText(name, *value) : value->data;
    return result;
  }

 private:
  // Converts stored UTF-16LE to the code page as RegQueryValueExA does: one
  // character per whole unit, an odd last byte dropped, NULs kept.
  std::string ToAnsiText(std::string_view name, const RegistryValue& value) const {
    std::u16string units;
    units.reserve(value.data.size() / 2);
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
      units += static_cast<char16_t>(static_cast<unsigned char>(value.data[i]) |
                                     (static_cast<unsigned char>(value.data[i + 1]) << 8));
    }
    const bool text_used = value.type == kTypeString || value.type == kTypeExpandString;
    std::size_t strict_end = text_used ? units.find(u'\0') : 0;
    if (strict_end == std::u16string::npos) strict_end = units.size();
    std::string ansi;
    if (strict_end > 0) {
      std::optional<std::string> text = code_page_.ToAnsi(std::u16string_view(units).substr(0, strict_end));
      if (!text) throw UnrepresentableValueError(std::string(name));
      ansi = std::move(*text);
    }
    for (std::size_t i = strict_end; i < units.size(); ++i) {
      const std::optional<std::string> character = code_page_.ToAnsi(std::u16string_view(&units[i], 1));
      ansi += character ? *character : std::string("?");
    }
    return ansi;
  }

  std::shared_ptr<const void> owner_;  // keeps the tree alive
  const RegistryKey& node_;
  const conversion::CodePage& code_page_;
};

}  // namespace

UnrepresentableValueError::UnrepresentableValueError(const std::string& value_name)
    : std::runtime_error("The registry value '" + value_name +
                         "' holds characters that the ANSI code page cannot represent") {}

WineRegistryStore::WineRegistryStore(std::filesystem::path prefix, const conversion::CodePage& code_page)
    : prefix_(std::move(prefix)), code_page_(code_page), state_(std::make_shared<State>()) {
  std::optional<std::string> text = ReadWholeFile(prefix_ / kUserRegistryFileName);
  if (!text) return;
  RegistryFile file = ParseRegistryFile(*text);
  if (!file.valid) return;
  state_->text = std::move(*text);
  state_->file = std::move(file);
  loaded_ = true;
}

WineRegistryStore::~WineRegistryStore() = default;

std::unique_ptr<conversion::SettingsKey> WineRegistryStore::Root() {
  return std::make_unique<WineKey>(state_, state_->file.root, code_page_);
}

std::unique_ptr<conversion::SettingsKey> WineRegistryStore::CreateKey(std::string_view path) {
  // Encoding: the ANSI path becomes wide text, as RegCreateKeyExA does.
  const std::optional<std::vector<std::u16string>> levels = SplitKeyPath(code_page_.ToWide(path));
  if (!levels) return nullptr;
  // The spelling of the levels that exist, then the caller's.
  std::vector<std::u16string> spelled;
  const RegistryKey* key = &state_->file.root;
  for (const std::u16string& level : *levels) {
    if (key != nullptr && key->link) return nullptr;  // links are not followed
    key = key != nullptr ? key->FindSubKey(level) : nullptr;
    spelled.push_back(key != nullptr ? key->name : level);
  }
  if (key != nullptr) {
    if (key->link) return nullptr;
    return std::make_unique<WineKey>(state_, *key, code_page_);
  }
  if (!loaded_ || WineServerRunning(prefix_) || !WriteEmptyKey(spelled)) return nullptr;
  key = &state_->file.root;
  for (const std::u16string& level : spelled) key = key->FindSubKey(level);
  return key != nullptr ? std::make_unique<WineKey>(state_, *key, code_page_) : nullptr;
}

bool WineRegistryStore::WriteEmptyKey(const std::vector<std::u16string>& path) {
  const std::string& text = state_->text;
  const RegistryFile& file = state_->file;
  const std::string section = FormatEmptyKeySection(path, std::chrono::system_clock::now(), file.line_end);

  // Where wineserver would write it: before the first section that sorts
  // after it. Failing that (or if the result does not read back as the same
  // keys plus the new one), at the end.
  std::vector<std::string> candidates;
  for (const RegistrySection& existing : file.sections) {
    if (ComparePaths(existing.path, path) > 0) {
      std::string insertion = PrecededByBlankLine(text, existing.offset) ? "" : file.line_end;
      insertion += section + file.line_end;
      candidates.push_back(text.substr(0, existing.offset) + insertion + text.substr(existing.offset));
      break;
    }
  }
  std::string appended = text;
  if (!appended.empty() && appended.back() != '\n') appended += file.line_end;
  appended += file.line_end + section;
  candidates.push_back(std::move(appended));

  for (std::string& candidate : candidates) {
    RegistryFile parsed = ParseRegistryFile(candidate);
    if (!parsed.valid || !SameKeysPlusPath(&file.root, parsed.root, path)) continue;
    if (!ReplaceFile(prefix_ / kUserRegistryFileName, text, candidate, prefix_)) return false;
    // Keys handed out earlier keep the old tree alive and unchanged.
    auto state = std::make_shared<State>();
    state->text = std::move(candidate);
    state->file = std::move(parsed);
    state_ = std::move(state);
    return true;
  }
  return false;
}

}  // namespace platform
