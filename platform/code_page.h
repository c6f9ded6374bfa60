// The machine's ANSI code page on Linux: the one the Wine prefix last
// recorded, and conversions through glibc's iconv.
//
// The registry and the database hold wide text; the run compares 8-bit text
// in the single-byte code page the cash-register application runs with
// under Wine. Which code page that is, Wine records in system.reg each time
// a Windows program starts with another locale.
#ifndef PLATFORM_CODE_PAGE_H_
#define PLATFORM_CODE_PAGE_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/code_page.h"

namespace platform {

// The code page used when the prefix records none: Windows Cyrillic, in
// which the default fiscal labels are written.
inline constexpr int kDefaultAnsiCodePage = 1251;

// Raised for a code page this program cannot work in: one that is not a
// single-byte Windows ANSI code page, or one the system's iconv lacks.
class CodePageError : public std::runtime_error {
 public:
  CodePageError(int code_page, const std::string& message);
  int code_page() const { return code_page_; }

 private:
  int code_page_;
};

// Returns the ANSI code page the prefix last recorded: value ACP (a decimal
// string) of System\ControlSet001\Control\Nls\Codepage in <prefix>/system.reg,
// or of a real (not linked) System\CurrentControlSet key in older prefixes;
// names compared ignoring case. Returns kDefaultAnsiCodePage when the file,
// the key or a usable number is missing. Never throws for file contents.
int RecordedAnsiCodePage(const std::filesystem::path& prefix);

// A single-byte Windows code page (874, 1250 to 1258) converted by iconv.
// Each byte is decoded on its own, so one byte is always one character and
// positions count characters (iconv would otherwise join a base letter and
// a combining mark in 1255 and 1258). A character converts to a byte only
// when that byte decodes back to it: no best fit, no substitution.
// Thread-safe after construction.
class IconvCodePage : public conversion::CodePage {
 public:
  // Throws CodePageError when `code_page` is not one of the above or iconv
  // cannot convert it.
  explicit IconvCodePage(int code_page);

  int code_page() const { return code_page_; }

  std::optional<std::string> ToAnsi(std::u16string_view text) const override;
  std::u16string ToWide(std::string_view text) const override;

 private:
  int code_page_;
  std::array<char16_t, 256> to_wide_{};            // U+FFFD for an undefined byte
  std::vector<std::int16_t> to_ansi_ = std::vector<std::int16_t>(0x10000, -1);  // by character; -1: none
};

}  // namespace platform

#endif  // PLATFORM_CODE_PAGE_H_
