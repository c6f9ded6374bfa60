// The engine's only door to the operating system: a file read and written at
// byte offsets, flushed to disk, and locked against other writers.
//
// PosixFile is the real thing. MemoryFile and FailingFile are stand-ins for
// tests: FailingFile wraps another file and fails, or silently stops writing
// as a power cut would, after its N-th write. Page layout is left to
// page_file.h.
#ifndef JET_FILE_H_
#define JET_FILE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace jet {

class File {
 public:
  virtual ~File() = default;

  // Returns the path shown in error messages.
  virtual const std::filesystem::path& path() const = 0;

  // Returns the current size in bytes.
  virtual std::uint64_t Size() = 0;

  // Reads up to buffer.size() bytes at `offset`; returns how many were read,
  // fewer only at the end of the file. Throws IoError.
  virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;

  // Writes all of `data` at `offset`, growing the file if needed. Throws
  // IoError.
  virtual void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;

  // Makes every completed write durable. Throws IoError.
  virtual void Sync() = 0;

  // Returns true when the file was opened for writing.
  virtual bool writable() const = 0;
};

enum class OpenMode { kReadOnly, kReadWrite };

// Opens `path`. For kReadWrite the file is first checked for other users:
// Jet's lock file beside it ("<name>.ldb") holding a live byte-range lock, or
// any lock on the database file itself; then an advisory open-file-description
// lock is held on the database for the life of the returned object, keeping
// other instances of this program out. Creates no file. Throws IoError: "Could
// not find file '<path>'." when it does not exist, "Could not use '<path>';
// file already in use." when another program has it open.
std::unique_ptr<File> OpenFile(const std::filesystem::path& path, OpenMode mode);

// Returns the path of Jet's lock file for the database at `path`.
std::filesystem::path LockFilePath(const std::filesystem::path& path);

// A file held in memory; `bytes` is shared so that tests can look at it while
// the engine has it open.
class MemoryFile : public File {
 public:
  MemoryFile(std::filesystem::path path, std::shared_ptr<std::vector<std::uint8_t>> bytes, bool writable = true);

  const std::filesystem::path& path() const override { return path_; }
  std::uint64_t Size() override { return bytes_->size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override;
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override;
  void Sync() override { ++sync_count_; }
  bool writable() const override { return writable_; }

  int sync_count() const { return sync_count_; }

 private:
  std::filesystem::path path_;
  std::shared_ptr<std::vector<std::uint8_t>> bytes_;
  bool writable_;
  int sync_count_ = 0;
};

// Passes everything to `inner` until `write_limit` writes have gone through;
// then each further write either throws IoError (kFail) or is silently
// dropped (kStop, what the disk sees when the power goes).
class FailingFile : public File {
 public:
  enum class Mode { kFail, kStop };

  FailingFile(std::unique_ptr<File> inner, std::size_t write_limit, Mode mode);

  const std::filesystem::path& path() const override { return inner_->path(); }
  std::uint64_t Size() override { return inner_->Size(); }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    return inner_->ReadAt(offset, buffer);
  }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override;
  void Sync() override;
  bool writable() const override { return inner_->writable(); }

  // Returns the number of writes asked for, passed or not.
  std::size_t write_count() const { return write_count_; }

 private:
  std::unique_ptr<File> inner_;
  std::size_t write_limit_;
  Mode mode_;
  std::size_t write_count_ = 0;
};

}  // namespace jet

#endif  // JET_FILE_H_
