// Runs the readers nobody here wrote (mdb-export, mdb-reader through node)
// and jetdump, and brings their rows into one comparable form: one vector of
// texts per row, numbers normalised to 6 significant digits, NULL as "\x01".
#ifndef TESTS_SUPPORT_EXTERNAL_READER_H_
#define TESTS_SUPPORT_EXTERNAL_READER_H_

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/json.h"

namespace testsupport {

using TextRows = std::vector<std::vector<std::string>>;
inline const std::string kNullText = "\x01";

inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs `command` and returns its standard output; throws when it fails.
inline std::string RunProgram(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  if (status != 0) throw std::runtime_error("failed (" + std::to_string(status) + "): " + command);
  return out;
}

// Returns a number-looking text as 6 significant digits, other text as is.
inline std::string Normalise(const std::string& text) {
  if (text.empty()) return text;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || text.find_first_not_of("+-0123456789.eE") != std::string::npos) return text;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6g", value);
  return buffer;
}

inline std::string NormaliseJson(const Json& value) {
  switch (value.kind) {
    case Json::Kind::kNull: return kNullText;
    case Json::Kind::kBool: return value.boolean ? "1" : "0";
    case Json::Kind::kNumber: return Normalise(value.number_text);
    case Json::Kind::kString: {
      std::string text = value.Utf8();
      // Dates: ISO-8601 without zone or zero milliseconds.
      if (text.size() >= 19 && text[4] == '-' && text[10] == 'T') {
        if (text.back() == 'Z') text.pop_back();
        if (text.size() == 23 && text.compare(19, 4, ".000") == 0) text.resize(19);
        return text;
      }
      if (text.rfind("0x", 0) == 0) return text.substr(2);
      return Normalise(text);
    }
    default: return "?";
  }
}

inline TextRows Sorted(TextRows rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Rows of `table` by jetdump (objects, keyed in column order).
inline TextRows JetdumpRows(const std::string& jetdump, const std::filesystem::path& file, const std::string& table,
                            const std::string& password) {
  std::string command = ShellQuote(jetdump);
  if (!password.empty()) command += " --password " + ShellQuote(password);
  const std::string out = RunProgram(command + " --table " + ShellQuote(table) + " " + ShellQuote(file.string()));
  TextRows rows;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = out.find('\n', start);
    const Json row = ParseJson(std::string_view(out).substr(start, end - start));
    std::vector<std::string> values;
    for (const auto& member : row.members) values.push_back(NormaliseJson(member.second));
    rows.push_back(std::move(values));
    start = end + 1;
  }
  return rows;
}

// Rows of `table` by mdb-reader (arrays in column order).
inline TextRows MdbReaderRows(const std::string& node, const std::filesystem::path& oracle_dir, const std::filesystem::path& file,
                              const std::string& table) {
  const std::string out = RunProgram(ShellQuote(node) + " " + ShellQuote((oracle_dir / "dump.mjs").string()) + " " +
                                     ShellQuote(file.string()) + " " + ShellQuote(table));
  TextRows rows;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = out.find('\n', start);
    const Json row = ParseJson(std::string_view(out).substr(start, end - start));
    std::vector<std::string> values;
    for (const Json& item : row.items) values.push_back(NormaliseJson(item));
    rows.push_back(std::move(values));
    start = end + 1;
  }
  return rows;
}

// Rows of `table` by mdb-export (CSV; quoted fields are text, an empty
// unquoted field is NULL).
inline TextRows MdbExportRows(const std::string& mdb_export, const std::filesystem::path& file, const std::string& table) {
  const std::string out = RunProgram(ShellQuote(mdb_export) + " -H -B -b hex -T '%Y-%m-%dT%H:%M:%S' " + ShellQuote(file.string()) +
                                     " " + ShellQuote(table));
  TextRows rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  bool was_quoted = false;
  auto end_field = [&] {
    if (was_quoted) {
      row.push_back(Normalise(field));
    } else if (field.empty()) {
      row.push_back(kNullText);
    } else if (field == "TRUE" || field == "FALSE") {
      row.push_back(field == "TRUE" ? "1" : "0");
    } else {
      row.push_back(Normalise(field));
    }
    field.clear();
    was_quoted = false;
  };
  for (std::size_t i = 0; i < out.size(); ++i) {
    const char c = out[i];
    if (quoted) {
      if (c == '"' && i + 1 < out.size() && out[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = was_quoted = true;
    } else if (c == ',') {
      end_field();
    } else if (c == '\n') {
      end_field();
      rows.push_back(std::move(row));
      row.clear();
    } else {
      field += c;
    }
  }
  return rows;
}

// Returns `rows` with empty texts as NULL: mdb-export writes both the same.
inline TextRows BlankAsNull(TextRows rows) {
  for (auto& row : rows) {
    for (std::string& value : row) {
      if (value.empty()) value = kNullText;
    }
  }
  return rows;
}

// Returns "" when `a` and `b` hold the same rows in any order, else the
// first row that differs, shown with its counterpart.
inline std::string FirstDifference(const TextRows& a, const TextRows& b) {
  const TextRows x = Sorted(a);
  const TextRows y = Sorted(b);
  if (x == y) return "";
  auto show = [](const std::vector<std::string>& row) {
    std::string text = "[";
    for (const std::string& value : row) text += (text.size() > 1 ? "|" : "") + (value == kNullText ? "NULL" : value);
    return text + "]";
  };
  std::string text = std::to_string(x.size()) + " vs " + std::to_string(y.size()) + " rows; ";
  for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
    if (x[i] != y[i]) return text + show(x[i]) + " vs " + show(y[i]);
  }
  return text;
}

// Normalises a sidecar row for comparison with the readers' rows.
inline std::vector<std::string> NormaliseRow(const Json& row) {
  std::vector<std::string> values;
  for (const Json& item : row.items) {
    std::string text = NormaliseJson(item);
    values.push_back(text);
  }
  return values;
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_EXTERNAL_READER_H_
