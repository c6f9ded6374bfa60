// The window's real backend: the Jet engine for the data components and the
// registry of a Wine prefix for the settings.
#ifndef APP_WINE_BACKEND_H_
#define APP_WINE_BACKEND_H_

#include <filesystem>

#include "app/form_backend.h"

namespace app {

class WineBackend : public FormBackend {
 public:
  // Works on the Wine prefix at `prefix`; reads nothing until asked.
  explicit WineBackend(std::filesystem::path prefix);

  // Creates a jet::ADOConnection whose data sources are DOS paths mapped into
  // the prefix, and the jet::ADOTable "Artikli" over it.
  DataComponents CreateDataComponents() override;

  // Opens the prefix's user.reg in the ANSI code page the prefix last
  // recorded (1251 when none).
  RunServices OpenRunServices() override;

  // Closes the jet::ADOTable and jet::ADOConnection this backend made:
  // writes back what is staged and syncs the file.
  void CloseDataComponents(conversion::DataConnection& connection, conversion::DataTable& table) override;

 private:
  std::filesystem::path prefix_;
};

}  // namespace app

#endif  // APP_WINE_BACKEND_H_
