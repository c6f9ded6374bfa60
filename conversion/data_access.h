// The data-access operations the run needs of the database: the connection
// and the one table, as ADO's connection and table components offer them.
//
// jet/ implements these over its own Jet 4 engine; tests use scripted fakes.
// Every failure is thrown as an exception derived from std::exception, whose
// what() is the text to show the user.
#ifndef CONVERSION_DATA_ACCESS_H_
#define CONVERSION_DATA_ACCESS_H_

#include <string>
#include <string_view>

namespace conversion {

class DataConnection {
 public:
  virtual ~DataConnection() = default;

  // Sets the connection description, an OLE DB connection string. On an open
  // connection the new description applies to what is opened next.
  virtual void SetConnectionString(std::u16string_view description) = 0;

  // Opens the database the description names; does nothing when open.
  virtual void Open() = 0;
};

// One column of the table's current row.
class DataField {
 public:
  virtual ~DataField() = default;

  // Returns the current row's value as text; NULL reads as the empty text.
  virtual std::u16string AsText() = 0;

  // Sets the value of the row being edited. Whether the text fits the column
  // may be checked here or at post.
  virtual void SetText(std::u16string_view text) = 0;
};

// The table, over an open DataConnection.
class DataTable {
 public:
  virtual ~DataTable() = default;

  // Opens the table over the connection; does nothing when already open.
  virtual void Open() = 0;

  // Makes the first row current; AtEnd() is true at once for an empty table.
  virtual void First() = 0;

  // Returns true when there is no current row left.
  virtual bool AtEnd() = 0;

  // Returns the column `name`, matched without regard to case. Throws when
  // the table has no such column. The field stays owned by the table.
  virtual DataField& FieldByName(std::string_view name) = 0;

  // Puts the current row into edit mode.
  virtual void Edit() = 0;

  // Writes the edited row to the database and leaves edit mode. Throws when
  // the database refuses the row, which then stays in edit mode.
  virtual void Post() = 0;

  // Discards a pending edit; does nothing when none is pending.
  virtual void Cancel() = 0;

  // Makes the following row current.
  virtual void Next() = 0;
};

}  // namespace conversion

#endif  // CONVERSION_DATA_ACCESS_H_
