// The SQL the engine understands: the three statements the plug-in writes,
// parsed strictly so that anything else fails loudly instead of returning
// rows it did not ask for.
#pragma once

#include "base/text.h"

namespace ledra::dbf {

struct Query {
  enum class Op { All, Equal, AtLeast };
  Text table;
  Op op = Op::All;
  Text column;  // Equal, AtLeast
  Text value;   // the text between the quotes, as written
};

// "select * from T", "select * from T where C = 'v'", "select * from T
// where C >= 'v'"; keywords in any case, blanks and tabs wherever the
// shapes have a blank (and around the operator). Throws Failure
// (kDbfSqlError) for anything else, a quote inside the value included.
Query ParseQuery(const Text& sql);

}  // namespace ledra::dbf
