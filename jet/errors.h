// The error kinds the engine throws. what() is the text shown to the user;
// context the caller may act on is kept in fields as well.
#ifndef JET_ERRORS_H_
#define JET_ERRORS_H_

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace jet {

// The file holds something the engine cannot make sense of: a damaged or
// truncated database, or one that is not a Jet database at all.
class CorruptDatabase : public std::runtime_error {
 public:
  CorruptDatabase(const std::filesystem::path& path, std::uint32_t page_number, const std::string& detail)
      : std::runtime_error("The database '" + path.string() + "' is damaged (page " + std::to_string(page_number) +
                           "): " + detail),
        path_(path),
        page_number_(page_number) {}

  const std::filesystem::path& path() const { return path_; }
  std::uint32_t page_number() const { return page_number_; }

 private:
  std::filesystem::path path_;
  std::uint32_t page_number_;
};

// The file or the request uses something this engine does not handle: another
// format version, a change it cannot make safely.
class Unsupported : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reports damage found by a decoder of bytes that holds no file: the
// engine's implementation throws CorruptDatabase naming the file and the
// page, a test's may throw something plainer.
class CorruptionReporter {
 public:
  virtual ~CorruptionReporter() = default;
  [[noreturn]] virtual void Corrupt(std::uint32_t page_number, const std::string& detail) const = 0;
};

// The operating system refused an operation on a file.
class IoError : public std::runtime_error {
 public:
  IoError(const std::filesystem::path& path, int error_number, const std::string& text)
      : std::runtime_error(text), path_(path), error_number_(error_number) {}

  const std::filesystem::path& path() const { return path_; }
  int error_number() const { return error_number_; }

 private:
  std::filesystem::path path_;
  int error_number_;
};

}  // namespace jet

#endif  // JET_ERRORS_H_
