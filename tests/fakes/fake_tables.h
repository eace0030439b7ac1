// An in-memory connection for the data tests: named tables of rows, the
// three query shapes the plug-in sends, a record of the SQL it was sent, and
// switches that make queries or result sets fail.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/variant.h"
#include "dbf/connection.h"
#include "contacts/data_source.h"

namespace ledra::testing {

struct FakeTable {
  std::vector<Text> columns;
  std::vector<std::vector<Var>> rows;
};

// The nine contact columns of one row, in the tables' own order.
struct Contact {
  Text account{};
  Text name{};     // the company
  Text contact{};  // the person
  Text teleno{};
  Text faxno{};
  Text addr1{};
  Text addr2{};
  Text addr3{};
  Text pstcode{};
};

// "{key(S<length>)=value}": one text entry of a record, written out by hand.
Text Typed(const Text& key, const Text& value);
// The contact record of a row as the host receives it, every key present.
Text ContactRecord(const Text& code, const Contact& c);

// Ways a result set opened on a table misbehaves.
struct TableFaults {
  bool eof_throws = false;
  bool move_throws = false;
  int fields_fail_from_row = -1;      // Field fails for every column from this row on
};

class FakeTables : public Connection {
 public:
  FakeTables();

  // Table and column names are matched without regard to case.
  void AddTable(const Text& name, std::vector<Text> columns);
  void AddRow(const Text& table, std::vector<Var> values);
  // A table with the contact columns of code ("sn" or "pn") and these rows.
  void AddContacts(const Text& name, const Text& code, const std::vector<Contact>& rows);
  void AddContact(const Text& table, const Contact& row);
  FakeTable& Table(const Text& name);
  void SetFaults(const Text& table, TableFaults faults);

  std::shared_ptr<ResultSet> OpenResultset(const Text& sql) override;

  std::vector<Text> queries;   // every SQL text sent, in order
  bool fail_queries = false;   // every query fails
  int open_result_sets() const { return *live_; }
  std::function<void()> on_open;                 // runs after a query is answered
  std::function<void(size_t row)> on_move;       // runs after each MoveNext

 private:
  std::map<std::string, std::shared_ptr<FakeTable>> tables_;
  std::map<std::string, TableFaults> faults_;
  std::shared_ptr<int> live_;
};

// Stands in for the .dbf engine while it lives: every data source folder the
// engine opens is a FakeTables of this map, made empty on first use.
class FakeFolders {
 public:
  FakeFolders();
  ~FakeFolders();
  FakeFolders(const FakeFolders&) = delete;
  FakeFolders& operator=(const FakeFolders&) = delete;

  std::shared_ptr<FakeTables> Folder(const Text& path);

  std::vector<Text> opened;        // folders opened, in order
  std::function<void(const Text& folder)> before_open;  // may throw to fail the open

 private:
  std::map<Text, std::shared_ptr<FakeTables>> folders_;
  FolderOpener previous_;
};

}  // namespace ledra::testing
