// What a search asks of a table's search keys, and what it gets back.
#pragma once

#include <cstddef>

#include "base/text.h"
#include "dbf/connection.h"

namespace ledra {

// What a search by number, words or letter tests on each row of a table.
struct KeyRequest {
  Text sql;           // what the scan of the table would run: the keys answer only that
  Text tel_column, contact_column, name_column;
  Text tel;           // "#" when the request has none, as the scan tests it
  Text text;          // valid when has_text
  Text begin;         // valid when has_begin: the initial the scan compares
  bool has_text = false;
  bool has_begin = false;
  size_t max_rows = 1;  // the most matching rows the caller will take
};

// The rows that a table's keys say match, in table order, each read from
// the file again for the caller to test as it tests a scanned row.
class KeyedRows : public ResultSet {
 public:
  // False when the file changed under the keys (a row gone, deleted or no
  // longer passing the filter): the answer must come from a scan.
  virtual bool Complete() = 0;
  // The caller found a row that does not match: the keys are not used
  // again until they are built anew.
  virtual void Stale() = 0;
};

// A table whose search keys are kept: its name and the three
// columns a search tests.
struct KeyTable {
  Text table;
  Text tel_column, contact_column, name_column;
};

}  // namespace ledra
