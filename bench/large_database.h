// Large Artikli databases for benchmarks and tests: rows are made up from
// their number alone (so a reader can check them without a copy), packed
// into data pages, given a primary-key index on Sifra and usage maps that
// cover every page, on top of a small template database that holds an empty
// Artikli table.
//
// The pages here are laid out by this generator, far faster than posting
// rows one by one, and appended through the engine's PageFile. The template must hold Artikli with no rows and
// exactly one real index, on the LONG column Sifra, whose root page is a
// leaf; tests/fixtures/artikli/artikli-empty.mdb is such a file.
#ifndef BENCH_LARGE_DATABASE_H_
#define BENCH_LARGE_DATABASE_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace bench {

inline constexpr const char16_t* kLargeDatabasePassword = u"korpamilev";

// Returns the connection description of `path` with kLargeDatabasePassword.
std::u16string ConnectionDescription(const std::filesystem::path& path);

// Returns this process's peak resident memory (VmHWM) in MiB, 0 when unknown.
double PeakRssMiB();
// The printer's default labels, UTF-16.
inline constexpr std::u16string_view kDefaultLabels = u"\u0410\u0413\u0414\u0402\u0415\u0416\u0418\u0408\u041A";

// One row of Artikli as the generator writes it.
struct ArtikliRow {
  std::int32_t sifra = 0;
  std::u16string naziv;
  double cena = 0;
  std::optional<std::u16string> poreska_stopa;  // nullopt: NULL
  std::u16string barkod;
};

// Returns row `number` (0-based) of a generated table: Sifra is number + 1;
// nine in ten rates are one of the default labels, the rest are values the
// conversion must leave alone (NULL, "", a digit, a lower-case label, a
// label with a trailing blank, a letter not among the labels) or a
// two-label value.
ArtikliRow MakeArtikliRow(std::uint32_t number);

// Returns the rate the conversion leaves in `row` with the default labels.
std::optional<std::u16string> ConvertedRate(const ArtikliRow& row);

struct LargeDatabaseSummary {
  std::uint32_t rows = 0;
  std::uint32_t data_pages = 0;
  std::uint32_t index_pages = 0;  // leaves and nodes, the root included
  std::uint32_t page_count = 0;   // of the whole file
};

// Writes a database of `rows` rows (at most kMaxLargeDatabaseRows) at
// `output`, built from `template_path`. The file is assembled beside
// `output` and renamed into place only when complete, so a failure leaves
// no partial file. Throws std::runtime_error naming the template when it is
// not a suitable one, and the engine's errors (IoError, CorruptDatabase).
LargeDatabaseSummary MakeLargeDatabase(const std::filesystem::path& template_path, const std::filesystem::path& output,
                                       std::uint32_t rows);

inline constexpr std::uint32_t kMaxLargeDatabaseRows = 10'000'000;

}  // namespace bench

#endif  // BENCH_LARGE_DATABASE_H_
