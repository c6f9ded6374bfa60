#include "platform/registry_file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/test_support.h"

namespace platform {
namespace {

const std::string kHeader = "WINE REGISTRY Version 2\n";

// Little-endian UTF-16 bytes of `text`, as the registry stores strings.
std::string Utf16(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

const RegistryValue* ValueOf(const RegistryFile& file, std::u16string_view key, std::u16string_view value) {
  const RegistryKey* node = file.root.FindSubKey(key);
  return node ? node->FindValue(value) : nullptr;
}

struct ValueCase {
  const char* what;
  std::string line;  // one value line in key [K]
  std::uint32_t type;
  std::string data;
};

TEST(RegistryFileTest, ReadsValuesAsWineserverLoadsThem) {
  using namespace std::string_literals;
  const ValueCase cases[] = {
      {"string carries its terminator", R"("v"="abc")", 1, Utf16(u"abc"s + u'\0')},
      {"empty string is two bytes", R"("v"="")", 1, Utf16(u"\0"s)},
      {"str: form", R"("v"=str:"a")", 1, Utf16(u"a\0"s)},
      {"expandable string, unexpanded", R"("v"=str(2):"%TEMP%\\x")", 2, Utf16(u"%TEMP%\\x\0"s)},
      {"multi-string keeps inner NULs", R"("v"=str(7):"a\0b\0")", 7, Utf16(u"a\0b\0\0"s)},
      {"dword", R"("v"=dword:0000002a)", 4, "\x2a\0\0\0"s},
      {"dword without digits is 0", R"("v"=dword:)", 4, "\0\0\0\0"s},
      {"dword read by strtoul: sign", R"("v"=dword:-1)", 4, "\xff\xff\xff\xff"s},
      {"binary", R"("v"=hex:01,02,ff)", 3, "\x01\x02\xff"s},
      {"binary without bytes is size 0", R"("v"=hex:)", 3, ""},
      {"zero-size string", R"("v"=hex(1):)", 1, ""},
      {"zero-size expandable string", R"("v"=hex(2):)", 2, ""},
      {"zero-size multi-string", R"("v"=hex(7):)", 7, ""},
      {"zero-size dword", R"("v"=hex(4):)", 4, ""},
      {"zero-size none", R"("v"=hex(0):)", 0, ""},
      {"hex() reads as type 0", R"("v"=hex():01)", 0, "\x01"s},
      {"qword", R"("v"=hex(b):01,02,03,04,05,06,07,08)", 11, "\x01\x02\x03\x04\x05\x06\x07\x08"s},
      {"string as hex(1), odd length", R"("v"=hex(1):41,00,42)", 1, "A\0B"s},
      {"single hex digits and blanks", R"("v"=hex:1 , a,b)", 3, "\x01\x0a\x0b"s},
      {"blanks around =", R"("v" = "x")", 1, Utf16(u"x\0"s)},
      {"default value", R"(@="d")", 1, Utf16(u"d\0"s)},
      {"\\x escapes, minimal digits", R"("v"="\x410\x413")", 1, Utf16(u"\u0410\u0413\0"s)},
      {"\\x stops after four digits", R"("v"="\x04101")", 1, Utf16(u"\u04101\0"s)},
      {"\\x with five digits is another letter", R"("v"="\x4101")", 1, Utf16(u"\u4101\0"s)},
      {"\\x without digits is x", R"("v"="\xg")", 1, Utf16(u"xg\0"s)},
      {"C escapes", R"("v"="\a\b\e\f\n\r\t\v")", 1, Utf16(u"\a\b\x1b\f\n\r\t\v\0"s)},
      {"octal escapes, at most three digits", R"("v"="\101\1011\0")", 1, Utf16(u"AA1\0\0"s)},
      {"escaped quote and backslash", R"("v"="\"\\")", 1, Utf16(u"\"\\\0"s)},
      {"other escaped character stands for itself", R"("v"="\q\[")", 1, Utf16(u"q[\0"s)},
      {"raw UTF-8", "\"v\"=\"\xD0\x96\"", 1, Utf16(u"\u0416\0"s)},
      {"four-byte UTF-8 becomes a surrogate pair", "\"v\"=\"\xF0\x9F\x98\x80\"", 1,
       Utf16(u"\xD83D\xDE00\0"s)},
      {"invalid UTF-8 bytes are dropped", "\"v\"=\"a\xFF\xC0\x80z\"", 1, Utf16(u"az\0"s)},
      {"truncated UTF-8 sequence is dropped", "\"v\"=\"a\xD0\"", 1, Utf16(u"a\0"s)},
      {"junk after the closing quote is ignored", R"("v"="a" junk)", 1, Utf16(u"a\0"s)},
      {"unterminated string: kept, type 0, no data", R"("v"="abc)", 0, ""},
      {"backslash at the end: kept, type 0, no data", R"("v"="abc\)", 0, ""},
      {"unknown type tag: kept, type 0, no data", R"("v"=str(3):"x")", 0, ""},
      {"hex byte too big", R"("v"=hex:100)", 0, ""},
      {"junk in a hex list", R"("v"=hex:1g)", 0, ""},
      {"hex type without digits or colon", R"("v"=hex(zz):00)", 0, ""},
      {"continuation at the end of the file", "\"v\"=hex:01,\\", 0, ""},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.what);
    const RegistryFile file = ParseRegistryFile(kHeader + "[K]\n" + c.line + "\n");
    ASSERT_TRUE(file.valid);
    const RegistryValue* value = ValueOf(file, u"K", c.line[0] == '@' ? u"" : u"v");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.data);
  }
}

TEST(RegistryFileTest, LinesThatCannotBeReadAreSkipped) {
  const RegistryFile file = ParseRegistryFile(kHeader +
                                              "\"early\"=\"no key yet\"\n"
                                              "[A] 1\n"
                                              "\"bad name=\"x\"\n"
                                              "\"no equals\" \"x\"\n"
                                              "garbage line\n"
                                              "\"kept\"=\"1\"\n"
                                              "[Broken\n"
                                              "\"lost\"=\"after a broken header\"\n"
                                              "#time=1234\n"
                                              "[B]\n"
                                              "\"b\"=\"2\"\n");
  ASSERT_TRUE(file.valid);
  EXPECT_EQ(file.root.values.size(), 0u);
  const RegistryKey* a = file.root.FindSubKey(u"A");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->values.size(), 1u);
  EXPECT_NE(a->FindValue(u"kept"), nullptr);
  EXPECT_EQ(file.root.FindSubKey(u"Broken"), nullptr);
  ASSERT_NE(file.root.FindSubKey(u"B"), nullptr);
  EXPECT_NE(file.root.FindSubKey(u"B")->FindValue(u"b"), nullptr);
  EXPECT_EQ(file.root.subkeys.size(), 2u);
}

TEST(RegistryFileTest, KeysAreImpliedByTheirDescendantsAndIgnoreCase) {
  const RegistryFile file = ParseRegistryFile(kHeader +
                                              "[Software\\\\Zarvel\\\\Trelon 3\\\\FiscalPrinter] 1\n"
                                              "\"X\"=\"first\"\n"
                                              "[SOFTWARE\\\\zarvel\\\\TRELON 3\\\\fiscalprinter]\n"
                                              "\"x\"=\"second\"\n"
                                              "[]\n"
                                              "\"AtRoot\"=\"r\"\n");
  const RegistryKey* software = file.root.FindSubKey(u"software");
  ASSERT_NE(software, nullptr);
  EXPECT_EQ(software->name, u"Software");  // the first spelling stays
  const RegistryKey* trelon = software->FindSubKey(u"ZARVEL")->FindSubKey(u"trelon 3");
  ASSERT_NE(trelon, nullptr);
  EXPECT_TRUE(trelon->values.empty());
  const RegistryKey* printer = trelon->FindSubKey(u"FISCALPRINTER");
  ASSERT_NE(printer, nullptr);
  ASSERT_EQ(printer->values.size(), 1u);
  const RegistryValue* x = printer->FindValue(u"x");
  EXPECT_EQ(x->name, u"X");
  EXPECT_EQ(x->data, Utf16(std::u16string(u"second") + u'\0'));
  EXPECT_NE(file.root.FindValue(u"atroot"), nullptr);
}

TEST(RegistryFileTest, NamesIgnoreCaseBeyondAscii) {
  const RegistryFile file = ParseRegistryFile(kHeader + "[\\x41f\\x420\\x418\\x41d\\x422\\x415\\x420]\n\"\\x416\"=\"1\"\n");
  const RegistryKey* key = file.root.FindSubKey(u"\u043f\u0440\u0438\u043d\u0442\u0435\u0440");  // принтер
  ASSERT_NE(key, nullptr);
  EXPECT_NE(key->FindValue(u"\u0436"), nullptr);  // ж
}

TEST(RegistryFileTest, FirstLineMustBeTheHeader) {
  const char* const bad_headers[] = {
      "WINE REGISTRY Version 1\n[A]\n\"v\"=\"x\"\n",
      "\xEF\xBB\xBFWINE REGISTRY Version 2\n[A]\n\"v\"=\"x\"\n",
      "REGEDIT4\n[A]\n\"v\"=\"x\"\n",
      "WINE REGISTRY Version 2 \n[A]\n",
      "",
  };
  for (const char* text : bad_headers) {
    SCOPED_TRACE(text);
    const RegistryFile file = ParseRegistryFile(text);
    EXPECT_FALSE(file.valid);
    EXPECT_TRUE(file.root.subkeys.empty());
  }
}

TEST(RegistryFileTest, ReadsCrLfFilesAndKeepsTheirLineEnd) {
  const RegistryFile file = ParseRegistryFile("WINE REGISTRY Version 2\r\n\r\n[A] 1\r\n\"v\"=hex:01,\\\r\n  02\r\n");
  ASSERT_TRUE(file.valid);
  EXPECT_EQ(file.line_end, "\r\n");
  EXPECT_EQ(ValueOf(file, u"A", u"v")->data, std::string("\x01\x02"));
}

TEST(RegistryFileTest, UnknownArchitectureStopsReading) {
  const RegistryFile file = ParseRegistryFile(kHeader + "#arch=win99\n[A]\n\"v\"=\"x\"\n");
  EXPECT_TRUE(file.valid);
  EXPECT_TRUE(file.root.subkeys.empty());
}

TEST(RegistryFileTest, NulByteEndsTheLine) {
  using namespace std::string_literals;
  const RegistryFile file = ParseRegistryFile(kHeader + "[A]\n\"v\"=\"ab\0cd\"\n\"w\"=\"ok\"\n"s);
  EXPECT_EQ(ValueOf(file, u"A", u"v")->type, 0u);  // the string lost its closing quote
  EXPECT_EQ(ValueOf(file, u"A", u"w")->type, 1u);
}

TEST(RegistryFileTest, LinkKeysAreMarked) {
  const RegistryFile file = ParseRegistryFile(platform::testing::ReadFixture("registry/system-controlset001.reg"));
  const RegistryKey* system = file.root.FindSubKey(u"System");
  ASSERT_NE(system, nullptr);
  EXPECT_TRUE(system->FindSubKey(u"CurrentControlSet")->link);
  EXPECT_FALSE(system->FindSubKey(u"ControlSet001")->link);
}

TEST(RegistryFileTest, ReadsAWineWrittenFile) {
  const RegistryFile file = ParseRegistryFile(platform::testing::ReadFixture("registry/user-wine.reg"));
  ASSERT_TRUE(file.valid);
  EXPECT_EQ(file.sections.size(), 10u);
  const RegistryKey* debug = file.root.FindSubKey(u"Software")->FindSubKey(u"Wine")->FindSubKey(u"WineDbg");
  ASSERT_NE(debug, nullptr);
  const RegistryValue* layout = debug->FindValue(u"Layout");
  ASSERT_NE(layout, nullptr);
  ASSERT_EQ(layout->data.size(), 60u);  // continued over three lines
  for (std::size_t i = 0; i < 60; ++i) EXPECT_EQ(layout->data[i], static_cast<char>(i));
  const RegistryValue* currency =
      file.root.FindSubKey(u"Control Panel")->FindSubKey(u"International")->FindValue(u"sCurrency");
  EXPECT_EQ(currency->data, Utf16(std::u16string(u"\u0434\u0438\u043d.") + u'\0'));
}

TEST(RegistryFileTest, SurvivesHugeLinesAndJunk) {
  std::string huge = kHeader + "[A]\n\"v\"=\"" + std::string(4 << 20, 'x') + "\"\n\"w\"=hex:" ;
  for (int i = 0; i < 100000; ++i) huge += "01,";
  huge += "02\n";
  const RegistryFile file = ParseRegistryFile(huge);
  EXPECT_EQ(ValueOf(file, u"A", u"v")->data.size(), ((4u << 20) + 1) * 2);
  EXPECT_EQ(ValueOf(file, u"A", u"w")->data.size(), 100001u);

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  const std::string alphabet = "[]\"\\=@#:,x0123456789abcdefhstr()\n\r ";
  for (int round = 0; round < 300; ++round) {
    std::string junk = kHeader;
    for (int i = 0; i < 2000; ++i) {
      const int b = byte(random);
      junk += b < 128 ? alphabet[static_cast<std::size_t>(b) % alphabet.size()] : static_cast<char>(b);
    }
    const RegistryFile parsed = ParseRegistryFile(junk);
    EXPECT_TRUE(parsed.valid);
  }
}

TEST(RegistryFileTest, EscapesAsWineserverWrites) {
  struct Case {
    const char* what;
    std::u16string text;
    std::string written;
  };
  const Case cases[] = {
      {"Cyrillic, minimal digits", u"\u0410\u0413", "\\x410\\x413"},
      {"padded before a hex digit", u"\u04101", "\\x04101"},
      {"padded before a hex letter", u"\u0410a", "\\x0410a"},
      {"not padded before other letters", u"\u0410g", "\\x410g"},
      {"C escapes", u"\a\t\n\x1b", "\\a\\t\\n\\e"},
      {"NUL, short and before an octal digit", std::u16string(u"\0x\0" u"7", 4), "\\0x\\0007"},
      {"backslash and key delimiters", u"a\\b[c]", "a\\\\b\\[c\\]"},
      {"quote is not a key delimiter", u"\"", "\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string written = EscapeRegistryText(c.text, "[]");
    EXPECT_EQ(written, c.written);
    // And it reads back: as a key name between brackets.
    const RegistryFile file = ParseRegistryFile(kHeader + "[" + written + "]\n\"v\"=\"\"\n");
    ASSERT_EQ(file.sections.size(), 1u);
    if (!c.text.empty() && c.text[0] != u'\0' && c.text.find(u'\\') == std::u16string::npos) {
      ASSERT_EQ(file.sections[0].path.size(), 1u);
      EXPECT_EQ(file.sections[0].path[0], c.text);
    }
  }
}

TEST(RegistryFileTest, FormatsAnEmptyKeySectionAsWineserver) {
  const std::u16string path[] = {u"Software", u"Zarvel", u"Trelon 3"};
  const auto time = std::chrono::system_clock::time_point(std::chrono::seconds(1718000000));
  EXPECT_EQ(FormatEmptyKeySection(path, time, "\n"),
            "[Software\\\\Zarvel\\\\Trelon 3] 1718000000\n#time=1dabafd4a7c4000\n");
  const std::u16string cyrillic[] = {u"\u041a\u0430\u0441\u0430"};
  EXPECT_EQ(FormatEmptyKeySection(cyrillic, time, "\r\n"),
            "[\\x41a\\x430\\x441\\x430] 1718000000\r\n#time=1dabafd4a7c4000\r\n");
}

TEST(RegistryFileTest, SplitsKeyPaths) {
  EXPECT_EQ(SplitKeyPath(u"Software\\Zarvel\\Trelon 3"),
            (std::vector<std::u16string>{u"Software", u"Zarvel", u"Trelon 3"}));
  EXPECT_EQ(SplitKeyPath(u"a\\\\b\\"), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(SplitKeyPath(u""), std::vector<std::u16string>{});
  EXPECT_EQ(SplitKeyPath(u"\\Software"), std::nullopt);
  EXPECT_EQ(SplitKeyPath(std::u16string(257, u'k')), std::nullopt);
}

}  // namespace
}  // namespace platform
