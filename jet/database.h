// An open Jet 4 database: its header checked and its pages at hand.
#ifndef JET_DATABASE_H_
#define JET_DATABASE_H_

#include <memory>
#include <optional>
#include <string>

#include "jet/file.h"
#include "jet/header.h"
#include "jet/page_file.h"

namespace jet {

class Database {
 public:
  // Reads the header of `file` and checks `password` (nullopt: none given,
  // which only opens a database without a password). Throws Unsupported,
  // CorruptDatabase, or runtime_error("Not a valid password.").
  Database(std::unique_ptr<File> file, const std::optional<std::u16string>& password,
           std::size_t cache_pages = PageFile::kDefaultCachePages);

  const DatabaseHeader& header() const { return header_; }
  PageFile& pages() { return *pages_; }

 private:
  DatabaseHeader header_;
  std::unique_ptr<PageFile> pages_;
};

}  // namespace jet

#endif  // JET_DATABASE_H_
