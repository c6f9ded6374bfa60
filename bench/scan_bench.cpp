// Measures walking the Artikli table of a large database and converting it,
// beside a plain sequential read of the same file (the floor) and mdb-export
// of the same table. Each pass runs in a child process so that its peak RSS
// is its own.
//
//   scan_bench [FILE]   (default: the 50,000-row fixture artikli-many.mdb)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/large_database.h"
#include "conversion/conversion_settings.h"
#include "conversion/label_index.h"
#include "conversion/testing/windows1251_code_page.h"
#include "jet/ado.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
  double seconds = 0;
  long long rows = 0;
  long long pages_written = 0;
  double flush_seconds = 0;
};

Result Floor(const std::filesystem::path& path) {
  const auto start = Clock::now();
  const int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buffer(1 << 16);
  long long total = 0;
  for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
    for (ssize_t i = 0; i < n; i += 4096) total += buffer[static_cast<std::size_t>(i)];
  }
  ::close(fd);
  Result result;
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.rows = total == 42 ? 1 : 0;  // keeps the loop
  return result;
}

Result Scan(const std::filesystem::path& path) {
  const auto start = Clock::now();
  jet::ADOConnection connection;
  connection.SetConnectionString(bench::ConnectionDescription(path));
  connection.Open();
  jet::ADOTable table(connection, "Artikli");
  table.Open();
  Result result;
  std::size_t characters = 0;
  for (table.First(); !table.AtEnd(); table.Next()) {
    characters += table.FieldByName("PoreskaStopa").AsText().size();
    ++result.rows;
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (characters == 0) std::fputs("no rates read\n", stderr);
  return result;
}

Result Convert(const std::filesystem::path& path) {
  const auto start = Clock::now();
  jet::ADOConnection connection;
  connection.SetConnectionString(bench::ConnectionDescription(path));
  connection.Open();
  jet::ADOTable table(connection, "Artikli");
  table.Open();
  conversion::testing::Windows1251CodePage code_page;
  const std::string labels(conversion::kDefaultFiscalLabels);
  Result result;
  for (table.First(); !table.AtEnd(); table.Next()) {
    ++result.rows;
    try {
      const auto rate = code_page.ToAnsi(table.FieldByName("PoreskaStopa").AsText());
      if (!rate) continue;
      const std::size_t position = conversion::LabelIndex(*rate, labels);
      if (position == 0) continue;
      table.Edit();
      const std::string digits = std::to_string(position - 1);
      table.FieldByName("PoreskaStopa").SetText(std::u16string(digits.begin(), digits.end()));
      table.Post();
    } catch (const std::exception&) {
      table.Cancel();
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.pages_written = static_cast<long long>(connection.database().pages().pages_written());
  const auto flush_start = Clock::now();
  connection.Close();
  result.flush_seconds = std::chrono::duration<double>(Clock::now() - flush_start).count();
  return result;
}

// Runs `work` in a child; returns its result and peak RSS in KiB.
std::pair<Result, long> InChild(const std::function<Result()>& work) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) std::exit(1);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    Result result;
    try {
      result = work();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s\n", error.what());
      ::_exit(1);
    }
    if (::write(pipe_fds[1], &result, sizeof result) != sizeof result) ::_exit(1);
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  Result result;
  if (::read(pipe_fds[0], &result, sizeof result) != sizeof result) result = Result{};
  ::close(pipe_fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  return {result, usage.ru_maxrss};
}

std::pair<Result, long> MdbExport(const std::filesystem::path& path) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_fd = ::open("/dev/null", O_WRONLY);
    ::dup2(null_fd, 1);
    ::execlp("mdb-export", "mdb-export", path.c_str(), "Artikli", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  Result result;
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result.seconds = -1;
  return {result, usage.ru_maxrss};
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path source = argc > 1 ? argv[1] : std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-many.mdb";
  const std::filesystem::path scratch = std::filesystem::temp_directory_path() / ("scan_bench_" + std::to_string(::getpid()) + ".mdb");
  constexpr int kRounds = 5;
  std::filesystem::copy_file(source, scratch, std::filesystem::copy_options::overwrite_existing);
  long long rows = 0;
  struct Best {
    double seconds = 1e9;
    long rss = 0;
    Result result;
  };
  Best floor_best, scan_best, export_best, convert_best;
  auto keep = [](Best& best, const std::pair<Result, long>& run) {
    if (run.first.seconds >= 0 && run.first.seconds < best.seconds) best = {run.first.seconds, run.second, run.first};
  };
  for (int round = 0; round < kRounds; ++round) {
    keep(floor_best, InChild([&] { return Floor(scratch); }));
    const auto scan = InChild([&] { return Scan(scratch); });
    rows = scan.first.rows;
    keep(scan_best, scan);
    keep(export_best, MdbExport(scratch));
    std::filesystem::copy_file(source, scratch, std::filesystem::copy_options::overwrite_existing);
    keep(convert_best, InChild([&] { return Convert(scratch); }));
    std::filesystem::copy_file(source, scratch, std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::remove(scratch);
  const double size_mib = static_cast<double>(std::filesystem::file_size(source)) / (1 << 20);
  std::printf("file %s: %.1f MiB, %lld rows; best of %d runs\n", source.filename().c_str(), size_mib, rows, kRounds);
  std::printf("%-34s %10s %14s %12s\n", "pass", "ms", "rows/s", "peak RSS KiB");
  auto line = [&](const char* name, const Best& best) {
    std::printf("%-34s %10.1f %14.0f %12ld\n", name, best.seconds * 1000, static_cast<double>(rows) / best.seconds, best.rss);
  };
  line("sequential read (floor)", floor_best);
  line("scan: ADOTable, PoreskaStopa", scan_best);
  line("mdb-export Artikli", export_best);
  line("conversion (before final flush)", convert_best);
  std::printf("conversion: %lld pages written, final flush %.1f ms\n", convert_best.result.pages_written,
              convert_best.result.flush_seconds * 1000);
  std::printf("scan / floor: %.2fx   conversion / scan: %.2fx\n", scan_best.seconds / floor_best.seconds,
              convert_best.seconds / scan_best.seconds);
  return 0;
}
