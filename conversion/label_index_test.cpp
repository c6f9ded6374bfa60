#include "conversion/label_index.h"

#include <gtest/gtest.h>

#include <string>

namespace conversion {
namespace {

// The default labels, А Г Д Ђ Е Ж И Ј К in Windows-1251.
const std::string kLabels = "\xC0\xC3\xC4\x80\xC5\xC6\xC8\xA3\xCA";

struct Case {
  const char* what;
  std::string rate;
  std::string labels;
  std::size_t expected;
};

TEST(LabelIndexTest, FollowsTheRule) {
  const Case cases[] = {
      {"first label", "\xC0", kLabels, 1},
      {"second label", "\xC3", kLabels, 2},
      {"last label", "\xCA", kLabels, 9},
      {"two letters: position of the first", "\xC3\xC4", kLabels, 2},
      {"whole label string", kLabels, kLabels, 1},
      {"letters not contiguous", "\xCA\xC0", kLabels, 0},
      {"not a label (Б)", "\xC1", kLabels, 0},
      {"lower-case variant (а)", "\xE0", kLabels, 0},
      {"trailing blank", "\xC0 ", kLabels, 0},
      {"leading blank", " \xC0", kLabels, 0},
      {"digit", "0", kLabels, 0},
      {"empty rate", "", kLabels, 0},
      {"empty labels", "\xC0", "", 0},
      {"both empty", "", "", 0},
      {"longer than the labels", kLabels + "\xC0", kLabels, 0},
      {"first of a repeated label", "b", "abcb", 2},
      {"eleventh label", "k", "abcdefghijk", 11},
      {"NUL is an ordinary byte", std::string("\0", 1), std::string("a\0", 2), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LabelIndex(c.rate, c.labels), c.expected);
  }
}

}  // namespace
}  // namespace conversion
