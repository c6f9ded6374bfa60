// libFuzzer target: any bytes as user.reg. Reading must never crash, hang or
// read out of bounds, and adding the settings key must give back the same
// keys plus the new one, or be refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const platform::RegistryFile file = platform::ParseRegistryFile(text);
  if (!file.valid) return 0;
  const std::u16string path[] = {u"Software", u"Zarvel", u"Trelon 3"};
  std::string appended(text);
  appended += "\n";
  appended += platform::FormatEmptyKeySection(path, {}, file.line_end);
  const platform::RegistryFile after = platform::ParseRegistryFile(appended);
  // Only a check that comparison itself is safe on any tree: the store
  // refuses to write when it is false.
  static_cast<void>(platform::SameKeysPlusPath(&file.root, after.root, path));
  return 0;
}
