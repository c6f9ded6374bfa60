#include "bench/large_database.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "jet/bytes.h"
#include "jet/catalog.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/errors.h"
#include "jet/file.h"
#include "jet/index_page.h"
#include "jet/row_codec.h"
#include "jet/table_definition.h"
#include "jet/usage_map.h"

namespace bench {

std::u16string ConnectionDescription(const std::filesystem::path& path) {
  const std::string text = path.string();
  return u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + std::u16string(text.begin(), text.end()) +
         u";Jet OLEDB:Database Password=" + kLargeDatabasePassword + u";";
}

double PeakRssMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

namespace {

constexpr std::uint32_t kPageSize = 4096;
constexpr std::size_t kDataPageHeader = 14;
constexpr std::size_t kMaxRowsPerPage = 255;

// Index pages, Jet 4: as jet/index_page.h lays them out.
using jet::kIndexEntriesOffset;
constexpr std::uint8_t kIndexNodeType = jet::kIndexNodePage;
constexpr std::uint8_t kIndexLeafType = jet::kIndexLeafPage;
constexpr std::size_t kIndexMaskOffset = jet::kIndexEntryMaskOffset;
constexpr std::size_t kIndexCapacity = jet::kIndexPageCapacity;
constexpr std::size_t kKeySize = 5;                   // 7F + 4 bytes of a LONG
constexpr std::size_t kLeafEntrySize = kKeySize + 4;  // + 3-byte page, row
constexpr std::size_t kNodeEntrySize = kLeafEntrySize + 4;  // + child page
constexpr std::size_t kEntriesPerLeaf = kIndexCapacity / kLeafEntrySize;
// A node lists all children but the last as entries; the last is its tail.
constexpr std::size_t kChildrenPerNode = kIndexCapacity / kNodeEntrySize + 1;

constexpr std::uint8_t kMapPageType = 0x05;
constexpr std::size_t kMapPageBitmapOffset = 4;
constexpr std::uint32_t kBitsPerMapPage = (kPageSize - kMapPageBitmapOffset) * 8;
constexpr std::uint32_t kGlobalMapPage = 1;

std::uint64_t Mix(std::uint64_t x) {
  // splitmix64: a cheap, well-spread hash of the row number.
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::u16string Digits(std::uint64_t value, std::size_t width = 0) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  while (text.size() < width) text.insert(text.begin(), u'0');
  return text;
}

[[noreturn]] void BadTemplate(const std::filesystem::path& path, const std::string& why) {
  throw std::runtime_error("The template '" + path.string() + "' cannot be used: " + why + ".");
}

// What the generator needs to know of the template's Artikli table.
struct Layout {
  jet::TableDefinition table;
  const jet::Column* sifra = nullptr;
  const jet::Column* naziv = nullptr;
  const jet::Column* cena = nullptr;
  const jet::Column* rate = nullptr;
  const jet::Column* barkod = nullptr;
  std::size_t fixed_size = 0;  // bytes of the fixed area
  std::size_t var_slots = 0;
  jet::RowPointer index_map;
  std::uint32_t index_root = 0;
  std::size_t unique_count_offset = 0;  // in the definition page
};

Layout ReadLayout(jet::PageFile& pages, const std::filesystem::path& path) {
  const std::optional<jet::CatalogEntry> entry = jet::FindTable(pages, u"Artikli");
  if (!entry) BadTemplate(path, "it has no table Artikli");
  Layout layout;
  layout.table = jet::ReadTableDefinition(pages, entry->definition_page);
  const jet::TableDefinition& table = layout.table;
  auto need = [&](std::u16string_view name, jet::ColumnType type) {
    const jet::Column* column = table.FindColumn(name);
    if (!column || column->column_type() != type) {
      BadTemplate(path, "Artikli lacks the column " + std::string(name.begin(), name.end()) + " of the expected type");
    }
    return column;
  };
  layout.sifra = need(u"Sifra", jet::ColumnType::kLong);
  layout.naziv = need(u"Naziv", jet::ColumnType::kText);
  layout.cena = need(u"Cena", jet::ColumnType::kDouble);
  layout.rate = need(u"PoreskaStopa", jet::ColumnType::kText);
  layout.barkod = need(u"Barkod", jet::ColumnType::kText);
  if (table.row_count != 0 || jet::UsageMap(pages, table.owned_map).NextPage(0)) BadTemplate(path, "Artikli is not empty");
  if (table.real_indexes.size() != 1 || table.real_indexes[0].columns.size() != 1 ||
      table.real_indexes[0].columns[0].number != layout.sifra->number) {
    BadTemplate(path, "Artikli must have exactly one index, on Sifra");
  }
  for (const jet::Column& column : table.columns) {
    if (column.fixed()) {
      layout.fixed_size = std::max<std::size_t>(layout.fixed_size, column.fixed_offset + column.length);
    } else {
      layout.var_slots = std::max<std::size_t>(layout.var_slots, column.var_index + 1u);
    }
  }

  // The generator rewrites counts on the definition's first page.
  const jet::PageRef page = pages.Read(table.page);
  const jet::FormatDescription& format = pages.format();
  if (jet::Get32(*page, format.tdef_next_page_offset) != 0) BadTemplate(path, "Artikli's definition spans several pages");
  layout.index_map = table.real_indexes[0].owned_map;
  layout.index_root = table.real_indexes[0].root_page;
  layout.unique_count_offset = format.tdef_real_index_block_offset + format.real_index_fields.unique_count;
  const jet::PageRef root = pages.Read(layout.index_root);
  if ((*root)[0] != kIndexLeafType || jet::Get16(*root, 2) != kIndexCapacity) BadTemplate(path, "the index on Sifra is not empty");
  return layout;
}

// Builds one row of Artikli in Jet 4's layout (see jet/row_codec.h).
class RowBuilder {
 public:
  explicit RowBuilder(const Layout& layout) : layout_(layout) {}

  const std::vector<std::uint8_t>& Build(const ArtikliRow& row) {
    const jet::TableDefinition& table = layout_.table;
    const std::size_t columns = table.max_columns;
    const std::size_t mask_size = (columns + 7) / 8;
    bytes_.assign(2 + layout_.fixed_size, 0);
    jet::Put16(bytes_, 0, static_cast<std::uint32_t>(columns));
    mask_.assign(mask_size, 0);

    jet::Put32(bytes_, 2 + layout_.sifra->fixed_offset, static_cast<std::uint32_t>(row.sifra));
    SetPresent(*layout_.sifra);
    std::uint64_t cena_bits;
    static_assert(sizeof cena_bits == sizeof row.cena);
    __builtin_memcpy(&cena_bits, &row.cena, sizeof cena_bits);
    jet::Put32(bytes_, 2 + layout_.cena->fixed_offset, static_cast<std::uint32_t>(cena_bits));
    jet::Put32(bytes_, 6 + layout_.cena->fixed_offset, static_cast<std::uint32_t>(cena_bits >> 32));
    SetPresent(*layout_.cena);

    std::array<std::optional<std::u16string_view>, 16> vars{};
    if (layout_.var_slots > vars.size()) throw std::runtime_error("Artikli has too many variable-length columns");
    vars[layout_.naziv->var_index] = row.naziv;
    if (row.poreska_stopa) vars[layout_.rate->var_index] = *row.poreska_stopa;
    vars[layout_.barkod->var_index] = row.barkod;
    starts_.clear();
    for (std::size_t slot = 0; slot < layout_.var_slots; ++slot) {
      starts_.push_back(bytes_.size());
      if (!vars[slot]) continue;
      const jet::Column& column = *VarColumn(slot);
      // Encoding: UTF-16 -> Jet text bytes (compressed where Jet would).
      const std::vector<std::uint8_t> text = jet::EncodeText(*vars[slot], column);
      bytes_.insert(bytes_.end(), text.begin(), text.end());
      SetPresent(column);
    }
    const std::size_t eod = bytes_.size();
    bytes_.resize(eod + 2 + 2 * layout_.var_slots + 2 + mask_size, 0);
    jet::Put16(bytes_, eod, static_cast<std::uint32_t>(eod));
    for (std::size_t slot = 0; slot < layout_.var_slots; ++slot) {
      jet::Put16(bytes_, eod + 2 + 2 * (layout_.var_slots - 1 - slot), static_cast<std::uint32_t>(starts_[slot]));
    }
    jet::Put16(bytes_, eod + 2 + 2 * layout_.var_slots, static_cast<std::uint32_t>(layout_.var_slots));
    std::copy(mask_.begin(), mask_.end(), bytes_.end() - static_cast<std::ptrdiff_t>(mask_size));
    return bytes_;
  }

 private:
  void SetPresent(const jet::Column& column) {
    mask_[column.number / 8] = static_cast<std::uint8_t>(mask_[column.number / 8] | (1u << (column.number % 8)));
  }
  const jet::Column* VarColumn(std::size_t slot) const {
    for (const jet::Column& column : layout_.table.columns) {
      if (!column.fixed() && column.var_index == slot) return &column;
    }
    throw std::runtime_error("Artikli has a gap among its variable-length columns");
  }

  const Layout& layout_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> mask_;
  std::vector<std::size_t> starts_;
};

// A data page being filled from its end downwards.
class DataPageBuilder {
 public:
  explicit DataPageBuilder(std::uint32_t owner) : owner_(owner) { Reset(); }

  bool Fits(std::size_t row_size) const { return rows_ < kMaxRowsPerPage && row_size + 2 <= Free(); }
  std::size_t rows() const { return rows_; }
  std::size_t Free() const { return lowest_ - kDataPageHeader - 2 * rows_; }

  void Add(const std::vector<std::uint8_t>& row) {
    lowest_ -= row.size();
    std::copy(row.begin(), row.end(), page_.begin() + static_cast<std::ptrdiff_t>(lowest_));
    jet::Put16(page_, kDataPageHeader + 2 * rows_, static_cast<std::uint32_t>(lowest_));
    ++rows_;
  }

  const jet::PageBytes& Finish() {
    jet::Put16(page_, 2, static_cast<std::uint32_t>(Free()));
    jet::Put16(page_, 12, static_cast<std::uint32_t>(rows_));
    return page_;
  }

  void Reset() {
    page_.assign(kPageSize, 0);
    page_[0] = jet::kDataPageType;
    page_[1] = 0x01;
    jet::Put32(page_, 4, owner_);
    rows_ = 0;
    lowest_ = kPageSize;
  }

 private:
  std::uint32_t owner_;
  jet::PageBytes page_;
  std::size_t rows_ = 0;
  std::size_t lowest_ = kPageSize;
};

struct DataRun {
  std::uint32_t page;
  std::uint32_t first_row;
  std::uint32_t rows;
};

// An index entry as stored (before the page's prefix is taken off).
struct Entry {
  std::array<std::uint8_t, kNodeEntrySize> bytes{};
};

Entry LeafEntry(std::int32_t sifra, std::uint32_t page, std::uint8_t row) {
  Entry entry;
  const std::uint32_t flipped = static_cast<std::uint32_t>(sifra) ^ 0x80000000u;
  entry.bytes[0] = 0x7F;
  for (int i = 0; i < 4; ++i) entry.bytes[1 + i] = static_cast<std::uint8_t>(flipped >> (24 - 8 * i));
  for (int i = 0; i < 3; ++i) entry.bytes[5 + i] = static_cast<std::uint8_t>(page >> (16 - 8 * i));
  entry.bytes[8] = row;
  return entry;
}

// Encodes an index page; entries are stored whole (prefix length 0), as
// Jackcess writes a LONG key's pages.
jet::PageBytes IndexPage(bool leaf, std::uint32_t owner, std::uint32_t prev, std::uint32_t next, std::uint32_t tail,
                         const std::vector<Entry>& entries, std::size_t entry_size) {
  jet::PageBytes page(kPageSize, 0);
  page[0] = leaf ? kIndexLeafType : kIndexNodeType;
  page[1] = 0x01;
  jet::Put32(page, 4, owner);
  jet::Put32(page, 12, prev);
  jet::Put32(page, 16, next);
  jet::Put32(page, 20, tail);
  std::size_t at = 0;
  for (const Entry& entry : entries) {
    std::copy_n(entry.bytes.begin(), entry_size, page.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + at));
    at += entry_size;
    page[kIndexMaskOffset + at / 8] = static_cast<std::uint8_t>(page[kIndexMaskOffset + at / 8] | (1u << (at % 8)));
  }
  jet::Put16(page, 2, static_cast<std::uint32_t>(kIndexCapacity - at));
  return page;
}

// A page of the tree with the last leaf entry below it.
struct Child {
  std::uint32_t page;
  Entry last;
};

// Returns how many children each node of the level above `children` takes:
// as few nodes as will do, the children spread evenly over them.
std::vector<std::size_t> Spread(std::size_t children) {
  const std::size_t nodes = (children + kChildrenPerNode - 1) / kChildrenPerNode;
  std::vector<std::size_t> sizes;
  for (std::size_t k = 0, left = children; k < nodes; ++k) {
    sizes.push_back(left / (nodes - k));
    left -= sizes.back();
  }
  return sizes;
}

// Returns the usage map bytes (`size` bytes, the row's length) that hold
// `pages` (ascending), appending the map pages a reference map needs.
std::vector<std::uint8_t> BuildMap(jet::PageFile& file, const std::vector<std::uint32_t>& pages, std::size_t size) {
  std::vector<std::uint8_t> map(size, 0);
  const std::uint32_t inline_bits = static_cast<std::uint32_t>((size - 5) * 8);
  const std::uint32_t start = pages.empty() ? 0 : pages.front() / 8 * 8;
  if (pages.empty() || pages.back() - start < inline_bits) {
    jet::Put32(map, 1, start);
    for (std::uint32_t page : pages) map[5 + (page - start) / 8] |= static_cast<std::uint8_t>(1u << ((page - start) % 8));
    return map;
  }
  map[0] = 0x01;
  const std::size_t slots = (size - 1) / 4;
  if (pages.back() / kBitsPerMapPage >= slots) throw std::runtime_error("The table is too large for its usage map.");
  std::size_t next = 0;
  for (std::uint32_t j = pages.front() / kBitsPerMapPage; j <= pages.back() / kBitsPerMapPage; ++j) {
    jet::PageBytes bitmap(kPageSize, 0);
    bitmap[0] = kMapPageType;
    bitmap[1] = 0x01;
    for (; next < pages.size() && pages[next] / kBitsPerMapPage == j; ++next) {
      const std::uint32_t bit = pages[next] % kBitsPerMapPage;
      bitmap[kMapPageBitmapOffset + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    const std::uint32_t map_page = file.page_count();
    file.Write(map_page, bitmap);
    jet::Put32(map, 1 + 4 * j, map_page);
  }
  return map;
}

// Replaces the bytes of the row at `where` (same length) in `page`.
void PutMapRow(jet::PageFile& file, jet::PageBytes& page, jet::RowPointer where, const std::vector<std::uint8_t>& map) {
  const jet::RowSlot slot = jet::ReadRowSlot(file, where.page, page, where.row);
  if (slot.size() != map.size()) throw std::logic_error("usage map row changed length");
  std::copy(map.begin(), map.end(), page.begin() + static_cast<std::ptrdiff_t>(slot.start));
}

std::size_t MapRowSize(jet::PageFile& file, jet::RowPointer where) {
  const jet::PageRef page = file.Read(where.page);
  const jet::RowSlot slot = jet::ReadRowSlot(file, where.page, *page, where.row);
  if (slot.size() < 5 + 4) file.Corrupt(where.page, "a usage map row is too short");
  return slot.size();
}

}  // namespace

ArtikliRow MakeArtikliRow(std::uint32_t number) {
  static const std::u16string_view kNames[] = {
      u"\u0425\u043B\u0435\u0431 \u0431\u0435\u043B\u0438 500\u0433",  // Хлеб бели 500г
      u"Mleko 2.8% 1l",
      u"\u0408\u043E\u0433\u0443\u0440\u0442 180\u0433",  // Јогурт 180г
      u"Kafa mlevena 200g",
      u"\u0427\u043E\u043A\u043E\u043B\u0430\u0434\u0430 \u0437\u0430 \u043A\u0443\u0432\u0430\u045A\u0435",  // Чоколада за кување
      u"Voda kisela 1.5l",
      u"\u0428\u0435\u045B\u0435\u0440 \u043A\u0440\u0438\u0441\u0442\u0430\u043B 1\u043A\u0433",  // Шећер кристал 1кг
      u"Sapun te\u010Dni 500ml",
  };
  static const std::optional<std::u16string_view> kOthers[] = {
      std::nullopt, u"", u"0", u"\u0430", u"\u0410 ", u"\u0411", u"\u0413\u0414", u"\u041A\u0410",
  };
  const std::uint64_t h = Mix(number);
  ArtikliRow row;
  row.sifra = static_cast<std::int32_t>(number + 1);
  row.naziv = std::u16string(kNames[h % 8]) + u" #" + Digits(number + 1);
  row.cena = static_cast<double>((h >> 8) % 99999 + 1) / 100.0;
  if ((h >> 24) % 10 != 0) {
    row.poreska_stopa = std::u16string(1, kDefaultLabels[(h >> 32) % kDefaultLabels.size()]);
  } else if (const auto other = kOthers[(h >> 40) % 8]) {
    row.poreska_stopa = std::u16string(*other);
  }
  row.barkod = u"860" + Digits((h >> 20) % 10'000'000'000ull, 10);
  return row;
}

std::optional<std::u16string> ConvertedRate(const ArtikliRow& row) {
  if (!row.poreska_stopa || row.poreska_stopa->empty() || row.poreska_stopa->size() > kDefaultLabels.size()) {
    return row.poreska_stopa;
  }
  const std::size_t at = kDefaultLabels.find(*row.poreska_stopa);
  if (at == std::u16string_view::npos) return row.poreska_stopa;
  return Digits(at);
}

LargeDatabaseSummary MakeLargeDatabase(const std::filesystem::path& template_path, const std::filesystem::path& output,
                                       std::uint32_t rows) {
  if (rows > kMaxLargeDatabaseRows) {
    throw std::runtime_error("At most " + std::to_string(kMaxLargeDatabaseRows) + " rows can be generated.");
  }
  std::filesystem::path partial = output;
  partial += ".partial";
  std::filesystem::copy_file(template_path, partial, std::filesystem::copy_options::overwrite_existing);
  struct RemoveOnFailure {
    std::filesystem::path path;
    bool done = false;
    ~RemoveOnFailure() {
      std::error_code ignored;
      if (!done) std::filesystem::remove(path, ignored);
    }
  } cleanup{partial};

  LargeDatabaseSummary summary;
  summary.rows = rows;
  {
    jet::Database database(jet::OpenFile(partial, jet::OpenMode::kReadWrite), std::u16string(kLargeDatabasePassword));
    jet::PageFile& file = database.pages();
    Layout layout;
    try {
      layout = ReadLayout(file, template_path);
    } catch (const jet::CorruptDatabase& error) {
      BadTemplate(template_path, error.what());
    }
    const jet::TableDefinition& table = layout.table;
    const std::size_t owned_size = MapRowSize(file, table.owned_map);
    const std::size_t free_size = MapRowSize(file, table.free_map);
    const std::size_t index_map_size = MapRowSize(file, layout.index_map);
    const std::size_t global_size = MapRowSize(file, jet::RowPointer{kGlobalMapPage, 0});

    // 1. Data pages, appended in row order.
    std::vector<DataRun> runs;
    RowBuilder builder(layout);
    DataPageBuilder page(table.page);
    std::uint32_t first_row = 0;
    std::size_t last_free = 0;
    auto flush = [&] {
      runs.push_back(DataRun{file.page_count(), first_row, static_cast<std::uint32_t>(page.rows())});
      last_free = page.Free();
      file.Write(file.page_count(), page.Finish());
      first_row += static_cast<std::uint32_t>(page.rows());
      page.Reset();
    };
    for (std::uint32_t number = 0; number < rows; ++number) {
      const std::vector<std::uint8_t>& row = builder.Build(MakeArtikliRow(number));
      if (!page.Fits(row.size())) flush();
      page.Add(row);
    }
    if (page.rows() != 0) flush();
    summary.data_pages = static_cast<std::uint32_t>(runs.size());

    // 2. Index leaves in key order (Sifra rises with the row number), chained
    //    left to right, then node levels up to the template's root page,
    //    which stays the root. Entries point at the rows' home slots.
    std::vector<std::uint32_t> index_pages{layout.index_root};
    const std::size_t leaf_count = (rows + kEntriesPerLeaf - 1) / kEntriesPerLeaf;
    std::vector<Child> level;
    {
      std::vector<Entry> entries;
      std::size_t run = 0;
      std::uint32_t slot = 0;
      const std::uint32_t first_leaf = file.page_count();
      for (std::uint32_t number = 0; number < rows; ++number) {
        while (slot >= runs[run].rows) {
          ++run;
          slot = 0;
        }
        entries.push_back(LeafEntry(static_cast<std::int32_t>(number + 1), runs[run].page, static_cast<std::uint8_t>(slot++)));
        if (entries.size() == kEntriesPerLeaf || number + 1 == rows) {
          const std::size_t k = level.size();
          if (leaf_count == 1) {
            file.Write(layout.index_root, IndexPage(true, table.page, 0, 0, 0, entries, kLeafEntrySize));
            level.push_back(Child{layout.index_root, entries.back()});
          } else {
            const std::uint32_t here = first_leaf + static_cast<std::uint32_t>(k);
            const std::uint32_t prev = k == 0 ? 0 : here - 1;
            const std::uint32_t next = k + 1 == leaf_count ? 0 : here + 1;
            file.Write(here, IndexPage(true, table.page, prev, next, 0, entries, kLeafEntrySize));
            index_pages.push_back(here);
            level.push_back(Child{here, entries.back()});
          }
          entries.clear();
        }
      }
    }
    while (level.size() > 1) {
      // Children are spread evenly so that no node is left with one child;
      // nodes are chained only among those that share a parent.
      const std::vector<std::size_t> sizes = Spread(level.size());
      const std::vector<std::size_t> parent_sizes = Spread(sizes.size());
      std::vector<bool> group_start(sizes.size() + 1, false);
      for (std::size_t at = 0, g = 0; g < parent_sizes.size(); at += parent_sizes[g++]) group_start[at] = true;
      group_start[sizes.size()] = true;
      const std::uint32_t first_node = file.page_count();
      std::vector<Child> parents;
      std::size_t taken = 0;
      for (std::size_t k = 0; k < sizes.size(); ++k) {
        std::vector<Entry> entries;
        for (std::size_t c = taken; c + 1 < taken + sizes[k]; ++c) {
          Entry entry = level[c].last;
          for (int i = 0; i < 4; ++i) entry.bytes[kLeafEntrySize + i] = static_cast<std::uint8_t>(level[c].page >> (24 - 8 * i));
          entries.push_back(entry);
        }
        const Child& tail = level[taken + sizes[k] - 1];
        if (sizes.size() == 1) {
          file.Write(layout.index_root, IndexPage(false, table.page, 0, 0, tail.page, entries, kNodeEntrySize));
          parents.push_back(Child{layout.index_root, tail.last});
        } else {
          const std::uint32_t here = first_node + static_cast<std::uint32_t>(k);
          const std::uint32_t prev = group_start[k] ? 0 : here - 1;
          const std::uint32_t next = group_start[k + 1] ? 0 : here + 1;
          file.Write(here, IndexPage(false, table.page, prev, next, tail.page, entries, kNodeEntrySize));
          index_pages.push_back(here);
          parents.push_back(Child{here, tail.last});
        }
        taken += sizes[k];
      }
      level = std::move(parents);
    }
    summary.index_pages = static_cast<std::uint32_t>(index_pages.size());
    std::sort(index_pages.begin(), index_pages.end());

    // 3. Usage maps: the table's pages, the one page with room left, the
    //    index's pages, and the file's free pages (none below its end; the
    //    window starts at the end, as Jackcess keeps it).
    std::vector<std::uint32_t> data_pages;
    data_pages.reserve(runs.size());
    for (const DataRun& run : runs) data_pages.push_back(run.page);
    std::vector<std::uint32_t> roomy;
    if (!runs.empty() && last_free > 64) roomy.push_back(runs.back().page);
    const std::vector<std::uint8_t> owned_map = BuildMap(file, data_pages, owned_size);
    const std::vector<std::uint8_t> free_map = BuildMap(file, roomy, free_size);
    const std::vector<std::uint8_t> index_map = BuildMap(file, index_pages, index_map_size);
    const std::uint32_t end = file.page_count();
    std::vector<std::uint8_t> global_map(global_size, 0);
    const std::uint32_t window = end / 8 * 8;
    jet::Put32(global_map, 1, window);
    for (std::uint32_t bit = end - window; bit < (global_size - 5) * 8; ++bit) {
      global_map[5 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }

    std::vector<std::pair<jet::RowPointer, const std::vector<std::uint8_t>*>> rows_to_put = {
        {table.owned_map, &owned_map}, {table.free_map, &free_map}, {layout.index_map, &index_map},
        {jet::RowPointer{kGlobalMapPage, 0}, &global_map}};
    std::sort(rows_to_put.begin(), rows_to_put.end(), [](const auto& a, const auto& b) { return a.first.page < b.first.page; });
    for (std::size_t i = 0; i < rows_to_put.size();) {
      const std::uint32_t page_number = rows_to_put[i].first.page;
      jet::PageBytes bytes = *file.Read(page_number);
      for (; i < rows_to_put.size() && rows_to_put[i].first.page == page_number; ++i) {
        PutMapRow(file, bytes, rows_to_put[i].first, *rows_to_put[i].second);
      }
      file.Write(page_number, bytes);
    }

    // 4. The definition: row count and the index's count of distinct keys.
    jet::PageBytes definition = *file.Read(table.page);
    jet::Put32(definition, file.format().tdef_row_count_offset, rows);
    jet::Put32(definition, layout.unique_count_offset, rows);
    file.Write(table.page, definition);
    file.Sync();
    summary.page_count = file.page_count();
  }
  std::filesystem::rename(partial, output);
  cleanup.done = true;
  return summary;
}

}  // namespace bench
