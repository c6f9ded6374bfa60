// Times the Wine-prefix layer on a large user.reg: reading it, creating the
// settings key in it, the code-page conversion the run does for every
// value, and mapping the database path.
//
//   platform_bench [keys]    (default 50000 keys, about 15 MB of registry text)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "conversion/conversion_settings.h"
#include "platform/code_page.h"
#include "platform/registry_file.h"
#include "platform/wine_prefix.h"
#include "platform/wine_registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A user.reg shaped like Wine's, with `keys` keys of four values each.
std::string MakeUserReg(int keys) {
  std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
  char line[256];
  for (int i = 0; i < keys; ++i) {
    std::snprintf(line, sizeof line, "\n[Software\\\\Vendor%03d\\\\Product %05d] 1718000000\n#time=1dabafd4a7c4000\n",
                  i % 500, i);
    text += line;
    text += "\"Name\"=\"\\x41a\\x430\\x441\\x430 \\x431\\x440\\x43e\\x458 " + std::to_string(i) + "\"\n";
    text += "\"Path\"=str(2):\"%ProgramFiles%\\\\Vendor\\\\file.dat\"\n";
    text += "\"Count\"=dword:0000002a\n";
    text += "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
            "  16,17,18,19,1a,1b,1c,1d,1e,1f\n";
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int keys = argc > 1 ? std::atoi(argv[1]) : 50000;
  const std::filesystem::path prefix = std::filesystem::temp_directory_path() / "frn-platform-bench";
  std::filesystem::remove_all(prefix);
  std::filesystem::create_directories(prefix);
  const std::string text = MakeUserReg(keys);
  std::ofstream(prefix / "user.reg", std::ios::binary) << text;
  std::printf("user.reg: %d keys, %.1f MB\n", keys, static_cast<double>(text.size()) / 1e6);

  auto start = Clock::now();
  const platform::RegistryFile parsed = platform::ParseRegistryFile(text);
  const double parse_ms = MillisecondsSince(start);
  std::printf("parse:                          %8.1f ms  (%.0f MB/s, %zu sections)\n", parse_ms,
              static_cast<double>(text.size()) / 1e3 / parse_ms, parsed.sections.size());

  start = Clock::now();
  const platform::IconvCodePage code_page(1251);
  std::printf("IconvCodePage(1251):            %8.3f ms\n", MillisecondsSince(start));

  start = Clock::now();
  conversion::ConversionSettings settings;
  {
    platform::WineRegistryStore store(prefix, code_page);
    settings = conversion::ReadConversionSettings(store);  // creates the key: a full rewrite
  }
  std::printf("read settings, creating the key: %8.1f ms\n", MillisecondsSince(start));

  start = Clock::now();
  {
    platform::WineRegistryStore store(prefix, code_page);
    settings = conversion::ReadConversionSettings(store);  // the key exists now
  }
  std::printf("read settings, key present:     %8.1f ms\n", MillisecondsSince(start));

  const std::u16string value = u"\u0413";
  constexpr int kConversions = 1000000;
  std::size_t matched = 0;
  start = Clock::now();
  for (int i = 0; i < kConversions; ++i) matched += code_page.ToAnsi(value).has_value() ? 1 : 0;
  const double to_ansi_ms = MillisecondsSince(start);
  std::printf("ToAnsi, 1 character:            %8.1f ns each (%zu)\n", to_ansi_ms * 1e6 / kConversions, matched);

  std::filesystem::create_directories(prefix / "drive_c" / "Program Files" / "Zarvel" / "Trelon F");
  std::filesystem::create_directories(prefix / "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
  constexpr int kMappings = 10000;
  start = Clock::now();
  for (int i = 0; i < kMappings; ++i) {
    platform::MapDosPath(prefix, u"c:\\program files\\zarvel\\trelon f\\podaci.dtb");
  }
  std::printf("MapDosPath, case-insensitive:   %8.1f us each\n", MillisecondsSince(start) * 1e3 / kMappings);

  std::filesystem::remove_all(prefix);
  return 0;
}
