// The Session object the host creates: the 28 methods of its interface, its
// fields, and the module data shared by the Sessions of one thread.
#pragma once

#include <cstdint>
#include <memory>

#include "base/platform.h"
#include "base/text.h"
#include "base/variant.h"
#include "dbf/connection.h"
#include "dialogs/dialog_views.h"

namespace ledra {

// Module-level data: one copy per thread, as the host creates and calls its
// Sessions on one thread each.
struct ModuleData {
  int16_t session_count = 0;
  Text config_rd;                          // ConfigRd: shared with the dialogs
  bool dialog_up = false;                  // a dialog of Configure is showing
  std::unique_ptr<OwnerWindow> frm_main;   // hidden owner window, made on first use
};
ModuleData& Module();
// frmMain, created on its first use and then kept, hidden.
OwnerWindow* FrmMain();

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Each group below is defined in the file its comment names.

  // The host contract's wrappers, the capabilities and the properties:
  // session/session.cpp; Configure, which shows the dialogs:
  // dialogs/configure.cpp.
  Text Install();
  Text Uninstall();
  Text Configure(const Text& rd, const Text& page);
  Text Initialize(const Text& data_rd, const Text& user_rd, std::shared_ptr<Object> callback);
  Text Uninitialize();
  Text Load(const Text& vars);
  Text Unload();
  Text DoAction(const Text& rd);
  Text CacheStart();
  Text CacheEnd();
  Text CacheRecord();
  Text Capabilities();
  bool Blocked();
  Text CapabilitiesReal();
  Text SetProperty(const Text& prop, const Var& value);
  Text GetProperty(const Text& prop);

  // Settings at Initialize: session/settings.cpp.
  Text InstallReal();
  Text UninitializeReal();
  Var InitializeReal();

  // The data source: contacts/data_source.cpp.
  Text LoadReal(const Text& rd);
  Text UnloadReal();

  // The contact search, wrappers and worker: contacts/search.cpp.
  Text FindContact(const Text& rd);
  Text FindList(const Text& rd);
  Text FindReal(const Text& rd);

  // The contact record: contacts/contact.cpp.
  Text GetContact(const Text& typ, const Var& res);

  // The cache walk: contacts/cache_export.cpp.
  Text CacheRecordReal();

  // The screen-pop: screenpop/screen_pop.cpp.
  bool CheckRunning(bool start);
  Text DoActionReal(const Text& rd);

  // Read-only views for the tool and the tests.
  int16_t instance_no() const { return instance_no_; }
  bool load_failed() const { return load_failed_; }
  const Text& table_prefix() const { return table_prefix_; }
  const Text& data_path() const { return data_path_; }
  bool use_suppliers() const { return use_suppliers_; }
  bool use_customers() const { return use_customers_; }
  int match_last_digits() const { return match_last_digits_; }
  bool connected() const { return conn_ != nullptr; }

 private:
  // GetContact for the search and the cache walk, which hold the result set:
  // contacts/contact.cpp.
  Text GetContact(const Text& typ, ResultSet& rs);

  int16_t instance_no_ = 0;
  Text data_rd_;
  Text user_rd_;
  bool load_failed_ = false;
  bool blocked_flag_ = false;
  Text cache_state_;
  std::shared_ptr<ResultSet> cache_rs_;
  std::shared_ptr<Object> callback_;
  std::shared_ptr<Connection> conn_;
  Text data_path_;
  Text table_prefix_;
  bool use_suppliers_ = false;
  bool use_customers_ = false;
  int match_last_digits_ = 0;  // MatchLastDigits: 0 off, else 6 to 15
};

}  // namespace ledra
