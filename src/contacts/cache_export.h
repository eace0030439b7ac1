// The cache walk: suppliers, then customers, one contact record per call.
#pragma once

#include <memory>

#include "base/text.h"
#include "dbf/connection.h"
#include "contacts/settings.h"

namespace ledra {

class CacheWalk {
 public:
  // CacheStart: the walk begins again at the supplier table.
  void Start() { state_ = u"START"; }
  // CacheEnd: the walk ends and lets its table go.
  void End() {
    rs_.reset();
    state_ = u"TERMINATE";
  }
  // Lets the table go (a new load) without moving the walk.
  void Release() { rs_.reset(); }
  // The next step of the walk: whether it can begin, a contact record,
  // "Ignore" between the tables, or the end.
  Text Next(const std::shared_ptr<Connection>& conn, const Settings& settings);

 private:
  Text state_;
  std::shared_ptr<ResultSet> rs_;
};

}  // namespace ledra
