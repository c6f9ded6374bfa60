#include "app/app_texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace app {
namespace {

TEST(ApplicationTitleTest, FollowsTheRule) {
  struct Case {
    const char* path;
    const char* title;
  };
  const Case cases[] = {
      {"/usr/bin/fiscal-rates-numeric", "fiscal-rates-numeric"},
      {"/opt/frn/Fiscal-Rates-Numeric", "Fiscal-rates-numeric"},
      {"/opt/frn/FiscalRatesNumeric.exe", "Fiscalratesnumeric"},
      {"/opt/frn/FRN.tar.gz", "Frn"},
      {"FRN", "Frn"},
      {"/opt/my.dir/FRN", "Frn"},            // a period in the folder is dropped with it
      {"/opt/frn/.hidden", ""},              // everything from the first period on
      {"/usr/bin/", ""},
      {"/opt/frn/ŠIFRE", "Šifre"},           // lower case beyond ASCII
      {"/opt/frn/šIFRE", "šifre"},           // the first character is kept as it is
      {"/opt/frn/1ABC", "1abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ApplicationTitle(QString::fromUtf8(c.path)), QString::fromUtf8(c.title));
  }
}

TEST(ErrorReportTextTest, AppendsAPeriodAfterCharactersThatSortAfterIt) {
  struct Case {
    const char* message;
    const char* text;
  };
  const Case cases[] = {
      {"Could not find file", "Could not find file."},
      {"Not a valid password", "Not a valid password."},
      {"Error 42", "Error 42."},                                        // a digit
      {"Already ends.", "Already ends."},                                // the period itself
      {"Invalid data type for 'FM_FISCALLABELS'", "Invalid data type for 'FM_FISCALLABELS'"},
      {"File \"a.mdb\"", "File \"a.mdb\""},                              // a closing quote
      {"Unexpected (page 7)", "Unexpected (page 7)"},                    // ')' sorts before '.'
      {"Done!", "Done!"},
      {"Path C:/", "Path C:/."},                                         // '/' sorts after '.'
      {"Trailing blank ", "Trailing blank "},
      {"Ends in Cyrillic Ђ", "Ends in Cyrillic Ђ."},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ErrorReportText(QString::fromUtf8(c.message)), QString::fromUtf8(c.text));
  }
}

TEST(StartupReportTextTest, FollowsTheForm) {
  const void* address = reinterpret_cast<const void*>(std::uintptr_t{0x4a1b2c});
  struct Case {
    const char* message;
    const char* ending;
  };
  const Case cases[] = {
      {"Error creating object", "Error creating object.\r\n"},
      {"Error creating object.", "Error creating object.\r\n"},
      {"Quoted 'x'", "Quoted 'x'.\r\n"},  // unlike the default report: any end but a period
      {"", ".\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(StartupReportText("jet::Unsupported", "fiscal-rates-numeric", address, c.message),
              std::string("Exception jet::Unsupported in module fiscal-rates-numeric at 00000000004A1B2C.\r\n") +
                  c.ending);
  }
}

// Reads every byte as the character of the same number, as Latin-1 does,
// except 0xC0, which it reads as Cyrillic А as Windows-1251 does.
class OneCyrillicLetterCodePage : public conversion::CodePage {
 public:
  std::optional<std::string> ToAnsi(std::u16string_view) const override { return std::nullopt; }
  std::u16string ToWide(std::string_view text) const override {
    std::u16string wide;
    for (const char byte : text) {
      const auto value = static_cast<unsigned char>(byte);
      wide += value == 0xC0 ? u'\u0410' : static_cast<char16_t>(value);
    }
    return wide;
  }
};

TEST(DecodeMessageTest, ReadsUtf8ElseTheCodePage) {
  const OneCyrillicLetterCodePage code_page;
  struct Case {
    const char* what;
    std::string message;
    const conversion::CodePage* code_page;
    QString text;
  };
  const Case cases[] = {
      {"ASCII", "Could not find file", &code_page, QStringLiteral("Could not find file")},
      {"UTF-8", "Nema fajla \xC5\xA0ifre", &code_page, QStringLiteral("Nema fajla Šifre")},
      {"ANSI path, code page known", "C:\\\xC0.dtb", &code_page, QStringLiteral("C:\\А.dtb")},
      {"ANSI path, no code page", "C:\\\xC0.dtb", nullptr, QStringLiteral("C:\\À.dtb")},
      {"cut UTF-8 sequence at the end", "Kraj \xC5", nullptr, QStringLiteral("Kraj Å")},
      {"empty", "", nullptr, QString()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecodeMessage(c.message, c.code_page), c.text);
  }
}

TEST(MulDivTest, RoundsHalvesAwayFromZero) {
  struct Case {
    int value, numerator, denominator, expected;
  };
  const Case cases[] = {
      {175, 13, 13, 175},   {175, 16, 13, 215},  // 215.38
      {67, 16, 13, 82},     // 82.46
      {44, 15, 13, 51},     // 50.77
      {25, 14, 13, 27},     // 26.92
      {-11, 120, 96, -14},  // -13.75
      {-11, 144, 96, -17},  // -16.5, away from zero
      {11, 144, 96, 17},    // 16.5
      {INT_MAX, 2, 2, INT_MAX},  // no overflow in between
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " * " << c.numerator << " / " << c.denominator);
    EXPECT_EQ(MulDiv(c.value, c.numerator, c.denominator), c.expected);
  }
}

}  // namespace
}  // namespace app
