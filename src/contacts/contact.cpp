#include "contacts/contact.h"

#include "base/errors.h"
#include "base/platform.h"
#include "base/vars.h"
#include "contacts/data_source.h"

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

namespace {

// The record of the row that rows() stands on; rows() fails (and that key is
// left out) when there is no result set to read.
template <class Rows>
Text ContactRecord(const Text& typ, Rows&& rows) {
  Procedure proc(u" @ plgLedraII.GetContact");
  Text t = u"sn";
  proc.Step([&] {
    Text upper = UCase(typ);
    if (upper == u"SUPPLIERS" || upper == u"PN") t = u"pn";
  });

  // The cache walk builds one record per call: the keys and the column
  // names of both tables are made once.
  struct Column {
    Text key;
    Text sn;
    Text pn;
  };
  static const Column kColumns[] = {
      {u"Id", u"sn_account", u"pn_account"},   {u"Name", u"sn_contact", u"pn_contact"},
      {u"Company", u"sn_name", u"pn_name"},    {u"Maintel", u"sn_teleno", u"pn_teleno"},
      {u"Fax", u"sn_faxno", u"pn_faxno"},      {u"Address1", u"sn_addr1", u"pn_addr1"},
      {u"Address2", u"sn_addr2", u"pn_addr2"}, {u"Town", u"sn_addr3", u"pn_addr3"},
      {u"PostCode", u"sn_pstcode", u"pn_pstcode"},
  };

  const bool supplier = t == u"pn";
  Text record;
  record.reserve(512);
  Text value;
  // While no value holds a "{", the record holds no entry of a key still to
  // come, so appending is what AddVar would do; this keeps the cache walk
  // from searching the record for every key of every row.
  bool plain = true;
  for (const Column& c : kColumns) {
    // A column that cannot be read leaves its key out; the rest still come.
    proc.Step([&] {
      rows().FieldText(supplier ? c.pn : c.sn, value, true);
      if (&c == &kColumns[0]) value.insert(0, t);
      if (plain) {
        AppendTyped(record, c.key, value);
        plain = value.find(u'{') == Text::npos;
      } else {
        AddVar(record, c.key, value, true);
      }
    });
  }
  return record;
}

}  // namespace

Text GetContact(const Text& typ, const Var& res) {
  ResultSet* rs = nullptr;
  try {
    rs = &HeldResultSet(res);
  } catch (...) {
    // Each column's read fails on its own with this failure.
  }
  return ContactRecord(typ, [&]() -> ResultSet& { return rs ? *rs : HeldResultSet(res); });
}

Text GetContact(const Text& typ, ResultSet& rs) {
  return ContactRecord(typ, [&]() -> ResultSet& { return rs; });
}

}  // namespace ledra
