// make-large-db: writes an Artikli database of N generated rows for
// benchmarks, from the empty template kept with the test databases.
//
//   make-large-db [--template FILE] ROWS OUTPUT
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "bench/large_database.h"

int main(int argc, char** argv) {
  std::filesystem::path template_path = FRN_LARGE_DB_TEMPLATE;
  int at = 1;
  if (argc > 2 && std::string_view(argv[1]) == "--template") {
    template_path = argv[2];
    at = 3;
  }
  if (argc - at != 2) {
    std::fprintf(stderr, "usage: make-large-db [--template FILE] ROWS OUTPUT\n");
    return 2;
  }
  const std::string_view count_text = argv[at];
  std::uint32_t rows = 0;
  const auto [end, parse_error] = std::from_chars(count_text.data(), count_text.data() + count_text.size(), rows);
  if (parse_error != std::errc() || end != count_text.data() + count_text.size()) {
    std::fprintf(stderr, "make-large-db: '%s' is not a number of rows\n", argv[at]);
    return 2;
  }
  try {
    const bench::LargeDatabaseSummary summary = bench::MakeLargeDatabase(template_path, argv[at + 1], rows);
    std::printf("%u rows, %u data pages, %u index pages, %u pages (%.1f MiB)\n", summary.rows, summary.data_pages,
                summary.index_pages, summary.page_count, summary.page_count * 4096.0 / (1024 * 1024));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make-large-db: %s\n", error.what());
    return 1;
  }
  return 0;
}
