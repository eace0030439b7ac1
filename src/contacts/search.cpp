// The contact search behind FindContact and FindList: the supplier table,
// then the customer table, tested row by row.
//
// A search by number, words or letter takes its rows from the tables' search
// keys when the engine keeps them (search/search_keys.h): only the rows the
// keys say match are read, and each is tested here as a scanned row is.
// Otherwise it reads every row of both tables (hundreds of thousands in a
// large company), so the row loop reads only the columns the request needs,
// builds its keys in buffers reused from row to row, and asks for the time
// only every so many rows to decide whether to let the host's window
// messages through.
#include "contacts/search.h"

#include <cmath>
#include <initializer_list>
#include <vector>

#include "base/errors.h"
#include "base/platform.h"
#include "base/text_matching.h"
#include "base/vars.h"
#include "contacts/contact.h"
#include "search/search_keys.h"

namespace ledra {

Text PrepareRequest(const Text& rd, const char16_t* cmd, const char16_t* number_key, Procedure& proc) {
  Text r = rd;
  proc.Step([&] { AddVar(r, u"Cmd", Text(cmd)); });
  proc.Step([&] {
    Var tel = *number_key ? GetVar(r, u"Tel", GetVar(r, number_key)) : GetVar(r, u"Tel");
    AddVar(r, u"Tel", DigitsOnly(CStr(tel), false));
  });
  proc.Step([&] { AddVar(r, u"Text", WordsOnly(CStr(GetVar(r, u"Text")))); });
  proc.Step([&] { AddVar(r, u"Begin", UCase(CStr(GetVar(r, u"Begin")).substr(0, 1))); });
  return r;
}

namespace {

// Lets the host's messages through during a scan often enough that its
// windows stay responsive (at least every 20 ms) while the scan itself
// hardly pays for it. The clock is read only every `stride_` rows: the
// stride doubles while checks come less than a millisecond apart and drops
// back to every row as soon as they come too far apart, so checks stay a few
// milliseconds apart however much a row costs, also when rows turn slow in
// the middle of a table.
class Yielder {
 public:
  Yielder() : clock_(Sys().clock), pump_(Sys().pump) {
    if (clock_) last_check_ = last_pump_ = clock_->TickCount();
  }

  void AfterRow() {
    if (--countdown_ > 0) return;
    Check();
  }

 private:
  static constexpr uint32_t kPumpEveryMs = 10;
  static constexpr uint32_t kCoarseCheckMs = 4;
  static constexpr int kMaxStride = 512;

  void Check() {
    if (!clock_) {
      countdown_ = stride_;
      Pump();
      return;
    }
    uint32_t now = clock_->TickCount();
    uint32_t since_check = now - last_check_;
    last_check_ = now;
    if (since_check >= kCoarseCheckMs) {
      stride_ = 1;
    } else if (since_check == 0 && stride_ < kMaxStride) {
      stride_ *= 2;
    }
    countdown_ = stride_;
    if (now - last_pump_ >= kPumpEveryMs) {
      last_pump_ = now;
      Pump();
    }
  }

  void Pump() {
    if (pump_ && pump_->HasPending()) pump_->DoEvents();
  }

  Clock* clock_;
  MessagePump* pump_;
  uint32_t last_check_ = 0;
  uint32_t last_pump_ = 0;
  int stride_ = 1;
  int countdown_ = 1;
};

// A column a scan reads on every row. A column that failed on this many rows
// running is taken as gone for the rest of the table: its reads count as
// failed without asking (and logging) again, which keeps a broken table
// from flooding the log or dragging the scan out.
constexpr int kColumnGiveUp = 64;

struct ScanColumn {
  Text name;
  int failures = 0;
  bool gone() const { return failures >= kColumnGiveUp; }
};

class RowScanner {
 public:
  RowScanner(Procedure& proc, bool plain_upper) : proc_(proc), plain_upper_(plain_upper) {}

  // Reads the column into value as trimmed text (Null as ""); false,
  // logged, when it cannot be read.
  bool Read(ResultSet& rs, ScanColumn& column, Text& value) {
    if (column.gone()) return false;
    try {
      rs.FieldText(column.name, value, true);  // into the reused buffer
      column.failures = 0;
      return true;
    } catch (...) {
      proc_.Log(DescribeCurrentException());
      ++column.failures;
      return false;
    }
  }

  // "," + DigitsOnly(telephone) + ","; blanks are no dialling characters,
  // so trimming first would change nothing. False, logged, when the column
  // cannot be read; the key is then as it was before the read: ",".
  bool TelephoneKey(ResultSet& rs, ScanColumn& column, Text& key) {
    key.assign(1, u',');
    if (column.gone()) return false;
    try {
      rs.AppendDialling(column.name, key);
      key += u',';
      column.failures = 0;
      return true;
    } catch (...) {
      proc_.Log(DescribeCurrentException());
      ++column.failures;
      key.assign(1, u',');
      return false;
    }
  }

  // Appends WordsOnly(value); values come trimmed from Read.
  void AppendWords(const Text& value, Text& out) const { AppendRowWords(value, plain_upper_, out); }

  // The upper-cased first character of the (trimmed) value, "" for none.
  void Initial(const Text& value, Text& out) const { RowInitial(value, plain_upper_, out); }

 private:
  Procedure& proc_;
  bool plain_upper_;
};

Text Trimmed(ResultSet& rs, const Text& column) {
  Text value;
  rs.FieldText(column, value, true);
  return value;
}

// What FindReal reads from the host's request; "#" stands for a key not
// given.
struct FindRequest {
  bool list_mode = false;
  int16_t max_find = 0;
  Text id = u"#";
  Text begin = u"#";
  Text tel = u"#";
  Text text = u"#";
  Var tel_given;
  Var nice_tel;
  float start = 0;  // the timer when the search began

  bool by_id() const { return id != u"#"; }
  bool has_text() const { return text != u"#"; }
  bool has_begin() const { return begin != u"#"; }
};

FindRequest ReadFindRequest(const Text& rd, int match_last_digits, Procedure& proc) {
  FindRequest r;
  proc.Step([&] { r.list_mode = UCase(CStr(GetVar(rd, u"Cmd"))) == u"FINDLIST"; });
  proc.Step([&] { r.max_find = CInt(GetVar(rd, u"MaxFind", Var::Integer(50))); });
  proc.Step([&] { r.id = CStr(GetVar(rd, u"Id", Text(u"#"))); });
  proc.Step([&] { r.begin = CStr(GetVar(rd, u"Begin", Text(u"#"))); });
  proc.Step([&] { r.tel = CStr(GetVar(rd, u"Tel", Text(u"#"))); });
  // A number in international form is matched on its last digits when the
  // administrator asked for it; the answer still echoes the request's "Tel".
  proc.Step([&] { r.tel = LastDigits(r.tel, match_last_digits); });
  proc.Step([&] { r.text = CStr(GetVar(rd, u"Text", Text(u"#"))); });
  proc.Step([&] { r.tel_given = GetVar(rd, u"Tel"); });
  proc.Step([&] { r.nice_tel = GetVar(rd, u"NiceTel"); });
  proc.Step([&] { r.start = Sys().clock->Timer(); });
  return r;
}

// One search of the supplier table, then the customer table, and its
// answer.
class Finder {
 public:
  Finder(Procedure& proc, Connection* conn, const Text& table_prefix, const FindRequest& r)
      : proc_(proc), conn_(conn), keyed_conn_(dynamic_cast<KeyedConnection*>(conn)), prefix_(table_prefix), r_(r),
        scanner_(proc, PlainAsciiUpper()) {}

  // The record of the account r.id names; false when no table was its own
  // or could be read (the answer is then "NoFind").
  bool FindById(Text* found) {
    for (const Text t : {u"pn", u"sn"}) {
      bool ours = false;
      proc_.Step([&] { ours = UCase(r_.id.substr(0, 2)) == UCase(t); });
      if (!ours) continue;
      const Text sql = u"select * from " + ContactKeyTable(prefix_, t).table + u" where " + t + u"_account= '" +
                       r_.id.substr(2) + u"'";
      std::shared_ptr<ResultSet> rs = Open(sql);
      if (!rs) continue;
      bool at_end = true;
      proc_.Step([&] { at_end = rs->Eof(); });
      if (at_end) {
        proc_.Step([&] { AddVar(*found, u"Result", Text(u"Fail")); });
      } else {
        proc_.Step([&] { *found = GetContact(t, *rs); });
        proc_.Step([&] { AddVar(*found, u"Result", Text(u"Success")); });
      }
      return true;
    }
    return false;
  }

  // Both tables, each from its keys when use_keys and the engine keeps
  // them, else by a scan. False when a row from the keys no longer
  // matched or was gone from the file: the keys were stale, they are not
  // used again, and what was found is thrown away.
  bool SearchTables(bool use_keys) {
    answer_.clear();
    count_ = 0;
    for (const Text t : {u"pn", u"sn"}) {
      const KeyTable columns = ContactKeyTable(prefix_, t);
      Text sql = u"select * from " + columns.table;
      if (r_.has_begin()) sql += u" where " + t + u"_name  >= '" + r_.begin + u"'";
      std::shared_ptr<KeyedRows> keyed = use_keys ? OpenKeyed(sql, columns) : nullptr;
      std::shared_ptr<ResultSet> rs = keyed ? keyed : Open(sql);
      if (!rs) continue;
      const bool all_matched = ScanRows(t, columns, *rs, keyed != nullptr);
      if (keyed && (!all_matched || !keyed->Complete())) {
        keyed->Stale();
        return false;
      }
    }
    return true;
  }

  Text Answer() {
    // Whole milliseconds of the time of day, in single precision as the
    // timer gives it; a search across midnight comes out negative.
    auto speed = [&] {
      float elapsed = static_cast<float>(Sys().clock->Timer() - r_.start);
      float ms = static_cast<float>(std::floor(static_cast<float>(elapsed * 1000.0f)));
      return Var::Single(static_cast<float>(ms / 1000.0f));
    };
    Text& answer = answer_;
    if (r_.list_mode) {
      proc_.Step([&] { AddVar(answer, u"HasName", Var::Integer(1)); });
      proc_.Step([&] { AddVar(answer, u"HasCompany", Var::Integer(1)); });
    }
    if (count_ > 0) {
      if (r_.list_mode) proc_.Step([&] { AddVar(answer, u"ListCount", Var::Integer(count_)); });
      proc_.Step([&] { AddVar(answer, u"Speed", speed()); });
      proc_.Step([&] { AddVar(answer, u"Matches", Var::Integer(count_)); });
      proc_.Step([&] { AddVar(answer, u"Result", Text(u"Success")); });
    } else {
      proc_.Step([&] { AddVar(answer, u"Tel", r_.tel_given); });
      proc_.Step([&] { AddVar(answer, u"NiceTel", r_.nice_tel); });
      proc_.Step([&] { AddVar(answer, u"Speed", speed()); });
      proc_.Step([&] { AddVar(answer, u"Result", Text(u"Fail")); });
      proc_.Step([&] { AddVar(answer, u"Reason", Text(u"NoFind")); });
    }
    return answer;
  }

 private:
  // The table's query, logged and nullptr when it fails.
  std::shared_ptr<ResultSet> Open(const Text& sql) {
    std::shared_ptr<ResultSet> rs;
    proc_.Step([&] {
      if (!conn_) Raise(Err::ObjectNotSet);
      rs = conn_->OpenResultset(sql);
    });
    return rs;
  }

  // The rows the table's keys say match; nullptr when there are none to
  // ask.
  std::shared_ptr<KeyedRows> OpenKeyed(const Text& sql, const KeyTable& columns) {
    if (!keyed_conn_) return nullptr;
    KeyRequest kr;
    kr.sql = sql;
    kr.tel_column = columns.tel_column;
    kr.contact_column = columns.contact_column;
    kr.name_column = columns.name_column;
    kr.tel = r_.tel;
    kr.text = r_.text;
    kr.has_text = r_.has_text();
    kr.begin = r_.begin;
    kr.has_begin = r_.has_begin();
    // The rows this table gives at most: up to the limit, at least one.
    const int limit = r_.list_mode ? r_.max_find : 2;
    kr.max_rows = static_cast<size_t>(std::max(1, limit - count_));
    return keyed_conn_->OpenMatches(kr);
  }

  // Tests the rows of rs in turn, adding those that match to the answer
  // until it is full; false when keyed and a row did not match.
  bool ScanRows(const Text& t, const KeyTable& columns, ResultSet& rs, bool keyed) {
    const bool has_text = r_.has_text();
    const bool has_begin = r_.has_begin();
    ScanColumn tel_column{columns.tel_column};
    ScanColumn contact_column{columns.contact_column};
    ScanColumn name_column{columns.name_column};
    Text value;
    Text name_value;
    Text tel_key;
    Text words;

    for (;;) {
      bool at_end = true;
      if (!proc_.Step([&] { at_end = rs.Eof(); }) || at_end) return true;

      // Nothing more can be read from this table.
      if (tel_column.gone() && (!has_text || contact_column.gone()) &&
          (!(has_text || has_begin) || name_column.gone())) {
        return true;
      }

      // A key whose column cannot be read keeps what it held before the
      // read, and the row is tested with that.
      scanner_.TelephoneKey(rs, tel_column, tel_key);

      if (has_text || has_begin) words.assign(1, u',');
      bool name_read = false;
      if (has_text && scanner_.Read(rs, contact_column, value) && scanner_.Read(rs, name_column, name_value)) {
        name_read = true;
        scanner_.AppendWords(value, words);
        words += u',';
        scanner_.AppendWords(name_value, words);
        words += u',';
      }
      if (has_begin && (name_read || scanner_.Read(rs, name_column, name_value))) {
        scanner_.Initial(name_value, words);
      }

      bool match = tel_key.find(r_.tel) != Text::npos;
      if (!match && has_text) match = WordsMatch(words, r_.text);
      if (!match && has_begin) match = r_.begin == words;
      if (keyed && !match) return false;

      if (match && !Take(t, rs)) return true;

      if (!proc_.Step([&] { rs.MoveNext(); })) return true;
      yielder_.AfterRow();
    }
  }

  // Adds the matching current row of rs to the answer; false when the
  // answer is full.
  bool Take(const Text& t, ResultSet& rs) {
    proc_.Step([&] {
      if (count_ == INT16_MAX) Raise(Err::Overflow);
      ++count_;
    });
    if (r_.list_mode) {
      Text entry;
      proc_.Step([&] { AddVar(entry, u"Name", Trimmed(rs, t + u"_Contact")); });
      proc_.Step([&] { AddVar(entry, u"Company", Trimmed(rs, t + u"_Name")); });
      proc_.Step([&] { AddVar(entry, u"Id", t + Trimmed(rs, t + u"_Account")); });
      proc_.Step([&] { AddVar(entry, u"MainTel", Trimmed(rs, t + u"_teleno")); });
      proc_.Step([&] { AddVar(answer_, u"List" + FromAscii(std::to_string(count_)), entry); });
      return count_ < r_.max_find;
    }
    if (count_ > 1) return false;
    proc_.Step([&] { answer_ = GetContact(t, rs); });
    proc_.Step([&] { AddVar(answer_, u"Tel", r_.tel_given); });
    proc_.Step([&] { AddVar(answer_, u"NiceTel", r_.nice_tel); });
    return true;
  }

  Procedure& proc_;
  Connection* conn_;
  KeyedConnection* keyed_conn_;  // the same, when it keeps search keys
  const Text& prefix_;
  const FindRequest& r_;
  RowScanner scanner_;
  Yielder yielder_;  // one for the whole search, however many tables it reads
  Text answer_;
  int16_t count_ = 0;
};

}  // namespace

KeyTable ContactKeyTable(const Text& table_prefix, const Text& t) {
  return {table_prefix + t + u"ame", t + u"_teleno", t + u"_Contact", t + u"_Name"};
}

std::shared_ptr<void> KeepSearchKeys(Connection& conn, const Settings& settings) {
  std::vector<KeyTable> tables;
  for (const Text t : {u"pn", u"sn"}) tables.push_back(ContactKeyTable(settings.table_prefix, t));
  auto* keyed = dynamic_cast<KeyedConnection*>(&conn);
  return keyed ? keyed->KeepKeys(tables) : nullptr;
}

Text ContactSearch::FindReal(const Text& rd) {
  Procedure proc(u" @ plgLedraII.Find");
  const FindRequest r = ReadFindRequest(rd, match_last_digits_, proc);
  Finder finder(proc, conn_.get(), table_prefix_, r);
  if (r.by_id()) {
    Text found;
    if (finder.FindById(&found)) return found;
    return finder.Answer();
  }
  // The keyed pass, twice at most: keys that proved stale were marked so
  // and may have been built anew meanwhile. Then the scan of both tables.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (finder.SearchTables(true)) return finder.Answer();
  }
  finder.SearchTables(false);
  return finder.Answer();
}

}  // namespace ledra
