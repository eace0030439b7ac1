#include "fakes/fake_tables.h"

#include "base/errors.h"

namespace ledra::testing {

namespace {

constexpr int kDriverError = 40002;

std::string Key(const Text& s) {
  std::string k;
  for (char16_t c : s) k += static_cast<char>(c >= u'A' && c <= u'Z' ? c + 32 : (c < 128 ? c : '?'));
  return k;
}

int ColumnIndex(const FakeTable& t, const Text& column) {
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (Key(t.columns[i]) == Key(column)) return static_cast<int>(i);
  }
  return -1;
}

bool StartsWithNoCase(const Text& s, size_t at, const std::string& prefix) {
  if (s.size() < at + prefix.size()) return false;
  return Key(s.substr(at, prefix.size())) == prefix;
}

class FakeResultSet : public ResultSet {
 public:
  FakeResultSet(std::shared_ptr<const FakeTable> table, std::vector<size_t> rows, TableFaults faults,
                std::shared_ptr<int> live, std::function<void(size_t)> on_move)
      : table_(std::move(table)), rows_(std::move(rows)), faults_(faults), live_(std::move(live)),
        on_move_(std::move(on_move)) {
    ++*live_;
  }
  ~FakeResultSet() override { --*live_; }

  bool Eof() override {
    if (faults_.eof_throws) throw Failure(kDriverError, u"Connection lost while reading");
    return pos_ >= rows_.size();
  }
  Var Field(const Text& column) override {
    if (faults_.fields_fail_from_row >= 0 && pos_ >= static_cast<size_t>(faults_.fields_fail_from_row)) {
      throw Failure(kDriverError, u"Read error in table");
    }
    if (pos_ >= rows_.size()) throw Failure(40022, u"No current row");
    // Column look-ups are remembered so that long scans stay quick.
    auto known = columns_.find(column);
    int c = known != columns_.end() ? known->second : (columns_[column] = ColumnIndex(*table_, column));
    if (c < 0) throw Failure(40041, u"Object Collection: Couldn't find item indicated by text.");
    const auto& row = table_->rows[rows_[pos_]];
    return static_cast<size_t>(c) < row.size() ? row[c] : Var::Null();
  }
  void MoveNext() override {
    if (faults_.move_throws) throw Failure(kDriverError, u"Connection lost while reading");
    if (pos_ >= rows_.size()) throw Failure(40022, u"No current row");
    ++pos_;
    if (on_move_) on_move_(pos_);
  }

 private:
  std::shared_ptr<const FakeTable> table_;
  std::vector<size_t> rows_;
  TableFaults faults_;
  std::shared_ptr<int> live_;
  std::function<void(size_t)> on_move_;
  std::map<Text, int> columns_;
  size_t pos_ = 0;
};

[[noreturn]] void SyntaxError() { throw Failure(kDriverError, u"[Microsoft][ODBC Visual FoxPro Driver]Syntax error."); }

}  // namespace

Text Typed(const Text& key, const Text& value) {
  return u"{" + key + u"(S" + FromAscii(std::to_string(value.size())) + u")=" + value + u"}";
}

Text ContactRecord(const Text& code, const Contact& c) {
  return Typed(u"Id", code + c.account) + Typed(u"Name", c.contact) + Typed(u"Company", c.name) +
         Typed(u"Maintel", c.teleno) + Typed(u"Fax", c.faxno) + Typed(u"Address1", c.addr1) +
         Typed(u"Address2", c.addr2) + Typed(u"Town", c.addr3) + Typed(u"PostCode", c.pstcode);
}

FakeTables::FakeTables() : live_(std::make_shared<int>(0)) {}

void FakeTables::AddTable(const Text& name, std::vector<Text> columns) {
  auto t = std::make_shared<FakeTable>();
  t->columns = std::move(columns);
  tables_[Key(name)] = std::move(t);
}

void FakeTables::AddRow(const Text& table, std::vector<Var> values) { Table(table).rows.push_back(std::move(values)); }

void FakeTables::AddContacts(const Text& name, const Text& code, const std::vector<Contact>& rows) {
  std::vector<Text> columns;
  for (const char16_t* c : {u"_account", u"_name", u"_contact", u"_teleno", u"_faxno", u"_addr1", u"_addr2",
                            u"_addr3", u"_pstcode"}) {
    columns.push_back(code + c);
  }
  AddTable(name, columns);
  for (const Contact& r : rows) AddContact(name, r);
}

void FakeTables::AddContact(const Text& table, const Contact& r) {
  AddRow(table, {r.account, r.name, r.contact, r.teleno, r.faxno, r.addr1, r.addr2, r.addr3, r.pstcode});
}

FakeTable& FakeTables::Table(const Text& name) { return *tables_.at(Key(name)); }

void FakeTables::SetFaults(const Text& table, TableFaults faults) { faults_[Key(table)] = faults; }

// "select * from T", "... where col= 'v'" and "... where col  >= 'v'".
std::shared_ptr<ResultSet> FakeTables::OpenResultset(const Text& sql) {
  queries.push_back(sql);
  if (fail_queries) throw Failure(kDriverError, u"[Microsoft][ODBC Visual FoxPro Driver]Cannot open file.");
  const std::string select = "select * from ";
  if (!StartsWithNoCase(sql, 0, select)) SyntaxError();
  size_t name_end = sql.find(u' ', select.size());
  Text name = sql.substr(select.size(), name_end == Text::npos ? Text::npos : name_end - select.size());
  auto found = tables_.find(Key(name));
  if (found == tables_.end()) {
    throw Failure(kDriverError, u"[Microsoft][ODBC Visual FoxPro Driver]File '" + name + u".dbf' does not exist.");
  }
  const FakeTable& table = *found->second;

  std::vector<size_t> rows;
  if (name_end == Text::npos) {
    for (size_t i = 0; i < table.rows.size(); ++i) rows.push_back(i);
  } else {
    const std::string where = " where ";
    if (!StartsWithNoCase(sql, name_end, where)) SyntaxError();
    Text cond = sql.substr(name_end + where.size());
    size_t q1 = cond.find(u'\'');
    if (q1 == Text::npos || cond.size() < q1 + 2 || cond.back() != u'\'') SyntaxError();
    Text value = cond.substr(q1 + 1, cond.size() - q1 - 2);
    if (value.find(u'\'') != Text::npos) SyntaxError();
    Text lhs = RTrim(cond.substr(0, q1));
    bool ge = lhs.size() >= 2 && lhs.compare(lhs.size() - 2, 2, u">=") == 0;
    if (!ge && (lhs.empty() || lhs.back() != u'=')) SyntaxError();
    Text column = Trim(lhs.substr(0, lhs.size() - (ge ? 2 : 1)));
    int c = ColumnIndex(table, column);
    if (c < 0) throw Failure(kDriverError, u"[Microsoft][ODBC Visual FoxPro Driver]SQL: Column '" + column + u"' is not found.");
    for (size_t i = 0; i < table.rows.size(); ++i) {
      Text v = RTrim(TextForm(table.rows[i][c]));
      if (ge ? v >= value : v == value) rows.push_back(i);
    }
  }
  auto faults = faults_.find(Key(name));
  auto rs = std::make_shared<FakeResultSet>(found->second, std::move(rows),
                                            faults == faults_.end() ? TableFaults{} : faults->second, live_, on_move);
  if (on_open) on_open();
  return rs;
}

FakeFolders::FakeFolders() {
  previous_ = Engine().SetFolderOpener([this](const Text& folder) -> std::shared_ptr<Connection> {
    if (before_open) before_open(folder);
    opened.push_back(folder);
    return Folder(folder);
  });
}

FakeFolders::~FakeFolders() { Engine().SetFolderOpener(std::move(previous_)); }

std::shared_ptr<FakeTables> FakeFolders::Folder(const Text& path) {
  auto& f = folders_[path];
  if (!f) f = std::make_shared<FakeTables>();
  return f;
}

}  // namespace ledra::testing
