// What the main window needs from the layers below it: the two data
// components it owns, and the settings store and code page of one run. main
// supplies the Wine prefix and the Jet engine; tests supply fakes.
#ifndef APP_FORM_BACKEND_H_
#define APP_FORM_BACKEND_H_

#include <memory>

#include "conversion/code_page.h"
#include "conversion/data_access.h"
#include "conversion/settings_store.h"

namespace app {

// The connection and the table "Artikli" bound to it, both closed. The table
// must be destroyed before the connection.
struct DataComponents {
  std::unique_ptr<conversion::DataConnection> connection;
  std::unique_ptr<conversion::DataTable> table;
};

// The settings store and the code page one run reads with. The store may
// refer to the code page, so it is declared after it and destroyed first.
struct RunServices {
  std::unique_ptr<conversion::CodePage> code_page;
  std::unique_ptr<conversion::SettingsStore> settings;
};

class FormBackend {
 public:
  virtual ~FormBackend() = default;

  // Creates the connection, then its table; opens nothing and reads nothing.
  // Throws when the data-access layer cannot be set up.
  virtual DataComponents CreateDataComponents() = 0;

  // Returns the settings store and code page for one press of the button;
  // called at each press, so that nothing is read at start-up. Throws when
  // they cannot be opened.
  virtual RunServices OpenRunServices() = 0;

  // Closes `table`, then `connection`, both made by CreateDataComponents, so
  // that what they hold reaches the file; called when the window closes, where
  // a failure can still be reported. Does nothing for components never
  // opened. Throws when writing fails.
  virtual void CloseDataComponents(conversion::DataConnection& connection, conversion::DataTable& table) = 0;
};

}  // namespace app

#endif  // APP_FORM_BACKEND_H_
