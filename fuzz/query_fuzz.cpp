// The query text: any text parses or fails cleanly, and a query that parses
// reads the same when written out again in the engine's own shape.
#include "base/errors.h"
#include "dbf/query.h"
#include "fuzz_support.h"

LEDRA_FUZZ_TARGET {
  const Text sql = TextOf(data, size);
  dbf::Query q;
  try {
    q = dbf::ParseQuery(sql);
  } catch (const Failure&) {
    return;
  }
  if (q.table.empty()) Broken("a query without a table parsed", sql);
  Text again = u"select * from " + q.table;
  if (q.op != dbf::Query::Op::All) {
    if (q.column.empty() || q.value.find(u'\'') != Text::npos) Broken("a condition parsed badly", sql);
    again += u" where " + q.column + (q.op == dbf::Query::Op::Equal ? u" = '" : u" >= '") + q.value + u"'";
  }
  dbf::Query r;
  try {
    r = dbf::ParseQuery(again);
  } catch (const Failure& f) {
    Broken("a parsed query, written out, does not parse", again + u": " + f.description);
  }
  if (r.table != q.table || r.op != q.op || r.column != q.column || r.value != q.value) {
    Broken("a parsed query, written out, reads otherwise", again);
  }
}
