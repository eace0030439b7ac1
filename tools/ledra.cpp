#include "tools/ledra.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "base/platform.h"
#include "base/errors.h"
#include "base/text_matching.h"
#include "base/vars.h"
#include "contacts/data_source.h"
#include "dbf/dbf_connection.h"
#include "session/session.h"

namespace ledra::tool {

namespace {

const char kUsage[] =
    "usage: ledra COMMAND [--dbfile PATH] [--vars]\n"
    "  lookup NUMBER      identify a caller by telephone number\n"
    "  search WORDS...    contacts whose names begin with the words\n"
    "  list --letter X    contacts whose account name begins with X\n"
    "  show ID            one contact by its Id (sn or pn + account code)\n"
    "  export             every supplier and customer, as CSV\n"
    "  check              data source, tables, file format, rows, log file\n"
    "--dbfile PATH  the accounting customer table (?_sname.dbf), as in the settings\n"
    "--vars         print the plug-in's raw answer as well\n";

const char16_t* const kContactKeys[] = {u"Id", u"Name", u"Company", u"Maintel", u"Fax",
                                        u"Address1", u"Address2", u"Town", u"PostCode"};

std::string U8(const Text& t) { return ToUtf8(t); }
std::string Get(const Text& rd, const char16_t* key) { return U8(TextForm(GetVar(rd, key))); }

struct Options {
  std::string command;
  std::vector<std::string> words;
  std::string dbfile;
  std::string letter;
  bool vars = false;
};

bool Parse(const std::vector<std::string>& args, Options* o, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= args.size()) { *error = a + " needs a value"; return false; }
      *into = args[++i];
      return true;
    };
    if (a == "--dbfile") { if (!value(&o->dbfile)) return false; }
    else if (a.rfind("--dbfile=", 0) == 0) o->dbfile = a.substr(9);
    else if (a == "--letter") { if (!value(&o->letter)) return false; }
    else if (a.rfind("--letter=", 0) == 0) o->letter = a.substr(9);
    else if (a == "--vars") o->vars = true;
    else if (a == "-h" || a == "--help") { o->command = "help"; return true; }
    else if (a.size() > 1 && a[0] == '-' && a[1] == '-') { *error = "unknown option " + a; return false; }
    else if (o->command.empty()) o->command = a;
    else o->words.push_back(a);
  }
  if (o->command.empty()) { *error = "no command"; return false; }
  return true;
}

// A Session initialised and loaded as the host does it.
struct Host {
  explicit Host(const Options& o) {
    Text settings;
    if (!o.dbfile.empty()) AddVar(settings, u"DBFile", FromUtf8(SettingsPath(o.dbfile)));
    session.Initialize(settings, Text(), nullptr);
    load = session.Load(Text());
  }
  Session session;
  Text load;
};

// A command whose data cannot be loaded searches nothing: it says so, and
// only that (a "not found" would read as an unknown number).
bool LoadFailed(std::ostream& out, const Host& host) {
  if (Get(host.load, u"Result") != "Fail") return false;
  out << "The data could not be loaded: " << Get(host.load, u"Reason") << "\n";
  return true;
}

// s, then blanks up to width characters (not bytes: the text is UTF-8).
std::string Cell(const std::string& s, size_t width) {
  size_t chars = 0;
  for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
  return s + std::string(width > chars ? width - chars : 0, ' ');
}

void PrintContact(std::ostream& out, const Text& rd) {
  for (const char16_t* key : kContactKeys) {
    std::string k = U8(key);
    out << "  " << Cell(k, 10) << Get(rd, key) << "\n";
  }
}

void PrintVars(std::ostream& out, const Options& o, const Text& answer) {
  if (o.vars) out << U8(answer) << "\n";
}

std::string Join(const std::vector<std::string>& w) {
  std::string s;
  for (const auto& x : w) s += (s.empty() ? "" : " ") + x;
  return s;
}

std::string Table(const std::string& id) {
  std::string code = id.substr(0, 2);
  std::transform(code.begin(), code.end(), code.begin(), ::tolower);
  return code == "pn" ? "supplier" : code == "sn" ? "customer" : "?";
}

int Lookup(const Options& o, std::ostream& out) {
  if (o.words.size() != 1) return -1;
  Host host(o);
  if (LoadFailed(out, host)) return 1;
  Text rd;
  AddVar(rd, u"Tel", FromUtf8(o.words[0]));
  Text answer = host.session.FindContact(rd);
  PrintVars(out, o, answer);
  std::string digits = Get(answer, u"Tel");
  const int last = host.session.match_last_digits();
  std::string searched = U8(LastDigits(FromUtf8(digits), last));
  if (searched != digits) {
    out << "MatchLastDigits " << last << ": " << digits << " is searched as its last " << last << " digits, "
        << searched << "\n";
  }
  if (Get(answer, u"Result") != "Success") {
    out << "No contact found for " << o.words[0] << " (digits searched: " << (searched.empty() ? "none" : searched)
        << ", " << Get(answer, u"Speed") << " s)\n";
    return 1;
  }
  std::string id = Get(answer, u"Id");
  out << "Caller " << o.words[0] << " is the " << Table(id) << " " << Get(answer, u"Company") << "\n";
  PrintContact(out, answer);
  std::string matches = Get(answer, u"Matches");
  out << "  Matches   " << matches << (matches != "1" ? " (the first is shown)" : "") << "\n";
  out << "  Time      " << Get(answer, u"Speed") << " s\n";
  return 0;
}

int List(const Options& o, const Text& request, std::ostream& out) {
  Host host(o);
  if (LoadFailed(out, host)) return 1;
  Text answer = host.session.FindList(request);
  PrintVars(out, o, answer);
  if (Get(answer, u"Result") != "Success") {
    out << "No contacts found (" << Get(answer, u"Speed") << " s)\n";
    return 1;
  }
  int count = std::atoi(Get(answer, u"ListCount").c_str());
  auto row = [&](const std::string& id, const std::string& company, const std::string& name, const std::string& tel) {
    out << Cell(id, 14) << " " << Cell(company, 32) << " " << Cell(name, 24) << " " << tel << "\n";
  };
  row("Id", "Company", "Name", "Telephone");
  for (int i = 1; i <= count; ++i) {
    Text entry = TextForm(GetVar(answer, u"List" + FromAscii(std::to_string(i))));
    row(Get(entry, u"Id"), Get(entry, u"Company"), Get(entry, u"Name"), Get(entry, u"MainTel"));
  }
  out << count << " found (" << Get(answer, u"Speed") << " s)\n";
  return 0;
}

int Show(const Options& o, std::ostream& out) {
  if (o.words.size() != 1) return -1;
  Host host(o);
  if (LoadFailed(out, host)) return 1;
  Text rd;
  AddVar(rd, u"Id", FromUtf8(o.words[0]));
  Text answer = host.session.FindContact(rd);
  PrintVars(out, o, answer);
  if (Get(answer, u"Result") != "Success") {
    out << "No contact with Id " << o.words[0] << "\n";
    return 1;
  }
  out << "The " << Table(o.words[0]) << " " << Get(answer, u"Company") << "\n";
  PrintContact(out, answer);
  return 0;
}

std::string Csv(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string q = "\"";
  for (char c : v) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

int Export(const Options& o, std::ostream& out, std::ostream& err) {
  Host host(o);
  if (LoadFailed(err, host)) return 1;
  Text start = host.session.CacheStart();
  if (o.vars) err << U8(start) << "\n";
  for (size_t i = 0; i < std::size(kContactKeys); ++i) out << (i ? "," : "") << U8(kContactKeys[i]);
  out << "\n";
  long rows = 0;
  for (;;) {
    Text answer = host.session.CacheRecord();
    if (o.vars) err << U8(answer) << "\n";
    std::string result = Get(answer, u"Result");
    if (result == "Ignore") continue;
    if (result != "Success") break;
    Text fields = TextForm(GetVar(answer, u"Fields"));
    for (size_t i = 0; i < std::size(kContactKeys); ++i) out << (i ? "," : "") << Csv(Get(fields, kContactKeys[i]));
    out << "\n";
    ++rows;
  }
  host.session.CacheEnd();
  err << rows << " contacts exported\n";
  return Get(start, u"Result") == "Fail" && rows == 0 ? 1 : 0;
}

int CheckTable(std::ostream& out, const Text& folder, const Text& table, const char* what) {
  out << what << " " << U8(table) << ": ";
  try {
    TableInfo t = InspectTable(folder, table);
    char line[256];
    out << U8(t.path) << "\n";
    std::snprintf(line, sizeof line, "  format     %s (version byte 0x%02X), last updated %04d-%02d-%02d\n",
                  U8(t.format).c_str(), t.version, t.update_year, t.update_month, t.update_day);
    out << line;
    std::snprintf(line, sizeof line, "  code page  %u (mark 0x%02X)%s\n", t.codepage, t.codepage_mark,
                  t.codepage == 0 ? ", the machine's ANSI code page" : "");
    out << line;
    std::snprintf(line, sizeof line, "  header %u bytes, record %u bytes, file %llu bytes\n", t.header_length,
                  t.record_length, static_cast<unsigned long long>(t.file_size));
    out << line;
    std::snprintf(line, sizeof line, "  rows       %llu (%llu deleted, %llu live); the header says %u\n",
                  static_cast<unsigned long long>(t.rows), static_cast<unsigned long long>(t.deleted),
                  static_cast<unsigned long long>(t.rows - t.deleted), t.header_records);
    out << line;
    std::string prefix = U8(table).substr(U8(table).size() - 5, 2) == "sn" ? "sn_" : "pn_";
    out << "  columns   ";
    int shown = 0;
    for (const auto& f : t.fields) {
      if (f.hidden) continue;
      out << (shown++ % 6 == 0 && shown > 1 ? "\n             " : " ") << U8(f.name) << " " << f.type << "("
          << f.length << (f.decimals ? "," + std::to_string(f.decimals) : std::string()) << ")";
    }
    out << "\n";
    std::string missing;
    for (const char* c : {"account", "name", "contact", "teleno", "faxno", "addr1", "addr2", "addr3", "pstcode"}) {
      std::string want = prefix + c;
      bool found = std::any_of(t.fields.begin(), t.fields.end(), [&](const DbfFieldInfo& f) {
        std::string n = U8(f.name);
        std::transform(n.begin(), n.end(), n.begin(), ::tolower);
        return n == want;
      });
      if (!found) missing += " " + want;
    }
    if (!missing.empty()) {
      out << "  MISSING columns the plug-in reads:" << missing << "\n";
      return 1;
    }
    return 0;
  } catch (const Failure& f) {
    out << "FAILED: " << U8(f.description) << "\n";
    return 1;
  }
}

int Check(const Options& o, std::ostream& out) {
  Host host(o);
  const Session& s = host.session;
  out << "settings    DBFile=" << (o.dbfile.empty() ? "(none: the accounting application's folder)" : o.dbfile) << "\n";
  out << "prefix      " << U8(s.table_prefix()) << "\n";
  out << "folder      " << U8(s.data_path()) << "\n";
  out << "numbers     "
      << (s.match_last_digits() ? "matched on their last " + std::to_string(s.match_last_digits()) + " digits"
                                : std::string("matched on all their digits"))
      << " (MatchLastDigits)\n";
  const Text dsn = u"Ledra II SP" + FromAscii(std::to_string(s.instance_no()));
  out << "data source " << U8(dsn) << ": " << U8(host.load) << "\n";
  // The load registers the data source again when it reads another folder;
  // should that have failed, the tables it reads are not those of the settings.
  Text source_db;
  try {
    source_db = Engine().DataSourceFolder(dsn).value_or(Text());
  } catch (const Failure&) {
  }
  out << "  it reads " << U8(source_db) << (source_db == s.data_path() ? "" : "  (NOT the folder of the settings)") << "\n";
  const Text log = Sys().log ? Sys().log->Path() : Text();
  out << "log         " << (log.empty() ? std::string("none: no log file can be opened") : U8(log)) << "\n";
  std::string failed;
  if (Get(host.load, u"Result") != "Success") failed += " data source,";
  // The tables the plug-in really reads: those of the data source's folder.
  Text folder = source_db.empty() ? s.data_path() : source_db;
  if (CheckTable(out, folder, s.table_prefix() + u"pname", "suppliers")) failed += " suppliers,";
  if (CheckTable(out, folder, s.table_prefix() + u"sname", "customers")) failed += " customers,";
  // The verdict last, for a person and for a script alike (the exit status).
  if (failed.empty()) {
    out << "check: all passed\n";
    return 0;
  }
  failed.pop_back();
  out << "check: FAILED:" << failed << "\n";
  return 1;
}

}  // namespace

std::string SettingsPath(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::string error;
  if (!Parse(args, &o, &error)) {
    err << "ledra: " << error << "\n" << kUsage;
    return 2;
  }
  int rc = -1;
  if (o.command == "help") { out << kUsage; return 0; }
  if (o.command == "lookup") rc = Lookup(o, out);
  else if (o.command == "search" && !o.words.empty()) {
    Text rd;
    AddVar(rd, u"Text", FromUtf8(Join(o.words)));
    rc = List(o, rd, out);
  } else if (o.command == "list" && !o.letter.empty() && o.words.empty()) {
    Text rd;
    AddVar(rd, u"Begin", FromUtf8(o.letter));
    rc = List(o, rd, out);
  } else if (o.command == "show") rc = Show(o, out);
  else if (o.command == "export" && o.words.empty()) rc = Export(o, out, err);
  else if (o.command == "check" && o.words.empty()) rc = Check(o, out);
  if (rc < 0) {
    err << "ledra: bad use of " << o.command << "\n" << kUsage;
    return 2;
  }
  return rc;
}

}  // namespace ledra::tool
