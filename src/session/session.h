// The Session object the host creates: the 28 methods of its interface and
// what a Session keeps between the host's calls. Each method hands its work
// to the part that does it (the settings, the data source, the contact
// search and record, the cache walk, the screen-pop, the dialogs).
#pragma once

#include <cstdint>
#include <memory>

#include "base/platform.h"
#include "base/text.h"
#include "base/variant.h"
#include "contacts/cache_export.h"
#include "dbf/connection.h"
#include "session/settings.h"

namespace ledra {

// Module-level data: one copy per thread, as the host creates and calls its
// Sessions on one thread each.
struct ModuleData {
  int16_t session_count = 0;
};
ModuleData& Module();

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

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
  Text InstallReal();
  Text UninitializeReal();
  Var InitializeReal();
  Text LoadReal(const Text& rd);
  Text UnloadReal();
  Text FindContact(const Text& rd);
  Text FindList(const Text& rd);
  Text FindReal(const Text& rd);
  Text GetContact(const Text& typ, const Var& res);
  Text CacheRecordReal();
  bool CheckRunning(bool start);
  Text DoActionReal(const Text& rd);

  // Read-only views for the tool and the tests.
  int16_t instance_no() const { return instance_no_; }
  bool load_failed() const { return load_failed_; }
  const Text& table_prefix() const { return settings_.table_prefix; }
  const Text& data_path() const { return settings_.data_path; }
  bool use_suppliers() const { return settings_.use_suppliers; }
  bool use_customers() const { return settings_.use_customers; }
  int match_last_digits() const { return settings_.match_last_digits; }
  bool connected() const { return conn_ != nullptr; }

 private:
  int16_t instance_no_ = 0;
  Text data_rd_;
  Text user_rd_;
  bool load_failed_ = false;
  bool blocked_flag_ = false;
  std::shared_ptr<Object> callback_;
  std::shared_ptr<Connection> conn_;
  // The search keys of both tables, built and kept fresh in the background
  // while the Session is loaded.
  std::shared_ptr<void> keys_kept_;
  Settings settings_;
  CacheWalk cache_;
};

}  // namespace ledra
