#include "jet/page_file.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "jet/bytes.h"
#include "jet/errors.h"
#include "jet/rc4.h"

namespace jet {
namespace {

// Applies the page encoding of an "encrypted" database: RC4 over the whole
// page, keyed by the database key XOR the page number (4 LE bytes each).
void ApplyPageEncoding(const DatabaseHeader& header, std::uint32_t page_number, PageBytes& page) {
  if (!header.encoded() || page_number == 0) return;
  std::uint8_t key[4];
  Put32(key, 0, Get32(header.encoding_key, 0) ^ page_number);
  ApplyRc4(key, page);
}

}  // namespace

PageFile::PageFile(std::unique_ptr<File> file, const DatabaseHeader& header, std::size_t cache_pages)
    : file_(std::move(file)), header_(header), cache_pages_(cache_pages < 4 ? 4 : cache_pages), page_count_(header.page_count) {}

void PageFile::Corrupt(std::uint32_t page_number, const std::string& detail) const {
  throw CorruptDatabase(file_->path(), page_number, detail);
}

PageBytes PageFile::ReadFromFile(std::uint32_t page_number) {
  if (page_number >= page_count_) Corrupt(page_number, "a reference points past the end of the file");
  PageBytes page(page_size());
  if (file_->ReadAt(static_cast<std::uint64_t>(page_number) * page_size(), page) != page.size()) {
    Corrupt(page_number, "the file ends inside this page");
  }
  ApplyPageEncoding(header_, page_number, page);
  return page;
}

void PageFile::Remember(std::uint32_t page_number, PageRef page) {
  auto found = cache_.find(page_number);
  if (found != cache_.end()) {
    recent_.erase(found->second.second);
    cache_.erase(found);
  }
  recent_.push_front(page_number);
  last_number_ = page_number;
  last_page_ = page;
  cache_.emplace(page_number, std::make_pair(std::move(page), recent_.begin()));
  while (cache_.size() > cache_pages_) {
    cache_.erase(recent_.back());
    recent_.pop_back();
  }
}

PageRef PageFile::Read(std::uint32_t page_number) {
  if (last_page_ && last_number_ == page_number) return last_page_;
  auto found = cache_.find(page_number);
  if (found != cache_.end()) {
    recent_.splice(recent_.begin(), recent_, found->second.second);
    last_number_ = page_number;
    last_page_ = found->second.first;
    return last_page_;
  }
  // A staged page the cache let go of is still the page's content.
  if (StagedPage* staged = FindStaged(page_number)) {
    Remember(page_number, staged->content);
    return last_page_;
  }
  if (page_number == next_in_order_ && page_number + 1 < page_count_) {
    ReadAhead(page_number);
    return last_page_;
  }
  auto page = std::make_shared<const PageBytes>(ReadFromFile(page_number));
  Remember(page_number, page);
  next_in_order_ = page_number + 1;
  return page;
}

void PageFile::ReadAhead(std::uint32_t page_number) {
  const std::size_t size = page_size();
  const std::uint32_t count = std::min<std::uint32_t>(kReadAheadPages, page_count_ - page_number);
  read_ahead_.resize(count * size);
  const std::size_t got = file_->ReadAt(static_cast<std::uint64_t>(page_number) * size, read_ahead_);
  if (got < size) Corrupt(page_number, "the file ends inside this page");
  const std::uint32_t whole = static_cast<std::uint32_t>(got / size);
  // The pages after the first go in first, so that the first is the most
  // recent; pages this object holds newer copies of are left alone.
  for (std::uint32_t i = whole; i-- > 0;) {
    const std::uint32_t number = page_number + i;
    if (i != 0 && (cache_.count(number) != 0 || IsStaged(number))) continue;
    auto page = std::make_shared<PageBytes>(read_ahead_.begin() + static_cast<std::ptrdiff_t>(i * size),
                                            read_ahead_.begin() + static_cast<std::ptrdiff_t>((i + 1) * size));
    ApplyPageEncoding(header_, number, *page);
    Remember(number, std::move(page));
  }
  next_in_order_ = page_number + whole;
}

PageBytes PageFile::ReadFresh(std::uint32_t page_number) { return ReadFromFile(page_number); }

bool PageFile::DiskEquals(std::uint32_t page_number, const PageBytes& expected) {
  if (page_number >= page_count_) Corrupt(page_number, "a reference points past the end of the file");
  scratch_.resize(page_size());
  if (file_->ReadAt(static_cast<std::uint64_t>(page_number) * page_size(), scratch_) != scratch_.size()) {
    Corrupt(page_number, "the file ends inside this page");
  }
  ApplyPageEncoding(header_, page_number, scratch_);
  return scratch_ == expected;
}

void PageFile::WriteToFile(std::uint32_t page_number, const PageBytes& page) {
  const PageBytes* bytes = &page;
  if (header_.encoded()) {
    encoded_ = page;
    ApplyPageEncoding(header_, page_number, encoded_);
    bytes = &encoded_;
  }
  try {
    file_->WriteAt(static_cast<std::uint64_t>(page_number) * page_size(), *bytes);
  } catch (...) {
    // What is on disk is unknown now; read it again when next needed.
    Forget(page_number);
    throw;
  }
  ++pages_written_;
  if (page_number == page_count_) ++page_count_;
}

void PageFile::Write(std::uint32_t page_number, const PageBytes& page) {
  if (page_number == 0 || page_number > page_count_ || page.size() != page_size()) {
    throw std::logic_error("page write outside the file");
  }
  if (IsStaged(page_number)) throw std::logic_error("direct write of a staged page");
  WriteToFile(page_number, page);
  Remember(page_number, std::make_shared<const PageBytes>(page));
}

void PageFile::Forget(std::uint32_t page_number) {
  if (last_number_ == page_number) last_page_.reset();
  auto found = cache_.find(page_number);
  if (found != cache_.end()) {
    recent_.erase(found->second.second);
    cache_.erase(found);
  }
}

PageFile::StagedPage* PageFile::FindStaged(std::uint32_t page_number) {
  for (StagedPage& staged : staged_) {
    if (staged.page_number == page_number) return &staged;
  }
  return nullptr;
}

bool PageFile::IsStaged(std::uint32_t page_number) const {
  for (const StagedPage& staged : staged_) {
    if (staged.page_number == page_number) return true;
  }
  return false;
}

void PageFile::Stage(std::uint32_t page_number, PageBytes page, PageBytes disk_image) {
  if (page_number == 0 || page_number >= page_count_ || page.size() != page_size()) throw std::logic_error("staging a page outside the file");
  auto content = std::make_shared<PageBytes>(std::move(page));
  if (StagedPage* staged = FindStaged(page_number)) {
    staged->content = content;
  } else {
    staged_.push_back(StagedPage{page_number, content, std::move(disk_image)});
  }
  Remember(page_number, std::move(content));
}

PageBytes* PageFile::StagedContent(std::uint32_t page_number) {
  StagedPage* staged = FindStaged(page_number);
  if (!staged) return nullptr;
  // Whoever holds a PageRef to the page keeps what it saw: copy first. The
  // page Read returned last is always in the cache too.
  const long count = staged->content.use_count();
  const bool is_last = last_page_.get() == staged->content.get();
  if (count == 1 || (is_last && count == 3)) return staged->content.get();
  const auto cached = cache_.find(page_number);
  const bool in_cache = cached != cache_.end() && cached->second.first.get() == staged->content.get();
  if (count > 1 + (in_cache ? 1 : 0) + (is_last ? 1 : 0)) {
    staged->content = std::make_shared<PageBytes>(*staged->content);
    if (in_cache) cached->second.first = staged->content;
    if (is_last) last_page_ = staged->content;
  }
  return staged->content.get();
}

void PageFile::WriteBack() {
  std::vector<StagedPage> staged;
  staged.swap(staged_);
  bool conflict = false;
  for (std::size_t i = 0; i < staged.size(); ++i) {
    const StagedPage& page = staged[i];
    try {
      // Another program may have written the page since it was staged; its
      // change wins and the changes staged here are dropped.
      if (!DiskEquals(page.page_number, page.disk_image)) {
        Forget(page.page_number);
        conflict = true;
        continue;
      }
      WriteToFile(page.page_number, *page.content);
    } catch (...) {
      for (std::size_t j = i; j < staged.size(); ++j) Forget(staged[j].page_number);
      throw;
    }
  }
  // Keep the buffers' capacity for the next pages staged.
  staged.clear();
  if (staged_.empty()) staged_.swap(staged);
  if (conflict) throw std::runtime_error(kRowChangedMessage);
}

void PageFile::Sync() {
  WriteBack();
  file_->Sync();
}

}  // namespace jet
