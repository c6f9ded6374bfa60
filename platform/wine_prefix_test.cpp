#include "platform/wine_prefix.h"

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/test_support.h"

namespace platform {
namespace {

using platform::testing::FakeWineServer;
using platform::testing::ScratchDirectory;
using platform::testing::WriteFile;

// Sets an environment variable for the scope, restoring it afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(WinePrefixPathTest, FollowsWinesConvention) {
  {
    ScopedEnvironment prefix("WINEPREFIX", "/srv/kasa/wine///");
    EXPECT_EQ(WinePrefixPath(), std::filesystem::path("/srv/kasa/wine"));
  }
  {
    ScopedEnvironment prefix("WINEPREFIX", nullptr);
    ScopedEnvironment home("HOME", "/home/kasa/");
    EXPECT_EQ(WinePrefixPath(), std::filesystem::path("/home/kasa/.wine"));
  }
  {
    ScopedEnvironment prefix("WINEPREFIX", nullptr);
    ScopedEnvironment home("HOME", nullptr);
    EXPECT_EQ(WinePrefixPath().filename(), ".wine");  // from the passwd entry
    EXPECT_TRUE(WinePrefixPath().is_absolute());
  }
}

TEST(WinePrefixPathTest, RefusesARelativePrefix) {
  const char* const relative[] = {"wine", "", "./x"};
  for (const char* value : relative) {
    SCOPED_TRACE(value);
    ScopedEnvironment prefix("WINEPREFIX", value);
    try {
      WinePrefixPath();
      ADD_FAILURE() << "accepted";
    } catch (const PrefixError& error) {
      EXPECT_EQ(std::string(error.what()),
                std::string("Invalid directory '") + value + "' in WINEPREFIX: not an absolute path");
    }
  }
}

TEST(WineServerRunningTest, SeesOnlyAHeldLock) {
  ScratchDirectory prefix;
  EXPECT_FALSE(WineServerRunning(prefix.path()));
  EXPECT_FALSE(WineServerRunning(prefix.path() / "missing"));
  {
    FakeWineServer server(prefix.path());
    EXPECT_TRUE(WineServerRunning(prefix.path()));
    // Through a symbolic link to the prefix, as Wine stats the directory.
    ScratchDirectory other;
    std::filesystem::create_directory_symlink(prefix.path(), other.path() / "link");
    EXPECT_TRUE(WineServerRunning(other.path() / "link"));
    EXPECT_FALSE(WineServerRunning(other.path()));
  }
  EXPECT_FALSE(WineServerRunning(prefix.path()));
}

class MapDosPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path drive_c = scratch_.path() / "drive_c";
    std::filesystem::create_directories(drive_c / "Program Files" / "Zarvel" / "Trelon F");
    std::filesystem::create_directories(drive_c / "\xD0\x9A\xD0\xB0\xD1\x81\xD0\xB0");  // Каса
    WriteFile(drive_c / "Program Files" / "Zarvel" / "Trelon F" / "podaci.dtb", "");
    WriteFile(drive_c / "Program Files" / "Zarvel" / "Trelon F" / "podaci_arhiva.mdb", "");
    std::filesystem::create_directories(scratch_.path() / "dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", scratch_.path() / "dosdevices" / "c:");
    std::filesystem::create_directory_symlink("/", scratch_.path() / "dosdevices" / "z:");
  }

  std::filesystem::path C() const { return scratch_.path() / "dosdevices" / "c:"; }

  ScratchDirectory scratch_;
};

TEST_F(MapDosPathTest, MapsDrivePathsThroughDosdevices) {
  struct Case {
    const char* what;
    std::u16string dos_path;
    std::filesystem::path expected;
  };
  const Case cases[] = {
      {"the default path", u"C:\\Program Files\\Zarvel\\Trelon F\\podaci.dtb",
       C() / "Program Files/Zarvel/Trelon F/podaci.dtb"},
      {"levels matched ignoring case", u"c:\\PROGRAM FILES\\zarvel\\TRELON f\\Podaci.DTB",
       C() / "Program Files/Zarvel/Trelon F/podaci.dtb"},
      {"Cyrillic level matched ignoring case", u"C:\\\u041a\u0410\u0421\u0410\\x.mdb",
       C() / "\xD0\x9A\xD0\xB0\xD1\x81\xD0\xB0/x.mdb"},
      {"forward slashes and doubled separators", u"C:/Program Files//Zarvel/Trelon F/podaci.dtb",
       C() / "Program Files/Zarvel/Trelon F/podaci.dtb"},
      {"dot levels resolved first", u"C:\\Program Files\\.\\X\\..\\Zarvel\\Trelon F\\podaci.dtb",
       C() / "Program Files/Zarvel/Trelon F/podaci.dtb"},
      {"never above the drive's root", u"C:\\..\\..\\Program Files", C() / "Program Files"},
      {"missing levels kept as spelled", u"C:\\program files\\Novo\\Baza.mdb", C() / "Program Files/Novo/Baza.mdb"},
      {"Wine short names (hashes worked out by hand from Wine's algorithm)",
       u"C:\\PROG~FBU\\zarvel\\trel~0in\\podaci.dtb", C() / "Program Files/Zarvel/Trelon F/podaci.dtb"},
      {"Wine short name with an extension", u"C:\\Program Files\\Zarvel\\Trelon F\\PODA~W3Q.MDB",
       C() / "Program Files/Zarvel/Trelon F/podaci_arhiva.mdb"},
      {"a name shaped like a short name that matches nothing", u"C:\\PROG~AAA\\x", C() / "PROG~AAA/x"},
      {"another mapped drive", u"Z:\\tmp", scratch_.path() / "dosdevices" / "z:" / "tmp"},
      {"long form of a drive path", u"\\\\?\\C:\\Program Files", C() / "Program Files"},
      {"a Unix path is used as it is", u"/srv/kasa/podaci.dtb", "/srv/kasa/podaci.dtb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MapDosPath(scratch_.path(), c.dos_path), c.expected);
  }
  EXPECT_TRUE(std::filesystem::exists(MapDosPath(scratch_.path(), u"c:\\program files\\zarvel\\trelon f\\PODACI.dtb")));
}

TEST_F(MapDosPathTest, RefusesPathsItCannotMap) {
  struct Case {
    std::u16string dos_path;
    std::string message;
  };
  const std::string prefix = scratch_.path().string();
  const Case cases[] = {
      {u"", "Cannot open the database '': the path is empty"},
      {u"\\\\server\\kasa\\podaci.dtb",
       "Cannot open the database '\\\\server\\kasa\\podaci.dtb': network (UNC) and device paths are not supported"},
      {u"\\\\.\\C:", "Cannot open the database '\\\\.\\C:': network (UNC) and device paths are not supported"},
      {u"podaci.dtb", "Cannot open the database 'podaci.dtb': the path does not start with a drive letter"},
      {u"\\Kasa\\podaci.dtb", "Cannot open the database '\\Kasa\\podaci.dtb': the path does not start with a drive letter"},
      {u"C:podaci.dtb",
       "Cannot open the database 'C:podaci.dtb': the path is relative to the drive's current directory"},
      {u"D:\\Kasa\\podaci.dtb",
       "Cannot open the database 'D:\\Kasa\\podaci.dtb': drive D: is not mapped in the Wine prefix " + prefix},
      {u"C:\\Kasa\\po?daci.dtb",
       "Cannot open the database 'C:\\Kasa\\po?daci.dtb': the path holds a character not allowed in file names"},
      {u"C:\\podaci.dtb:stream",
       "Cannot open the database 'C:\\podaci.dtb:stream': the path holds a character not allowed in file names"},
      {u"C:\\\u041a\u0430\u0441\u0430\\*.mdb",
       "Cannot open the database 'C:\\\xD0\x9A\xD0\xB0\xD1\x81\xD0\xB0\\*.mdb': the path holds a character not allowed "
       "in file names"},
      {std::u16string(u"C:\\a\0b", 6), "Cannot open the database 'C:\\a\\x00b': the path holds a NUL character"},
      {u"C:\\a\tb", "Cannot open the database 'C:\\a\\x09b': the path holds a character not allowed in file names"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      MapDosPath(scratch_.path(), c.dos_path);
      ADD_FAILURE() << "mapped";
    } catch (const PathError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
      EXPECT_EQ(error.dos_path(), c.dos_path);
    }
  }
}

}  // namespace
}  // namespace platform
