#include "platform/test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace platform::testing {

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "frn-platform-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code error;
  // Directories a test made read-only must be writable again to be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, error);
    }
  }
  std::filesystem::remove_all(path_, error);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream contents;
  contents << stream.rdbuf();
  return contents.str();
}

void WriteFile(const std::filesystem::path& path, std::string_view contents) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!stream) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFixture(std::string_view relative) {
  return ReadFile(std::filesystem::path(FRN_FIXTURES_DIR) / relative);
}

FakeWineServer::FakeWineServer(const std::filesystem::path& prefix) {
  struct stat prefix_stat {};
  if (::stat(prefix.c_str(), &prefix_stat) != 0) throw std::runtime_error("no prefix");
  const std::filesystem::path root = "/tmp/.wine-" + std::to_string(::getuid());
  if (::mkdir(root.c_str(), 0700) == 0) created_root_ = true;
  char name[64];
  std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(prefix_stat.st_dev),
                static_cast<unsigned long long>(prefix_stat.st_ino));
  directory_ = root / name;
  std::filesystem::create_directories(directory_);
  fd_ = ::open((directory_ / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) throw std::runtime_error("cannot open the lock file");
  // An open-file-description lock conflicts with the classic lock test even
  // inside this process, as a wineserver's lock does for other processes.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  if (::fcntl(fd_, F_OFD_SETLK, &lock) != 0) throw std::runtime_error("cannot take the lock");
}

FakeWineServer::~FakeWineServer() {
  if (fd_ >= 0) ::close(fd_);
  std::error_code error;
  std::filesystem::remove_all(directory_, error);
  if (created_root_) std::filesystem::remove(directory_.parent_path(), error);
}

}  // namespace platform::testing
