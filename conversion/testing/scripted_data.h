// A scripted connection and table for tests of the run: rows held in memory,
// every call recorded, and failures thrown where the test asks for them.
#ifndef CONVERSION_TESTING_SCRIPTED_DATA_H_
#define CONVERSION_TESTING_SCRIPTED_DATA_H_

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/data_access.h"

namespace conversion::testing {

class ScriptedConnection : public DataConnection {
 public:
  void SetConnectionString(std::u16string_view description) override {
    descriptions.emplace_back(description);
  }
  void Open() override {
    ++open_calls;
    if (open_error) throw std::runtime_error(*open_error);
    open = true;
  }

  std::vector<std::u16string> descriptions;
  int open_calls = 0;
  bool open = false;
  std::optional<std::string> open_error;
};

// One column of rows, "PoreskaStopa" unless the test names another. A row
// value of nullopt is NULL.
class ScriptedTable : public DataTable {
 public:
  enum class Op { kRead, kEdit, kWrite, kPost, kCancel, kNext };

  ScriptedTable(std::vector<std::optional<std::u16string>> rows,
                std::string column = "PoreskaStopa")
      : rows_(std::move(rows)), column_(std::move(column)), field_(*this) {}

  // Makes `op` throw on row `row` (0-based position in the walk).
  void FailAt(Op op, std::size_t row) { failures_.insert({op, row}); }
  void FailOpen(std::string message) { open_error_ = std::move(message); }
  // Makes post refuse any text longer than `chars` characters.
  void set_max_chars(std::size_t chars) { max_chars_ = chars; }

  const std::vector<std::optional<std::u16string>>& rows() const { return rows_; }
  // Every call, in order: "open", "first", "edit 3", "write 3 0", "post 3",
  // "cancel 3" (only when an edit was pending), "next 3".
  const std::vector<std::string>& log() const { return log_; }
  bool editing() const { return editing_; }
  std::size_t position() const { return position_; }

  void Open() override {
    if (open_error_) throw std::runtime_error(*open_error_);
    log_.push_back("open");
  }
  void First() override {
    log_.push_back("first");
    position_ = 0;
  }
  bool AtEnd() override { return position_ >= rows_.size(); }
  DataField& FieldByName(std::string_view name) override {
    if (!SameName(name, column_)) {
      throw std::runtime_error("ADOTable: Field '" + std::string(name) + "' not found");
    }
    return field_;
  }
  void Edit() override {
    Check(Op::kEdit);
    log_.push_back("edit " + std::to_string(position_));
    editing_ = true;
    pending_ = rows_.at(position_);
  }
  void Post() override {
    Check(Op::kPost);
    if (!editing_) throw std::logic_error("post without edit");
    if (pending_ && pending_->size() > max_chars_) throw std::runtime_error("too long");
    log_.push_back("post " + std::to_string(position_));
    rows_.at(position_) = pending_;
    editing_ = false;
  }
  void Cancel() override {
    Check(Op::kCancel);
    if (editing_) log_.push_back("cancel " + std::to_string(position_));
    editing_ = false;
  }
  void Next() override {
    Check(Op::kNext);
    log_.push_back("next " + std::to_string(position_));
    if (editing_) throw std::logic_error("next while editing");
    ++position_;
  }

 private:
  class Field : public DataField {
   public:
    explicit Field(ScriptedTable& table) : table_(table) {}
    std::u16string AsText() override {
      table_.Check(Op::kRead);
      const auto& value = table_.editing_ ? table_.pending_ : table_.rows_.at(table_.position_);
      return value.value_or(u"");
    }
    void SetText(std::u16string_view text) override {
      table_.Check(Op::kWrite);
      if (!table_.editing_) throw std::logic_error("write without edit");
      std::string ascii(text.begin(), text.end());
      table_.log_.push_back("write " + std::to_string(table_.position_) + " " + ascii);
      table_.pending_ = std::u16string(text);
    }

   private:
    ScriptedTable& table_;
  };

  void Check(Op op) const {
    if (failures_.count({op, position_})) {
      throw std::runtime_error("scripted failure at row " + std::to_string(position_));
    }
  }

  static bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
  }

  std::vector<std::optional<std::u16string>> rows_;
  std::string column_;
  Field field_;
  std::set<std::pair<Op, std::size_t>> failures_;
  std::optional<std::string> open_error_;
  std::size_t max_chars_ = 255;
  std::size_t position_ = 0;
  bool editing_ = false;
  std::optional<std::u16string> pending_;
  std::vector<std::string> log_;
};

}  // namespace conversion::testing

#endif  // CONVERSION_TESTING_SCRIPTED_DATA_H_
