#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/vars.h"
#include "fakes/fake_platform.h"
#include "fakes/company.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::Contact;
using testing::ContactRecord;

const Contact kAcme{u"ACME01", u"Acme Ltd", u"J Smith", u"01234 567890", u"", u"1 High St", u"", u"Leeds", u"LS1 1AA"};
const Contact kBrown{u"B100", u"Brown & Co", u"Ann Brown", u"0161 496 0000", u"0161 496 0001", u"", u"", u"Bury", u""};

std::string U8(const Text& t) { return ToUtf8(t); }
Text Str(const Var& v) { return TextForm(v); }

// Rows whose telephone holds 555, the others not; accounts P1, P2, ... and
// C1, C2, ... in the order they are stored.
Contact Numbered(const Text& letter, int n, bool matching) {
  Text id = letter + FromAscii(std::to_string(n));
  return Contact{id, u"Firm " + id, u"Person " + id, matching ? u"020 555 01" + id : u"0161 000 " + id};
}

class SearchTest : public testing::CompanyTest {
 protected:
  void SetUp() override {
    Suppliers({});
    Customers({});
    s.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
    ASSERT_EQ(U8(s.Load(u"")), "{Result=Success}");
  }

  // a matching rows among the suppliers and b among the customers, each
  // after a row that does not match.
  void Matching(int a, int b) {
    std::vector<Contact> p;
    std::vector<Contact> c;
    for (int i = 1; i <= a; ++i) {
      p.push_back(Numbered(u"X", i, false));
      p.push_back(Numbered(u"P", i, true));
    }
    for (int i = 1; i <= b; ++i) {
      c.push_back(Numbered(u"Y", i, false));
      c.push_back(Numbered(u"C", i, true));
    }
    Suppliers(p);
    Customers(c);
  }
  // The search takes this long by the time of day.
  void Takes(float start, float end) {
    sys.clock.timer = start;
    folders.on_step = [this, end](const Text&, const char*) { sys.clock.timer = end; };
  }
  // The Ids of List1, List2, ... in order.
  static std::vector<std::string> ListedIds(const Text& answer) {
    std::vector<std::string> ids;
    for (int n = 1;; ++n) {
      Var entry = GetVar(answer, u"List" + FromAscii(std::to_string(n)));
      if (entry.IsEmpty()) break;
      ids.push_back(U8(Str(GetVar(Str(entry), u"Id"))));
    }
    return ids;
  }

  Session s;
};

// The entry leaves empty values out; the speed is a single, negative across midnight.
TEST_F(SearchTest, ListAnswerOfTheOnlyMatchIsExact) {
  Suppliers({kAcme, {u"  Q9 ", u"Quill Ltd"}});
  Customers({kBrown});
  Takes(0, 0.0475f);
  EXPECT_EQ(U8(s.FindList(u"{Text=smith}")),
            "{List1(S84)={Name(S7)=J Smith}{Company(S8)=Acme Ltd}{Id(S8)=pnACME01}{MainTel(S12)=01234 567890}}"
            "{HasName(N1)=1}{HasCompany(N1)=1}{ListCount(N1)=1}{Speed(N5)=0.047}{Matches(N1)=1}{Result(S7)=Success}");
  EXPECT_EQ(U8(Str(GetVar(s.FindList(u"{Text=quill}"), u"List1"))), "{Company(S9)=Quill Ltd}{Id(S4)=pnQ9}");
  EXPECT_TRUE(sys.Failures().empty());
  Takes(86399.5f, 0.5f);
  EXPECT_EQ(U8(Str(GetVar(s.FindContact(u"{Tel=1}"), u"Speed"))), "-86399");
}

TEST_F(SearchTest, ContactModeCountsAtMostTwoPerTable) {
  for (int a = 0; a <= 3; ++a) {
    for (int b = 0; b <= 3; ++b) {
      SCOPED_TRACE("a=" + std::to_string(a) + " b=" + std::to_string(b));
      Matching(a, b);
      int expected = a == 0 ? std::min(b, 2) : a == 1 ? (b == 0 ? 1 : 2) : (b == 0 ? 2 : 3);
      Text answer = s.FindContact(u"{Tel=555}");
      if (expected == 0) {
        EXPECT_EQ(U8(Str(GetVar(answer, u"Result"))), "Fail");
        EXPECT_EQ(U8(Str(GetVar(answer, u"Reason"))), "NoFind");
        EXPECT_TRUE(GetVar(answer, u"Matches").IsEmpty());
        continue;
      }
      EXPECT_EQ(GetVar(answer, u"Matches").number(), expected);
      EXPECT_EQ(U8(Str(GetVar(answer, u"Result"))), "Success");
      EXPECT_EQ(U8(Str(GetVar(answer, u"Id"))), a > 0 ? "pnP1" : "snC1");
    }
  }
}

TEST_F(SearchTest, ListModeLimits) {
  struct Row {
    const char* name;
    const char16_t* max_find;  // entry added to the request
    int a;
    int b;
    std::vector<std::string> ids;
  };
  std::vector<std::string> fifty_one;
  for (int i = 1; i <= 50; ++i) fifty_one.push_back("pnP" + std::to_string(i));
  fifty_one.push_back("snC1");
  const Row rows[] = {
      {"limit 2, three and one", u"{MaxFind=2}", 3, 1, {"pnP1", "pnP2", "snC1"}},
      {"limit 2, one and three", u"{MaxFind=2}", 1, 3, {"pnP1", "snC1"}},
      {"limit 5, two and two", u"{MaxFind(N1)=5}", 2, 2, {"pnP1", "pnP2", "snC1", "snC2"}},
      {"default limit gives 51", u"", 60, 60, fifty_one},
      {"limit 0: one per table", u"{MaxFind(N1)=0}", 3, 3, {"pnP1", "snC1"}},
      {"negative limit: one per table", u"{MaxFind(N2)=-4}", 3, 3, {"pnP1", "snC1"}},
      {"only customers", u"{MaxFind=2}", 0, 3, {"snC1", "snC2"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Matching(r.a, r.b);
    Text answer = s.FindList(Text(u"{Tel=555}") + r.max_find);
    EXPECT_EQ(ListedIds(answer), r.ids);
    EXPECT_EQ(GetVar(answer, u"ListCount").number(), r.ids.size());
    EXPECT_EQ(GetVar(answer, u"Matches").number(), r.ids.size());
    EXPECT_EQ(GetVar(answer, u"HasName").number(), 1);
    EXPECT_EQ(GetVar(answer, u"HasCompany").number(), 1);
    EXPECT_EQ(U8(Str(GetVar(answer, u"Result"))), "Success");
    EXPECT_EQ(folders.live, 0);  // the result sets are released
  }
}

TEST_F(SearchTest, ListWithoutMatchCarriesTheRequestsNumbers) {
  Suppliers({kAcme});
  EXPECT_EQ(U8(s.FindList(u"{Tel=999}{NiceTel=+44 999}")),
            "{HasName(N1)=1}{HasCompany(N1)=1}{Tel(S3)=999}{NiceTel(S7)=+44 999}{Speed(N1)=0}{Result(S4)=Fail}"
            "{Reason(S6)=NoFind}");
  EXPECT_EQ(U8(s.FindList(u"")), "{HasName(N1)=1}{HasCompany(N1)=1}{Speed(N1)=0}{Result(S4)=Fail}{Reason(S6)=NoFind}");
}

TEST_F(SearchTest, DirectLookupByAccount) {
  struct Row { const char* name; const char16_t* request; bool list; std::string answer; };
  Suppliers({kAcme});
  Customers({kBrown});
  const std::string success = "{Result(S7)=Success}";
  const Row rows[] = {
      // A supplier's record and an unknown account are host_lookup.vbs's.
      {"customer, code in upper case", u"{Id=SNB100}", false, U8(ContactRecord(u"sn", kBrown)) + success},
      {"list mode answers the same", u"{Id=pnACME01}", true, U8(ContactRecord(u"pn", kAcme)) + success},
      {"account keeps its case", u"{Id=snb100}", false, "{Result(S4)=Fail}"},
      {"a customer's account is no supplier's", u"{Id=pnB100}", false, "{Result(S4)=Fail}"},
      {"neither code", u"{Id=xx12}", false, "{Speed(N1)=0}{Result(S4)=Fail}{Reason(S6)=NoFind}"},
      {"a quote fails the query, logged", u"{Id=pnO'Hara}", false, "{Speed(N1)=0}{Result(S4)=Fail}{Reason(S6)=NoFind}"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(U8(r.list ? s.FindList(r.request) : s.FindContact(r.request)), r.answer);
  }
  ASSERT_EQ(sys.Failures().size(), 1u);
  EXPECT_EQ(sys.Failures()[0].find("Unsupported SQL statement"), 0u);
  EXPECT_EQ(folders.live, 0);
}

TEST_F(SearchTest, BeginListsNamesFromTheLetterOnAndCountsTheirInitials) {
  Suppliers({{u"S1", u"Smith & Co"}, {u"S2", u"smythe ltd"}, {u"T1", u"Taylor"}, {u"A1", u"Adams"}});
  Customers({{u"S3", u"Sage"}, {u"B1", u"Brown"}});
  Text answer = s.FindList(u"{Begin=smith}");
  EXPECT_EQ(ListedIds(answer), (std::vector<std::string>{"pnS1", "pnS2", "snS3"}));
}

TEST_F(SearchTest, WordsMatchAtTheStartOfWordsOfEitherColumn) {
  struct Row { const char16_t* text; const char16_t* contact; const char16_t* name; bool found; };
  const Row rows[] = {
      {u"smi", u"John Smith", u"Acme Ltd", true},
      {u"ith", u"John Smith", u"Acme Ltd", false},
      {u"john acme", u"John Smith", u"Acme Ltd", true},
      {u"ACME, john", u"John Smith", u"Acme Ltd", true},
      {u"john brown", u"John Smith", u"Acme Ltd", false},
      {u"smith", u"   Smith", u"", true},
      {u"o'brien", u"Pat O'Brien", u"", true},
      {u"caf", u"", u"Caf\u00e9 Rouge", true},
      {u"rouge", u"", u"Caf\u00e9 Rouge", true},
      {u"cafe", u"", u"Caf\u00e9 Rouge", false},
      {u"ltd", u"", u"Quill-Ltd", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.text) + " / " + U8(r.contact) + " / " + U8(r.name));
    Suppliers({{u"W1", r.name, r.contact, u"0113 000"}});
    Text answer = s.FindContact(u"{Text=" + Text(r.text) + u"}");
    EXPECT_EQ(U8(Str(GetVar(answer, u"Result"))), r.found ? "Success" : "Fail");
  }
}

// Every row runs with MatchLastDigits off and at 9: a request of 9 digits or
// fewer is matched alike, a longer one on its last 9 digits when it is on.
TEST_F(SearchTest, TelephoneMatchesAnyRunOfTheStoredDigits) {
  struct Row {
    const char16_t* request;
    const char16_t* stored;
    bool found;          // MatchLastDigits off
    bool found_on_last;  // MatchLastDigits 9
  };
  const Row rows[] = {
      {u"{Tel=3456}", u"0123 456789", true, true},
      {u"{Tel=0123456789}", u"(0123) 456-789", true, true},
      {u"{Tel=+44 123 456789}", u"0123 456789", false, true},
      {u"{Tel=*31#}", u"*31#0123", true, true},
      // Without a number the absent marker # is looked for.
      {u"", u"0123 #456", true, true},
      {u"{NiceTel=1}", u"0123 456", false, false},
      {u"{Tel=abc}", u"0123 #456", true, true},
      // The international callers of a national number are the Wine script's.
      {u"{Tel=01234 567890}", u"+44 1234 567890", false, true},
      // Found by all its digits only thanks to the "(0)" stored with it.
      {u"{Tel=01234 567890}", u"+44 (0)1234 567890", true, true},
      {u"{Tel=+44 1234 567891}", u"01234 567890", false, false},
      // Extensions stay as they are: short numbers are not cut.
      {u"{Tel=2201}", u"0161 496 2201", true, true},
      {u"{Tel=2201}", u"2201", true, true},
      {u"{Tel=123456789}", u"0123456789", true, true},
  };
  for (const char16_t* setting : {u"0", u"9"}) {
    sys.registry.SetText(Registry::kLocalMachine, u"Software\\LedraII", u"MatchLastDigits", setting);
    s.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
    for (const Row& r : rows) {
      SCOPED_TRACE(U8(r.request) + " / " + U8(r.stored) + " with MatchLastDigits " + U8(setting));
      Suppliers({{u"T1", u"Tel Ltd", u"", r.stored}});
      Text answer = s.FindContact(r.request);
      bool on = setting == Text(u"9");
      EXPECT_EQ(U8(Str(GetVar(answer, u"Result"))), (on ? r.found_on_last : r.found) ? "Success" : "Fail");
    }
  }
  EXPECT_TRUE(sys.Failures().empty()) << ::testing::PrintToString(sys.Failures());
}

TEST_F(SearchTest, ListTakesTheNumberWhenThereIsNoTel) {
  struct Row {
    const char16_t* request;
    bool list;
    const char* tel;  // the Tel of the no-match answer, "" when none
  };
  const Row rows[] = {
      {u"{Number=0161 496}", true, "0161496"}, {u"{Tel=020}{Number=0161}", true, "020"},
      {u"{Tel=(020) 7946}", true, "0207946"}, {u"{Number=0161}", false, ""}, {u"{Tel=-}", false, ""},
  };
  Suppliers({kAcme});
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.request));
    Text answer = r.list ? s.FindList(r.request) : s.FindContact(r.request);
    EXPECT_EQ(U8(Str(GetVar(answer, u"Tel"))), r.tel);
    EXPECT_EQ(U8(Str(GetVar(answer, u"Reason"))), "NoFind");
  }
}

TEST_F(SearchTest, FailingQueriesFindNothing) {
  Suppliers({kAcme});
  files.fail_reads_from = 0;
  EXPECT_EQ(U8(s.FindContact(u"{Tel=01234}")), "{Tel(S5)=01234}{Speed(N1)=0}{Result(S4)=Fail}{Reason(S6)=NoFind}");
  auto line = [](const std::string& t) {
    return "Table " + t + " cannot be read (C:\\Acc/" + t + ".dbf): the file is too short to be a table @ plgLedraII.Find";
  };
  EXPECT_EQ(sys.Failures(), (std::vector<std::string>{line("a_pname"), line("a_sname")}));
}

TEST_F(SearchTest, AfterAFailedLoadTheSearchDoesNotLoadButTheCacheWalkDoes) {
  int opens = 0;
  folders.before_open = [&](const Text&) {
    ++opens;
    Raise(76, u"Path not found");
  };
  Session t;
  t.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
  t.Load(u"");
  ASSERT_TRUE(t.load_failed());
  ASSERT_EQ(opens, 1);  // its own data source, registered then opened
  sys.log.lines.clear();

  EXPECT_EQ(U8(t.FindContact(u"{Tel=1}")), "{Tel(S1)=1}{Speed(N1)=0}{Result(S4)=Fail}{Reason(S6)=NoFind}");
  EXPECT_EQ(opens, 1);
  const std::string line = "Object variable or With block variable not set @ plgLedraII.Find";
  EXPECT_EQ(sys.Failures(), (std::vector<std::string>{line, line}));

  t.CacheStart();
  EXPECT_EQ(opens, 3);
}

TEST_F(SearchTest, SearchOpensTheDataSourceWhenNotLoaded) {
  Suppliers({kAcme});
  Session t;
  t.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
  ASSERT_FALSE(t.connected());
  EXPECT_EQ(U8(Str(GetVar(t.FindContact(u"{Tel=567890}"), u"Id"))), "pnACME01");
  EXPECT_TRUE(t.connected());
}

TEST_F(SearchTest, BrokenResultSetEndsOnlyItsOwnTable) {
  struct Row {
    const char* name;
    const char* failing_step;   // of the supplier table's result set
    uint64_t fail_reads_from;   // of any file
    int supplier_table;         // 0: whole, 1: without the telephone column, 2: missing
    size_t lines;               // failures logged
  };
  const Row rows[] = {
      {"end-of-data flag fails", "Eof", UINT64_MAX, 0, 1},
      {"move fails", "MoveNext", UINT64_MAX, 0, 1},
      {"a read fails part way", "", 50000, 0, 1},
      {"no telephone column: given up after 64 rows", "", UINT64_MAX, 1, 64},
      {"no supplier table", "", UINT64_MAX, 2, 1},
  };
  std::vector<Contact> many;
  for (int i = 1; i <= 1000; ++i) many.push_back(Numbered(u"X", i, false));
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    sys.log.lines.clear();
    files.Put(u"C:\\Acc/a_pname.dbf", testing::ContactTable("pn", many, r.supplier_table == 1
                                                                         ? std::vector<std::string>{"pn_account", "pn_name"}
                                                                         : std::vector<std::string>{}));
    if (r.supplier_table == 2) files.Remove(u"C:\\Acc/a_pname.dbf");
    Customers({kBrown});
    files.fail_reads_from = r.fail_reads_from;
    folders.on_step = [&](const Text& sql, const char* step) {
      if (sql.find(u"pname") != Text::npos && std::string(step) == r.failing_step) Raise(40002, u"Connection lost");
    };
    Text answer = s.FindContact(u"{Tel=0161 496}");
    EXPECT_EQ(U8(Str(GetVar(answer, u"Id"))), "snB100");
    EXPECT_EQ(GetVar(answer, u"Matches").number(), 1);
    EXPECT_EQ(sys.Failures().size(), r.lines);
    for (const auto& line : sys.Failures()) EXPECT_NE(line.find(" @ plgLedraII.Find"), std::string::npos);
  }
}

// A scan that takes no time asks for no messages; a long one lets them
// through every 20 ms.
TEST_F(SearchTest, LongScanLetsPendingMessagesThroughEvery20Ms) {
  std::vector<Contact> many;
  for (int i = 1; i <= 20000; ++i) many.push_back(Numbered(u"X", i, false));
  Suppliers(many);
  testing::RecordingPump& pump = sys.pump;
  pump.pending = true;
  sys.clock.ticks = 5000;
  EXPECT_EQ(U8(Str(GetVar(s.FindContact(u"{Tel=7777777}"), u"Reason"))), "NoFind");
  EXPECT_EQ(pump.checks, 0);
  EXPECT_TRUE(pump.handled_at.empty());
  // Each row takes a millisecond.
  folders.on_step = [this](const Text&, const char* step) { sys.clock.ticks += *step == 'M'; };
  s.FindContact(u"{Tel=7777777}");
  ASSERT_FALSE(pump.handled_at.empty());
  uint32_t previous = 5000;
  for (uint32_t at : pump.handled_at) {
    EXPECT_LE(at - previous, 20u);
    previous = at;
  }
  EXPECT_LE(25000u - previous, 20u);
  EXPECT_GE(pump.handled_at.size(), 20000u / 20);
}

}  // namespace
}  // namespace ledra
