#include "platform/wine_prefix.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/wide_text.h"

namespace platform {

namespace {

// Closes a file descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Characters Windows refuses in file names.
bool IsForbiddenInName(char16_t c) {
  return c < 32 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*' || c == u':';
}

// Characters that cannot stand in a DOS 8.3 name.
bool IsInvalidDosChar(char16_t c) {
  return c > 0x7f || std::u16string_view(u"*?<>|\"+=,;[] ~.").find(c) != std::u16string_view::npos;
}

// Returns whether `name` is already a valid 8.3 name (then Wine gives it no
// other short name).
bool IsLegal8Dot3Name(std::u16string_view name) {
  if (name.size() > 12) return false;
  if (!name.empty() && name[0] == u'.') return name == u"." || name == u"..";
  std::size_t dot = std::u16string_view::npos;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c > 0x7f || std::u16string_view(u"*?<>|\"+=,;[] :/\\").find(c) != std::u16string_view::npos) return false;
    if (c == u'.') {
      if (dot != std::u16string_view::npos) return false;
      dot = i;
    }
  }
  if (dot == std::u16string_view::npos) return name.size() <= 8;
  if (dot > 8) return false;
  return name.size() - dot > 1 && name.size() - dot < 5;
}

// Returns the short name Wine makes up for a long one: four characters of
// the name, "~", three characters of a hash of the whole name, and three of
// the extension ("Program Files" becomes "Prog~FBU").
std::u16string WineShortName(std::u16string_view name) {
  static constexpr char kHashChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  std::uint16_t hash = 0xbeef;
  for (std::size_t i = 0; i + 1 < name.size(); ++i) {
    hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ FoldCase(name[i]) ^ (FoldCase(name[i + 1]) << 8));
  }
  hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ FoldCase(name.back()));
  std::size_t extension = std::u16string_view::npos;  // the last dot, not first or last character
  for (std::size_t i = 1; i + 1 < name.size(); ++i) {
    if (name[i] == u'.') extension = i;
  }
  std::u16string short_name;
  for (std::size_t i = 0; i < 4 && i < name.size() && i != extension; ++i) {
    short_name += IsInvalidDosChar(name[i]) ? u'_' : name[i];
  }
  short_name.append(5 - short_name.size(), u'~');
  short_name += static_cast<char16_t>(kHashChars[(hash >> 10) & 0x1f]);
  short_name += static_cast<char16_t>(kHashChars[(hash >> 5) & 0x1f]);
  short_name += static_cast<char16_t>(kHashChars[hash & 0x1f]);
  if (extension != std::u16string_view::npos) {
    short_name += u'.';
    for (std::size_t i = extension + 1; i < name.size() && i <= extension + 3; ++i) {
      short_name += IsInvalidDosChar(name[i]) ? u'_' : name[i];
    }
  }
  return short_name;
}

// Returns the entry of `directory` whose name equals `name` ignoring case,
// or whose Wine short name does, or nullopt. Encoding: Unix names are read
// as UTF-8 and compared as wide text, as Wine compares them.
std::optional<std::string> FindIgnoringCase(const std::filesystem::path& directory, const std::u16string& name) {
  // Only a name shaped like Wine's short names ("Prog~FBU") is looked for
  // among them.
  const bool short_name = IsLegal8Dot3Name(name) && name.size() >= 8 && name[4] == u'~';
  std::error_code error;
  std::filesystem::directory_iterator it(directory, error);
  if (error) return std::nullopt;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) return std::nullopt;
    const std::string entry = it->path().filename().string();
    const std::u16string wide = FromUtf8(entry);
    if (CompareIgnoringCase(wide, name) == 0) return entry;
    if (short_name && !IsLegal8Dot3Name(wide) && CompareIgnoringCase(WineShortName(wide), name) == 0) return entry;
  }
  return std::nullopt;
}

// Returns the path as a message shows it: UTF-8, with control characters
// (a NUL would end the message) written as \xNN.
std::string DisplayPath(std::u16string_view path) {
  std::string shown;
  for (std::size_t begin = 0; begin < path.size();) {
    std::size_t end = begin;
    while (end < path.size() && path[end] >= 32) ++end;
    shown += ToUtf8(path.substr(begin, end - begin));
    if (end < path.size()) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(path[end]));
      shown += escaped;
      ++end;
    }
    begin = end;
  }
  return shown;
}

}  // namespace

PathError::PathError(std::u16string dos_path, const std::string& reason)
    : std::runtime_error("Cannot open the database '" + DisplayPath(dos_path) + "': " + reason),
      dos_path_(std::move(dos_path)) {}

std::filesystem::path WinePrefixPath() {
  if (const char* prefix = std::getenv("WINEPREFIX")) {
    const std::string path = StripTrailingSlashes(prefix);
    if (path.empty() || path[0] != '/') {
      throw PrefixError("Invalid directory '" + std::string(prefix) +
                        "' in WINEPREFIX: not an absolute path");
    }
    return path;
  }
  std::string home;
  if (const char* home_variable = std::getenv("HOME"); home_variable != nullptr && *home_variable != '\0') {
    home = home_variable;
  } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    home = entry->pw_dir;
  }
  if (home.empty()) throw PrefixError("Cannot find the home directory for the Wine prefix ~/.wine");
  return std::filesystem::path(StripTrailingSlashes(home)) / ".wine";
}

bool WineServerRunning(const std::filesystem::path& prefix) {
  // Wine stats the prefix after changing into it, so a link is followed.
  struct stat prefix_stat {};
  if (::stat(prefix.c_str(), &prefix_stat) != 0) return false;
  char server_dir[128];
  std::snprintf(server_dir, sizeof server_dir, "/tmp/.wine-%u/server-%llx-%llx", static_cast<unsigned>(::getuid()),
                static_cast<unsigned long long>(prefix_stat.st_dev),
                static_cast<unsigned long long>(prefix_stat.st_ino));
  const std::string lock_path = std::string(server_dir) + "/lock";
  const FileDescriptor lock(::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (lock.get() < 0) return false;
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  query.l_start = 0;
  query.l_len = 1;
  if (::fcntl(lock.get(), F_GETLK, &query) != 0) return false;
  return query.l_type == F_WRLCK;
}

std::filesystem::path MapDosPath(const std::filesystem::path& prefix, std::u16string_view dos_path) {
  const std::u16string path(dos_path);
  if (path.empty()) throw PathError(path, "the path is empty");
  if (path.find(u'\0') != std::u16string::npos) throw PathError(path, "the path holds a NUL character");
  if (path[0] == u'/') return std::filesystem::path(ToUtf8(path));  // already a Unix path

  std::u16string_view rest = path;
  // "\\?\C:\..." is the long form of a plain drive path.
  if (rest.size() >= 4 && rest.substr(0, 4) == u"\\\\?\\" && rest.size() >= 6 && IsDriveLetter(rest[4]) &&
      rest[5] == u':') {
    rest.remove_prefix(4);
  }
  if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    throw PathError(path, "network (UNC) and device paths are not supported");
  }
  if (rest.size() < 2 || !IsDriveLetter(rest[0]) || rest[1] != u':') {
    throw PathError(path, "the path does not start with a drive letter");
  }
  if (rest.size() < 3 || !IsSeparator(rest[2])) {
    throw PathError(path, "the path is relative to the drive's current directory");
  }
  const char drive = static_cast<char>(FoldCase(rest[0]));
  rest.remove_prefix(3);

  // Levels with "." and ".." resolved, as Windows resolves a full path
  // before it looks at the disk.
  std::vector<std::u16string> levels;
  std::size_t begin = 0;
  while (begin <= rest.size()) {
    std::size_t end = begin;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::u16string_view level = rest.substr(begin, end - begin);
    if (level == u"..") {
      if (!levels.empty()) levels.pop_back();
    } else if (!level.empty() && level != u".") {
      for (char16_t c : level) {
        if (IsForbiddenInName(c)) throw PathError(path, "the path holds a character not allowed in file names");
      }
      levels.emplace_back(level);
    }
    begin = end + 1;
  }

  const std::filesystem::path drive_root = prefix / "dosdevices" / (std::string(1, drive) + ":");
  std::error_code error;
  if (!std::filesystem::exists(drive_root, error)) {
    throw PathError(path, std::string("drive ") + static_cast<char>(drive - 'a' + 'A') +
                              ": is not mapped in the Wine prefix " + prefix.string());
  }
  // Each level as spelled when it exists, otherwise the entry that matches
  // ignoring case; once a level is missing the rest are kept as spelled and
  // opening the file reports it missing.
  std::filesystem::path mapped = drive_root;
  bool searching = true;
  for (const std::u16string& level : levels) {
    const std::string spelled = ToUtf8(level);
    if (searching) {
      if (std::filesystem::exists(std::filesystem::symlink_status(mapped / spelled, error))) {
        mapped /= spelled;
        continue;
      }
      if (std::optional<std::string> found = FindIgnoringCase(mapped, level)) {
        mapped /= *found;
        continue;
      }
      searching = false;
    }
    mapped /= spelled;
  }
  return mapped;
}

}  // namespace platform
