#include "conversion/label_index.h"

namespace conversion {

std::size_t LabelIndex(std::string_view rate, std::string_view labels) {
  if (rate.empty() || rate.size() > labels.size()) return 0;
  const std::size_t at = labels.find(rate);
  return at == std::string_view::npos ? 0 : at + 1;
}

}  // namespace conversion
