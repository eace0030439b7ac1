// The contact record: one customer or supplier row as the host sees it,
// "{Id=...}{Name=...}...". typ "SUPPLIERS" or "PN" reads the supplier
// columns, anything else the customer ones.
#pragma once

#include "base/text.h"
#include "base/variant.h"
#include "dbf/connection.h"

namespace ledra {

// The row of a result set held in a variant (ResultSetRef), as the host
// hands one over; a variant holding anything else fails each column.
Text GetContact(const Text& typ, const Var& res);
// The row a search or the cache walk stands on.
Text GetContact(const Text& typ, ResultSet& rs);

}  // namespace ledra
