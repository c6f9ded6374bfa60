#include "conversion/unicode.h"

#include <gtest/gtest.h>

namespace conversion {
namespace {

TEST(UnicodeTest, RoundTripsValidText) {
  const std::u16string cases[] = {u"", u"abc", u"АГДЂЕЖИЈК", u"Džem 1.5l", u"\U0001F600 x",
                                  u"C:\\Program Files\\Zarvel"};
  for (const std::u16string& text : cases) {
    SCOPED_TRACE(ToUtf8(text));
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  }
  EXPECT_EQ(ToUtf8(u"Ђ"), "\xD0\x82");
  EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(UnicodeTest, ReplacesWhatCannotBeConverted) {
  struct Case {
    const char* what;
    std::string utf8;
    std::u16string expected;
  };
  const Case cases[] = {
      {"stray continuation byte", "a\x80z", u"a\uFFFDz"},
      {"lead byte at the end", "a\xD0", u"a\uFFFD"},
      {"overlong form of '/'", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
      {"Windows-1251 bytes are not UTF-8", "\xC0\xC3", u"\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FromUtf8(c.utf8), c.expected);
  }
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t{0xDC00})), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace conversion
