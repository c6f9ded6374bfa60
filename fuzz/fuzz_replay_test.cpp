// Replays saved inputs through a fuzz target in the normal test suite: every
// input that once made a target fail (under tests/fixtures/fuzz-regressions/
// TARGET) and the target's seed corpus. A crash fails the test run; the
// sanitizer build reports memory errors on them as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> Inputs() {
  std::vector<std::filesystem::path> inputs;
  for (const char* dir : {FRN_FUZZ_REGRESSIONS, FRN_FUZZ_SEEDS}) {
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file() && entry.path().extension() != ".json" && entry.path().filename() != "README.md") {
        inputs.push_back(entry.path());
      }
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

TEST(FuzzReplayTest, SavedInputsPassTheTarget) {
  const std::vector<std::filesystem::path> inputs = Inputs();
  ASSERT_FALSE(inputs.empty());
  for (const std::filesystem::path& input : inputs) {
    SCOPED_TRACE(input.string());
    std::ifstream in(input, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  }
}

}  // namespace
