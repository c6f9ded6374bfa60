// An index page store over a whole database image in memory, for tests: it
// applies plans write by write and can stop after any of them, as a crash
// would.
#ifndef JET_TESTING_MEMORY_INDEX_STORE_H_
#define JET_TESTING_MEMORY_INDEX_STORE_H_

#include <cstdint>
#include <limits>
#include <vector>

#include "jet/errors.h"
#include "jet/index_tree.h"

namespace jet::testing {

class MemoryIndexStore : public IndexPageStore {
 public:
  explicit MemoryIndexStore(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::uint32_t page_count() const { return static_cast<std::uint32_t>(bytes_.size() / kIndexPageSize); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::size_t reads() const { return reads_; }

  std::vector<std::uint8_t> ReadPage(std::uint32_t page_number) override {
    if (page_number >= page_count()) Corrupt(page_number, "page beyond the end of the file");
    ++reads_;
    const auto at = bytes_.begin() + static_cast<std::ptrdiff_t>(std::size_t{page_number} * kIndexPageSize);
    return std::vector<std::uint8_t>(at, at + kIndexPageSize);
  }

  std::uint32_t ReservePage() override { return page_count() + reserved_++; }

  [[noreturn]] void Corrupt(std::uint32_t page_number, const std::string& detail) const override {
    throw CorruptDatabase("memory.mdb", page_number, detail);
  }

  void Write(const IndexPageWrite& write) {
    const std::size_t end = (std::size_t{write.page_number} + 1) * kIndexPageSize;
    if (bytes_.size() < end) bytes_.resize(end, 0);
    std::copy(write.bytes.begin(), write.bytes.end(),
              bytes_.begin() + static_cast<std::ptrdiff_t>(std::size_t{write.page_number} * kIndexPageSize));
  }

  // Applies `plan`: new pages are appended (zeroed), then before_row, one
  // step for the row itself, then after_row. Stops after `steps` steps;
  // returns the number of steps the plan has.
  std::size_t Apply(const IndexUpdatePlan& plan, std::size_t steps = std::numeric_limits<std::size_t>::max()) {
    for (std::uint32_t number : plan.new_pages) {
      if (bytes_.size() < (std::size_t{number} + 1) * kIndexPageSize) {
        bytes_.resize((std::size_t{number} + 1) * kIndexPageSize, 0);
      }
    }
    reserved_ = 0;
    std::size_t done = 0;
    for (const auto& write : plan.before_row) {
      if (done++ >= steps) return Steps(plan);
      Write(write);
    }
    if (done++ >= steps) return Steps(plan);
    for (const auto& write : plan.after_row) {
      if (done++ >= steps) return Steps(plan);
      Write(write);
    }
    return Steps(plan);
  }

  static std::size_t Steps(const IndexUpdatePlan& plan) { return plan.before_row.size() + 1 + plan.after_row.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t reserved_ = 0;
  std::size_t reads_ = 0;
};

}  // namespace jet::testing

#endif  // JET_TESTING_MEMORY_INDEX_STORE_H_
