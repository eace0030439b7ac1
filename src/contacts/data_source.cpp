// The data-access engine, and loading a Session's connection.
#include "contacts/data_source.h"

#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/file_registry.h"
#include "base/platform.h"
#include "dbf/dbf_connection.h"
#include "search/keyed_connection.h"

namespace ledra {

const char16_t* const kVfpDriverName = u"Microsoft FoxPro VFP Driver (*.dbf)";

namespace {

constexpr const char16_t* kOdbcIni = u"Software\\ODBC\\ODBC.INI\\";
constexpr const char16_t* kOdbcSources = u"Software\\ODBC\\ODBC.INI\\ODBC Data Sources";

constexpr const char16_t* kNoDataSource =
    u"[Microsoft][ODBC Driver Manager] Data source name not found and no default driver specified";
constexpr const char16_t* kNoDriver = u"[Microsoft][ODBC Driver Manager] Specified driver could not be loaded";
constexpr const char16_t* kCannotRegister =
    u"[Microsoft][ODBC Driver Manager] General error: Unable to create a data source registry key";

// "KEY=value;KEY=value" split into pairs; pieces without "=" carry nothing.
std::vector<std::pair<Text, Text>> SplitPairs(const Text& s) {
  std::vector<std::pair<Text, Text>> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(u';', start);
    if (end == Text::npos) end = s.size();
    Text piece = s.substr(start, end - start);
    size_t eq = piece.find(u'=');
    if (eq != Text::npos) out.emplace_back(Trim(piece.substr(0, eq)), piece.substr(eq + 1));
    start = end + 1;
  }
  return out;
}

Registry& Reg() {
  Registry* r = Sys().registry;
  if (!r) Raise(Err::ObjectNotSet);
  return *r;
}

// What a data source registration holds of interest to the engine.
struct DataSourceEntry {
  Text driver;
  Text source_db;
  Text source_type;
};

// Missing values, or a missing registration, read as "".
DataSourceEntry ReadDataSource(const Text& dsn) {
  DataSourceEntry e;
  if (dsn.empty()) return e;
  auto text = [&](const char16_t* name) {
    auto v = ReadRegistryValue(Registry::kCurrentUser, kOdbcIni + dsn, name);
    return v ? v->AsText() : Text();
  };
  // The driver is written last and read last: a registration another
  // thread or host is still writing reads as none, or as whole.
  e.source_db = text(u"SourceDB");
  e.source_type = text(u"SourceType");
  e.driver = text(u"Driver");
  return e;
}

// The FoxPro driver under its name (a silent registration records that) or
// its library path (what the ODBC administrator records).
bool IsFoxProDriver(const Text& driver) {
  return ContainsAsciiNoCase(driver, u"FoxPro") || ContainsAsciiNoCase(driver, u"vfpodbc");
}

// A database container names its .dbc file; its tables lie beside it.
Text FolderOf(const DataSourceEntry& e) {
  if (!EqualsAsciiNoCase(Trim(e.source_type), u"DBC")) return e.source_db;
  size_t cut = e.source_db.find_last_of(u'\\');
  return cut == Text::npos ? Text() : e.source_db.substr(0, cut);
}

}  // namespace

// The engine's connection to the folder, with the search keys of its tables.
DataEngine::DataEngine()
    : open_folder_([](const Text& folder) -> std::shared_ptr<Connection> {
        return std::make_shared<KeyedConnection>(OpenDbfFolder(folder), folder);
      }) {}

std::shared_ptr<Connection> DataEngine::OpenConnection(const Text& connect) {
  Text dsn;
  for (const auto& [key, value] : SplitPairs(connect)) {
    if (EqualsAsciiNoCase(key, u"DSN")) {
      dsn = Trim(value);
      break;
    }
  }
  DataSourceEntry entry = ReadDataSource(dsn);
  // Without a folder it would read the host's current folder: a
  // registration cut short is no data source.
  if (entry.driver.empty() || Trim(entry.source_db).empty()) Raise(kDataSourceError, kNoDataSource);
  if (!IsFoxProDriver(entry.driver)) Raise(kDataSourceError, kNoDriver);
  auto conn = open_folder_(FolderOf(entry));
  if (!conn) Raise(kDataSourceError, kNoDriver);
  return conn;
}

std::optional<Text> DataEngine::DataSourceFolder(const Text& dsn) {
  DataSourceEntry entry = ReadDataSource(dsn);
  if (!IsFoxProDriver(entry.driver)) return std::nullopt;
  return FolderOf(entry);
}

void DataEngine::RegisterDataSource(const Text& dsn, const Text& driver, const Text& attributes) {
  if (dsn.empty() || driver.empty()) Raise(kDataSourceError, kCannotRegister);
  Registry& reg = Reg();
  const Text key = kOdbcIni + dsn;
  // Replacing, not merging: attributes of an earlier registration go.
  reg.DeleteKey(Registry::kCurrentUser, key);
  long rc = 0;
  for (const auto& [name, value] : SplitPairs(attributes)) {
    if (rc != 0) break;
    if (name.empty() || EqualsAsciiNoCase(name, u"DSN") || EqualsAsciiNoCase(name, u"Driver")) continue;
    rc = reg.SetText(Registry::kCurrentUser, key, name, value);
  }
  // Last, so that a reader that finds the driver finds the attributes too.
  if (rc == 0) rc = reg.SetText(Registry::kCurrentUser, key, u"Driver", driver);
  if (rc == 0) rc = reg.SetText(Registry::kCurrentUser, kOdbcSources, dsn, driver);
  if (rc != 0) Raise(kDataSourceError, kCannotRegister);
}

FolderOpener DataEngine::SetFolderOpener(FolderOpener opener) {
  FolderOpener previous = std::move(open_folder_);
  open_folder_ = std::move(opener);
  return previous;
}

DataEngine& Engine() {
  thread_local DataEngine engine;
  return engine;
}

namespace {

// The same folder, whatever the letter case or a closing "\\".
bool SameFolder(Text a, Text b) {
  for (Text* t : {&a, &b}) {
    while (!t->empty() && (t->back() == u'\\' || t->back() == u'/')) t->pop_back();
  }
  return EqualsAsciiNoCase(a, b);
}

// One for the process, made with the first platform that has threads and
// never destroyed; none where the platform runs no threads.
Lock* LoadingLock() {
  static std::atomic<Lock*> lock{nullptr};
  Lock* l = lock.load(std::memory_order_acquire);
  if (l || !Sys().threads) return l;
  std::unique_ptr<Lock> fresh = Sys().threads->NewLock();
  if (lock.compare_exchange_strong(l, fresh.get(), std::memory_order_acq_rel)) return fresh.release();
  return l;
}

}  // namespace

// Each Session reads its own data source, "Ledra II SP" + its instance
// number, and that data source follows the settings: one that reads another
// folder is registered again before it is opened.
Text LoadDataSource(int16_t instance_no, const Settings& settings, std::shared_ptr<Connection>& conn) {
  Procedure proc(u" @ plgLedraII.Load");
  // Instance numbers count per thread, so Sessions of two threads may share
  // a data source: one registers it while the other opens it. Loads of one
  // process therefore take turns; they do not wait on other programs.
  std::optional<Locked> hold;
  if (Lock* loading = LoadingLock()) hold.emplace(*loading);
  const Text number = FromAscii(std::to_string(instance_no));
  const Text dsn = u"Ledra II SP" + number;
  const Text connect = u"DSN=" + dsn;
  Text err_msg;

  // After the first open, a failing step is logged and its description
  // becomes the reason the answer gives.
  auto step = [&](auto&& body) {
    try {
      body();
    } catch (...) {
      Text description = DescribeCurrentException();
      err_msg = description;
      proc.Log(description);
    }
  };
  auto register_source = [&] {
    // Clears what an old release left under its own name; its result is of
    // no interest.
    Reg().DeleteKey(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP" + number);
    Engine().RegisterDataSource(dsn, kVfpDriverName,
                                u"UID=;PWD=;SourceDB=" + settings.data_path +
                                    u";SourceType=DBF;Exclusive=No;BackgroundFetch=Yes;Collate=Machine;Null=Yes;Deleted=Yes;");
  };

  std::optional<Text> was;
  try {
    was = Engine().DataSourceFolder(dsn);
  } catch (...) {
  }
  const bool moved = was && !SameFolder(*was, settings.data_path) && proc.Step(register_source);
  if (moved) proc.Log(u"Data source " + dsn + u" registered again, from " + *was + u" to " + settings.data_path);

  // The first open fails quietly: a missing data source is the normal state
  // of a first run, and is repaired below.
  try {
    conn = Engine().OpenConnection(connect);
  } catch (const Failure& f) {
    err_msg = f.number == kDataSourceError ? Text(u"NOTDSN") : f.description;
  } catch (...) {
    err_msg = DescribeCurrentException();
  }

  if (!err_msg.empty()) {
    if (!moved) step(register_source);
    step([&] { conn = Engine().OpenConnection(connect); });
  }

  hold.reset();

  // The customer table proves the connection; why it cannot be read is not
  // the load's business, only that it cannot.
  std::shared_ptr<ResultSet> proof;
  try {
    if (!conn) Raise(Err::ObjectNotSet);
    proof = conn->OpenResultset(u"select * from " + settings.table_prefix + u"sname");
  } catch (...) {
  }
  return proof ? Text(u"{Result=Success}") : u"{Result=Fail}{Reason=Could not load SName: " + err_msg + u"}";
}

}  // namespace ledra
