// OLE DB connection strings ("Provider=...;Data Source=...;"): key=value
// pairs separated by ';'. Keys are matched without regard to case and
// trimmed; values are trimmed unless quoted with ' or ", in which a doubled
// quote stands for one; a key given twice keeps its last value.
#ifndef JET_CONNECTION_STRING_H_
#define JET_CONNECTION_STRING_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/unicode.h"

namespace jet {

class ConnectionString {
 public:
  // Parses `text`. Throws std::runtime_error naming the fault for a pair
  // without '=', an empty key, an unterminated quote or text after a
  // closing quote.
  static ConnectionString Parse(std::u16string_view text);

  // Returns the value of `key` (any case), or nullopt when not given.
  std::optional<std::u16string> Get(std::u16string_view key) const;

 private:
  std::map<std::u16string, std::u16string> values_;  // keys folded to lower case
};

using conversion::ToUtf8;

}  // namespace jet

#endif  // JET_CONNECTION_STRING_H_
