// The database as numbered pages: reads go through a small LRU cache of
// decoded pages, writes go straight to the file (encoded again when the
// database is RC4-encoded) and replace the cached copy.
//
// Invariants:
//   1. The cache holds at most `cache_pages` pages; memory does not grow with
//      the size of the file.
//   2. A cached page equals what this object last read from or wrote to the
//      file at that page.
//   3. Page 0 (the header) is never written.
//   4. Read() returns a staged page as staged. A staged page reaches the
//      file at the next WriteBack() or Sync(), and only if the disk still
//      holds what it held when the page was first staged.
//   5. A PageRef never changes under its holder: changing a staged page in
//      place (StagedContent) copies it first when a PageRef to it is out.
// What goes into a page and in which order pages are written is left to the
// callers (row_update.h).
#ifndef JET_PAGE_FILE_H_
#define JET_PAGE_FILE_H_

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/file.h"
#include "jet/header.h"

namespace jet {

using PageBytes = std::vector<std::uint8_t>;

// ADO's text for a row another program changed after it was read.
inline constexpr const char* kRowChangedMessage =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
using PageRef = std::shared_ptr<const PageBytes>;

class PageFile {
 public:
  static constexpr std::size_t kDefaultCachePages = 48;
  // Pages read in one go when reads run through the file in order.
  static constexpr std::uint32_t kReadAheadPages = 8;

  PageFile(std::unique_ptr<File> file, const DatabaseHeader& header, std::size_t cache_pages = kDefaultCachePages);

  const FormatDescription& format() const { return *header_.format; }
  const std::filesystem::path& path() const { return file_->path(); }
  std::size_t page_size() const { return header_.format->page_size; }
  std::uint32_t page_count() const { return page_count_; }
  bool writable() const { return file_->writable(); }
  std::size_t pages_written() const { return pages_written_; }

  // Returns the decoded page, from the cache when there. Throws
  // CorruptDatabase for a page number outside the file.
  PageRef Read(std::uint32_t page_number);

  // Returns the decoded page as it is on disk now, bypassing the cache (used
  // to see what other programs may have changed).
  PageBytes ReadFresh(std::uint32_t page_number);

  // Returns true when the page on disk now equals `expected` (decoded).
  bool DiskEquals(std::uint32_t page_number, const PageBytes& expected);

  // Encodes and writes `page` at `page_number`, which may be page_count() to
  // append a page. Throws IoError; the cache then forgets the page.
  void Write(std::uint32_t page_number, const PageBytes& page);

  // Keeps `page` as the new content of `page_number` until WriteBack();
  // `disk_image` is what the file holds there now (kept from the first
  // staging on). Lets several posts to one page cost one write.
  void Stage(std::uint32_t page_number, PageBytes page, PageBytes disk_image);

  // Returns the staged content of a page, to be changed in place, or nullptr
  // when the page is not staged. The pointer is good until the next call
  // into this object.
  PageBytes* StagedContent(std::uint32_t page_number);
  bool IsStaged(std::uint32_t page_number) const;

  // Writes every staged page, in the order first staged. A page whose disk
  // copy another program changed meanwhile is not written: the changes
  // staged on it are dropped and runtime_error(kRowChangedMessage) thrown
  // after the other pages are written.
  void WriteBack();

  // Writes back staged pages and makes every write so far durable.
  void Sync();

  // Throws CorruptDatabase for `page_number` with `detail`.
  [[noreturn]] void Corrupt(std::uint32_t page_number, const std::string& detail) const;

 private:
  struct StagedPage {
    std::uint32_t page_number;
    std::shared_ptr<PageBytes> content;  // also in the cache while there
    PageBytes disk_image;
  };

  PageBytes ReadFromFile(std::uint32_t page_number);
  // Reads `page_number` and up to kReadAheadPages - 1 pages after it that
  // are neither cached nor staged into the cache.
  void ReadAhead(std::uint32_t page_number);
  void WriteToFile(std::uint32_t page_number, const PageBytes& page);
  void Remember(std::uint32_t page_number, PageRef page);
  void Forget(std::uint32_t page_number);
  StagedPage* FindStaged(std::uint32_t page_number);

  std::unique_ptr<File> file_;
  DatabaseHeader header_;
  std::size_t cache_pages_;
  std::uint32_t page_count_;
  std::size_t pages_written_ = 0;
  PageBytes scratch_;  // for DiskEquals
  std::vector<StagedPage> staged_;  // in the order first staged; a few at most
  PageBytes encoded_;  // for writing an RC4-encoded page
  std::vector<std::uint8_t> read_ahead_;  // kReadAheadPages pages
  std::uint32_t next_in_order_ = 0;  // the page after the last one Read took from the file
  std::list<std::uint32_t> recent_;  // most recently used first
  std::unordered_map<std::uint32_t, std::pair<PageRef, std::list<std::uint32_t>::iterator>> cache_;
  // The page Read returned last, also in the cache and first in recent_: a
  // walk asks for the same page many times in a row.
  std::uint32_t last_number_ = 0;
  PageRef last_page_;
};

}  // namespace jet

#endif  // JET_PAGE_FILE_H_
