#include "app/wine_backend.h"

#include <string>
#include <utility>

#include "conversion/conversion_run.h"
#include "jet/ado.h"
#include "platform/code_page.h"
#include "platform/wine_prefix.h"
#include "platform/wine_registry.h"

namespace app {

WineBackend::WineBackend(std::filesystem::path prefix) : prefix_(std::move(prefix)) {}

DataComponents WineBackend::CreateDataComponents() {
  auto connection = std::make_unique<jet::ADOConnection>(
      [prefix = prefix_](std::u16string_view data_source) { return platform::MapDosPath(prefix, data_source); });
  auto table = std::make_unique<jet::ADOTable>(*connection, std::string(conversion::kTableName));
  return {std::move(connection), std::move(table)};
}

RunServices WineBackend::OpenRunServices() {
  RunServices services;
  services.code_page = std::make_unique<platform::IconvCodePage>(platform::RecordedAnsiCodePage(prefix_));
  services.settings = std::make_unique<platform::WineRegistryStore>(prefix_, *services.code_page);
  return services;
}

void WineBackend::CloseDataComponents(conversion::DataConnection& connection, conversion::DataTable& table) {
  if (auto* jet_table = dynamic_cast<jet::ADOTable*>(&table)) jet_table->Close();
  if (auto* jet_connection = dynamic_cast<jet::ADOConnection*>(&connection)) jet_connection->Close();
}

}  // namespace app
