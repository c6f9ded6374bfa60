#include "platform/wine_registry.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <regex>
#include <string>

#include "conversion/conversion_settings.h"
#include "platform/code_page.h"
#include "platform/test_support.h"
#include "platform/wine_prefix.h"

namespace platform {
namespace {

using platform::testing::FakeWineServer;
using platform::testing::ReadFile;
using platform::testing::ReadFixture;
using platform::testing::ScratchDirectory;
using platform::testing::WriteFile;

const std::string kHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
const std::string kSettingsSection = "\n[Software\\\\Zarvel\\\\Trelon 3] 1718000000\n#time=1dabafd4a7c4000\n";
const std::string kPrinterSection =
    "\n[Software\\\\Zarvel\\\\Trelon 3\\\\FiscalPrinter] 1718000000\n#time=1dabafd4a7c4000\n";
const std::string kDefaultPath(conversion::kDefaultDatabasePath);
const std::string kDefaultLabels(conversion::kDefaultFiscalLabels);
// The section CreateKey adds, with any time.
const std::regex kAddedSection(R"(\[Software\\\\Zarvel\\\\Trelon 3\] [0-9]+\n#time=[0-9a-f]+\n)");

class WineRegistryTest : public ::testing::Test {
 protected:
  std::filesystem::path UserReg() const { return scratch_.path() / "user.reg"; }
  void WriteUserReg(const std::string& text) const { WriteFile(UserReg(), text); }
  conversion::ConversionSettings Read() const {
    WineRegistryStore store(scratch_.path(), code_page_);
    return conversion::ReadConversionSettings(store);
  }

  ScratchDirectory scratch_;
  IconvCodePage code_page_{1251};
};

struct LookupCase {
  const char* what;
  std::string sections;  // user.reg after the header
  std::string database_path;
  std::string fiscal_labels;
  const char* error = nullptr;  // the expected message, when reading fails
};

TEST_F(WineRegistryTest, FollowsTheLookupRules) {
  const LookupCase cases[] = {
      {"no settings at all", "", kDefaultPath, kDefaultLabels},
      {"both values as strings",
       kSettingsSection + "\"PUTANJA_BAZE\"=\"C:\\\\kasa\\\\podaci.dtb\"\n" + kPrinterSection +
           "\"FM_FISCALLABELS\"=\"\\x410\\x413\\x414\\x402\\x415\\x416\\x418\\x408\\x41a\"\n",
       "C:\\kasa\\podaci.dtb", "\xC0\xC3\xC4\x80\xC5\xC6\xC8\xA3\xCA"},
      {"FiscalPrinter without FM_FISCALLABELS", kPrinterSection + "\"OTHER\"=\"x\"\n", kDefaultPath, kDefaultLabels},
      {"key implied by its FiscalPrinter section", kPrinterSection + "\"FM_FISCALLABELS\"=\"XYZ\"\n", kDefaultPath,
       "XYZ"},
      {"names ignore case",
       "\n[SOFTWARE\\\\zarvel\\\\TRELON 3]\n\"putanja_baze\"=\"p\"\n[software\\\\ZARVEL\\\\trelon 3\\\\fiscalprinter]\n"
       "\"Fm_FiscalLabels\"=\"L\"\n",
       "p", "L"},
      {"empty string is empty, not the default", kSettingsSection + "\"PUTANJA_BAZE\"=\"\"\n", "", kDefaultLabels},
      {"zero-size string", kPrinterSection + "\"FM_FISCALLABELS\"=hex(1):\n", kDefaultPath, ""},
      {"zero-size expandable string", kPrinterSection + "\"FM_FISCALLABELS\"=hex(2):\n", kDefaultPath, ""},
      {"zero-size multi-string", kPrinterSection + "\"FM_FISCALLABELS\"=hex(7):\n", kDefaultPath, ""},
      {"zero-size dword", kPrinterSection + "\"FM_FISCALLABELS\"=hex(4):\n", kDefaultPath, ""},
      {"zero-size binary", kPrinterSection + "\"FM_FISCALLABELS\"=hex:\n", kDefaultPath, ""},
      {"zero-size none", kPrinterSection + "\"FM_FISCALLABELS\"=hex(0):\n", kDefaultPath, ""},
      {"malformed data: type 0, size 0, so empty", kPrinterSection + "\"FM_FISCALLABELS\"=\"unterminated\n",
       kDefaultPath, ""},
      {"one odd byte of a string is no character", kPrinterSection + "\"FM_FISCALLABELS\"=hex(1):41\n",
       kDefaultPath, ""},
      {"string stored as hex(1)", kPrinterSection + "\"FM_FISCALLABELS\"=hex(1):10,04,13,04,00,00\n", kDefaultPath,
       "\xC0\xC3"},
      {"hex(1) without terminator", kPrinterSection + "\"FM_FISCALLABELS\"=hex(1):41,00,42,00\n", kDefaultPath, "AB"},
      {"expandable string is not expanded", kSettingsSection + "\"PUTANJA_BAZE\"=str(2):\"%HOME%\\\\p.dtb\"\n",
       "%HOME%\\p.dtb", kDefaultLabels},
      {"text is cut at the first NUL", kPrinterSection + "\"FM_FISCALLABELS\"=\"\\x410\\0\\x413\"\n", kDefaultPath,
       "\xC0"},
      {"\\x escape followed by a hex digit", kPrinterSection + "\"FM_FISCALLABELS\"=\"\\x04101\\x0410a\"\n",
       kDefaultPath, "\xC0" "1\xC0" "a"},
      {"default value of the key is not PUTANJA_BAZE", kSettingsSection + "@=\"x\"\n", kDefaultPath,
       kDefaultLabels},
      {"dword", kPrinterSection + "\"FM_FISCALLABELS\"=dword:00000001\n", "", "",
       "Invalid data type for 'FM_FISCALLABELS'"},
      {"multi-string", kPrinterSection + "\"FM_FISCALLABELS\"=str(7):\"ABC\\0\"\n", "", "",
       "Invalid data type for 'FM_FISCALLABELS'"},
      {"binary", kPrinterSection + "\"FM_FISCALLABELS\"=hex:41,00\n", "", "",
       "Invalid data type for 'FM_FISCALLABELS'"},
      {"qword path", kSettingsSection + "\"PUTANJA_BAZE\"=hex(b):01,00,00,00,00,00,00,00\n", "", "",
       "Invalid data type for 'PUTANJA_BAZE'"},
      {"malformed dword is still a dword", kPrinterSection + "\"FM_FISCALLABELS\"=dword:zz\n", "", "",
       "Invalid data type for 'FM_FISCALLABELS'"},
      {"character outside the code page", kPrinterSection + "\"FM_FISCALLABELS\"=\"\\x410\\x4e2d\"\n", "", "",
       "The registry value 'FM_FISCALLABELS' holds characters that the ANSI code page cannot represent"},
      {"character outside the code page after the NUL is never used",
       kPrinterSection + "\"FM_FISCALLABELS\"=\"\\x410\\0\\x4e2d\"\n", kDefaultPath, "\xC0"},
      {"multi-string outside the code page is a type error",
       kPrinterSection + "\"FM_FISCALLABELS\"=str(7):\"\\x4e2d\\0\"\n", "", "",
       "Invalid data type for 'FM_FISCALLABELS'"},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteUserReg(kHeader + c.sections);
    if (c.error != nullptr) {
      try {
        Read();
        ADD_FAILURE() << "no error";
      } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), c.error);
        const bool type_error = dynamic_cast<const conversion::SettingsTypeError*>(&error) != nullptr;
        const bool text_error = dynamic_cast<const UnrepresentableValueError*>(&error) != nullptr;
        EXPECT_TRUE(type_error || text_error);
      }
      continue;
    }
    const conversion::ConversionSettings settings = Read();
    EXPECT_EQ(settings.DatabasePath, c.database_path);
    EXPECT_EQ(settings.FiscalLabels, c.fiscal_labels);
  }
}

TEST_F(WineRegistryTest, ReadsAWineWrittenSettingsKey) {
  const std::string original = ReadFixture("registry/user-settings.reg");
  WriteUserReg(original);
  const conversion::ConversionSettings settings = Read();
  EXPECT_EQ(settings.DatabasePath, "D:\\Kasa\\Podaci\\podaci.dtb");
  EXPECT_EQ(settings.FiscalLabels, "\xC2\xC3\xC4\x80\xC5\xC6\xC8\xA3\xCA");
  EXPECT_EQ(ReadFile(UserReg()), original);  // the key existed: nothing written
}

TEST_F(WineRegistryTest, ReportsTypesAndSizesAsTheRegistry) {
  WriteUserReg(kHeader + kPrinterSection +
               "\"dw\"=dword:0000002a\n\"multi\"=str(7):\"a\\0b\\0\"\n\"text\"=\"\\x416\"\n\"odd\"=hex(2):41,00,42\n");
  WineRegistryStore store(scratch_.path(), code_page_);
  std::unique_ptr<conversion::SettingsKey> key = store.Root()->OpenSubKey("software\\ZARVEL\\trelon 3\\FiscalPrinter");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->QueryValue("DW")->type, 4u);
  EXPECT_EQ(key->QueryValue("dw")->data, std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(key->QueryValue("multi")->type, 7u);
  EXPECT_EQ(key->QueryValue("multi")->data, std::string("a\0b\0\0", 5));
  EXPECT_EQ(key->QueryValue("text")->data, std::string("\xC6\0", 2));  // with its stored NUL
  EXPECT_EQ(key->QueryValue("odd")->data, "A");
  EXPECT_FALSE(key->QueryValue("missing").has_value());
  EXPECT_EQ(key->OpenSubKey("Missing"), nullptr);
  EXPECT_NE(key->OpenSubKey(""), nullptr);
}

TEST_F(WineRegistryTest, CreatesTheMissingKeyWhereWineWouldWriteIt) {
  const std::string original = ReadFixture("registry/user-neighbours.reg");
  WriteUserReg(original);
  EXPECT_EQ(Read().DatabasePath, kDefaultPath);

  const std::string written = ReadFile(UserReg());
  // Between "Trelon 2" and "Trelon 4", every other byte as it was.
  const std::string before_marker = "[Software\\\\Zarvel\\\\Trelon 4";
  const std::size_t at = original.find(before_marker);
  ASSERT_GT(written.size(), original.size());
  const std::size_t added = written.size() - original.size();
  EXPECT_EQ(written.substr(0, at), original.substr(0, at));
  EXPECT_EQ(written.substr(at + added), original.substr(at));
  const std::string insertion = written.substr(at, added);
  EXPECT_TRUE(std::regex_match(insertion.substr(0, insertion.size() - 1), kAddedSection)) << insertion;
  EXPECT_EQ(insertion.back(), '\n');

  // Read back, the key exists and nothing else changed.
  WineRegistryStore store(scratch_.path(), code_page_);
  EXPECT_NE(store.Root()->OpenSubKey("Software\\Zarvel\\Trelon 3"), nullptr);
  EXPECT_EQ(store.Root()->OpenSubKey("Software\\Zarvel\\Trelon 2")->QueryValue("PUTANJA_BAZE")->data,
            std::string("C:\\Trelon2\\baza.dtb\0", 20));
}

TEST_F(WineRegistryTest, AppendsTheKeyAfterTheLastSection) {
  const std::string original = ReadFixture("registry/user-wine.reg");
  WriteUserReg(original);
  EXPECT_EQ(Read().FiscalLabels, kDefaultLabels);
  const std::string written = ReadFile(UserReg());
  ASSERT_EQ(written.substr(0, original.size()), original);
  const std::string tail = written.substr(original.size());
  ASSERT_FALSE(tail.empty());
  EXPECT_EQ(tail[0], '\n');
  EXPECT_TRUE(std::regex_match(tail.substr(1), kAddedSection)) << tail;
}

TEST_F(WineRegistryTest, AddsOnlyTheKeyToAMalformedFile) {
  const std::string original = kHeader +
                               "\n[A] 1\n\"bad\"=\"unterminated\n\"odd\"=hex:1,2,3g\n\"esc\"=\"\\x\"\n"
                               "garbage \xFF\xFE line\n[Broken\n\"lost\"=\"x\"\n"
                               "\n[Zebra] 1\n\"v\"=hex:01,\\\n  02\n";
  WriteUserReg(original);
  EXPECT_EQ(Read().DatabasePath, kDefaultPath);
  const std::string written = ReadFile(UserReg());
  const std::size_t at = original.find("[Zebra]");
  const std::size_t added = written.size() - original.size();
  EXPECT_EQ(written.substr(0, at), original.substr(0, at));
  EXPECT_EQ(written.substr(at + added), original.substr(at));
}

TEST_F(WineRegistryTest, RefusesAnInsertionThatWouldChangeAnotherValue) {
  // The last value continues onto a line that is not there; any line added
  // after it would become part of that value.
  const std::string original = kHeader + "\n[A] 1\n\"v\"=hex:01,\\\n";
  WriteUserReg(original);
  EXPECT_EQ(Read().DatabasePath, kDefaultPath);
  EXPECT_EQ(ReadFile(UserReg()), original);
}

TEST_F(WineRegistryTest, KeepsCrLfLineEnds) {
  const std::string original = "WINE REGISTRY Version 2\r\n\r\n[A] 1\r\n\"v\"=\"x\"\r\n";
  WriteUserReg(original);
  Read();
  const std::string written = ReadFile(UserReg());
  ASSERT_EQ(written.substr(0, original.size()), original);
  EXPECT_EQ(written.find('\n', original.size()), original.size() + 1);  // "\r\n" then the section
  EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
}

TEST_F(WineRegistryTest, RandomFilesGainOnlyTheKeyOrStayAsTheyWere) {
  const char* const kLines[] = {
      "[A] 1", "[Software\\\\Zarvel] 1", "[Software\\\\Zarvel\\\\Trelon 3\\\\FiscalPrinter]", "[Z]",
      "[Software\\\\Zarvel\\\\Trelon 3", "\"v\"=hex:01,\\", "  02,\\", "  03", "\"s\"=\"abc",
      "\"s\"=\"\\x410\"", "\"d\"=dword:1", "#time=1d", "#link", "", "junk", "\xff\xfe\x01", "@=\"x\"",
      "\"v\"=hex:", "#arch=win99", "\"w\"=str(2):\"%x%\"", ";; comment", "\"u\"=\"\xd0\x96\"",
  };
  std::mt19937 random(2024);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kLines) - 1);
  std::uniform_int_distribution<int> count(0, 12);
  int created = 0;
  for (int round = 0; round < 200; ++round) {
    std::string original = kHeader;
    for (int i = count(random); i > 0; --i) original += std::string(kLines[pick(random)]) + "\n";
    if (round % 3 == 0 && original.back() == '\n') original.pop_back();
    SCOPED_TRACE(original);
    WriteUserReg(original);
    const RegistryFile before = ParseRegistryFile(original);
    WineRegistryStore store(scratch_.path(), code_page_);
    const bool existed = store.Root()->OpenSubKey("Software\\Zarvel\\Trelon 3") != nullptr;
    const bool opened = store.CreateKey(conversion::kSettingsKeyPath) != nullptr;
    const std::string written = ReadFile(UserReg());
    if (existed || !opened) {
      EXPECT_EQ(written, original);
      continue;
    }
    ++created;
    // One insertion, every other byte kept, and read back it is the old
    // tree plus the new key.
    std::size_t prefix = 0;
    while (prefix < original.size() && original[prefix] == written[prefix]) ++prefix;
    const std::size_t added = written.size() - original.size();
    EXPECT_EQ(written.substr(prefix + added), original.substr(prefix));
    const std::u16string path[] = {u"Software", u"Zarvel", u"Trelon 3"};
    EXPECT_TRUE(SameKeysPlusPath(&before.root, ParseRegistryFile(written).root, path));
  }
  EXPECT_GT(created, 50);
}

TEST_F(WineRegistryTest, WritesAtomicallyKeepingModeAndLeavingNoTemporaryFile) {
  WriteUserReg(kHeader);
  ASSERT_EQ(::chmod(UserReg().c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(::stat(UserReg().c_str(), &before), 0);
  Read();
  struct stat after {};
  ASSERT_EQ(::stat(UserReg().c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed over the old one
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(scratch_.path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_F(WineRegistryTest, WritesThroughASymbolicLink) {
  const std::filesystem::path real = scratch_.path() / "real.reg";
  WriteFile(real, kHeader);
  std::filesystem::create_symlink("real.reg", UserReg());
  Read();
  EXPECT_TRUE(std::filesystem::is_symlink(UserReg()));
  EXPECT_NE(ReadFile(real).find("[Software\\\\Zarvel\\\\Trelon 3]"), std::string::npos);
}

TEST_F(WineRegistryTest, LeavesAFileWithOtherHardLinksAlone) {
  WriteUserReg(kHeader);
  std::filesystem::create_hard_link(UserReg(), scratch_.path() / "backup.reg");
  Read();
  EXPECT_EQ(ReadFile(UserReg()), kHeader);
}

TEST(WineRegistryPrefixTest, CreatesNothingWithoutAPrefixOrUserReg) {
  ScratchDirectory scratch;
  const IconvCodePage code_page(1251);
  const std::filesystem::path missing_prefix = scratch.path() / "no-prefix";
  {
    WineRegistryStore store(missing_prefix, code_page);
    EXPECT_FALSE(store.loaded());
    EXPECT_EQ(store.CreateKey(conversion::kSettingsKeyPath), nullptr);
    const conversion::ConversionSettings settings = conversion::ReadConversionSettings(store);
    EXPECT_EQ(settings.DatabasePath, kDefaultPath);
    EXPECT_EQ(settings.FiscalLabels, kDefaultLabels);
  }
  EXPECT_FALSE(std::filesystem::exists(missing_prefix));

  WineRegistryStore store(scratch.path(), code_page);
  EXPECT_EQ(conversion::ReadConversionSettings(store).DatabasePath, kDefaultPath);
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "user.reg"));
}

TEST_F(WineRegistryTest, NeverWritesAFileWithoutTheHeader) {
  const std::string original = "REGEDIT4\n\n[Software\\\\Zarvel\\\\Trelon 3\\\\FiscalPrinter]\n\"FM_FISCALLABELS\"=\"X\"\n";
  WriteUserReg(original);
  WineRegistryStore store(scratch_.path(), code_page_);
  EXPECT_FALSE(store.loaded());
  const conversion::ConversionSettings settings = conversion::ReadConversionSettings(store);
  EXPECT_EQ(settings.FiscalLabels, kDefaultLabels);  // nothing is read from it
  EXPECT_EQ(ReadFile(UserReg()), original);
}

TEST_F(WineRegistryTest, FallsBackWithoutErrorForAReadOnlyFile) {
  WriteUserReg(kHeader);
  ASSERT_EQ(::chmod(UserReg().c_str(), 0444), 0);
  WineRegistryStore store(scratch_.path(), code_page_);
  EXPECT_EQ(store.CreateKey(conversion::kSettingsKeyPath), nullptr);
  EXPECT_EQ(conversion::ReadConversionSettings(store).DatabasePath, kDefaultPath);
  EXPECT_EQ(ReadFile(UserReg()), kHeader);
}

// Runs `body` in a child process as the unprivileged user "nobody" when the
// tests run as root (root may write anywhere), else in this process.
// Returns the body's result.
template <typename Body>
bool AsUnprivilegedUser(Body body) {
  if (::geteuid() != 0) return body();
  const pid_t child = ::fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    bool ok = false;
    try {
      ok = ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 && body();
    } catch (...) {
      ok = false;
    }
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(WineRegistryTest, FallsBackWithoutErrorForADirectoryThatCannotBeWritten) {
  // The file itself may be written; the new file beside it may not be made.
  WriteUserReg(kHeader);
  ASSERT_EQ(::chmod(UserReg().c_str(), 0666), 0);
  ASSERT_EQ(::chmod(scratch_.path().c_str(), 0555), 0);
  const std::filesystem::path prefix = scratch_.path();
  const bool fell_back = AsUnprivilegedUser([&] {
    const IconvCodePage code_page(1251);
    WineRegistryStore store(prefix, code_page);
    if (!store.loaded() || store.CreateKey(conversion::kSettingsKeyPath) != nullptr) return false;
    const conversion::ConversionSettings settings = conversion::ReadConversionSettings(store);
    return settings.DatabasePath == kDefaultPath && settings.FiscalLabels == kDefaultLabels;
  });
  ASSERT_EQ(::chmod(scratch_.path().c_str(), 0755), 0);
  EXPECT_TRUE(fell_back);
  EXPECT_EQ(ReadFile(UserReg()), kHeader);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(scratch_.path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_F(WineRegistryTest, KeepsAnotherUsersOwnership) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  WriteUserReg(kHeader);
  ASSERT_EQ(::chown(UserReg().c_str(), 12345, 23456), 0);
  ASSERT_EQ(::chmod(UserReg().c_str(), 0600), 0);
  Read();
  struct stat after {};
  ASSERT_EQ(::stat(UserReg().c_str(), &after), 0);
  EXPECT_NE(ReadFile(UserReg()), kHeader);
  EXPECT_EQ(after.st_uid, 12345u);
  EXPECT_EQ(after.st_gid, 23456u);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
}

TEST_F(WineRegistryTest, ReadsButNeverWritesWhileAWineserverRuns) {
  WriteUserReg(kHeader + kSettingsSection + "\"PUTANJA_BAZE\"=\"C:\\\\x.dtb\"\n");
  const std::filesystem::path other = scratch_.path() / "other";
  std::filesystem::create_directory(other);
  WriteFile(other / "user.reg", kHeader);
  {
    FakeWineServer server(scratch_.path());
    FakeWineServer other_server(other);
    EXPECT_TRUE(WineServerRunning(scratch_.path()));
    // The key exists: it opens, and its values are read as the file has them.
    EXPECT_EQ(Read().DatabasePath, "C:\\x.dtb");
    // A missing key is not created: the defaults apply, with no error.
    WineRegistryStore store(other, code_page_);
    EXPECT_EQ(store.CreateKey(conversion::kSettingsKeyPath), nullptr);
    EXPECT_EQ(conversion::ReadConversionSettings(store).DatabasePath, kDefaultPath);
    EXPECT_EQ(ReadFile(other / "user.reg"), kHeader);
  }
  EXPECT_FALSE(WineServerRunning(other));
  WineRegistryStore store(other, code_page_);
  EXPECT_NE(store.CreateKey(conversion::kSettingsKeyPath), nullptr);
}

TEST_F(WineRegistryTest, KeyCreatedOnceIsFoundAfterwards) {
  WriteUserReg(kHeader);
  WineRegistryStore store(scratch_.path(), code_page_);
  std::unique_ptr<conversion::SettingsKey> root_before = store.Root();
  ASSERT_NE(store.CreateKey(conversion::kSettingsKeyPath), nullptr);
  const std::string once = ReadFile(UserReg());
  ASSERT_NE(store.CreateKey("software\\zarvel\\trelon 3"), nullptr);
  EXPECT_EQ(ReadFile(UserReg()), once);
  EXPECT_NE(store.Root()->OpenSubKey("Software\\Zarvel\\Trelon 3"), nullptr);
  EXPECT_FALSE(root_before->QueryValue("x").has_value());  // keys handed out earlier stay usable
}

TEST_F(WineRegistryTest, ValuesAtTheRootServeTheFallBack) {
  // With the key neither opened nor created, the values are looked up in
  // the root of the branch (here: "[]" sections, which Wine accepts).
  WriteUserReg(kHeader + "\n[] 1\n\"PUTANJA_BAZE\"=\"root\"\n");
  FakeWineServer server(scratch_.path());
  EXPECT_EQ(Read().DatabasePath, "root");
}

}  // namespace
}  // namespace platform
