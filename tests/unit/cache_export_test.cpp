#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "base/vars.h"
#include "fakes/company.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::Contact;
using testing::ContactRecord;
using testing::Typed;

std::string U8(const Text& t) { return ToUtf8(t); }

const Contact kP1{u"P1", u"Parts Ltd", u"Pat", u"0113 1", u"", u"Unit 1", u"", u"Leeds", u"LS1"};
const Contact kP2{u"P2", u"Pipes plc"};
const Contact kC1{u"C1", u"Cafe", u"Cy", u"0161 2", u"0161 3", u"", u"", u"", u"M1"};

const std::string kStart = "{Records(N2)=-1}";
const std::string kStartFailure = "{Result(S4)=Fail}{Reason(S21)=No resultset: a_PName}";
const std::string kSwitch = "{Result=Ignore}";
const std::string kEnd = "{Result(S3)=Eof}";
const std::string kNotSet = "Object variable or With block variable not set @ plgLedraII.CacheRecordReal";

std::string Record(const Text& code, const Contact& c) {
  return U8(Typed(u"Result", u"Success") + Typed(u"Fields", ContactRecord(code, c)));
}

class CacheTest : public testing::CompanyTest {
 protected:
  void SetUp() override {
    Suppliers({kP1, kP2});
    Customers({kC1});
  }
  void Init(Session& session, const Text& switches = u"") {
    session.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}" + switches, u"", nullptr);
  }
  // CacheStart, then `more` CacheRecord calls.
  std::vector<std::string> Walk(Session& session, int more) {
    std::vector<std::string> answers{U8(session.CacheStart())};
    for (int i = 0; i < more; ++i) answers.push_back(U8(session.CacheRecord()));
    return answers;
  }
};

TEST_F(CacheTest, WalkFollowsTheTableSwitches) {
  struct Row {
    const char* name;
    const char16_t* switches;
    std::vector<std::string> answers;
    size_t unset_reads;  // logged reads of the end-of-data flag without a result set
  };
  const Row rows[] = {
      {"both tables",
       u"",
       {kStart, Record(u"pn", kP1), Record(u"pn", kP2), kSwitch, Record(u"sn", kC1), kEnd, kEnd},
       1},
      {"customers only",
       u"{UseSuppliers(N1)=0}",
       {kStartFailure, kSwitch, Record(u"sn", kC1), kEnd, kEnd, kEnd, kEnd},
       4},
      {"suppliers only",
       u"{UseCustomers(N1)=0}",
       {kStart, Record(u"pn", kP1), Record(u"pn", kP2), kSwitch, kEnd, kEnd, kEnd},
       3},
      {"neither", u"{UseSuppliers(N1)=0}{UseCustomers(N1)=0}", {kStartFailure, kSwitch, kEnd, kEnd, kEnd, kEnd, kEnd}, 6},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Session s;
    Init(s, r.switches);
    s.Load(u"");
    sys.log.lines.clear();
    EXPECT_EQ(Walk(s, 6), r.answers);
    EXPECT_EQ(sys.Failures(), std::vector<std::string>(r.unset_reads, kNotSet));
    // At its end the walk holds no result set.
    EXPECT_EQ(folders.live, 0);
  }
}

TEST_F(CacheTest, NewSessionWithoutStartIsAtTheEnd) {
  Session s;
  Init(s);
  EXPECT_EQ(U8(s.CacheRecord()), kEnd);
  EXPECT_EQ(U8(s.CacheRecord()), kEnd);
  EXPECT_EQ(sys.Failures(), (std::vector<std::string>{kNotSet, kNotSet}));
}

TEST_F(CacheTest, EndStopsTheWalkUntilTheNextStart) {
  Session s;
  Init(s);
  Walk(s, 1);
  EXPECT_EQ(U8(s.CacheEnd()), "");
  EXPECT_EQ(folders.live, 0);
  EXPECT_EQ(U8(s.CacheRecord()), "");
  EXPECT_EQ(U8(s.CacheRecord()), "");
  EXPECT_EQ(Walk(s, 1), (std::vector<std::string>{kStart, Record(u"pn", kP1)}));
}

TEST_F(CacheTest, StartDuringAWalkBeginsAgainWithTheFirstSupplier) {
  Session s;
  Init(s);
  Walk(s, 4);  // into the customers
  EXPECT_EQ(Walk(s, 2), (std::vector<std::string>{kStart, Record(u"pn", kP1), Record(u"pn", kP2)}));
}

TEST_F(CacheTest, StartLoadsWhenNotConnected) {
  Session s;
  Init(s);
  ASSERT_FALSE(s.connected());
  EXPECT_EQ(U8(s.CacheStart()), kStart);
  EXPECT_TRUE(s.connected());
  EXPECT_FALSE(s.load_failed());
}

TEST_F(CacheTest, MissingSupplierTableGivesTheStartFailureThenTheCustomers) {
  Put("sn", {kC1}, u"C:\\Other");
  Session s;
  s.Initialize(u"{DBFile=C:\\Other\\a_sname.dbf}", u"", nullptr);
  EXPECT_EQ(Walk(s, 3), (std::vector<std::string>{kStartFailure, kSwitch, Record(u"sn", kC1), kEnd}));
  EXPECT_EQ(sys.Failures(),
            (std::vector<std::string>{
                "File 'a_pname.dbf' does not exist in C:\\Other @ plgLedraII.CacheRecordReal",
                kNotSet}));
}

TEST_F(CacheTest, WithoutConnectionBothTablesAreEmpty) {
  folders.before_open = [](const Text&) { Raise(76, u"Path not found"); };
  Session s;
  Init(s);
  EXPECT_EQ(Walk(s, 3), (std::vector<std::string>{kStartFailure, kSwitch, kEnd, kEnd}));
  EXPECT_TRUE(s.load_failed());
}

TEST_F(CacheTest, LoadDuringTheWalkEndsTheCurrentTable) {
  Session s;
  Init(s);
  Walk(s, 1);
  s.Load(u"");
  EXPECT_EQ(U8(s.CacheRecord()), kSwitch);
  EXPECT_EQ(U8(s.CacheRecord()), Record(u"sn", kC1));
}

TEST_F(CacheTest, UnreadableRowGivesSuccessWithoutFields) {
  files.Put(u"C:\\Acc/a_pname.dbf", testing::ContactTable("pn", {kP1, kP2}, {"other"}));
  Session s;
  Init(s);
  s.CacheStart();
  sys.log.lines.clear();
  EXPECT_EQ(U8(s.CacheRecord()), "{Result(S7)=Success}");
  EXPECT_EQ(sys.Failures().size(), 9u);  // one for each column
  // The walk still moved on.
  EXPECT_EQ(U8(s.CacheRecord()), "{Result(S7)=Success}");
  EXPECT_EQ(U8(s.CacheRecord()), kSwitch);
}

// 1000 suppliers, 726 to a block, packed to 800 by another program after
// the first record: no file stays open between calls, and the changed table
// ends its part once, logged; the engine's own tests cover the other changes.
TEST_F(CacheTest, AChangedTableEndsItsPartOnceAndNoFileIsHeld) {
  std::vector<Contact> many(1000);
  for (size_t i = 0; i < many.size(); ++i) many[i].account = FromAscii(std::to_string(i));
  Suppliers(many);
  auto bytes = files.Get(u"C:\\Acc/a_pname.dbf");
  const size_t record_length = 9 * 40 + 1, header_length = bytes->size() - 1 - 1000 * record_length;
  Session s;
  s.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
  EXPECT_EQ(U8(s.CacheStart()), kStart);
  std::string answers, table;
  int run = 0;
  for (int call = 0; call < 1000 && answers.find("Eof") == std::string::npos; ++call) {
    if (call == 1) {
      testing::DbfWriter::SetU32(bytes.get(), 4, 800);
      bytes->resize(header_length + 800 * record_length);
    }
    Text answer = s.CacheRecord();
    EXPECT_EQ(files.open_handles(), 0);
    Text id = CStr(GetVar(CStr(GetVar(answer, u"Fields")), u"Id"));
    std::string code = U8(id.substr(0, 2));
    if (!id.empty() && code == table) {
      ++run;
      continue;
    }
    if (run) answers += table + std::to_string(run) + " ";
    table = code;
    run = id.empty() ? 0 : 1;
    if (id.empty()) answers += U8(CStr(GetVar(answer, u"Result"))) + " ";
  }
  // Records counted per table, then the other answers.
  EXPECT_EQ(answers, "pn726 Ignore sn1 Eof ");
  int logged = 0;
  for (const std::string& line : sys.Failures()) {
    logged += line.find("a_pname") != std::string::npos &&
              line.find("@ plgLedraII.CacheRecordReal") != std::string::npos;
  }
  EXPECT_EQ(logged, 1);
}

}  // namespace
}  // namespace ledra
