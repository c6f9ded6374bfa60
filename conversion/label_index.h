// The conversion rule: where a rate label stands in the label string.
#ifndef CONVERSION_LABEL_INDEX_H_
#define CONVERSION_LABEL_INDEX_H_

#include <cstddef>
#include <string_view>

namespace conversion {

// Returns the 1-based position of the first place where `rate` occurs as a
// contiguous run of characters in `labels`, comparing bytes exactly; 0 when
// `rate` is empty, longer than `labels`, or occurs nowhere.
std::size_t LabelIndex(std::string_view rate, std::string_view labels);

}  // namespace conversion

#endif  // CONVERSION_LABEL_INDEX_H_
