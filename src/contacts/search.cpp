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

}  // namespace

KeyTable ContactKeyTable(const Text& table_prefix, const Text& t) {
  return {table_prefix + t + u"ame", t + u"_teleno", t + u"_Contact", t + u"_Name"};
}

std::shared_ptr<void> KeepSearchKeys(Connection& conn, const Settings& settings) {
  std::vector<KeyTable> tables;
  for (const Text t : {u"pn", u"sn"}) tables.push_back(ContactKeyTable(settings.table_prefix, t));
  return conn.KeepKeys(tables);
}

Text ContactSearch::FindReal(const Text& rd) {
  Procedure proc(u" @ plgLedraII.Find");

  bool list_mode = false;
  int16_t max_find = 0;
  Text id = u"#";
  Text begin = u"#";
  Text tel = u"#";
  Text text = u"#";
  Var tel_given;
  Var nice_tel;
  proc.Step([&] { list_mode = UCase(CStr(GetVar(rd, u"Cmd"))) == u"FINDLIST"; });
  proc.Step([&] { max_find = CInt(GetVar(rd, u"MaxFind", Var::Integer(50))); });
  proc.Step([&] { id = CStr(GetVar(rd, u"Id", Text(u"#"))); });
  proc.Step([&] { begin = CStr(GetVar(rd, u"Begin", Text(u"#"))); });
  proc.Step([&] { tel = CStr(GetVar(rd, u"Tel", Text(u"#"))); });
  // A number in international form is matched on its last digits when the
  // administrator asked for it; the answer still echoes the request's "Tel".
  proc.Step([&] { tel = LastDigits(tel, match_last_digits_); });
  proc.Step([&] { text = CStr(GetVar(rd, u"Text", Text(u"#"))); });
  proc.Step([&] { tel_given = GetVar(rd, u"Tel"); });
  proc.Step([&] { nice_tel = GetVar(rd, u"NiceTel"); });

  float start = 0;
  proc.Step([&] { start = Sys().clock->Timer(); });

  const bool by_id = id != u"#";
  const bool has_text = text != u"#";
  const bool has_begin = begin != u"#";
  const Text prefix = table_prefix_;
  const bool plain_upper = PlainAsciiUpper();
  RowScanner scanner(proc, plain_upper);
  Yielder yielder;

  Text answer;
  int16_t count = 0;
  std::shared_ptr<ResultSet> rs;

  // A row from the keys that no longer matches, or one gone from the file,
  // means the keys were stale: they are not used again, and the search
  // starts over from the supplier table.
  int attempt = 0;
  size_t pass = 0;
  while (pass < 2) {
    const Text t = pass++ == 0 ? u"pn" : u"sn";
    const KeyTable columns = ContactKeyTable(prefix, t);

    Text filter;
    if (by_id) {
      bool ours = false;
      proc.Step([&] { ours = UCase(id.substr(0, 2)) == UCase(t); });
      if (!ours) continue;
      filter = t + u"_account= '" + id.substr(2) + u"'";
    } else if (has_begin) {
      filter = t + u"_name  >= '" + begin + u"'";
    }
    Text sql = u"select * from " + columns.table;
    if (!filter.empty()) sql += u" where " + filter;

    rs.reset();
    std::shared_ptr<KeyedRows> keyed;
    if (conn_ && !by_id && attempt < 2) {
      KeyRequest kr;
      kr.sql = sql;
      kr.tel_column = columns.tel_column;
      kr.contact_column = columns.contact_column;
      kr.name_column = columns.name_column;
      kr.tel = tel;
      kr.text = text;
      kr.has_text = has_text;
      kr.begin = begin;
      kr.has_begin = has_begin;
      // The rows this pass takes at most: up to the limit, at least one.
      const int limit = list_mode ? max_find : 2;
      kr.max_rows = static_cast<size_t>(std::max(1, limit - count));
      keyed = conn_->OpenMatches(kr);
      rs = keyed;
    }
    bool opened = keyed || proc.Step([&] {
      if (!conn_) Raise(Err::ObjectNotSet);
      rs = conn_->OpenResultset(sql);
    });
    if (!opened || !rs) continue;

    if (by_id) {
      Text found;
      bool at_end = true;
      proc.Step([&] { at_end = rs->Eof(); });
      if (at_end) {
        proc.Step([&] { AddVar(found, u"Result", Text(u"Fail")); });
      } else {
        proc.Step([&] { found = GetContact(t, *rs); });
        proc.Step([&] { AddVar(found, u"Result", Text(u"Success")); });
      }
      return found;
    }

    bool stale = false;
    ScanColumn tel_column{columns.tel_column};
    ScanColumn contact_column{columns.contact_column};
    ScanColumn name_column{columns.name_column};
    Text value;
    Text name_value;
    Text tel_key;
    Text words;

    for (;;) {
      bool at_end = true;
      if (!proc.Step([&] { at_end = rs->Eof(); }) || at_end) break;

      // Nothing more can be read from this table.
      if (tel_column.gone() && (!has_text || contact_column.gone()) &&
          (!(has_text || has_begin) || name_column.gone())) {
        break;
      }

      // A key whose column cannot be read keeps what it held before the
      // read, and the row is tested with that.
      scanner.TelephoneKey(*rs, tel_column, tel_key);

      if (has_text || has_begin) words.assign(1, u',');
      bool name_read = false;
      if (has_text && scanner.Read(*rs, contact_column, value) && scanner.Read(*rs, name_column, name_value)) {
        name_read = true;
        scanner.AppendWords(value, words);
        words += u',';
        scanner.AppendWords(name_value, words);
        words += u',';
      }
      if (has_begin && (name_read || scanner.Read(*rs, name_column, name_value))) {
        scanner.Initial(name_value, words);
      }

      bool match = tel_key.find(tel) != Text::npos;
      if (!match && has_text) match = WordsMatch(words, text);
      if (!match && has_begin) match = begin == words;
      if (keyed && !match) {
        stale = true;
        break;
      }

      if (match) {
        proc.Step([&] {
          if (count == INT16_MAX) Raise(Err::Overflow);
          ++count;
        });
        if (list_mode) {
          Text entry;
          proc.Step([&] { AddVar(entry, u"Name", Trimmed(*rs, t + u"_Contact")); });
          proc.Step([&] { AddVar(entry, u"Company", Trimmed(*rs, t + u"_Name")); });
          proc.Step([&] { AddVar(entry, u"Id", t + Trimmed(*rs, t + u"_Account")); });
          proc.Step([&] { AddVar(entry, u"MainTel", Trimmed(*rs, t + u"_teleno")); });
          proc.Step([&] { AddVar(answer, u"List" + FromAscii(std::to_string(count)), entry); });
          if (count >= max_find) break;
        } else {
          if (count > 1) break;
          proc.Step([&] { answer = GetContact(t, *rs); });
          proc.Step([&] { AddVar(answer, u"Tel", tel_given); });
          proc.Step([&] { AddVar(answer, u"NiceTel", nice_tel); });
        }
      }

      if (!proc.Step([&] { rs->MoveNext(); })) break;
      yielder.AfterRow();
    }
    if (keyed && (stale || !keyed->Complete())) {
      keyed->Stale();
      ++attempt;
      answer.clear();
      count = 0;
      pass = 0;
    }
  }
  rs.reset();

  // Whole milliseconds of the time of day, in single precision as the
  // timer gives it; a search across midnight comes out negative.
  auto speed = [&] {
    float elapsed = static_cast<float>(Sys().clock->Timer() - start);
    float ms = static_cast<float>(std::floor(static_cast<float>(elapsed * 1000.0f)));
    return Var::Single(static_cast<float>(ms / 1000.0f));
  };

  if (list_mode) {
    proc.Step([&] { AddVar(answer, u"HasName", Var::Integer(1)); });
    proc.Step([&] { AddVar(answer, u"HasCompany", Var::Integer(1)); });
  }
  if (count > 0) {
    if (list_mode) proc.Step([&] { AddVar(answer, u"ListCount", Var::Integer(count)); });
    proc.Step([&] { AddVar(answer, u"Speed", speed()); });
    proc.Step([&] { AddVar(answer, u"Matches", Var::Integer(count)); });
    proc.Step([&] { AddVar(answer, u"Result", Text(u"Success")); });
  } else {
    proc.Step([&] { AddVar(answer, u"Tel", tel_given); });
    proc.Step([&] { AddVar(answer, u"NiceTel", nice_tel); });
    proc.Step([&] { AddVar(answer, u"Speed", speed()); });
    proc.Step([&] { AddVar(answer, u"Result", Text(u"Fail")); });
    proc.Step([&] { AddVar(answer, u"Reason", Text(u"NoFind")); });
  }
  return answer;
}

}  // namespace ledra
