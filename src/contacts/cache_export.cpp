// The cache walk: suppliers, then customers, one contact record per call.
// The position lives in the Session between the host's calls.
#include "base/errors.h"
#include "base/vars.h"
#include "contacts/data_source.h"
#include "session/session.h"

namespace ledra {

namespace {

std::shared_ptr<ResultSet> OpenTable(const std::shared_ptr<Connection>& conn, const Text& sql) {
  if (!conn) Raise(Err::ObjectNotSet);
  return conn->OpenResultset(sql);
}

}  // namespace

Text Session::CacheRecordReal() {
  Procedure proc(u" @ plgLedraII.CacheRecordReal");
  Text r;

  if (cache_state_ == u"START") {
    // No row is read here: the host learns only whether the walk can begin.
    proc.Step([&] { cache_rs_.reset(); });
    if (use_suppliers_) proc.Step([&] { cache_rs_ = OpenTable(conn_, u"select * from " + table_prefix_ + u"pname"); });
    proc.Step([&] { cache_state_ = u"RUN1"; });
    proc.Step([&] {
      if (!cache_rs_) {
        AddVar(r, u"Result", Text(u"Fail"));
        AddVar(r, u"Reason", u"No resultset: " + table_prefix_ + u"PName");
      } else {
        AddVar(r, u"Records", Var::Integer(-1));
      }
    });
    return r;
  }

  if (cache_state_ == u"TERMINATE") return r;

  // Without a result set the flag cannot be read; that counts as the end of
  // the current table, so the walk still moves on.
  bool at_end = true;
  proc.Step([&] {
    if (!cache_rs_) Raise(Err::ObjectNotSet);
    at_end = cache_rs_->Eof();
  });

  if (!at_end) {
    proc.Step([&] { AddVar(r, u"Result", Text(u"Success")); });
    Text fields;
    proc.Step([&] {
      fields = GetContact(cache_state_ == u"RUN1" ? u"SUPPLIERS" : u"CUSTOMERS", *cache_rs_);
    });
    proc.Step([&] { cache_rs_->MoveNext(); });
    proc.Step([&] { AddVar(r, u"Fields", fields); });
  } else if (cache_state_ == u"RUN1") {
    proc.Step([&] { cache_rs_.reset(); });
    if (use_customers_) proc.Step([&] { cache_rs_ = OpenTable(conn_, u"select * from " + table_prefix_ + u"sname"); });
    proc.Step([&] { cache_state_ = u"RUN2"; });
    r = u"{Result=Ignore}";
  } else {
    proc.Step([&] { AddVar(r, u"Result", Text(u"Eof")); });
    proc.Step([&] { cache_rs_.reset(); });
    proc.Step([&] { cache_state_ = u"END"; });
  }
  return r;
}

}  // namespace ledra
