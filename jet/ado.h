// ADOConnection and ADOTable: the run's data-access components (see
// conversion/data_access.h) over this engine, shaped after ADO's connection
// and table: a connection description names the file and the password, the
// table walks its rows in scan order and writes each posted row at once.
//
// Posted rows are written when the walk leaves their page and are durable
// once the walk reaches the end of the table, and after Flush(), Close() or
// destruction of the connection. A row whose post changes an indexed column
// is written at once, with its indexes (index_maintenance.h).
#ifndef JET_ADO_H_
#define JET_ADO_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/data_access.h"
#include "jet/database.h"
#include "jet/file.h"
#include "jet/row_update.h"
#include "jet/table_cursor.h"
#include "jet/table_definition.h"

namespace jet {

// Maps the Data Source of a connection description (wide text as given) to
// the file to open; throws for a path it cannot map. The app passes the
// Wine-prefix DOS-path mapping here; the default uses the text (as UTF-8) as
// the path.
using PathMapper = std::function<std::filesystem::path(std::u16string_view data_source)>;

// Opens the database file for the connection; the default opens it for
// writing with OpenFile. Tests pass in-memory or failing files.
using FileOpener = std::function<std::unique_ptr<File>(const std::filesystem::path& path)>;

inline constexpr std::u16string_view kJetProvider = u"Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* kProviderNotFoundMessage = "Provider cannot be found. It may not be properly installed.";
inline constexpr const char* kClosedMessage = "Operation is not allowed when the object is closed.";
inline constexpr const char* kNoCurrentRowMessage =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.";
inline constexpr const char* kNoSuchFieldMessage =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";
inline constexpr const char* kNotEditingMessage = "Dataset not in edit or insert mode";
inline constexpr const char* kFieldTooSmallMessage =
    "The field is too small to accept the amount of data you attempted to add. Try inserting or pasting less data.";

class ADOConnection : public conversion::DataConnection {
 public:
  explicit ADOConnection(PathMapper mapper = {}, FileOpener opener = {});
  ~ADOConnection() override;  // closes the connection (flushing it)
  ADOConnection(const ADOConnection&) = delete;
  ADOConnection& operator=(const ADOConnection&) = delete;

  // Keeps the description for the next Open(); an open connection stays
  // open as it is.
  void SetConnectionString(std::u16string_view description) override;

  // Parses the description, maps its Data Source to a file, opens it and
  // checks the password. Does nothing when open. Throws: runtime_error for a
  // malformed description or another provider (kProviderNotFoundMessage),
  // IoError, Unsupported, CorruptDatabase, runtime_error("Not a valid
  // password.").
  void Open() override;

  // Flushes and closes; does nothing when closed.
  void Close();

  // Makes every posted row durable (fsync). Throws IoError.
  void Flush();

  bool connected() const { return database_ != nullptr; }

  // The open database (connected() only); counts opens so that tables can
  // tell a reopened connection.
  Database& database();
  std::uint64_t generation() const { return generation_; }

 private:
  PathMapper mapper_;
  FileOpener opener_;
  std::u16string description_;
  std::unique_ptr<Database> database_;
  std::uint64_t generation_ = 0;
};

class ADOTable : public conversion::DataTable {
 public:
  ADOTable(ADOConnection& connection, std::string table_name);
  ~ADOTable() override;
  ADOTable(const ADOTable&) = delete;
  ADOTable& operator=(const ADOTable&) = delete;

  // Finds the table (case-insensitively) over the open connection. Throws
  // kClosedMessage when the connection is closed; the Jet text "The
  // Microsoft Jet database engine cannot find the input table or query
  // '<name>'. Make sure it exists and that its name is spelled correctly."
  void Open() override;
  void Close();
  bool active() const { return cursor_ != nullptr; }

  void First() override;
  bool AtEnd() override;
  conversion::DataField& FieldByName(std::string_view name) override;
  void Edit() override;
  // Writes the pending values: in place when the row keeps its size, by
  // re-packing its page when it grows but fits, else by moving it to a page
  // with room. Refusals (runtime_error): kFieldTooSmallMessage, a value that
  // is not a number for a numeric column, a value an index refuses
  // (DuplicateKey, NullInRequiredIndex; Unsupported for a key this engine
  // cannot build), a row changed
  // by another program since it was read (kRowChangedMessage), a read-only
  // file; Unsupported for a move into a page the usage maps cannot reach
  // (a database past what their rows describe, about 2 GB). The row then
  // stays in edit mode and nothing of it was written. IoError when the disk
  // fails.
  void Post() override;
  void Cancel() override;
  // Moves on; a pending edit is posted first, as ADO does. Rows posted on
  // the page the walk leaves are written; at the end of the table, and when
  // the move fails, every change is also flushed to disk.
  void Next() override;

  const TableDefinition& definition() const;

 private:
  class Field;
  void CheckOpen() const;
  void CheckCurrent() const;
  std::u16string ReadText(const Column& column);
  void SetPending(const Column& column, std::u16string_view text);

  ADOConnection& connection_;
  std::string table_name_;
  std::uint64_t generation_ = 0;
  std::unique_ptr<TableDefinition> definition_;
  std::unique_ptr<TableCursor> cursor_;
  bool editing_ = false;
  std::vector<std::pair<std::uint16_t, std::u16string>> pending_;  // column number, text; by number
  std::vector<ColumnChange> changes_;  // kept for their buffers
  UpdateResult update_;
  std::map<std::uint16_t, std::unique_ptr<Field>> fields_;
  std::map<std::string, Field*, std::less<>> fields_by_name_;  // as asked for
  std::string last_name_;  // the name FieldByName found last
  Field* last_field_ = nullptr;
};

}  // namespace jet

#endif  // JET_ADO_H_
