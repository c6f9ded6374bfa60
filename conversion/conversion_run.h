// The conversion run: one press of the button, from the settings to the
// completion message.
#ifndef CONVERSION_CONVERSION_RUN_H_
#define CONVERSION_CONVERSION_RUN_H_

#include <string_view>

#include "conversion/code_page.h"
#include "conversion/data_access.h"
#include "conversion/settings_store.h"
#include "conversion/ui_services.h"

namespace conversion {

inline constexpr std::string_view kTableName = "Artikli";
inline constexpr std::string_view kRateColumn = "PoreskaStopa";
inline constexpr std::string_view kCompletionMessage = "Konverzija je izvrsena!";
inline constexpr std::string_view kFailedRowsLine = "Broj redova koji nisu konvertovani: ";

// What the run works with. The table is bound to the connection and names
// the table kTableName; the run opens both and leaves them open.
struct ConversionEnvironment {
  SettingsStore& settings;
  const CodePage& code_page;
  DataConnection& connection;
  DataTable& table;
  UiServices& ui;
};

// Reads the settings, opens the database and rewrites every rate label of
// the table as its 0-based position in the label string, row by row, then
// shows the completion message. A failure on one row cancels that row's edit
// and the walk goes on; every other failure propagates, with the cursor
// restored when it happens during the walk.
void RunConversion(const ConversionEnvironment& environment);

}  // namespace conversion

#endif  // CONVERSION_CONVERSION_RUN_H_
