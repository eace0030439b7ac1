#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "base/vars.h"
#include "fakes/dbf_writer.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_tables.h"
#include "fakes/memory_files.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::Contact;
using testing::ContactRecord;
using testing::FakeFolders;
using testing::FakeTables;
using testing::PlatformTest;
using testing::TableFaults;
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

class CacheTest : public PlatformTest {
 protected:
  void SetUp() override {
    tables = folders.Folder(u"C:\\Acc");
    tables->AddContacts(u"a_pname", u"pn", {kP1, kP2});
    tables->AddContacts(u"a_sname", u"sn", {kC1});
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

  FakeFolders folders;
  std::shared_ptr<FakeTables> tables;
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
    EXPECT_EQ(tables->open_result_sets(), 0);
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
  EXPECT_EQ(tables->open_result_sets(), 0);
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
  auto other = folders.Folder(u"C:\\Other");
  other->AddContacts(u"a_sname", u"sn", {kC1});
  Session s;
  s.Initialize(u"{DBFile=C:\\Other\\a_sname.dbf}", u"", nullptr);
  EXPECT_EQ(Walk(s, 3), (std::vector<std::string>{kStartFailure, kSwitch, Record(u"sn", kC1), kEnd}));
  EXPECT_EQ(sys.Failures(),
            (std::vector<std::string>{
                "[Microsoft][ODBC Visual FoxPro Driver]File 'a_pname.dbf' does not exist. @ plgLedraII.CacheRecordReal",
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
  tables->SetFaults(u"a_pname", TableFaults{false, false, 0});
  Session s;
  Init(s);
  s.CacheStart();
  sys.log.lines.clear();
  EXPECT_EQ(U8(s.CacheRecord()), "{Result(S7)=Success}");
  EXPECT_EQ(sys.Failures(), std::vector<std::string>(9, "Read error in table @ plgLedraII.GetContact"));
  // The walk still moved on.
  EXPECT_EQ(U8(s.CacheRecord()), "{Result(S7)=Success}");
  EXPECT_EQ(U8(s.CacheRecord()), kSwitch);
}

// The walk over the .dbf engine: 600 suppliers of 1000 bytes (262 to a
// block) and one customer, the suppliers packed by another program after the
// first record. No file stays open between calls, and the changed table ends
// its part once, logged; the engine's own tests cover the other changes.
testing::DbfWriter ContactTable(const std::string& code, int rows) {
  testing::DbfWriter w(0x03);
  for (const char* c : {"_account", "_name", "_contact", "_teleno", "_faxno", "_addr1", "_addr2", "_addr3"}) {
    w.Field(code + c, 'C', 20);
  }
  w.Field(code + "_pstcode", 'C', 839);
  for (int i = 0; i < rows; ++i) w.Row({code + std::to_string(i), "", "", "", "", "", "", "", ""});
  return w;
}

class CacheFilesTest : public PlatformTest {};

TEST_F(CacheFilesTest, AChangedTableEndsItsPartOnceAndNoFileIsHeld) {
  testing::MemoryFiles files;
  sys.platform.files = &files;
  testing::DbfWriter suppliers = ContactTable("pn", 600);
  auto bytes = files.Put(u"C:\\Acc/a_pname.dbf", suppliers.Build());
  files.Put(u"C:\\Acc/a_sname.dbf", ContactTable("sn", 1).Build());
  Session s;
  s.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
  EXPECT_EQ(U8(s.CacheStart()), kStart);
  std::string answers, table;
  int run = 0;
  for (int call = 0; call < 1000 && answers.find("Eof") == std::string::npos; ++call) {
    if (call == 1) {
      testing::DbfWriter::SetU32(bytes.get(), 4, 300);
      bytes->resize(suppliers.HeaderLength() + 300 * suppliers.RecordLength());
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
  EXPECT_EQ(answers, "pn262 Ignore sn1 Eof ");
  int logged = 0;
  for (const std::string& line : sys.Failures()) {
    logged += line.find("a_pname") != std::string::npos &&
              line.find("@ plgLedraII.CacheRecordReal") != std::string::npos;
  }
  EXPECT_EQ(logged, 1);
}

}  // namespace
}  // namespace ledra
