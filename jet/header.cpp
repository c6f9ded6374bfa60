#include "jet/header.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "jet/bytes.h"
#include "jet/errors.h"
#include "jet/rc4.h"

namespace jet {
namespace {

// Header page, Jet 4 (offsets from the start of the file):
//   0x00  1   page type, 0
//   0x04  15  engine name: "Standard Jet DB" / "Standard ACE DB" / "MSISAM Database"
//   0x14  1   version: 0 Jet 3, 1 Jet 4, 2 and up ACE
//   0x18  128 region masked with the RC4 stream of kHeaderMaskKey
//   0x3E  4   page-encoding key (0: pages are plain)
//   0x42  40  password, UTF-16LE, also XORed with the creation date below
//   0x72  8   creation date, a double; its integer part is the password mask
constexpr std::uint8_t kHeaderMaskKey[] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kEngineNameOffset = 4;
constexpr std::size_t kVersionOffset = 0x14;
constexpr std::size_t kIdentifySize = 0x20;

}  // namespace

DatabaseHeader ReadHeader(File& file) {
  const std::filesystem::path& path = file.path();
  std::vector<std::uint8_t> page(kJet4Format.page_size);
  const std::size_t got = file.ReadAt(0, page);
  if (got < kIdentifySize) throw CorruptDatabase(path, 0, "the file is too short to be a Jet database");
  const std::string_view name(reinterpret_cast<const char*>(page.data()) + kEngineNameOffset, 15);
  const std::uint8_t version = page[kVersionOffset];
  if (name == "MSISAM Database") throw Unsupported("'" + path.string() + "' is a Microsoft Money (MSISAM) file, which is not supported.");
  if (name == "Standard ACE DB" || (name == "Standard Jet DB" && version >= 2)) {
    throw Unsupported("'" + path.string() + "' is an Access 2007 or later (ACE, .accdb) database, which is not supported; only Access 2000-2003 (Jet 4) databases are.");
  }
  if (page[0] != 0 || name != "Standard Jet DB") throw CorruptDatabase(path, 0, "the file is not a Jet database");
  if (version == 0) {
    throw Unsupported("'" + path.string() + "' is an " + std::string(kJet3Format.name) + " database, which is not supported yet; only Access 2000-2003 (Jet 4) databases are.");
  }

  DatabaseHeader header;
  header.format = &kJet4Format;
  const FormatDescription& format = *header.format;
  if (got < format.page_size) throw CorruptDatabase(path, 0, "the file ends inside the header page");
  const std::uint64_t size = file.Size();
  if (size % format.page_size != 0) {
    throw CorruptDatabase(path, static_cast<std::uint32_t>(size / format.page_size), "the file ends inside a page (is it cut short?)");
  }
  if (size / format.page_size > 0xFFFFFF) throw CorruptDatabase(path, 0, "the file is larger than a Jet database can be");
  header.page_count = static_cast<std::uint32_t>(size / format.page_size);

  std::span<std::uint8_t> masked(page.data() + format.header_mask_offset, format.header_mask_size);
  ApplyRc4(kHeaderMaskKey, masked);

  std::memcpy(header.encoding_key.data(), page.data() + format.encoding_key_offset, 4);

  // The password is XORed with the creation date's day number as 4 LE bytes.
  double created = 0;
  std::memcpy(&created, page.data() + format.creation_date_offset, sizeof created);
  std::uint8_t date_mask[4] = {};
  if (std::isfinite(created) && created > -2147483648.0 && created < 2147483648.0) {
    Put32(date_mask, 0, static_cast<std::uint32_t>(static_cast<std::int32_t>(created)));
  }
  std::u16string password;
  bool any = false;
  for (std::size_t i = 0; i < format.password_size; i += 2) {
    const auto lo = static_cast<std::uint8_t>(page[format.password_offset + i] ^ date_mask[i % 4]);
    const auto hi = static_cast<std::uint8_t>(page[format.password_offset + i + 1] ^ date_mask[(i + 1) % 4]);
    if (lo != 0 || hi != 0) any = true;
    password.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  if (any) {
    password.resize(password.find(u'\0') == std::u16string::npos ? password.size() : password.find(u'\0'));
    header.password = password;
  }
  return header;
}

void CheckPassword(const DatabaseHeader& header, const std::u16string& given) {
  // A database without a password opens whatever password the description
  // carries: nothing in the file is protected by it, and refusing would only
  // lock the user out of their own unprotected data. Whether Jet itself does
  // the same is not documented.
  if (header.password && *header.password != given) throw std::runtime_error("Not a valid password.");
}

}  // namespace jet
