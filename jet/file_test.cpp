#include "jet/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "jet/errors.h"

namespace jet {
namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "frn-file-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    database_ = dir_ / "podaci.dtb";
    std::ofstream(database_) << "data";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Takes a classic POSIX lock the way Wine mirrors a Jet lock: a write lock
  // far beyond the end of the file. Returns the descriptor holding it.
  static int LockFarAway(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x10000001;
    lock.l_len = 1;
    EXPECT_EQ(::fcntl(fd, F_SETLK, &lock), 0);
    return fd;
  }

  void ExpectInUse() {
    try {
      OpenFile(database_, OpenMode::kReadWrite);
      ADD_FAILURE() << "opened";
    } catch (const IoError& error) {
      EXPECT_EQ(error.what(), "Could not use '" + database_.string() + "'; file already in use.");
      EXPECT_EQ(error.path(), database_);
    }
  }

  std::filesystem::path dir_;
  std::filesystem::path database_;
};

TEST_F(FileTest, MissingFileIsNamedInJetsWords) {
  const std::filesystem::path missing = dir_ / "nema.mdb";
  try {
    OpenFile(missing, OpenMode::kReadOnly);
    FAIL() << "opened";
  } catch (const IoError& error) {
    EXPECT_EQ(error.what(), "Could not find file '" + missing.string() + "'.");
    EXPECT_EQ(error.error_number(), ENOENT);
  }
}

TEST_F(FileTest, LiveLockOnJetsLockFileKeepsWritersOut) {
  std::ofstream(dir_ / "podaci.ldb") << std::string(64, 'x');
  const int fd = LockFarAway(dir_ / "podaci.ldb");
  ExpectInUse();
  EXPECT_NO_THROW(OpenFile(database_, OpenMode::kReadOnly));  // readers are not kept out
  ::close(fd);
  EXPECT_NO_THROW(OpenFile(database_, OpenMode::kReadWrite));
}

TEST_F(FileTest, StaleLockFileWithoutLocksIsNoObstacle) {
  std::ofstream(dir_ / "podaci.ldb") << std::string(64, 'x');
  EXPECT_NO_THROW(OpenFile(database_, OpenMode::kReadWrite));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "podaci.ldb"));
}

TEST_F(FileTest, OneWriterAtATimeAndNoFileOfItsOwn) {
  {
    std::unique_ptr<File> first = OpenFile(database_, OpenMode::kReadWrite);
    ExpectInUse();
  }
  EXPECT_NO_THROW(OpenFile(database_, OpenMode::kReadWrite));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);
}

TEST_F(FileTest, LockOnTheDatabaseItselfKeepsWritersOut) {
  const int fd = LockFarAway(database_);
  ExpectInUse();
  ::close(fd);
}

TEST(FailingFileTest, FailsOrStopsAfterItsLimit) {
  for (const FailingFile::Mode mode : {FailingFile::Mode::kFail, FailingFile::Mode::kStop}) {
    SCOPED_TRACE(mode == FailingFile::Mode::kFail ? "fail" : "stop");
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(4, 0);
    FailingFile file(std::make_unique<MemoryFile>("m.mdb", bytes), 1, mode);
    const std::uint8_t one[] = {1};
    file.WriteAt(0, one);
    if (mode == FailingFile::Mode::kFail) {
      EXPECT_THROW(file.WriteAt(1, one), IoError);
    } else {
      EXPECT_NO_THROW(file.WriteAt(1, one));
    }
    EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(file.write_count(), 2u);
  }
}

}  // namespace
}  // namespace jet
