#include "jet/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "jet/errors.h"

namespace jet {
namespace {

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

[[noreturn]] void ThrowErrno(const std::filesystem::path& path, int error_number, const std::string& what) {
  throw IoError(path, error_number, "Cannot " + what + " " + Quoted(path) + ": " + std::strerror(error_number));
}

[[noreturn]] void ThrowInUse(const std::filesystem::path& path) {
  // Jet's own wording for a database another user holds.
  throw IoError(path, EBUSY, "Could not use " + Quoted(path) + "; file already in use.");
}

// Owns a descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Returns true when some other lock owner holds any byte-range lock on `fd`
// that a write lock over the whole range would meet. Jet places its locks far
// beyond the end of its lock file, so the range runs to infinity.
bool HasForeignLock(int fd, const std::filesystem::path& path) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;
  probe.l_pid = 0;
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) ThrowErrno(path, errno, "check the locks of");
  return probe.l_type != F_UNLCK;
}

class PosixFile : public File {
 public:
  PosixFile(std::filesystem::path path, int fd, bool writable) : path_(std::move(path)), fd_(fd), writable_(writable) {}
  ~PosixFile() override { ::close(fd_); }  // closing the description drops its lock

  const std::filesystem::path& path() const override { return path_; }

  std::uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) ThrowErrno(path_, errno, "read the size of");
    return static_cast<std::uint64_t>(st.st_size);
  }

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    std::size_t done = 0;
    while (done < buffer.size()) {
      const ssize_t n = ::pread(fd_, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(path_, errno, "read");
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(path_, errno, "write");
      }
      done += static_cast<std::size_t>(n);
    }
  }

  void Sync() override {
    if (::fsync(fd_) != 0) ThrowErrno(path_, errno, "flush");
  }

  bool writable() const override { return writable_; }

 private:
  std::filesystem::path path_;
  int fd_;
  bool writable_;
};

}  // namespace

std::filesystem::path LockFilePath(const std::filesystem::path& path) {
  std::filesystem::path lock = path;
  lock.replace_extension(".ldb");
  return lock;
}

std::unique_ptr<File> OpenFile(const std::filesystem::path& path, OpenMode mode) {
  const bool write = mode == OpenMode::kReadWrite;
  Descriptor fd(::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (fd.get() < 0) {
    const int error_number = errno;
    if (error_number == ENOENT || error_number == ENOTDIR) {
      throw IoError(path, error_number, "Could not find file " + Quoted(path) + ".");
    }
    ThrowErrno(path, error_number, "open");
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) ThrowErrno(path, errno, "open");
  if (!S_ISREG(st.st_mode)) throw IoError(path, EISDIR, "Cannot open " + Quoted(path) + ": not a file");

  if (write) {
    // Another program (Jet under Wine) announces itself by locks on its lock
    // file; a stale lock file without locks means nobody is there.
    const std::filesystem::path lock_path = LockFilePath(path);
    Descriptor lock_fd(::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (lock_fd.get() >= 0 && HasForeignLock(lock_fd.get(), lock_path)) ThrowInUse(path);
    if (HasForeignLock(fd.get(), path)) ThrowInUse(path);
    // Held for the life of the description: an open-file-description lock,
    // unlike a classic POSIX lock, survives the closing of other descriptors
    // of the same file in this process.
    struct flock own {};
    own.l_type = F_WRLCK;
    own.l_whence = SEEK_SET;
    own.l_start = 0;
    own.l_len = 0;
    own.l_pid = 0;
    if (::fcntl(fd.get(), F_OFD_SETLK, &own) != 0) {
      if (errno == EAGAIN || errno == EACCES) ThrowInUse(path);
      ThrowErrno(path, errno, "lock");
    }
  }
  return std::make_unique<PosixFile>(path, fd.release(), write);
}

MemoryFile::MemoryFile(std::filesystem::path path, std::shared_ptr<std::vector<std::uint8_t>> bytes, bool writable)
    : path_(std::move(path)), bytes_(std::move(bytes)), writable_(writable) {}

std::size_t MemoryFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) {
  if (offset >= bytes_->size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(buffer.size(), bytes_->size() - offset);
  std::memcpy(buffer.data(), bytes_->data() + offset, n);
  return n;
}

void MemoryFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
  if (!writable_) throw IoError(path_, EBADF, "Cannot write '" + path_.string() + "': opened for reading only");
  if (offset + data.size() > bytes_->size()) bytes_->resize(offset + data.size());
  std::memcpy(bytes_->data() + offset, data.data(), data.size());
}

FailingFile::FailingFile(std::unique_ptr<File> inner, std::size_t write_limit, Mode mode)
    : inner_(std::move(inner)), write_limit_(write_limit), mode_(mode) {}

void FailingFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
  ++write_count_;
  if (write_count_ > write_limit_) {
    if (mode_ == Mode::kStop) return;
    throw IoError(path(), EIO, "Cannot write '" + path().string() + "': " + std::strerror(EIO));
  }
  inner_->WriteAt(offset, data);
}

void FailingFile::Sync() {
  if (write_count_ > write_limit_ && mode_ == Mode::kFail) {
    throw IoError(path(), EIO, "Cannot flush '" + path().string() + "': " + std::strerror(EIO));
  }
  inner_->Sync();
}

}  // namespace jet
