// The contact record: one customer or supplier row as the host sees it.
#include "common/errors.h"
#include "common/platform.h"
#include "common/vars.h"
#include "data/data_source.h"
#include "session/session.h"

namespace ledra {

namespace {

// The result set a variant holds; reading from anything else fails as
// indexing a non-result-set would.
ResultSet& HeldResultSet(const Var& res) {
  if (res.kind() != VarKind::Object) Raise(Err::ObjectRequired);
  if (!res.object()) Raise(Err::ObjectNotSet);
  auto* ref = dynamic_cast<ResultSetRef*>(res.object().get());
  if (!ref) Raise(Err::NotSupported);
  if (!ref->rs) Raise(Err::ObjectNotSet);
  return *ref->rs;
}

}  // namespace

Text Session::GetContact(const Text& typ, const Var& res) {
  Procedure proc(u" @ plgLedraII.GetContact");
  Text t = u"sn";
  proc.Step([&] {
    Text upper = UCase(typ);
    if (upper == u"SUPPLIERS" || upper == u"PN") t = u"pn";
  });

  struct Column {
    const char16_t* key;
    const char16_t* column;  // after the table code
  };
  static const Column kColumns[] = {
      {u"Id", u"_account"},   {u"Name", u"_contact"},   {u"Company", u"_name"},
      {u"Maintel", u"_teleno"}, {u"Fax", u"_faxno"},      {u"Address1", u"_addr1"},
      {u"Address2", u"_addr2"}, {u"Town", u"_addr3"},      {u"PostCode", u"_pstcode"},
  };

  Text record;
  for (const Column& c : kColumns) {
    // A column that cannot be read leaves its key out; the rest still come.
    proc.Step([&] {
      Text value = Trim(TextForm(HeldResultSet(res).Field(t + c.column)));
      if (c.column == kColumns[0].column) value = t + value;
      AddVar(record, c.key, value, true);
    });
  }
  return record;
}

}  // namespace ledra
