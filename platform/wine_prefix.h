// The Wine prefix: where it is, whether a wineserver runs for it, and how a
// Windows path of the cash-register application maps onto its files.
//
// These follow Wine's own conventions, not settings of this program: the
// prefix is $WINEPREFIX or ~/.wine, drive letters are the symbolic links in
// <prefix>/dosdevices, and file names are matched ignoring case when the
// exact spelling is absent. Unix file names are taken to be UTF-8.
#ifndef PLATFORM_WINE_PREFIX_H_
#define PLATFORM_WINE_PREFIX_H_

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// Raised when the prefix cannot be determined: $WINEPREFIX is set but not an
// absolute path (Wine refuses such a prefix too), or there is no home.
class PrefixError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when a database path cannot be mapped to a file. what() names the
// path (UTF-8) and says why.
class PathError : public std::runtime_error {
 public:
  PathError(std::u16string dos_path, const std::string& reason);
  const std::u16string& dos_path() const { return dos_path_; }

 private:
  std::u16string dos_path_;
};

// Returns $WINEPREFIX (trailing slashes dropped) or $HOME/.wine (the passwd
// entry's home when HOME is unset). Creates nothing and does not check that
// the directory exists. Throws PrefixError as described above.
std::filesystem::path WinePrefixPath();

// Returns true when a wineserver holds the registry of `prefix`: it keeps a
// write lock on byte 0 of /tmp/.wine-<uid>/server-<dev>-<ino>/lock, where
// dev and ino are those of the prefix directory (Wine's own test). A missing
// prefix, directory or lock file means no server.
bool WineServerRunning(const std::filesystem::path& prefix);

// Maps a database path as the registry holds it (wide text) to the file to
// open:
//   "C:\dir\file.mdb" (any drive letter, "\" or "/" between levels) becomes
//   <prefix>/dosdevices/c:/dir/file.mdb, each level matched exactly or else
//   ignoring case against the directory's entries and the short names Wine
//   gives them ("C:\PROG~FBU" for "C:\Program Files"); "." and ".." levels are
//   resolved first, as Windows does, never above the drive's root;
//   "/unix/path" is used as it is.
// Throws PathError naming the path for anything else: an empty path, a UNC
// or device path, a relative or drive-relative path, a drive without a
// dosdevices link, or a character Windows does not allow in file names.
std::filesystem::path MapDosPath(const std::filesystem::path& prefix, std::u16string_view dos_path);

}  // namespace platform

#endif  // PLATFORM_WINE_PREFIX_H_
