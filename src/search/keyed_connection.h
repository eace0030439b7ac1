// A connection that keeps the search keys of its folder's tables: the
// engine's connection serves the rows, and the key cache (search_keys.h)
// answers from the keys it builds of them. The contacts side opens its data
// source as one, and asks it for keyed rows before it scans.
#pragma once

#include <memory>
#include <vector>

#include "base/text.h"
#include "dbf/connection.h"
#include "search/key_request.h"

namespace ledra {

class KeyedConnection : public Connection {
 public:
  // rows: the engine's connection over folder.
  KeyedConnection(std::shared_ptr<Connection> rows, Text folder) : rows_(std::move(rows)), folder_(std::move(folder)) {}

  std::shared_ptr<ResultSet> OpenResultset(const Text& sql) override { return rows_->OpenResultset(sql); }

  // The matching rows of the table request.sql reads, from its search
  // keys; nullptr when there are none or they cannot answer this request,
  // and the caller scans. Never fails.
  std::shared_ptr<KeyedRows> OpenMatches(const KeyRequest& request);

  // Has these tables' search keys built in the background and kept for as
  // long as the handle lives; nullptr when none can be. Never fails.
  std::shared_ptr<void> KeepKeys(const std::vector<KeyTable>& tables);

 private:
  std::shared_ptr<Connection> rows_;
  Text folder_;
};

}  // namespace ledra
