// A company's contact tables for the workers' tests: a_pname (suppliers)
// and a_sname (customers) written by the tools' dBase writer into an
// in-memory folder and read by the real engine. The engine's folders are
// watched for what the engine cannot be made to do: which folder was
// opened, an open that fails, result sets still alive, and a hook on every
// row step (to pass time, or to fail).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "contacts/data_source.h"
#include "dbf/dbf_connection.h"
#include "fakes/fake_platform.h"
#include "fakes/memory_files.h"

namespace ledra::testing {

// The nine contact columns of one row, in the tables' own order: name is
// the company, contact the person.
struct Contact {
  Text account{}, name{}, contact{}, teleno{}, faxno{}, addr1{}, addr2{}, addr3{}, pstcode{};
};

// "{key(S<length>)=value}": one text entry of a record, written out by hand.
inline Text Typed(const Text& key, const Text& value) {
  return u"{" + key + u"(S" + FromAscii(std::to_string(value.size())) + u")=" + value + u"}";
}

// The contact record of a row as the host receives it, every key present.
inline Text ContactRecord(const Text& code, const Contact& c) {
  return Typed(u"Id", code + c.account) + Typed(u"Name", c.contact) + Typed(u"Company", c.name) +
         Typed(u"Maintel", c.teleno) + Typed(u"Fax", c.faxno) + Typed(u"Address1", c.addr1) +
         Typed(u"Address2", c.addr2) + Typed(u"Town", c.addr3) + Typed(u"PostCode", c.pstcode);
}

// A table of code ("pn" or "sn") in code page 1252 with these rows;
// columns names the table's own columns (the contact columns by default).
inline std::string ContactTable(const std::string& code, const std::vector<Contact>& rows,
                                std::vector<std::string> columns = {}) {
  if (columns.empty()) {
    for (const char* c : {"_account", "_name", "_contact", "_teleno", "_faxno", "_addr1", "_addr2", "_addr3", "_pstcode"}) {
      columns.push_back(code + c);
    }
  }
  DbfWriter w(0x30);
  w.CodePage(0x03);
  for (const std::string& c : columns) w.Field(c, 'C', 40);
  auto bytes = [](const Text& t) { return std::string(t.begin(), t.end()); };  // Latin-1 is 1252 here
  for (const Contact& c : rows) {
    std::vector<DbfValue> values;
    for (const Text* v : {&c.account, &c.name, &c.contact, &c.teleno, &c.faxno, &c.addr1, &c.addr2, &c.addr3, &c.pstcode}) {
      if (values.size() < columns.size()) values.push_back(bytes(*v));
    }
    w.Row(values);
  }
  return w.Build();
}

// Watches the folders the engine opens while it lives.
class WatchedFolders {
 public:
  WatchedFolders() {
    previous_ = Engine().SetFolderOpener([this](const Text& folder) -> std::shared_ptr<Connection> {
      if (before_open) before_open(folder);
      opened.push_back(folder);
      return std::make_shared<Watched>(OpenDbfFolder(folder), this);
    });
  }
  ~WatchedFolders() { Engine().SetFolderOpener(std::move(previous_)); }
  WatchedFolders(const WatchedFolders&) = delete;
  WatchedFolders& operator=(const WatchedFolders&) = delete;

  std::vector<Text> opened;                                   // in order
  std::function<void(const Text& folder)> before_open;        // may throw to fail the open
  // Before each Eof or MoveNext of a result set for sql; may throw.
  std::function<void(const Text& sql, const char* step)> on_step;
  int live = 0;                                               // result sets alive

 private:
  struct Rows : ResultSet {
    Rows(std::shared_ptr<ResultSet> rs, Text sql, WatchedFolders* w) : rs(std::move(rs)), sql(std::move(sql)), w(w) {
      ++w->live;
    }
    ~Rows() override { --w->live; }
    bool Eof() override { return Step("Eof"), rs->Eof(); }
    Var Field(const Text& column) override { return rs->Field(column); }
    void FieldText(const Text& column, Text& out, bool trimmed) override { rs->FieldText(column, out, trimmed); }
    void AppendDialling(const Text& column, Text& out) override { rs->AppendDialling(column, out); }
    void MoveNext() override { Step("MoveNext"), rs->MoveNext(); }
    void Step(const char* step) {
      if (w->on_step) w->on_step(sql, step);
    }
    std::shared_ptr<ResultSet> rs;
    Text sql;
    WatchedFolders* w;
  };
  struct Watched : Connection {
    Watched(std::shared_ptr<Connection> c, WatchedFolders* w) : c(std::move(c)), w(w) {}
    std::shared_ptr<ResultSet> OpenResultset(const Text& sql) override {
      return std::make_shared<Rows>(c->OpenResultset(sql), sql, w);
    }
    std::shared_ptr<Connection> c;
    WatchedFolders* w;
  };
  FolderOpener previous_;
};

// A folder C:\Acc whose tables the test fills.
class CompanyTest : public PlatformTest {
 protected:
  CompanyTest() {
    sys.platform.files = &files;
    files.MakeFolder(u"C:\\Acc");
  }
  // Writes a_pname or a_sname (named by code) in folder.
  void Put(const std::string& code, const std::vector<Contact>& rows, const Text& folder = u"C:\\Acc",
           const Text& prefix = u"a_") {
    files.Put(folder + u"/" + prefix + FromAscii(code.substr(0, 1)) + u"name.dbf", ContactTable(code, rows));
  }
  void Suppliers(const std::vector<Contact>& rows) { Put("pn", rows); }
  void Customers(const std::vector<Contact>& rows) { Put("sn", rows); }

  MemoryFiles files;
  WatchedFolders folders;
};

}  // namespace ledra::testing
