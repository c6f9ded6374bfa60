#include "conversion/conversion_run.h"

#include <exception>
#include <optional>
#include <string>

#include "conversion/conversion_settings.h"
#include "conversion/label_index.h"

namespace conversion {
namespace {

// Shows the busy cursor for its lifetime and restores the one it found.
class BusyCursor {
 public:
  explicit BusyCursor(UiServices& ui) : ui_(ui), saved_(ui.Cursor()) { ui_.SetCursor(kBusyCursor); }
  ~BusyCursor() { ui_.SetCursor(saved_); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  UiServices& ui_;
  ScreenCursor saved_;
};

// Returns the digits of `n` as wide text.
std::u16string DecimalText(std::size_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

// Converts the current row if its rate is a label. Throws what the table
// throws.
void ConvertRow(DataTable& table, const CodePage& code_page, std::string_view labels) {
  // Encoding: the column's wide text becomes 8-bit text in the code page. A
  // value with a character the code page lacks cannot be a label, so it is
  // left alone rather than compared with a stand-in character.
  const std::optional<std::string> rate = code_page.ToAnsi(table.FieldByName(kRateColumn).AsText());
  if (!rate) return;
  const std::size_t position = LabelIndex(*rate, labels);
  if (position == 0) return;
  table.Edit();
  table.FieldByName(kRateColumn).SetText(DecimalText(position - 1));
  table.Post();
}

}  // namespace

void RunConversion(const ConversionEnvironment& environment) {
  const ConversionSettings settings = ReadConversionSettings(environment.settings);
  // Encoding: the 8-bit description goes to the connection as wide text.
  environment.connection.SetConnectionString(
      environment.code_page.ToWide(BuildConnectionString(settings.DatabasePath)));
  environment.connection.Open();
  DataTable& table = environment.table;
  table.Open();
  table.First();

  std::size_t failed_rows = 0;
  {
    BusyCursor busy(environment.ui);
    while (!table.AtEnd()) {
      try {
        ConvertRow(table, environment.code_page, settings.FiscalLabels);
      } catch (const std::exception&) {
        ++failed_rows;
        table.Cancel();
      }
      table.Next();
    }
  }

  // Rows that failed are reported rather than passed off as a complete run.
  if (failed_rows == 0) {
    environment.ui.ShowMessage(MessageKind::kInformation, "Information", kCompletionMessage);
  } else {
    std::string text(kCompletionMessage);
    text += '\n';
    text += kFailedRowsLine;
    text += std::to_string(failed_rows);
    environment.ui.ShowMessage(MessageKind::kWarning, "Warning", text);
  }
}

}  // namespace conversion
