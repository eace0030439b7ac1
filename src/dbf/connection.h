// The data-access layer the plug-in talks to: a connection that opens result
// sets for SQL text, and result sets walked row by row. It stands where the
// remote-data objects over the FoxPro ODBC driver stood; the embedded .dbf
// engine answers behind it.
#pragma once

#include <memory>
#include <vector>

#include "base/text.h"
#include "base/text_matching.h"
#include "base/variant.h"

namespace ledra {

class ResultSet {
 public:
  virtual ~ResultSet() = default;
  // End of data: no current row.
  virtual bool Eof() = 0;
  // The current row's value of a column, matched without regard to case;
  // Null for a null value. Fails for a missing column or no current row.
  virtual Var Field(const Text& column) = 0;
  // The same value as text (Null as ""), written into out so that a scan
  // can reuse one buffer for every row; trimmed: without leading and
  // trailing blanks. Engines may answer without a Var.
  virtual void FieldText(const Text& column, Text& out, bool trimmed) {
    Var v = Field(column);
    if (v.kind() == VarKind::String) {
      out.assign(v.text());
    } else {
      out = TextForm(v);
    }
    if (trimmed) out = Trim(out);
  }
  // Appends the dialling characters (0-9, "*", "#") of the column's text to
  // out: all that a telephone search compares. Engines holding single-byte
  // or ASCII-compatible text can take them from the stored bytes.
  virtual void AppendDialling(const Text& column, Text& out) {
    Text value;
    FieldText(column, value, false);
    for (char16_t c : value) {
      if (IsDialling(c)) out += c;
    }
  }
  virtual void MoveNext() = 0;
};

// What a search by number, words or letter tests on each row of a table,
// for an engine that keeps the tables' search keys (search/search_keys.h).
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

// A table whose search keys an engine keeps: its name and the three
// columns a search tests.
struct KeyTable {
  Text table;
  Text tel_column, contact_column, name_column;
};

class Connection {
 public:
  virtual ~Connection() = default;
  // Opens a result set for one of the query shapes the plug-in sends;
  // fails (Failure) for anything else, a missing table or column.
  virtual std::shared_ptr<ResultSet> OpenResultset(const Text& sql) = 0;
  // The matching rows of the table request.sql reads, from its search
  // keys; nullptr when the engine keeps none for it or cannot answer this
  // request from them, and the caller scans. Never fails.
  virtual std::shared_ptr<KeyedRows> OpenMatches(const KeyRequest& request) {
    (void)request;
    return nullptr;
  }
  // Has the engine build these tables' search keys in the background and
  // keep them fresh for as long as the handle lives; nullptr when it keeps
  // none. Never fails.
  virtual std::shared_ptr<void> KeepKeys(const std::vector<KeyTable>& tables) {
    (void)tables;
    return nullptr;
  }
};

}  // namespace ledra
