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

class Connection {
 public:
  virtual ~Connection() = default;
  // Opens a result set for one of the query shapes the plug-in sends;
  // fails (Failure) for anything else, a missing table or column.
  virtual std::shared_ptr<ResultSet> OpenResultset(const Text& sql) = 0;
};

}  // namespace ledra
