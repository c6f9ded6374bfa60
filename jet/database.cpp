#include "jet/database.h"

namespace jet {

Database::Database(std::unique_ptr<File> file, const std::optional<std::u16string>& password, std::size_t cache_pages) {
  header_ = ReadHeader(*file);
  CheckPassword(header_, password.value_or(u""));
  pages_ = std::make_unique<PageFile>(std::move(file), header_, cache_pages);
}

}  // namespace jet
