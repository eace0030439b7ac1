// The data-access engine: what the remote-data engine and the ODBC driver
// manager did for the plug-in. Data sources are registered and looked up
// where an ODBC registration keeps them (HKEY_CURRENT_USER
// Software\ODBC\ODBC.INI), so a data source written by an earlier version of
// the plug-in is still found; the folder a data source names is opened by the
// embedded .dbf engine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/text.h"
#include "base/variant.h"
#include "dbf/connection.h"
#include "contacts/settings.h"

namespace ledra {

// A result set held in a variant, as the contact record reads it.
struct ResultSetRef : Object {
  explicit ResultSetRef(std::shared_ptr<ResultSet> rs) : rs(std::move(rs)) {}
  std::shared_ptr<ResultSet> rs;
};

// The error number every driver-manager or driver failure carries.
constexpr int kDataSourceError = 40002;

// Opens the folder of free tables that a data source names.
using FolderOpener = std::function<std::shared_ptr<Connection>(const Text& folder)>;

class DataEngine {
 public:
  DataEngine();

  // connect: "DSN=<name>[;...]". Fails with kDataSourceError when the data
  // source is not registered or names a driver this engine does not provide.
  std::shared_ptr<Connection> OpenConnection(const Text& connect);

  // The folder a registered data source of the FoxPro driver reads;
  // nullopt for any other or none.
  std::optional<Text> DataSourceFolder(const Text& dsn);

  // Creates or replaces a user data source silently. attributes:
  // "KEY=value;KEY=value;..." as the driver's setup takes them.
  void RegisterDataSource(const Text& dsn, const Text& driver, const Text& attributes);

  // Replaces how folders are opened (tests); returns the previous opener.
  FolderOpener SetFolderOpener(FolderOpener opener);

 private:
  FolderOpener open_folder_;
};

// The engine of the calling thread, created on first use.
DataEngine& Engine();

// The ODBC driver the plug-in registers its data source with.
extern const char16_t* const kVfpDriverName;

// Load: opens the connection of Session number instance_no into conn over
// its own data source, "Ledra II SP" + the number, registering it (again)
// for the settings' folder when it is missing or reads another; the answer
// says whether the customer table can be read, or why not.
Text LoadDataSource(int16_t instance_no, const Settings& settings, std::shared_ptr<Connection>& conn);

}  // namespace ledra
