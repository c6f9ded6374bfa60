#include "jet/usage_map.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "jet/bytes.h"
#include "jet/errors.h"
#include "jet/header.h"

namespace jet {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Pages = std::vector<std::uint32_t>;
constexpr std::size_t kPageSize = 4096;
constexpr std::uint32_t kPerMapPage = (kPageSize - 4) * 8;
constexpr std::uint32_t kFilePages = 20;
constexpr RowPointer kTableMap{2, 0};
constexpr std::uint32_t kMapPage = 3;  // a map page of reference maps

// Returns an inline map row: type 0, first page, `bitmap_bytes` of bitmap.
Bytes InlineRow(std::uint32_t first, std::size_t bitmap_bytes, const Pages& pages) {
  Bytes row(5 + bitmap_bytes, 0);
  Put32(row, 1, first);
  for (std::uint32_t page : pages) row[5 + (page - first) / 8] |= static_cast<std::uint8_t>(1u << ((page - first) % 8));
  return row;
}

// Returns a global map row whose window [first, first + 8 * bitmap_bytes)
// marks free every page in it but `used`.
Bytes GlobalRow(std::uint32_t first, std::size_t bitmap_bytes, const Pages& used) {
  Pages free;
  for (std::uint32_t page = first; page < first + 8 * bitmap_bytes; ++page) {
    if (std::find(used.begin(), used.end(), page) == used.end()) free.push_back(page);
  }
  return InlineRow(first, bitmap_bytes, free);
}

Pages Range(std::uint32_t from, std::uint32_t to) {
  Pages pages;
  for (std::uint32_t page = from; page < to; ++page) pages.push_back(page);
  return pages;
}

Pages Join(Pages a, const Pages& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Returns a reference map row naming `map_pages` (0: none).
Bytes ReferenceRow(const Pages& map_pages) {
  Bytes row(1 + 4 * map_pages.size(), 0);
  row[0] = 0x01;
  for (std::size_t j = 0; j < map_pages.size(); ++j) Put32(row, 1 + 4 * j, map_pages[j]);
  return row;
}

// Returns a data page holding `row` as its only row.
Bytes DataPage(const Bytes& row) {
  Bytes page(kPageSize, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  Put16(page, 12, 1);
  const std::size_t start = kPageSize - row.size();
  Put16(page, 14, static_cast<std::uint32_t>(start));
  Put16(page, 2, static_cast<std::uint32_t>(start - 16));
  std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
  return page;
}

// A database of kFilePages pages: the header of a real file, the global map
// on page 1, a table's map on page 2, a map page holding `map_page_pages`
// on page 3, empty pages after.
struct SmallDatabase {
  SmallDatabase(const Bytes& global_row, const Bytes& table_row, const Pages& map_page_pages) {
    std::ifstream in(std::filesystem::path(FRN_FIXTURES_DIR) / "artikli/artikli-basic.mdb", std::ios::binary);
    Bytes header(kPageSize);
    in.read(reinterpret_cast<char*>(header.data()), kPageSize);
    bytes = std::make_shared<Bytes>(std::move(header));
    bytes->resize(kFilePages * kPageSize, 0);
    auto put = [&](std::uint32_t page_number, const Bytes& page) {
      std::copy(page.begin(), page.end(), bytes->begin() + static_cast<std::ptrdiff_t>(page_number * kPageSize));
    };
    put(1, DataPage(global_row));
    put(2, DataPage(table_row));
    Bytes map_page(kPageSize, 0);
    map_page[0] = 0x05;
    map_page[1] = 0x01;
    for (std::uint32_t page : map_page_pages) map_page[4 + page / 8] |= static_cast<std::uint8_t>(1u << (page % 8));
    put(kMapPage, map_page);
    auto file = std::make_unique<MemoryFile>("small.mdb", bytes);
    const DatabaseHeader database_header = ReadHeader(*file);
    pages = std::make_unique<PageFile>(std::move(file), database_header);
  }

  // Applies `change` to working copies, then writes them as MapGrowth says.
  MapGrowth Change(std::uint32_t next_page, const std::function<void(MapGrowth&)>& change) {
    std::map<std::uint32_t, PageBytes> copies;
    MapGrowth maps(*pages, next_page, [&](std::uint32_t page_number) -> PageBytes& {
      auto found = copies.find(page_number);
      if (found == copies.end()) found = copies.emplace(page_number, *pages->Read(page_number)).first;
      return found->second;
    });
    change(maps);
    // The caller's own new pages come first.
    while (pages->page_count() < next_page) pages->Write(pages->page_count(), PageBytes(kPageSize, 0));
    for (const auto& [page_number, page] : maps.new_pages()) pages->Write(page_number, page);
    for (std::uint32_t page_number : maps.WriteOrder()) pages->Write(page_number, copies.at(page_number));
    return maps;
  }

  // Returns the pages the map at `where` holds, below `limit`.
  Pages Held(RowPointer where, std::uint32_t limit) {
    const UsageMap map(*pages, where);
    Pages held;
    for (auto page = map.NextPage(0); page && *page < limit; page = map.NextPage(*page + 1)) held.push_back(*page);
    return held;
  }

  // Returns the first bytes of the map row at `where`: type, then 4 more.
  std::pair<std::uint8_t, std::uint32_t> Kind(RowPointer where) {
    const PageRef page = pages->Read(where.page);
    const std::size_t start = Get16(*page, 14) & 0x1FFF;
    return {(*page)[start], Get32(*page, start + 1)};
  }

  std::shared_ptr<Bytes> bytes;
  std::unique_ptr<PageFile> pages;
};

TEST(MapGrowthTest, TableMapsGrowToTakeAPage) {
  struct Case {
    const char* what;
    Bytes row;
    Pages on_map_page;  // pages the map page holds
    std::function<void(MapGrowth&)> change;
    Pages new_map_pages;
    std::uint8_t type;       // afterwards
    std::uint32_t first;     // inline: first page; reference: first map page
    Pages held;
  };
  const Case cases[] = {
      {"inside the window", InlineRow(0, 2, {5}), {}, [](MapGrowth& m) { m.Add(kTableMap, 9); }, {}, 0, 0, {5, 9}},
      {"window moves up", InlineRow(0, 2, {10, 12}), {}, [](MapGrowth& m) { m.Add(kTableMap, 20); }, {}, 0, 8, {10, 12, 20}},
      {"window moves down", InlineRow(40, 2, {41}), {}, [](MapGrowth& m) { m.Add(kTableMap, 34); }, {}, 0, 32, {34, 41}},
      {"empty map starts at the page", InlineRow(0, 2, {}), {}, [](MapGrowth& m) { m.Add(kTableMap, 1000); }, {}, 0, 1000, {1000}},
      {"held pages too far apart: becomes a reference map", InlineRow(0, 2, {2, 12}), {},
       [](MapGrowth& m) { m.Add(kTableMap, 20); }, {kFilePages}, 1, kFilePages, {2, 12, 20}},
      {"reference map gains a map page", ReferenceRow({kMapPage, 0}), {5},
       [](MapGrowth& m) { m.Add(kTableMap, kPerMapPage + 4); }, {kFilePages}, 1, kMapPage, {5, kPerMapPage + 4}},
      {"reference map with its map page", ReferenceRow({kMapPage, 0}), {5}, [](MapGrowth& m) { m.Add(kTableMap, 9); }, {}, 1,
       kMapPage, {5, 9}},
      {"removing inside the window", InlineRow(0, 2, {5, 6}), {}, [](MapGrowth& m) { m.Remove(kTableMap, 6); }, {}, 0, 0, {5}},
      {"removing outside the window changes nothing", InlineRow(0, 2, {5}), {}, [](MapGrowth& m) { m.Remove(kTableMap, 600); },
       {}, 0, 0, {5}},
      {"removing where no map page is changes nothing", ReferenceRow({kMapPage, 0}), {5},
       [](MapGrowth& m) { m.Remove(kTableMap, kPerMapPage + 4); }, {}, 1, kMapPage, {5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmallDatabase database(GlobalRow(0, 8, Range(0, kFilePages)), c.row, c.on_map_page);
    const MapGrowth maps = database.Change(kFilePages, c.change);
    Pages added;
    for (const auto& [page_number, page] : maps.new_pages()) added.push_back(page_number);
    EXPECT_EQ(added, c.new_map_pages);
    EXPECT_EQ(database.Kind(kTableMap), std::make_pair(c.type, c.first));
    EXPECT_EQ(database.Held(kTableMap, 2 * kPerMapPage), c.held);
  }
}

TEST(MapGrowthTest, GlobalMapNeverCountsAUsedPageFree) {
  struct Case {
    const char* what;
    Bytes row;
    std::uint32_t take;  // the caller's new page; the file ends after it
    Pages new_map_pages;
    std::uint8_t type;
    std::uint32_t first;
    Pages free;  // free pages below 64 afterwards, as the map says
  };
  const Case cases[] = {
      {"inside the window", GlobalRow(0, 8, Range(0, kFilePages)), kFilePages, {}, 0, 0, Range(21, 64)},
      // Pages 0-7 are free and may leave the window (they count free
      // outside it too); pages past its old end that the file holds (16-20)
      // are marked used.
      {"window moves over free pages", GlobalRow(0, 2, Range(8, 16)), kFilePages, {}, 0, 8, Range(21, 24)},
      // Page 3 is used: moving the window would count it free. The map
      // becomes a reference map on page 21 (used), from 22 on all free.
      {"used page would leave the window: reference map", GlobalRow(0, 2, Join({3}, Range(8, 16))), kFilePages, {21}, 1, 21,
       Join(Join(Range(0, 3), Range(4, 8)), Range(22, 64))},
      // Pages below the window count free but may be used: the reference
      // map marks them used.
      {"page below the window: reference map", GlobalRow(32, 2, {}), kFilePages, {21}, 1, 21, Range(32, 64)},
      {"reference map", ReferenceRow({kMapPage}), kFilePages, {}, 1, kMapPage, Range(21, 64)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The map page of the reference case marks free the pages from 20 on.
    SmallDatabase database(c.row, InlineRow(0, 2, {}), Range(kFilePages, 64));
    const MapGrowth maps = database.Change(c.take + 1, [&](MapGrowth& m) {
      m.Take(c.take);
      m.Finish();
    });
    Pages added;
    for (const auto& [page_number, page] : maps.new_pages()) added.push_back(page_number);
    EXPECT_EQ(added, c.new_map_pages);
    EXPECT_EQ(database.Kind(kGlobalMap), std::make_pair(c.type, c.first));
    EXPECT_EQ(database.Held(kGlobalMap, 64), c.free);
  }
}

TEST(MapGrowthTest, GlobalReferenceMapGainsAMapPageMarkingTheFileUsed) {
  SmallDatabase database(ReferenceRow({kMapPage, 0}), InlineRow(0, 2, {}), Range(kFilePages, kPerMapPage));
  // A file that reaches into the second range: its pages there are used.
  const std::uint32_t take = kPerMapPage + 3;
  std::map<std::uint32_t, PageBytes> copies;
  MapGrowth maps(*database.pages, take + 1, [&](std::uint32_t page_number) -> PageBytes& {
    return copies.emplace(page_number, *database.pages->Read(page_number)).first->second;
  });
  maps.Take(take);
  maps.Finish();
  ASSERT_EQ(maps.new_pages().size(), 1u);
  const auto& [map_page, bytes] = *maps.new_pages().begin();
  EXPECT_EQ(map_page, take + 1);
  EXPECT_EQ(Get32(copies.at(1), kPageSize - 9 + 5), map_page);
  for (std::uint32_t bit = 0; bit < 8; ++bit) {
    SCOPED_TRACE(bit);
    const bool free = (bytes[4 + bit / 8] >> (bit % 8) & 1) != 0;
    EXPECT_EQ(free, kPerMapPage + bit > map_page);
  }
}

TEST(MapGrowthTest, MapsThatCannotReachThePageAreRefusedNamingTheFile) {
  struct Case {
    const char* what;
    Bytes global_row;
    Bytes table_row;
    std::function<void(MapGrowth&)> change;
    std::string message;
  };
  const std::string tail = " only (127 MB of database), and a database that large is not supported.";
  const Case cases[] = {
      {"reference row without an entry for the range", GlobalRow(0, 8, Range(0, kFilePages)), ReferenceRow({kMapPage}),
       [](MapGrowth& m) { m.Add(kTableMap, 40000); },
       "The usage map at page 2 row 0 of 'small.mdb' cannot reach page 40000: its row has room for pages below 32736" + tail},
      {"inline map whose promotion needs a second entry", GlobalRow(0, 8, Range(0, kFilePages)), InlineRow(0, 2, {2}),
       [](MapGrowth& m) { m.Add(kTableMap, 40000); },
       "The usage map at page 2 row 0 of 'small.mdb' cannot reach page 40000: its row has room for pages below 32736" + tail},
      {"global reference row without an entry for the range", ReferenceRow({kMapPage}), InlineRow(0, 2, {}),
       [](MapGrowth& m) { m.Take(40000); },
       "The global usage map of 'small.mdb' cannot reach page 40000: its row has room for pages below 32736" + tail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmallDatabase database(c.global_row, c.table_row, {});
    const Bytes before = *database.bytes;
    try {
      database.Change(kFilePages, c.change);
      ADD_FAILURE() << "no refusal";
    } catch (const Unsupported& error) {
      EXPECT_EQ(error.what(), c.message);
    }
    EXPECT_EQ(*database.bytes, before);
  }
}

TEST(MapGrowthTest, DamagedMapsAreReported) {
  struct Case {
    const char* what;
    Bytes table_row;
    std::string message;
  };
  const Case cases[] = {
      {"unknown type", Bytes{7, 0, 0, 0, 0, 0}, "The database 'small.mdb' is damaged (page 2): unknown usage map type"},
      {"inline row without a bitmap", Bytes{0, 0, 0, 0, 0}, "The database 'small.mdb' is damaged (page 2): usage map too short"},
      {"reference row without an entry", Bytes{1, 0, 0}, "The database 'small.mdb' is damaged (page 2): usage map too short"},
      {"entry naming a page that is no map page", ReferenceRow({1}),
       "The database 'small.mdb' is damaged (page 1): a usage map names a page that is not a map page"},
      {"entry naming a page past the file", ReferenceRow({900}),
       "The database 'small.mdb' is damaged (page 900): a usage map points past the end of the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmallDatabase database(GlobalRow(0, 8, Range(0, kFilePages)), c.table_row, {});
    try {
      database.Change(kFilePages, [](MapGrowth& m) { m.Add(kTableMap, 5); });
      ADD_FAILURE() << "no error";
    } catch (const CorruptDatabase& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace jet
