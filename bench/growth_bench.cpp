// Times posts that grow every row of Artikli so that each moves to another
// page: the engine's move path with new data pages and growing usage maps.
// Each database is a copy; the time includes the close and its fsync.
//
//   growth_bench                 (artikli-many from the fixtures, then a
//                                 generated database of 200,000 rows)
//   growth_bench ROWS...         (generated databases of ROWS rows)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/large_database.h"
#include "jet/ado.h"

namespace {

using Clock = std::chrono::steady_clock;

// Gives Naziv of every row 40 Cyrillic letters; prints the figures.
void Grow(const std::string& name, const std::filesystem::path& path) {
  const std::uintmax_t pages_before = std::filesystem::file_size(path) / 4096;
  const std::u16string long_name(40, u'\u0428');
  const auto start = Clock::now();
  std::uint64_t rows = 0;
  {
    jet::ADOConnection connection;
    connection.SetConnectionString(bench::ConnectionDescription(path));
    connection.Open();
    jet::ADOTable table(connection, "Artikli");
    table.Open();
    for (table.First(); !table.AtEnd(); table.Next()) {
      table.Edit();
      table.FieldByName("Naziv").SetText(long_name);
      table.Post();
      ++rows;
    }
    connection.Close();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const std::uintmax_t pages_after = std::filesystem::file_size(path) / 4096;
  std::printf("%-22s %9llu %8.2f %10.0f %8ju %8ju %9.1f\n", name.c_str(), static_cast<unsigned long long>(rows), seconds,
              static_cast<double>(rows) / seconds, pages_before, pages_after, bench::PeakRssMiB());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::uint32_t> sizes;
  for (int at = 1; at < argc; ++at) sizes.push_back(static_cast<std::uint32_t>(std::strtoul(argv[at], nullptr, 10)));
  try {
    std::string pattern = (std::filesystem::temp_directory_path() / "frn-growth-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    const std::filesystem::path dir = pattern;
    std::printf("%-22s %9s %8s %10s %8s %8s %9s\n", "database", "rows", "wall s", "rows/s", "pages", "after", "peak MiB");
    if (sizes.empty()) {
      const std::filesystem::path copy = dir / "artikli-many.mdb";
      std::filesystem::copy_file(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-many.mdb", copy);
      Grow("artikli-many", copy);
      std::filesystem::remove(copy);
      sizes = {200'000};
    }
    for (std::uint32_t rows : sizes) {
      const std::filesystem::path file = dir / ("generated-" + std::to_string(rows) + ".mdb");
      bench::MakeLargeDatabase(FRN_LARGE_DB_TEMPLATE, file, rows);
      Grow("generated " + std::to_string(rows), file);
      std::filesystem::remove(file);
    }
    std::filesystem::remove_all(dir);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "growth_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
