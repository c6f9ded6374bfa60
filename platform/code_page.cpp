#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/registry_file.h"
#include "platform/wide_text.h"

namespace platform {

namespace {

constexpr char16_t kUndefined = 0xFFFD;
// system.reg of a large prefix is a few MiB; anything far beyond is not one.
constexpr std::uintmax_t kMaxSystemRegSize = 256u << 20;

bool IsSingleByteAnsiCodePage(int code_page) {
  return code_page == 874 || (code_page >= 1250 && code_page <= 1258);
}

// An iconv descriptor, closed when it goes out of scope.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(handle_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

// Returns the value `name` of the key `path` when it is a string holding a
// decimal code page.
std::optional<int> ReadCodePageValue(const RegistryKey& root, std::initializer_list<std::u16string_view> path,
                                     std::u16string_view name) {
  const RegistryKey* key = &root;
  for (std::u16string_view level : path) {
    key = key->FindSubKey(level);
    if (key == nullptr || key->link) return std::nullopt;
  }
  const RegistryValue* value = key->FindValue(name);
  if (value == nullptr || (value->type != 1 && value->type != 2)) return std::nullopt;
  // Encoding: the stored UTF-16LE digits, up to the first NUL.
  int code_page = 0;
  bool any_digit = false;
  for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(value->data[i]) |
                                            (static_cast<unsigned char>(value->data[i + 1]) << 8));
    if (unit == 0) break;
    if (unit < u'0' || unit > u'9') return std::nullopt;
    code_page = code_page * 10 + (unit - u'0');
    if (code_page > 65535) return std::nullopt;
    any_digit = true;
  }
  if (!any_digit || code_page == 0) return std::nullopt;
  return code_page;
}

}  // namespace

CodePageError::CodePageError(int code_page, const std::string& message)
    : std::runtime_error(message), code_page_(code_page) {}

int RecordedAnsiCodePage(const std::filesystem::path& prefix) {
  const std::filesystem::path file_path = prefix / "system.reg";
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file_path, error);
  if (error || size > kMaxSystemRegSize) return kDefaultAnsiCodePage;
  std::ifstream stream(file_path, std::ios::binary);
  if (!stream) return kDefaultAnsiCodePage;
  std::ostringstream contents;
  contents << stream.rdbuf();
  const RegistryFile file = ParseRegistryFile(contents.str());

  // Current Wine keeps CurrentControlSet as a link to ControlSet001.
  if (std::optional<int> code_page =
          ReadCodePageValue(file.root, {u"System", u"ControlSet001", u"Control", u"Nls", u"Codepage"}, u"ACP")) {
    return *code_page;
  }
  if (std::optional<int> code_page =
          ReadCodePageValue(file.root, {u"System", u"CurrentControlSet", u"Control", u"Nls", u"Codepage"}, u"ACP")) {
    return *code_page;
  }
  return kDefaultAnsiCodePage;
}

IconvCodePage::IconvCodePage(int code_page) : code_page_(code_page) {
  const std::string number = std::to_string(code_page);
  if (!IsSingleByteAnsiCodePage(code_page)) {
    throw CodePageError(code_page, "The ANSI code page " + number +
                                       " is not a single-byte Windows code page; this program needs one "
                                       "(874 or 1250 to 1258)");
  }
  const std::string name = "CP" + number;
  IconvHandle decoder("UTF-16LE", name.c_str());
  if (!decoder.ok()) {
    throw CodePageError(code_page, "The ANSI code page " + number + " is not available in this system's iconv");
  }
  // Each byte on its own, with the state reset and flushed around it.
  for (int byte = 0; byte < 256; ++byte) {
    iconv(decoder.get(), nullptr, nullptr, nullptr, nullptr);
    char input = static_cast<char>(byte);
    char output[16];
    char* in = &input;
    char* out = output;
    std::size_t in_left = 1;
    std::size_t out_left = sizeof output;
    const std::size_t converted = iconv(decoder.get(), &in, &in_left, &out, &out_left);
    if (converted != static_cast<std::size_t>(-1)) {
      iconv(decoder.get(), nullptr, nullptr, &out, &out_left);
    }
    const std::size_t produced = sizeof output - out_left;
    char16_t unit = kUndefined;
    if (converted != static_cast<std::size_t>(-1) && in_left == 0 && produced == 2) {
      unit = static_cast<char16_t>(static_cast<unsigned char>(output[0]) |
                                   (static_cast<unsigned char>(output[1]) << 8));
    }
    to_wide_[static_cast<std::size_t>(byte)] = unit;
    // Where two bytes give one character, the lower byte is written back.
    if (unit != kUndefined && to_ansi_[unit] < 0) to_ansi_[unit] = static_cast<std::int16_t>(byte);
  }
  if (to_wide_[0] != 0 || to_wide_['A'] != u'A') {
    throw CodePageError(code_page, "The ANSI code page " + number + " does not convert correctly in this system's iconv");
  }
}

std::optional<std::string> IconvCodePage::ToAnsi(std::u16string_view text) const {
  std::string ansi;
  ansi.reserve(text.size());
  for (char16_t unit : text) {
    const std::int16_t byte = to_ansi_[unit];
    if (byte < 0) return std::nullopt;
    ansi += static_cast<char>(byte);
  }
  return ansi;
}

std::u16string IconvCodePage::ToWide(std::string_view text) const {
  std::u16string wide;
  wide.reserve(text.size());
  for (char byte : text) wide += to_wide_[static_cast<unsigned char>(byte)];
  return wide;
}

}  // namespace platform
