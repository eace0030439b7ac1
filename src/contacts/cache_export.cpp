// The position lives in the Session between the host's calls.
#include "contacts/cache_export.h"

#include "base/errors.h"
#include "base/vars.h"
#include "contacts/data_source.h"
#include "contacts/contact.h"

namespace ledra {

namespace {

std::shared_ptr<ResultSet> OpenTable(const std::shared_ptr<Connection>& conn, const Text& sql) {
  if (!conn) Raise(Err::ObjectNotSet);
  return conn->OpenResultset(sql);
}

}  // namespace

Text CacheWalk::Next(const std::shared_ptr<Connection>& conn, const Settings& settings) {
  Procedure proc(u" @ plgLedraII.CacheRecordReal");
  Text r;

  if (state_ == u"START") {
    // No row is read here: the host learns only whether the walk can begin.
    proc.Step([&] { rs_.reset(); });
    if (settings.use_suppliers) proc.Step([&] { rs_ = OpenTable(conn, u"select * from " + settings.table_prefix + u"pname"); });
    proc.Step([&] { state_ = u"RUN1"; });
    proc.Step([&] {
      if (!rs_) {
        AddVar(r, u"Result", Text(u"Fail"));
        AddVar(r, u"Reason", u"No resultset: " + settings.table_prefix + u"PName");
      } else {
        AddVar(r, u"Records", Var::Integer(-1));
      }
    });
    return r;
  }

  if (state_ == u"TERMINATE") return r;

  // Without a result set the flag cannot be read; that counts as the end of
  // the current table, so the walk still moves on.
  bool at_end = true;
  proc.Step([&] {
    if (!rs_) Raise(Err::ObjectNotSet);
    at_end = rs_->Eof();
  });

  if (!at_end) {
    proc.Step([&] { AddVar(r, u"Result", Text(u"Success")); });
    Text fields;
    proc.Step([&] {
      fields = GetContact(state_ == u"RUN1" ? u"SUPPLIERS" : u"CUSTOMERS", *rs_);
    });
    proc.Step([&] { rs_->MoveNext(); });
    proc.Step([&] { AddVar(r, u"Fields", fields); });
  } else if (state_ == u"RUN1") {
    proc.Step([&] { rs_.reset(); });
    if (settings.use_customers) proc.Step([&] { rs_ = OpenTable(conn, u"select * from " + settings.table_prefix + u"sname"); });
    proc.Step([&] { state_ = u"RUN2"; });
    r = u"{Result=Ignore}";
  } else {
    proc.Step([&] { AddVar(r, u"Result", Text(u"Eof")); });
    proc.Step([&] { rs_.reset(); });
    proc.Step([&] { state_ = u"END"; });
  }
  return r;
}

}  // namespace ledra
