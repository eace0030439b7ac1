#include "tools/sample_tables.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>

#include "base/calendar.h"
#include "tools/dbf_writer.h"
#include "tools/sample_pools.h"

namespace ledra::sample {

namespace {

using tool::DbfField;
using tool::DbfFormat;
using tool::DbfStreamWriter;
using namespace pools;

// splitmix64: the same sequence on every platform and compiler, which the
// standard distributions do not promise.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>((Next() >> 32) % n); }
  int Between(int lo, int hi) { return lo + static_cast<int>(Below(static_cast<uint32_t>(hi - lo + 1))); }
  bool Percent(int p) { return static_cast<int>(Below(100)) < p; }
  template <size_t N>
  const char* Pick(const char* const (&list)[N]) {
    return list[Below(N)];
  }
  char Digit(char lo = '0') { return static_cast<char>(lo + Below(static_cast<uint32_t>('9' - lo + 1))); }

 private:
  uint64_t state_;
};

const std::vector<KnownContact> kKnown = {
    {"pn", 0, "ACME01", "J Smith", "Acme Ltd", "01234 567890", "", "Unit 4, Riverside Park", "Mill Lane",
     "Bedford", "MK40 1AA", "01234567890"},
    {"pn", 1, "NORT01", "Mary O'Brien", "Northwind Trading plc", "+44 (0)20 7946 0321", "020 7946 0322",
     "Northwind House", "12 Wharf Road", "London", "N1 7GU", "02079460321"},
    {"pn", 2, "PENN01", "Dave Pennington", "Pennington Haulage", "07700 900123", "", "Yard 2, Station Road",
     "", "Preston", "PR1 2QT", "07700900123"},
    {"sn", 0, "HARR01", "Helen Harrison", "Harrison & Sons", "0161 496 0000", "0161 496 0001",
     "14 Granby Row", "", "Manchester", "M1 7AR", "01614960000"},
    {"sn", 1, "BRIG01", "Tom Bright", "Brightwater Garden Centre", "(01632) 960123 x21", "(01632) 960124",
     "Brightwater Lane", "Little Hinton", "Swindon", "SN4 0QX", "01632960123"},
    {"sn", 2, "CASH", "", "Cash Sale Account", "", "", "", "", "", "", ""},
};

// The digit strings no random row may contain: the known contacts' numbers
// as a caller's line shows them, and the number kept for "no match".
std::vector<std::string> ReservedDigits() {
  std::vector<std::string> r;
  for (const KnownContact& k : kKnown) {
    if (*k.dialled) r.push_back(k.dialled);
  }
  r.push_back(DigitsOf(kAbsentNumber));
  return r;
}

constexpr int kAddressWidth = 30;

// Column numbers in the order of CompanyFields().
enum Column {
  kAccount, kName, kAddr1, kAddr2, kAddr3, kCounty, kPstcode, kContact, kTeleno, kFaxno, kEmail, kVatno,
  kBalance, kCrlimit, kTurnover, kOpened, kLastinv, kLastpay, kOnhold, kTerms, kDiscount, kNomcode, kNotes,
  kColumnCount
};

// The column layout of one table ("sn" or "pn"), in file order.
std::vector<DbfField> CompanyFields(const std::string& code, bool visual_foxpro) {
  std::string t = code;
  for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool n = visual_foxpro;  // which columns may hold nulls
  std::vector<DbfField> f = {
      {t + "_ACCOUNT", 'C', 10, 0, false}, {t + "_NAME", 'C', 40, 0, false},
      {t + "_ADDR1", 'C', kAddressWidth, 0, false}, {t + "_ADDR2", 'C', kAddressWidth, 0, false},
      {t + "_ADDR3", 'C', kAddressWidth, 0, false},   {t + "_COUNTY", 'C', 25, 0, false},
      {t + "_PSTCODE", 'C', 10, 0, false}, {t + "_CONTACT", 'C', 30, 0, n},
      {t + "_TELENO", 'C', 20, 0, n},      {t + "_FAXNO", 'C', 20, 0, n},
      {t + "_EMAIL", 'C', 40, 0, n},       {t + "_VATNO", 'C', 15, 0, false},
      {t + "_BALANCE", 'N', 12, 2, false}, {t + "_CRLIMIT", 'N', 10, 0, false},
      {t + "_TURNOVR", 'N', 12, 2, false}, {t + "_OPENED", 'D', 8, 0, false},
      {t + "_LASTINV", 'D', 8, 0, n},      {t + "_LASTPAY", 'D', 8, 0, n},
      {t + "_ONHOLD", 'L', 1, 0, false},   {t + "_TERMS", 'N', 3, 0, false},
      {t + "_DISCNT", 'N', 5, 2, false},   {t + "_NOMCODE", 'C', 8, 0, false},
      {t + "_NOTES", 'C', 40, 0, n},
  };
  return f;
}

// Days since 1 Jan 1970 and back, proleptic Gregorian.
long DaysOf(int y, int m, int d) { return OleDayFromCivil(y, m, d) - kOleDayOf1970; }
void CivilOf(long z, int* y, int* m, int* d) { CivilFromOleDay(z + kOleDayOf1970, y, m, d); }

class CompanyRows {
 public:
  CompanyRows(const std::string& code, uint64_t seed, const CompanyOptions& options)
      : supplier_(code == "pn"), rng_(seed), options_(options), reserved_(ReservedDigits()) {
    // Keep the known accounts' codes out of the random numbering.
    for (const KnownContact& k : kKnown) {
      std::string letters;
      std::string digits;
      for (const char* p = k.account; *p; ++p) (std::isdigit(static_cast<unsigned char>(*p)) ? digits : letters) += *p;
      int n = digits.empty() ? 0 : std::atoi(digits.c_str());
      int& next = counters_[letters];
      next = std::max(next, n);
    }
  }

  // Writes one random row into w.
  void Write(DbfStreamWriter& w) {
    const bool deleted = rng_.Percent(options_.deleted_percent);
    w.BeginRow(deleted);
    const Town& town = kTowns[rng_.Below(std::size(kTowns))];

    CompanyName(&name_);
    w.SetText(kName, name_);
    AccountCode(name_, &scratch_);
    w.SetText(kAccount, scratch_);

    Address(town, w);

    ContactPerson(&contact_);
    TextOrNull(w, kContact, contact_);

    // Telephone: mostly a line in the row's town, some mobiles, some
    // non-geographic numbers, a few empty.
    std::string tel_area;
    if (rng_.Percent(3)) {
      scratch_.clear();
    } else {
      do {
        Telephone(town, &scratch_, &tel_area);
      } while (Reserved(scratch_));
    }
    TextOrNull(w, kTeleno, scratch_);

    scratch_.clear();
    if (!tel_area.empty() && rng_.Percent(55)) {
      do {
        Landline(tel_area, &scratch_);
      } while (Reserved(scratch_));
    }
    TextOrNull(w, kFaxno, scratch_);

    Email(&scratch_);
    TextOrNull(w, kEmail, scratch_);
    VatNumber(&scratch_);
    w.SetText(kVatno, scratch_);

    w.SetNumber(kBalance, rng_.Percent(20) ? 0.0 : (rng_.Between(-200000, 6000000) / 100.0));
    w.SetNumber(kCrlimit, 500.0 * rng_.Between(0, 50));
    w.SetNumber(kTurnover, rng_.Between(0, 50000000) / 100.0);
    const long opened = rng_.Between(static_cast<int>(DaysOf(1990, 1, 1)), static_cast<int>(DaysOf(2024, 6, 30)));
    SetDate(w, kOpened, opened);
    if (rng_.Percent(85)) SetDate(w, kLastinv, rng_.Between(static_cast<int>(opened), static_cast<int>(DaysOf(2024, 12, 31))));
    else NullIfVfp(w, kLastinv);
    if (rng_.Percent(75)) SetDate(w, kLastpay, rng_.Between(static_cast<int>(opened), static_cast<int>(DaysOf(2024, 12, 31))));
    else NullIfVfp(w, kLastpay);
    w.SetLogical(kOnhold, rng_.Percent(4));
    static const int kTermDays[] = {30, 30, 30, 30, 30, 60, 14, 7, 0};
    w.SetNumber(kTerms, kTermDays[rng_.Below(std::size(kTermDays))]);
    static const double kDiscounts[] = {0, 0, 0, 0, 0, 0, 0, 2.5, 5, 10};
    w.SetNumber(kDiscount, kDiscounts[rng_.Below(std::size(kDiscounts))]);
    static const char* const kSales[] = {"4000", "4000", "4010", "4020", "4100"};
    static const char* const kPurchases[] = {"5000", "5000", "5001", "7100", "7200", "7500"};
    w.SetText(kNomcode, supplier_ ? rng_.Pick(kPurchases) : rng_.Pick(kSales));
    if (rng_.Percent(15)) w.SetText(kNotes, rng_.Pick(kNoteTexts));
    else NullIfVfp(w, kNotes);
    w.EndRow();
    deleted_ += deleted;
  }

  void WriteKnown(DbfStreamWriter& w, const KnownContact& k) {
    w.BeginRow(false);
    w.SetText(kAccount, k.account);
    w.SetText(kName, k.name);
    w.SetText(kAddr1, k.addr1);
    w.SetText(kAddr2, k.addr2);
    w.SetText(kAddr3, k.addr3);
    w.SetText(kPstcode, k.pstcode);
    TextOrNull(w, kContact, k.contact);
    TextOrNull(w, kTeleno, k.teleno);
    TextOrNull(w, kFaxno, k.faxno);
    NullIfVfp(w, kEmail);
    w.SetNumber(kBalance, 0);
    w.SetNumber(kCrlimit, 5000);
    w.SetNumber(kTurnover, 0);
    SetDate(w, kOpened, DaysOf(2010, 4, 1));
    NullIfVfp(w, kLastinv);
    NullIfVfp(w, kLastpay);
    w.SetLogical(kOnhold, false);
    w.SetNumber(kTerms, 30);
    w.SetNumber(kDiscount, 0);
    w.SetText(kNomcode, supplier_ ? "5000" : "4000");
    NullIfVfp(w, kNotes);
    w.EndRow();
  }

  uint64_t deleted() const { return deleted_; }

 private:
  void NullIfVfp(DbfStreamWriter& w, int field) {
    if (options_.visual_foxpro) w.SetNull(field);
  }
  // Empty values of nullable columns are nulls in a VFP table, blanks in a
  // FoxPro 2 one.
  void TextOrNull(DbfStreamWriter& w, int field, std::string_view v) {
    if (v.empty()) NullIfVfp(w, field);
    else w.SetText(field, v);
  }
  void SetDate(DbfStreamWriter& w, int field, long days) {
    int y, m, d;
    CivilOf(days, &y, &m, &d);
    w.SetDate(field, y, m, d);
  }

  bool Reserved(const std::string& tel) const {
    digits_.clear();
    for (char c : tel) {
      if (c >= '0' && c <= '9') digits_ += c;
    }
    for (const std::string& r : reserved_) {
      if (digits_.find(r) != std::string::npos) return true;
    }
    return false;
  }

  void CompanyName(std::string* out) {
    out->clear();
    const uint32_t kind = rng_.Below(100);
    if (kind < 28) {
      *out += rng_.Pick(kSurnames);
      *out += rng_.Pick(kFamilySuffixes);
    } else if (kind < 63) {
      *out += rng_.Pick(kPlaces);
      *out += ' ';
      *out += rng_.Pick(kTrades);
      *out += rng_.Pick(kSuffixes);
    } else if (kind < 78) {
      *out += rng_.Pick(kSurnames);
      *out += ' ';
      *out += rng_.Pick(kTrades);
      *out += rng_.Pick(kSuffixes);
    } else if (kind < 86) {
      *out += static_cast<char>('A' + rng_.Below(26));
      *out += rng_.Percent(50) ? " & " : " ";
      *out += static_cast<char>('A' + rng_.Below(26));
      *out += ' ';
      *out += rng_.Pick(kTrades);
      *out += rng_.Pick(kSuffixes);
    } else if (kind < 94) {
      *out += rng_.Pick(kSurnames);
      *out += '-';
      *out += rng_.Pick(kSurnames);
      *out += rng_.Pick(kPartnerships);
    } else {
      *out += "The ";
      *out += rng_.Pick(kPlaces);
      *out += ' ';
      *out += rng_.Pick(kTrades);
    }
  }

  // Up to four letters of the name (a leading "The " skipped), then a
  // running number of at least two digits: "SMIT01", "NORT12".
  void AccountCode(const std::string& name, std::string* out) {
    size_t from = name.compare(0, 4, "The ") == 0 ? 4 : 0;
    std::string letters;
    for (size_t i = from; i < name.size() && letters.size() < 4; ++i) {
      char c = name[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (c >= 'A' && c <= 'Z') letters += c;
    }
    if (letters.empty()) letters = "X";
    int n = ++counters_[letters];
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%02d", letters.c_str(), n);
    out->assign(buf);
  }

  void ContactPerson(std::string* out) {
    out->clear();
    const uint32_t kind = rng_.Below(100);
    if (kind < 4) return;  // nobody named
    if (kind < 14) {
      *out += rng_.Pick(kTitles);
      *out += ' ';
      *out += rng_.Pick(kFirstNames)[0];
      *out += ' ';
      *out += rng_.Pick(kSurnames);
    } else if (kind < 42) {
      *out += rng_.Pick(kFirstNames)[0];
      *out += ' ';
      *out += rng_.Pick(kSurnames);
    } else if (kind < 89) {
      *out += rng_.Pick(kFirstNames);
      *out += ' ';
      *out += rng_.Pick(kSurnames);
    } else if (kind < 94) {
      *out += rng_.Pick(kDepartments);
    } else {
      *out += rng_.Pick(kFirstNames);
    }
  }

  void Address(const Town& town, DbfStreamWriter& w) {
    std::string& s = scratch_;
    std::string estate;
    char num[16];
    s.clear();
    const uint32_t kind = rng_.Below(100);
    if (kind < 55) {
      std::snprintf(num, sizeof num, "%d ", rng_.Between(1, 240));
      s += num;
      s += rng_.Pick(kStreets);
      s += ' ';
      s += rng_.Pick(kStreetTypes);
    } else if (kind < 80) {
      // The estate goes on the second line when the first has no room.
      std::snprintf(num, sizeof num, "Unit %d", rng_.Between(1, 40));
      estate.assign(rng_.Pick(kPlaces));
      estate += ' ';
      estate += rng_.Pick(kEstates);
      s += num;
      if (s.size() + 2 + estate.size() <= static_cast<size_t>(kAddressWidth)) {
        s += ", ";
        s += estate;
        estate.clear();
      }
    } else if (kind < 92) {
      s += rng_.Pick(kPlaces);
      s += " House";
    } else {
      int n = rng_.Between(1, 120);
      std::snprintf(num, sizeof num, "%d-%d ", n, n + 2 * rng_.Between(1, 3));
      s += num;
      s += rng_.Pick(kStreets);
      s += ' ';
      s += rng_.Pick(kStreetTypes);
    }
    w.SetText(kAddr1, s);
    s = estate;
    if (s.empty() && rng_.Percent(50)) {
      if (rng_.Percent(50)) {
        s += rng_.Pick(kLocalities);
      } else {
        s += rng_.Pick(kStreets);
        s += ' ';
        s += rng_.Pick(kStreetTypes);
      }
    }
    w.SetText(kAddr2, s);
    w.SetText(kAddr3, town.name);
    w.SetText(kCounty, town.county);
    s.assign(town.postcode);
    std::snprintf(num, sizeof num, "%d %d", rng_.Between(1, 20), rng_.Between(0, 9));
    s += num;
    s += kInwardLetters[rng_.Below(sizeof kInwardLetters - 1)];
    s += kInwardLetters[rng_.Below(sizeof kInwardLetters - 1)];
    w.SetText(kPstcode, s);
  }

  void Telephone(const Town& town, std::string* out, std::string* area) {
    const uint32_t kind = rng_.Below(100);
    if (kind < 15) {
      area->clear();
      Mobile(out);
      return;
    }
    if (kind < 20) {
      area->clear();
      out->assign(rng_.Pick(kNonGeographic));
      *out += ' ';
      for (int i = 0; i < 3; ++i) *out += rng_.Digit(i == 0 ? '1' : '0');
      *out += ' ';
      for (int i = 0; i < 4; ++i) *out += rng_.Digit();
      return;
    }
    *area = kind < 88 ? town.code : kTowns[rng_.Below(std::size(kTowns))].code;
    Landline(*area, out);
    if (rng_.Percent(8)) {
      char ext[16];
      static const char* const kExt[] = {" x%d", " ext %d", " Ext.%d", " x%d"};
      std::snprintf(ext, sizeof ext, rng_.Pick(kExt), rng_.Between(2, 399));
      if (out->size() + std::strlen(ext) <= 20) *out += ext;
    }
  }

  // A fixed line in one of the many ways people write them.
  void Landline(const std::string& area, std::string* out) {
    // 02x: 8 local digits, 011x/01x1: 7, other 01xxx: 6.
    const size_t local_len = area.size() == 3 ? 8 : area.size() == 4 ? 7 : 6;
    char local[9];
    local[0] = rng_.Digit('2');
    for (size_t i = 1; i < local_len; ++i) local[i] = rng_.Digit();
    local[local_len] = 0;
    const std::string l(local);
    // The groups as the area's own convention spaces them.
    const std::string first = local_len == 8 ? l.substr(0, 4) : local_len == 7 ? l.substr(0, 3) : l;
    const std::string second = local_len == 6 ? std::string() : l.substr(first.size());
    auto spaced = [&](char sep) { return second.empty() ? first : first + sep + second; };
    const uint32_t style = rng_.Below(100);
    const std::string national = area.substr(1);
    if (style < 40) *out = area + " " + spaced(' ');
    else if (style < 52) *out = "(" + area + ") " + spaced(' ');
    else if (style < 60) *out = area + "-" + spaced('-');
    else if (style < 70) *out = "+44 " + national + " " + spaced(' ');
    else if (style < 75) *out = "+44 (0)" + national + " " + spaced(' ');
    else if (style < 85) *out = area + l;
    else if (style < 92) *out = area + " " + l;
    else *out = area + "." + spaced('.');
  }

  void Mobile(std::string* out) {
    char d[12];
    d[0] = '0';
    d[1] = '7';
    d[2] = rng_.Digit('4');
    for (int i = 3; i < 11; ++i) d[i] = rng_.Digit();
    d[11] = 0;
    const std::string m(d);
    const uint32_t style = rng_.Below(100);
    if (style < 55) *out = m.substr(0, 5) + " " + m.substr(5);
    else if (style < 75) *out = m;
    else if (style < 90) *out = "+44 " + m.substr(1, 4) + " " + m.substr(5);
    else *out = m.substr(0, 5) + "-" + m.substr(5, 3) + "-" + m.substr(8);
  }

  void Email(std::string* out) {
    out->clear();
    if (rng_.Percent(15)) return;
    if (!contact_.empty() && rng_.Percent(50)) {
      // The person's first word, when it is a name rather than an initial.
      size_t end = contact_.find(' ');
      std::string first = contact_.substr(0, end);
      bool title = false;
      for (const char* t : kTitles) title |= first == t;
      if (first.size() > 2 && !title) {
        for (char c : first) {
          if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) *out += static_cast<char>(c | 0x20);
        }
      }
    }
    if (out->empty()) *out = rng_.Pick(kMailboxes);
    *out += '@';
    size_t words = 0;
    size_t letters = 0;
    bool in_word = false;
    size_t from = name_.compare(0, 4, "The ") == 0 ? 4 : 0;
    for (size_t i = from; i < name_.size() && words <= 2 && letters < 20; ++i) {
      char c = name_[i];
      bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      if (letter) {
        if (!in_word) ++words;
        if (words > 2) break;
        *out += static_cast<char>(c | 0x20);
        ++letters;
      }
      if (c == ' ' || c == '-' || c == '&') in_word = false;
      else if (letter) in_word = true;
    }
    if (letters == 0) *out += "mail";
    *out += rng_.Pick(kDomains);
  }

  void VatNumber(std::string* out) {
    out->clear();
    if (rng_.Percent(30)) return;
    char d[10];
    for (int i = 0; i < 9; ++i) d[i] = rng_.Digit();
    d[9] = 0;
    const std::string v(d);
    const uint32_t style = rng_.Below(3);
    if (style == 0) *out = "GB" + v;
    else if (style == 1) *out = "GB " + v.substr(0, 3) + " " + v.substr(3, 4) + " " + v.substr(7);
    else *out = v.substr(0, 3) + " " + v.substr(3, 4) + " " + v.substr(7);
  }

  bool supplier_;
  Rng rng_;
  CompanyOptions options_;
  std::vector<std::string> reserved_;
  std::map<std::string, int> counters_;  // per account letters; bounded by the name pools
  std::string name_;
  std::string contact_;
  std::string scratch_;
  mutable std::string digits_;
  uint64_t deleted_ = 0;
};

TableSummary WriteTable(const std::string& path, const std::string& code, uint64_t rows, uint64_t seed,
                        const CompanyOptions& options) {
  DbfStreamWriter w;
  DbfFormat format;
  format.version = options.visual_foxpro ? 0x30 : 0x03;
  format.codepage_mark = 0x03;
  format.year = 2025;
  format.month = 3;
  format.day = 31;
  w.Open(path, CompanyFields(code, options.visual_foxpro), format);

  // One stream per table, so that the customers do not change when the
  // supplier table is made longer.
  Rng mix(seed ^ (code == "pn" ? 0x5A5A5A5A12345678ull : 0x0F0F0F0F87654321ull));
  CompanyRows gen(code, mix.Next(), options);
  std::vector<const KnownContact*> known;
  if (options.known_contacts) {
    for (const KnownContact& k : kKnown) {
      if (code == k.table) known.push_back(&k);
    }
  }
  for (uint64_t i = 0; i < rows; ++i) {
    const KnownContact* k = nullptr;
    for (const KnownContact* c : known) {
      if (static_cast<uint64_t>(c->position) == i) k = c;
    }
    if (k) gen.WriteKnown(w, *k);
    else gen.Write(w);
  }
  w.Close();
  TableSummary s;
  s.path = path;
  s.records = w.rows();
  s.deleted = gen.deleted();
  s.record_length = static_cast<uint32_t>(w.record_length());
  s.file_bytes = w.header_length() + w.rows() * w.record_length() + 1;
  return s;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string DigitsOf(std::string_view s) {
  std::string d;
  for (char c : s) {
    if (c >= '0' && c <= '9') d += c;
  }
  return d;
}

const std::vector<KnownContact>& KnownContacts() { return kKnown; }

CompanySummary GenerateCompany(const std::string& folder, const std::string& prefix, uint64_t rows_per_table,
                               uint64_t seed, const CompanyOptions& options) {
  CompanySummary s;
  s.suppliers = WriteTable(Join(folder, prefix + "pname.dbf"), "pn", rows_per_table, seed, options);
  s.customers = WriteTable(Join(folder, prefix + "sname.dbf"), "sn", rows_per_table, seed, options);
  return s;
}

}  // namespace ledra::sample
