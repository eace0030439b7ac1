#include "search/keyed_connection.h"

#include "base/platform.h"
#include "dbf/dbf_connection.h"
#include "dbf/query.h"
#include "search/search_keys.h"

namespace ledra {

std::shared_ptr<KeyedRows> KeyedConnection::OpenMatches(const KeyRequest& request) {
  FileSystem* fs = Sys().files;
  if (!fs) return nullptr;
  dbf::Query q;
  try {
    q = dbf::ParseQuery(request.sql);  // a statement the scan would refuse gets no rows here either
  } catch (...) {
    return nullptr;
  }
  return OpenKeyedRows(*fs, folder_, q, request);
}

std::shared_ptr<void> KeyedConnection::KeepKeys(const std::vector<KeyTable>& tables) {
  FileSystem* fs = Sys().files;
  if (!fs) return nullptr;
  std::vector<KeyTable> named;
  for (KeyTable t : tables) {
    try {
      t.table = dbf::ParseQuery(u"select * from " + t.table).table;  // the names a query accepts
    } catch (...) {
      continue;
    }
    named.push_back(std::move(t));
  }
  // The table files as the engine finds them.
  return KeepSearchKeys(*fs, folder_, named,
                        [fs, folder = folder_](const Text& table) { return FindTableFile(*fs, folder, table); });
}

}  // namespace ledra
