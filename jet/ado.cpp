#include "jet/ado.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "jet/bytes.h"
#include "jet/catalog.h"
#include "jet/connection_string.h"
#include "jet/errors.h"
#include "jet/row_codec.h"
#include "jet/row_update.h"

namespace jet {
namespace {

std::u16string Widen(std::string_view text) {
  // Encoding: ASCII names -> UTF-16; other bytes are taken as Latin-1.
  std::u16string wide;
  for (char c : text) wide.push_back(static_cast<unsigned char>(c));
  return wide;
}

[[noreturn]] void ThrowNotNumber(const Column& column, std::u16string_view text, const char* kind) {
  throw std::runtime_error("The value '" + ToUtf8(text) + "' is not " + kind + " for the column '" + ToUtf8(column.name) + "'.");
}

std::optional<long long> ParseInteger(std::u16string_view text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  long long value = 0;
  const char* begin = ascii.data();
  if (!ascii.empty() && ascii[0] == '+') ++begin;
  const auto [end, error] = std::from_chars(begin, ascii.data() + ascii.size(), value);
  if (ascii.empty() || error != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
  return value;
}

std::optional<double> ParseReal(std::u16string_view text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  double value = 0;
  const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ascii.empty() || error != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Returns currency units (1/10000) for a decimal text with at most four
// decimals.
std::optional<std::int64_t> ParseCurrency(std::u16string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 1;
  std::int64_t units = 0;
  std::size_t digits = 0;
  std::size_t decimals = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'.' && !point) {
      point = true;
    } else if (c >= u'0' && c <= u'9') {
      if (point && ++decimals > 4) return std::nullopt;
      if (units > kLimit) return std::nullopt;
      units = units * 10 + (c - u'0');
      ++digits;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  for (; decimals < 4; ++decimals) {
    if (units > kLimit) return std::nullopt;
    units *= 10;
  }
  return negative ? -units : units;
}

template <typename T>
std::vector<std::uint8_t> LittleEndian(T value) {
  std::vector<std::uint8_t> bytes(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}

// Puts the stored bytes of `text` for `column` into `out`. Throws
// runtime_error when the column cannot take it.
void EncodeForColumn(const Column& column, std::u16string_view text, std::vector<std::uint8_t>& out) {
  switch (column.column_type()) {
    case ColumnType::kText: {
      if (text.size() > column.length / 2u) throw std::runtime_error(kFieldTooSmallMessage);
      if (!column.fixed()) {
        EncodeText(text, column, out);
        return;
      }
      // Encoding: UTF-16 -> UTF-16LE, padded with blanks to the fixed size.
      out.assign(column.length, 0);
      for (std::size_t i = 0; i < column.length / 2u; ++i) Put16(out, 2 * i, i < text.size() ? text[i] : u' ');
      return;
    }
    case ColumnType::kMemo: {
      const std::vector<std::uint8_t> data = EncodeText(text, column);
      out.assign(12, 0);
      Put32(out, 0, static_cast<std::uint32_t>(data.size()) | 0x80000000u);
      out.insert(out.end(), data.begin(), data.end());
      return;
    }
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: {
      const std::optional<long long> value = ParseInteger(text);
      const ColumnType type = column.column_type();
      const long long low = type == ColumnType::kByte ? 0 : type == ColumnType::kInteger ? -32768 : INT32_MIN;
      const long long high = type == ColumnType::kByte ? 255 : type == ColumnType::kInteger ? 32767 : INT32_MAX;
      if (!value || *value < low || *value > high) ThrowNotNumber(column, text, "a whole number in range");
      if (type == ColumnType::kByte) {
        out.assign(1, static_cast<std::uint8_t>(*value));
      } else if (type == ColumnType::kInteger) {
        out = LittleEndian(static_cast<std::int16_t>(*value));
      } else {
        out = LittleEndian(static_cast<std::int32_t>(*value));
      }
      return;
    }
    case ColumnType::kFloat:
    case ColumnType::kDouble: {
      const std::optional<double> value = ParseReal(text);
      if (!value) ThrowNotNumber(column, text, "a number");
      if (column.column_type() == ColumnType::kDouble) {
        out = LittleEndian(*value);
        return;
      }
      if (std::fabs(*value) > std::numeric_limits<float>::max()) ThrowNotNumber(column, text, "a number in range");
      out = LittleEndian(static_cast<float>(*value));
      return;
    }
    case ColumnType::kCurrency: {
      const std::optional<std::int64_t> value = ParseCurrency(text);
      if (!value) ThrowNotNumber(column, text, "an amount of money");
      out = LittleEndian(*value);
      return;
    }
    default:
      throw Unsupported("Writing text into the column '" + ToUtf8(column.name) + "' is not supported for its type.");
  }
}

}  // namespace

// ---------------------------------------------------------------- connection

ADOConnection::ADOConnection(PathMapper mapper, FileOpener opener) : mapper_(std::move(mapper)), opener_(std::move(opener)) {}

ADOConnection::~ADOConnection() {
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report; Close() is the place to see the failure.
  }
}

void ADOConnection::SetConnectionString(std::u16string_view description) { description_ = std::u16string(description); }

void ADOConnection::Open() {
  if (database_) return;
  const ConnectionString parsed = ConnectionString::Parse(description_);
  const std::optional<std::u16string> provider = parsed.Get(u"Provider");
  if (!provider || FoldCase(*provider) != FoldCase(kJetProvider)) throw std::runtime_error(kProviderNotFoundMessage);
  const std::u16string source = parsed.Get(u"Data Source").value_or(u"");
  if (source.empty()) throw std::runtime_error("The connection description names no database file (Data Source is empty).");
  const std::filesystem::path path = mapper_ ? mapper_(source) : std::filesystem::path(ToUtf8(source));
  std::unique_ptr<File> file = opener_ ? opener_(path) : OpenFile(path, OpenMode::kReadWrite);
  database_ = std::make_unique<Database>(std::move(file), parsed.Get(u"Jet OLEDB:Database Password"));
  ++generation_;
}

void ADOConnection::Close() {
  if (!database_) return;
  std::unique_ptr<Database> database = std::move(database_);
  if (database->pages().writable()) database->pages().Sync();
}

void ADOConnection::Flush() {
  if (database_ && database_->pages().writable()) database_->pages().Sync();
}

Database& ADOConnection::database() {
  if (!database_) throw std::runtime_error(kClosedMessage);
  return *database_;
}

// ---------------------------------------------------------------- table

class ADOTable::Field : public conversion::DataField {
 public:
  Field(ADOTable& table, const Column& column) : table_(table), column_(column) {}
  std::u16string AsText() override { return table_.ReadText(column_); }
  void SetText(std::u16string_view text) override { table_.SetPending(column_, text); }

 private:
  ADOTable& table_;
  const Column& column_;
};

ADOTable::ADOTable(ADOConnection& connection, std::string table_name)
    : connection_(connection), table_name_(std::move(table_name)) {}

ADOTable::~ADOTable() {
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report; the connection's Close() writes again.
  }
}

void ADOTable::Open() {
  if (cursor_ && generation_ == connection_.generation() && connection_.connected()) return;
  Close();
  Database& database = connection_.database();
  const std::optional<CatalogEntry> entry = FindTable(database.pages(), Widen(table_name_));
  if (!entry) {
    throw std::runtime_error("The Microsoft Jet database engine cannot find the input table or query '" + table_name_ +
                             "'. Make sure it exists and that its name is spelled correctly.");
  }
  auto definition = std::make_unique<TableDefinition>(ReadTableDefinition(database.pages(), entry->definition_page));
  // The whole table is checked before the walk, so that a damaged table is
  // refused before the first row is written rather than after some were.
  CheckTable(database.pages(), *definition);
  definition_ = std::move(definition);
  cursor_ = std::make_unique<TableCursor>(database.pages(), *definition_);
  generation_ = connection_.generation();
}

void ADOTable::Close() {
  if (cursor_ && connection_.connected() && generation_ == connection_.generation()) connection_.database().pages().WriteBack();
  last_field_ = nullptr;
  fields_by_name_.clear();
  fields_.clear();
  cursor_.reset();
  definition_.reset();
  editing_ = false;
  pending_.clear();
}

void ADOTable::CheckOpen() const {
  if (!cursor_ || !connection_.connected() || generation_ != connection_.generation()) throw std::runtime_error(kClosedMessage);
}

void ADOTable::CheckCurrent() const {
  CheckOpen();
  if (cursor_->AtEnd()) throw std::runtime_error(kNoCurrentRowMessage);
}

const TableDefinition& ADOTable::definition() const {
  CheckOpen();
  return *definition_;
}

void ADOTable::First() {
  CheckOpen();
  Cancel();
  connection_.database().pages().WriteBack();
  cursor_->First();
}

bool ADOTable::AtEnd() {
  CheckOpen();
  return cursor_->AtEnd();
}

conversion::DataField& ADOTable::FieldByName(std::string_view name) {
  CheckOpen();
  // A walk asks for the same field row after row.
  if (last_field_ && name == last_name_) return *last_field_;
  const auto known = fields_by_name_.find(name);
  if (known != fields_by_name_.end()) {
    last_name_.assign(name);
    last_field_ = known->second;
    return *known->second;
  }
  const Column* column = definition_->FindColumn(Widen(name));
  if (!column) throw std::runtime_error(kNoSuchFieldMessage);
  std::unique_ptr<Field>& field = fields_[column->number];
  if (!field) field = std::make_unique<Field>(*this, *column);
  fields_by_name_.emplace(std::string(name), field.get());
  return *field;
}

std::u16string ADOTable::ReadText(const Column& column) {
  CheckCurrent();
  if (editing_) {
    for (const auto& [number, pending] : pending_) {
      if (number == column.number) return pending;
    }
  }
  const RowView& row = cursor_->view();
  if (column.column_type() == ColumnType::kText) {
    const std::optional<std::span<const std::uint8_t>> raw = row.Raw(column);
    return raw ? DecodeText(*raw) : std::u16string();
  }
  return ValueAsText(DecodeValue(connection_.database().pages(), row, column));
}

void ADOTable::SetPending(const Column& column, std::u16string_view text) {
  CheckCurrent();
  if (!editing_) throw std::runtime_error(kNotEditingMessage);
  for (auto& [number, pending] : pending_) {
    if (number == column.number) {
      pending.assign(text);
      return;
    }
  }
  pending_.emplace_back(column.number, text);
  if (pending_.size() > 1) {
    std::sort(pending_.begin(), pending_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
}

void ADOTable::Edit() {
  CheckCurrent();
  editing_ = true;
}

void ADOTable::Post() {
  CheckOpen();
  if (!editing_) return;
  CheckCurrent();
  // The buffers of earlier posts are reused: a walk posts many rows.
  changes_.resize(pending_.size());
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const auto& [number, text] = pending_[i];
    const Column* column = nullptr;
    for (const Column& c : definition_->columns) {
      if (c.number == number) column = &c;
    }
    ColumnChange& change = changes_[i];
    change.column = column;
    if (!change.bytes) change.bytes.emplace();
    EncodeForColumn(*column, text, *change.bytes);
  }
  if (!changes_.empty()) {
    UpdateRow(connection_.database().pages(), *definition_, cursor_->location(), cursor_->view(), changes_, update_);
    cursor_->Refresh(update_.location, update_.row, update_.maps_changed, update_.same_layout);
  }
  editing_ = false;
  pending_.clear();
}

void ADOTable::Cancel() {
  editing_ = false;
  pending_.clear();
}

void ADOTable::Next() {
  CheckOpen();
  if (editing_) Post();
  // What was posted reaches the file when the walk leaves its page.
  PageFile& pages = connection_.database().pages();
  const std::uint32_t page = cursor_->AtEnd() ? 0 : cursor_->location().home.page;
  try {
    cursor_->Next();
  } catch (...) {
    pages.Sync();
    throw;
  }
  // The end of the walk is the end of the run's changes: they are made
  // durable before the run reports completion.
  if (cursor_->AtEnd()) {
    pages.Sync();
  } else if (cursor_->location().home.page != page) {
    pages.WriteBack();
  }
}

}  // namespace jet
