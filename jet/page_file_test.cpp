#include "jet/page_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "jet/errors.h"
#include "jet/header.h"

namespace jet {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Fixture(const std::string& name) {
  std::ifstream in(std::filesystem::path(FRN_FIXTURES_DIR) / name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<File> InMemory(Bytes bytes, std::shared_ptr<Bytes>* keep = nullptr) {
  auto shared = std::make_shared<Bytes>(std::move(bytes));
  if (keep) *keep = shared;
  return std::make_unique<MemoryFile>("x.mdb", shared);
}

TEST(HeaderTest, RefusesWhatIsNotAJet4DatabaseNamingTheFault) {
  const Bytes basic = Fixture("artikli/artikli-basic.mdb");
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    bool corrupt;  // else Unsupported
    std::string message;
  };
  const Case cases[] = {
      {"empty file", [](Bytes& b) { b.clear(); }, true, "The database 'x.mdb' is damaged (page 0): the file is too short to be a Jet database"},
      {"cut inside the header", [](Bytes& b) { b.resize(100); }, true, "The database 'x.mdb' is damaged (page 0): the file ends inside the header page"},
      {"cut inside a page", [](Bytes& b) { b.resize(5 * 4096 + 7); }, true,
       "The database 'x.mdb' is damaged (page 5): the file ends inside a page (is it cut short?)"},
      {"another file type", [](Bytes& b) { b[4] = 'X'; }, true, "The database 'x.mdb' is damaged (page 0): the file is not a Jet database"},
      {"Access 97", [](Bytes& b) { b[0x14] = 0; }, false,
       "'x.mdb' is an Access 97 (Jet 3) database, which is not supported yet; only Access 2000-2003 (Jet 4) databases are."},
      {"Access 2007", [](Bytes& b) { b[0x14] = 2; }, false,
       "'x.mdb' is an Access 2007 or later (ACE, .accdb) database, which is not supported; only Access 2000-2003 (Jet 4) databases are."},
      {"ACE engine name", [](Bytes& b) { std::copy_n("Standard ACE DB", 15, b.begin() + 4); }, false,
       "'x.mdb' is an Access 2007 or later (ACE, .accdb) database, which is not supported; only Access 2000-2003 (Jet 4) databases are."},
      {"MS Money", [](Bytes& b) { std::copy_n("MSISAM Database", 15, b.begin() + 4); }, false,
       "'x.mdb' is a Microsoft Money (MSISAM) file, which is not supported."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = basic;
    c.change(bytes);
    std::unique_ptr<File> file = InMemory(bytes);
    try {
      ReadHeader(*file);
      ADD_FAILURE() << "read";
    } catch (const CorruptDatabase& error) {
      EXPECT_TRUE(c.corrupt);
      EXPECT_EQ(error.what(), c.message);
    } catch (const Unsupported& error) {
      EXPECT_FALSE(c.corrupt);
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

TEST(HeaderTest, ReadsPasswordAndEncodingKey) {
  struct Case {
    const char* file;
    std::optional<std::u16string> password;
    bool encoded;
  };
  const Case cases[] = {
      {"real/V2000_with-password.mdb", u"password", false},
      {"real/V2003_with-password.mdb", u"password", false},
      {"real/V2000_no-password.mdb", std::nullopt, false},
      {"real/db-enc.mdb", std::nullopt, true},
      {"artikli/artikli-basic.mdb", u"korpamilev", false},
      {"artikli/artikli-encoded.mdb", u"korpamilev", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::unique_ptr<File> file = InMemory(Fixture(c.file));
    const DatabaseHeader header = ReadHeader(*file);
    EXPECT_EQ(header.password, c.password);
    EXPECT_EQ(header.encoded(), c.encoded);
  }
}

TEST(PageFileTest, WritesEncodedPagesEncodedAgain) {
  std::shared_ptr<Bytes> disk;
  const Bytes original = Fixture("real/db-enc.mdb");
  std::unique_ptr<File> file = InMemory(original, &disk);
  const DatabaseHeader header = ReadHeader(*file);
  PageFile pages(std::move(file), header);
  const PageBytes plain = *pages.Read(2);
  EXPECT_EQ(plain[0], 0x02);  // the catalog's definition, readable once decoded
  pages.Write(2, plain);
  EXPECT_EQ(*disk, original);  // decoding then encoding gives the same bytes
  PageBytes changed = plain;
  changed[100] ^= 0x55;
  pages.Write(2, changed);
  EXPECT_EQ(pages.ReadFresh(2), changed);
  EXPECT_NE(std::vector<std::uint8_t>(disk->begin() + 2 * 4096, disk->begin() + 3 * 4096), changed);
}

TEST(PageFileTest, PageOutsideTheFileIsCorruption) {
  std::unique_ptr<File> file = InMemory(Fixture("artikli/artikli-basic.mdb"));
  const DatabaseHeader header = ReadHeader(*file);
  PageFile pages(std::move(file), header);
  try {
    pages.Read(header.page_count);
    FAIL() << "read";
  } catch (const CorruptDatabase& error) {
    EXPECT_EQ(error.page_number(), header.page_count);
    EXPECT_EQ(error.what(), "The database 'x.mdb' is damaged (page " + std::to_string(header.page_count) +
                                "): a reference points past the end of the file");
  }
}

// A page file over artikli-basic in memory, with `cache_pages` pages of cache.
struct StagingFixture {
  explicit StagingFixture(std::size_t cache_pages = PageFile::kDefaultCachePages)
      : original(Fixture("artikli/artikli-basic.mdb")) {
    std::unique_ptr<File> file = InMemory(original, &disk);
    const DatabaseHeader header = ReadHeader(*file);
    pages = std::make_unique<PageFile>(std::move(file), header, cache_pages);
  }
  Bytes DiskPage(std::uint32_t number) const {
    return Bytes(disk->begin() + number * 4096, disk->begin() + (number + 1) * 4096);
  }
  // Stages page `number` with one byte changed; returns the staged content.
  PageBytes StageChanged(std::uint32_t number) {
    PageBytes content = pages->ReadFresh(number);
    PageBytes image = content;
    content[2000] ^= 0x5A;
    pages->Stage(number, content, image);
    return content;
  }

  Bytes original;
  std::shared_ptr<Bytes> disk;
  std::unique_ptr<PageFile> pages;
};

TEST(PageFileStagingTest, ReadsSeeStagedContentBeforeTheDiskDoes) {
  struct Case {
    const char* what;
    std::size_t cache_pages;
    std::function<void(PageFile&)> between;  // reads between staging and reading back
  };
  const Case cases[] = {
      {"straight away", PageFile::kDefaultCachePages, [](PageFile&) {}},
      {"after the cache let the page go", 4, [](PageFile& pages) {
         for (std::uint32_t number = 10; number < 20; ++number) pages.Read(number);
       }},
      {"after reading ahead over the page", PageFile::kDefaultCachePages, [](PageFile& pages) {
         pages.Read(4);
         pages.Read(5);  // in order: reads ahead over 6
       }},
      {"after reading ahead over the page the cache let go", 4, [](PageFile& pages) {
         for (std::uint32_t number = 10; number < 20; ++number) pages.Read(number);
         pages.Read(4);
         pages.Read(5);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StagingFixture f(c.cache_pages);
    const PageBytes staged = f.StageChanged(6);
    c.between(*f.pages);
    EXPECT_EQ(*f.pages->Read(6), staged);
    EXPECT_EQ(f.DiskPage(6), Bytes(f.original.begin() + 6 * 4096, f.original.begin() + 7 * 4096));
    f.pages->WriteBack();
    EXPECT_EQ(f.DiskPage(6), staged);
    EXPECT_EQ(f.pages->pages_written(), 1u);
  }
}

TEST(PageFileStagingTest, AChangeInPlaceLeavesWhatAReaderHoldsAlone) {
  StagingFixture f;
  f.StageChanged(6);
  const PageRef held = f.pages->Read(6);
  const PageBytes seen = *held;
  PageBytes* content = f.pages->StagedContent(6);
  ASSERT_NE(content, nullptr);
  (*content)[3000] ^= 0xFF;
  EXPECT_EQ(*held, seen);
  EXPECT_EQ((*f.pages->Read(6))[3000], seen[3000] ^ 0xFF);
  // With no reader holding it, the page is changed where it is.
  const PageBytes* again = f.pages->StagedContent(6);
  EXPECT_EQ(f.pages->StagedContent(6), again);
  EXPECT_EQ(f.pages->StagedContent(7), nullptr);
}

TEST(PageFileStagingTest, AnotherProgramsWriteWinsOverTheStagedPage) {
  StagingFixture f;
  const PageBytes staged6 = f.StageChanged(6);
  const PageBytes staged8 = f.StageChanged(8);
  (*f.disk)[6 * 4096 + 100] ^= 0x01;  // another program writes page 6
  const Bytes theirs = f.DiskPage(6);
  try {
    f.pages->WriteBack();
    FAIL() << "written back";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), kRowChangedMessage);
  }
  EXPECT_EQ(f.DiskPage(6), theirs);
  EXPECT_EQ(f.DiskPage(8), staged8);  // the other staged page is written
  EXPECT_EQ(*f.pages->Read(6), theirs);
  EXPECT_FALSE(f.pages->IsStaged(6));
}

}  // namespace
}  // namespace jet
