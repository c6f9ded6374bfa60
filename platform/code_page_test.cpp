#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

#include "conversion/conversion_settings.h"
#include "platform/test_support.h"

namespace platform {
namespace {

using platform::testing::ReadFixture;
using platform::testing::ScratchDirectory;
using platform::testing::WriteFile;

// А Г Д Ђ Е Ж И Ј К
const std::u16string kDefaultLabelsWide = u"\u0410\u0413\u0414\u0402\u0415\u0416\u0418\u0408\u041a";

TEST(IconvCodePageTest, ConvertsTheDefaultLabelsBothWays) {
  const IconvCodePage code_page(1251);
  EXPECT_EQ(code_page.ToAnsi(kDefaultLabelsWide), std::string(conversion::kDefaultFiscalLabels));
  EXPECT_EQ(code_page.ToWide(conversion::kDefaultFiscalLabels), kDefaultLabelsWide);
}

TEST(IconvCodePageTest, ConvertsCharacterByCharacter) {
  struct Case {
    const char* what;
    int code_page;
    std::u16string wide;
    std::optional<std::string> ansi;
  };
  const Case cases[] = {
      {"ASCII and NUL", 1251, std::u16string(u"a?\0z", 4), std::string("a?\0z", 4)},
      {"empty", 1251, u"", std::string()},
      {"Chinese is not in 1251", 1251, u"\u0410\u4e2d", std::nullopt},
      {"Latin é is not in 1251", 1251, u"\u00e9", std::nullopt},
      {"replacement character is not a byte", 1251, u"\ufffd", std::nullopt},
      {"lone surrogate", 1251, u"\xd800", std::nullopt},
      {"euro sign in 1251", 1251, u"\u20ac", std::string("\x88")},
      {"Latin é in 1252", 1252, u"\u00e9", std::string("\xe9")},
      {"Cyrillic is not in 1252", 1252, u"\u0410", std::nullopt},
      {"Serbian Latin in 1250", 1250, u"\u0161\u0111\u010d\u0107\u017e", std::string("\x9a\xf0\xe8\xe6\x9e")},
      {"Vietnamese base letter alone in 1258", 1258, u"a\u0300", std::string("a\xcc")},
      {"letter that 1258 writes as two bytes", 1258, u"\u1ea5", std::nullopt},
      {"Thai in 874", 874, u"\u0e01", std::string("\xa1")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const IconvCodePage code_page(c.code_page);
    EXPECT_EQ(code_page.ToAnsi(c.wide), c.ansi);
    if (c.ansi) {
      EXPECT_EQ(code_page.ToWide(*c.ansi), c.wide);
    }
  }
}

TEST(IconvCodePageTest, UndefinedByteBecomesReplacementCharacter) {
  const IconvCodePage code_page(1251);
  EXPECT_EQ(code_page.ToWide("\x98"), u"\ufffd");  // 0x98 has no character in 1251
  EXPECT_EQ(code_page.ToAnsi(code_page.ToWide("\x98")), std::nullopt);
  // Every other byte goes there and back.
  for (int byte = 0; byte < 256; ++byte) {
    if (byte == 0x98) continue;
    const std::string ansi(1, static_cast<char>(byte));
    EXPECT_EQ(code_page.ToAnsi(code_page.ToWide(ansi)), ansi) << byte;
  }
}

TEST(IconvCodePageTest, RefusesCodePagesThatAreNotSingleByteAnsi) {
  const int refused[] = {932, 65001, 437, 0, -1};
  for (int number : refused) {
    SCOPED_TRACE(number);
    try {
      IconvCodePage code_page(number);
      ADD_FAILURE() << "accepted";
    } catch (const CodePageError& error) {
      EXPECT_EQ(error.code_page(), number);
      EXPECT_EQ(std::string(error.what()),
                "The ANSI code page " + std::to_string(number) +
                    " is not a single-byte Windows code page; this program needs one (874 or 1250 to 1258)");
    }
  }
}

TEST(RecordedAnsiCodePageTest, ReadsWhatThePrefixRecorded) {
  const std::string header = "WINE REGISTRY Version 2\n\n#arch=win32\n";
  struct Case {
    const char* what;
    std::string system_reg;  // empty: no file
    int expected;
  };
  const Case cases[] = {
      {"current layout, link key", ReadFixture("registry/system-controlset001.reg"), 1250},
      {"older layout, real CurrentControlSet", ReadFixture("registry/system-currentcontrolset.reg"), 1252},
      {"no system.reg", "", 1251},
      {"nothing recorded", header + "\n[System\\\\ControlSet001\\\\Control\\\\Nls\\\\Codepage]\n\"OEMCP\"=\"866\"\n",
       1251},
      {"names ignore case", header + "\n[system\\\\controlset001\\\\CONTROL\\\\nls\\\\CodePage]\n\"acp\"=\"1257\"\n",
       1257},
      {"ControlSet001 wins", header + "\n[System\\\\ControlSet001\\\\Control\\\\Nls\\\\Codepage]\n\"ACP\"=\"1253\"\n"
       "\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\Codepage]\n\"ACP\"=\"1254\"\n", 1253},
      {"a link CurrentControlSet is not read",
       header + "\n[System\\\\CurrentControlSet]\n#link\n\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\Codepage]\n"
                "\"ACP\"=\"1254\"\n",
       1251},
      {"not a number", header + "\n[System\\\\ControlSet001\\\\Control\\\\Nls\\\\Codepage]\n\"ACP\"=\"12a\"\n", 1251},
      {"not a string", header + "\n[System\\\\ControlSet001\\\\Control\\\\Nls\\\\Codepage]\n\"ACP\"=dword:000004e3\n",
       1251},
      {"too big", header + "\n[System\\\\ControlSet001\\\\Control\\\\Nls\\\\Codepage]\n\"ACP\"=\"99999999\"\n", 1251},
      {"multi-byte code page is reported as recorded",
       header + "\n[System\\\\ControlSet001\\\\Control\\\\Nls\\\\Codepage]\n\"ACP\"=\"932\"\n", 932},
      {"not a registry file", "garbage\n[System\\\\ControlSet001\\\\Control\\\\Nls\\\\Codepage]\n\"ACP\"=\"1250\"\n",
       1251},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory prefix;
    if (!c.system_reg.empty()) WriteFile(prefix.path() / "system.reg", c.system_reg);
    EXPECT_EQ(RecordedAnsiCodePage(prefix.path()), c.expected);
  }
}

}  // namespace
}  // namespace platform
