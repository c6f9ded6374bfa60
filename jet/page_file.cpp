#include "jet/page_file.h"

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
  auto page = std::make_shared<const PageBytes>(ReadFromFile(page_number));
  Remember(page_number, page);
  return page;
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

void PageFile::Write(std::uint32_t page_number, const PageBytes& page) {
  if (page_number == 0 || page_number > page_count_ || page.size() != page_size()) {
    throw std::logic_error("page write outside the file");
  }
  if (Staged(page_number)) throw std::logic_error("direct write of a staged page");
  PageBytes encoded = page;
  ApplyPageEncoding(header_, page_number, encoded);
  try {
    file_->WriteAt(static_cast<std::uint64_t>(page_number) * page_size(), encoded);
  } catch (...) {
    // What is on disk is unknown now; read it again when next needed.
    Forget(page_number);
    throw;
  }
  ++pages_written_;
  if (page_number == page_count_) ++page_count_;
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

void PageFile::Stage(std::uint32_t page_number, const PageBytes& page, const PageBytes& disk_image) {
  if (page_number == 0 || page_number >= page_count_ || page.size() != page_size()) throw std::logic_error("staging a page outside the file");
  bool found = false;
  for (auto& [number, entry] : staged_) {
    if (number == page_number) {
      entry.first = page;
      found = true;
    }
  }
  if (!found) staged_.emplace_back(page_number, std::make_pair(page, disk_image));
  Remember(page_number, std::make_shared<const PageBytes>(page));
}

const std::pair<PageBytes, PageBytes>* PageFile::Staged(std::uint32_t page_number) const {
  for (const auto& [number, entry] : staged_) {
    if (number == page_number) return &entry;
  }
  return nullptr;
}

void PageFile::WriteBack() {
  std::vector<std::pair<std::uint32_t, std::pair<PageBytes, PageBytes>>> staged;
  staged.swap(staged_);
  bool conflict = false;
  for (std::size_t i = 0; i < staged.size(); ++i) {
    const auto& [page_number, entry] = staged[i];
    try {
      if (!DiskEquals(page_number, entry.second)) {
        Forget(page_number);
        conflict = true;
        continue;
      }
      Write(page_number, entry.first);
    } catch (...) {
      for (std::size_t j = i; j < staged.size(); ++j) Forget(staged[j].first);
      throw;
    }
  }
  if (conflict) throw std::runtime_error(kRowChangedMessage);
}

void PageFile::Sync() {
  WriteBack();
  file_->Sync();
}

}  // namespace jet
