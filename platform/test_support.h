// Helpers shared by the platform tests: a scratch directory standing in for
// a Wine prefix, and whole-file reads and writes.
#ifndef PLATFORM_TEST_SUPPORT_H_
#define PLATFORM_TEST_SUPPORT_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace platform::testing {

// A new empty directory, removed with everything in it on destruction.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view contents);

// Returns the contents of tests/fixtures/<relative>.
std::string ReadFixture(std::string_view relative);

// Holds the lock a running wineserver holds for `prefix`, until destroyed,
// creating the server directory and lock file when missing (and removing
// what it created).
class FakeWineServer {
 public:
  explicit FakeWineServer(const std::filesystem::path& prefix);
  ~FakeWineServer();
  FakeWineServer(const FakeWineServer&) = delete;
  FakeWineServer& operator=(const FakeWineServer&) = delete;

 private:
  std::filesystem::path directory_;
  bool created_root_ = false;
  int fd_ = -1;
};

}  // namespace platform::testing

#endif  // PLATFORM_TEST_SUPPORT_H_
