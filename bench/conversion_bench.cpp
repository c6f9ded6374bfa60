// Times the conversion against what the hardware allows: a plain sequential
// read of the database file (the floor), the engine's scan of Artikli, and
// the whole run (RunConversion over ADOConnection/ADOTable with in-memory
// settings and the Windows-1251 code page) on a copy of the file, its final
// fsync timed apart. Each phase runs in a process of its own so that its
// peak RSS is its own, five times, the fastest run counting.
//
//   conversion_bench [ROWS...]            (default 100000 1000000)
//   conversion_bench --keep DIR [ROWS...] (databases kept in DIR for reuse)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bench/large_database.h"
#include "conversion/conversion_run.h"
#include "conversion/conversion_settings.h"
#include "conversion/testing/memory_settings_store.h"
#include "conversion/testing/recording_ui.h"
#include "jet/ado.h"
#include "jet/catalog.h"
#include "jet/database.h"
#include "jet/file.h"
#include "jet/row_codec.h"
#include "jet/table_cursor.h"
#include "platform/code_page.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
  double seconds = 0;
  double flush_seconds = 0;  // of `seconds`, spent in fsync
  std::uint64_t rows = 0;
  std::uint64_t pages_written = 0;
  double peak_rss_mib = 0;
};

// Reads the whole file in 1 MiB blocks and touches every page's first byte.
Result ReadFloor(const std::filesystem::path& path) {
  Result result;
  const auto start = Clock::now();
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string());
  std::vector<char> buffer(1 << 20);
  unsigned checksum = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0) throw std::runtime_error("cannot read " + path.string());
    if (n == 0) break;
    for (ssize_t at = 0; at < n; at += 4096) checksum += static_cast<unsigned char>(buffer[static_cast<std::size_t>(at)]);
  }
  ::close(fd);
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (checksum == 1) std::fputc(' ', stderr);  // keeps the loop
  return result;
}

// Walks Artikli with the engine's cursor and decodes the rate of every row.
Result Scan(const std::filesystem::path& path) {
  Result result;
  const auto start = Clock::now();
  jet::Database database(jet::OpenFile(path, jet::OpenMode::kReadOnly), std::u16string(bench::kLargeDatabasePassword));
  const auto entry = jet::FindTable(database.pages(), u"Artikli");
  if (!entry) throw std::runtime_error("no Artikli in " + path.string());
  const jet::TableDefinition table = jet::ReadTableDefinition(database.pages(), entry->definition_page);
  const jet::Column* rate = table.FindColumn(u"PoreskaStopa");
  jet::TableCursor cursor(database.pages(), table);
  std::size_t characters = 0;
  for (cursor.First(); !cursor.AtEnd(); cursor.Next()) {
    characters += jet::DecodeValue(database.pages(), cursor.view(), *rate).text.size();
    ++result.rows;
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (characters == 1) std::fputc(' ', stderr);
  return result;
}

// The database file, timing its flushes to disk.
class SyncTimingFile : public jet::File {
 public:
  SyncTimingFile(std::unique_ptr<jet::File> file, double& seconds) : file_(std::move(file)), seconds_(seconds) {}
  const std::filesystem::path& path() const override { return file_->path(); }
  std::uint64_t Size() override { return file_->Size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override { return file_->ReadAt(offset, buffer); }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override { file_->WriteAt(offset, data); }
  void Sync() override {
    const auto start = Clock::now();
    file_->Sync();
    seconds_ += std::chrono::duration<double>(Clock::now() - start).count();
  }
  bool writable() const override { return file_->writable(); }

 private:
  std::unique_ptr<jet::File> file_;
  double& seconds_;
};

// The whole run on `path` (a copy the caller made), flushed to disk.
Result Convert(const std::filesystem::path& path) {
  Result result;
  conversion::testing::MemorySettingsStore settings;
  settings.SetValue(conversion::kSettingsKeyPath, conversion::kDatabasePathValue, conversion::ValueType::kString,
                    path.string() + '\0');
  // The default labels in Windows-1251.
  settings.SetValue(std::string(conversion::kSettingsKeyPath) + "\\" + std::string(conversion::kFiscalPrinterSubKey),
                    conversion::kFiscalLabelsValue, conversion::ValueType::kString, "\xC0\xC3\xC4\x80\xC5\xC6\xC8\xA3\xCA" + std::string(1, '\0'));
  const platform::IconvCodePage code_page(1251);
  conversion::testing::RecordingUi ui;
  const auto start = Clock::now();
  jet::ADOConnection connection({}, [&](const std::filesystem::path& file) {
    return std::make_unique<SyncTimingFile>(jet::OpenFile(file, jet::OpenMode::kReadWrite), result.flush_seconds);
  });
  jet::ADOTable table(connection, std::string(conversion::kTableName));
  conversion::RunConversion({settings, code_page, connection, table, ui});
  result.pages_written = connection.database().pages().pages_written();
  table.Close();
  connection.Close();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

// Runs `phase` on `path` in a child process (this program again) and
// returns what it reports.
Result RunPhase(const char* self, const std::string& phase, const std::filesystem::path& path) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipe_fds[1], 1);
    ::close(pipe_fds[0]);
    ::execl(self, self, "--phase", phase.c_str(), path.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  ::close(pipe_fds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  Result result;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(out.c_str(), "%lf %lu %lu %lf %lf", &result.seconds, &result.rows, &result.pages_written, &result.peak_rss_mib,
                  &result.flush_seconds) != 5) {
    throw std::runtime_error("phase " + phase + " failed on " + path.string());
  }
  return result;
}

int ChildMain(const std::string& phase, const std::filesystem::path& path) {
  try {
    Result result = phase == "floor" ? ReadFloor(path) : phase == "scan" ? Scan(path) : Convert(path);
    result.peak_rss_mib = bench::PeakRssMiB();
    std::printf("%.6f %lu %lu %.2f %.6f\n", result.seconds, result.rows, result.pages_written, result.peak_rss_mib,
                result.flush_seconds);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", phase.c_str(), error.what());
    return 1;
  }
}

void PrintRow(std::uint32_t rows, const char* phase, const Result& result, bool per_row = true) {
  char rate[32] = "-";
  if (per_row) std::snprintf(rate, sizeof rate, "%.0f", rows / result.seconds);
  std::printf("%9u  %-10s %9.3f %12s %13lu %10.1f\n", rows, phase, result.seconds, rate, result.pages_written, result.peak_rss_mib);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "--phase") return ChildMain(argv[2], argv[3]);
  std::filesystem::path keep;
  int at = 1;
  if (argc > 2 && std::string_view(argv[1]) == "--keep") {
    keep = argv[2];
    at = 3;
  }
  std::vector<std::uint32_t> sizes;
  for (; at < argc; ++at) sizes.push_back(static_cast<std::uint32_t>(std::strtoul(argv[at], nullptr, 10)));
  if (sizes.empty()) sizes = {100'000, 1'000'000};

  try {
    std::filesystem::path dir = keep;
    if (dir.empty()) {
      std::string pattern = (std::filesystem::temp_directory_path() / "frn-bench-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
      dir = pattern;
    }
    std::printf("%9s  %-10s %9s %12s %13s %10s\n", "rows", "phase", "wall s", "rows/s", "pages written", "peak MiB");
    for (std::uint32_t rows : sizes) {
      const std::filesystem::path original = dir / ("artikli-" + std::to_string(rows) + ".mdb");
      if (!std::filesystem::exists(original)) {
        const auto start = Clock::now();
        bench::MakeLargeDatabase(FRN_LARGE_DB_TEMPLATE, original, rows);
        Result made;
        made.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        PrintRow(rows, "generate", made);
      }
      const std::filesystem::path copy = dir / "converted.mdb";
      // The first read brings the file into the page cache, so every phase
      // below reads from memory. Each phase runs kRuns times and the fastest
      // run counts: the cores are shared, and slower runs measure the
      // neighbours.
      RunPhase(argv[0], "floor", original);
      constexpr int kRuns = 5;
      Result floor, scan, convert;
      for (int run = 0; run < kRuns; ++run) {
        const Result f = RunPhase(argv[0], "floor", original);
        const Result s = RunPhase(argv[0], "scan", original);
        std::filesystem::copy_file(original, copy, std::filesystem::copy_options::overwrite_existing);
        const Result c = RunPhase(argv[0], "convert", copy);
        if (run == 0 || f.seconds < floor.seconds) floor = f;
        if (run == 0 || s.seconds < scan.seconds) scan = s;
        if (run == 0 || c.seconds - c.flush_seconds < convert.seconds - convert.flush_seconds) convert = c;
      }
      std::filesystem::remove(copy);
      PrintRow(rows, "floor", floor);
      PrintRow(rows, "scan", scan);
      // The run's own work, and the fsync that ends it (the disk's share).
      Result work = convert;
      work.seconds -= convert.flush_seconds;
      Result flush = convert;
      flush.seconds = convert.flush_seconds;
      PrintRow(rows, "conversion", work);
      PrintRow(rows, "+ flush", flush, false);
      std::printf("%9s  scan/floor %.1fx, conversion/scan %.1fx (with the flush %.1fx), ns per row: scan %.0f, conversion %.0f\n",
                  "", scan.seconds / floor.seconds, work.seconds / scan.seconds, convert.seconds / scan.seconds,
                  scan.seconds * 1e9 / rows, work.seconds * 1e9 / rows);
    }
    if (keep.empty()) std::filesystem::remove_all(dir);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "conversion_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
