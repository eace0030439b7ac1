// The contact search behind FindContact and FindList: the supplier table,
// then the customer table.
#pragma once

#include <memory>

#include "base/errors.h"
#include "base/text.h"
#include "dbf/connection.h"
#include "search/keyed_connection.h"
#include "contacts/settings.h"

namespace ledra {

// The request preparation both search methods share: cmd names the method;
// number_key is the key that stands in for a missing "Tel" ("" when none
// does).
Text PrepareRequest(const Text& rd, const char16_t* cmd, const char16_t* number_key, Procedure& proc);

// The table of contact type t ("pn" or "sn") and the columns its search
// tests: what the search asks the keys for is what the keys are built of.
KeyTable ContactKeyTable(const Text& table_prefix, const Text& t);

// Starts building both tables' search keys in the background and keeps them
// fresh for as long as the answer is held (for a connection that keeps
// them: the data engine's own).
std::shared_ptr<void> KeepSearchKeys(Connection& conn, const Settings& settings);

class ContactSearch {
 public:
  ContactSearch(std::shared_ptr<Connection> conn, const Settings& settings)
      : conn_(std::move(conn)), table_prefix_(settings.table_prefix), match_last_digits_(settings.match_last_digits) {}

  // The answer to a prepared request: one contact, a list, or "NoFind".
  // Without a connection the queries fail and nothing is found.
  Text FindReal(const Text& rd);

 private:
  std::shared_ptr<Connection> conn_;
  Text table_prefix_;
  int match_last_digits_;
};

}  // namespace ledra
