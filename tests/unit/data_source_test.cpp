#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "contacts/data_source.h"
#include "fakes/company.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::PlatformTest;
using testing::WatchedFolders;

const char16_t* const kDsnKey = u"Software\\ODBC\\ODBC.INI\\Ledra II SP1";
const char* const kDriver = "Microsoft FoxPro VFP Driver (*.dbf)";

// A data source as an earlier run left it.
void Registered(const Text& dsn, const Text& folder) {
  Engine().RegisterDataSource(dsn, kVfpDriverName, u"SourceDB=" + folder + u";SourceType=DBF;");
}

void Init(Session& s, const Text& folder) { s.Initialize(u"{DBFile=" + folder + u"\\a_sname.dbf}", u"", nullptr); }

class LoadTest : public testing::CompanyTest {
 protected:
  // A text value as the registry holds it, without its terminating zero.
  std::optional<std::string> RegText(const Text& key, const Text& name) {
    auto raw = sys.registry.Raw(Registry::kCurrentUser, key, name);
    if (raw && !raw->empty() && raw->back() == '\0') raw->pop_back();
    return raw;
  }
  void CustomerTable(const Text& folder) { Put("sn", {}, folder); }
};

// Each row gets its own platform, so its registry starts empty. The
// settings name C:\New.
TEST(LoadStates, TheDataSourceFollowsTheSettings) {
  struct Row {
    const char* name;
    const char16_t* registered_folder;  // nullptr: no data source yet
    const char16_t* table_folder;       // where a_sname is, nullptr: nowhere
    const char16_t* read;               // the folder the load reads
    const char* answer;
    std::vector<std::string> failures;
  };
  const std::string moved = "Data source Ledra II SP1 registered again, from C:\\Old to C:\\New @ plgLedraII.Load";
  const Row rows[] = {
      {"first run, table there", nullptr, u"C:\\New", u"C:\\New", "{Result=Success}", {}},
      {"registered, table missing", u"C:\\New", nullptr, u"C:\\New", "{Result=Fail}{Reason=Could not load SName: }", {}},
      {"registered in other letters", u"c:\\new\\", u"c:\\new\\", u"c:\\new\\", "{Result=Success}", {}},
      {"registered elsewhere, table there too", u"C:\\Old", u"C:\\New", u"C:\\New", "{Result=Success}", {moved}},
      {"registered elsewhere, table only there", u"C:\\Old", u"C:\\Old", u"C:\\New",
       "{Result=Fail}{Reason=Could not load SName: }", {moved}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform fresh;
    testing::MemoryFiles files;
    fresh.platform.files = &files;
    WatchedFolders fresh_folders;
    if (r.registered_folder) Registered(u"Ledra II SP1", r.registered_folder);
    for (const char16_t* f : {u"C:\\New", u"C:\\Old", u"c:\\new\\"}) files.MakeFolder(f);
    if (r.table_folder) files.Put(files.Join(r.table_folder, u"a_sname.dbf"), testing::ContactTable("sn", {}));
    Session s;
    Init(s, u"C:\\New");
    EXPECT_EQ(ToUtf8(s.Load(u"")), r.answer);
    EXPECT_EQ(fresh_folders.opened.back(), r.read);
    EXPECT_EQ(fresh_folders.live, 0);  // the test result set does not outlive the load
    EXPECT_EQ(fresh.Failures(), r.failures);
    EXPECT_EQ(s.load_failed(), std::string(r.answer).find("Fail") != std::string::npos);
  }
}

TEST_F(LoadTest, FirstFailureOtherThanMissingDataSourceGivesItsDescription) {
  Registered(u"Ledra II SP1", u"C:\\New");
  files.MakeFolder(u"C:\\New");  // without the customer table
  int opens = 0;
  folders.before_open = [&](const Text&) {
    if (opens++ == 0) Raise(Err::PathNotFound);
  };
  Session s;
  Init(s, u"C:\\New");
  EXPECT_EQ(ToUtf8(s.Load(u"")), "{Result=Fail}{Reason=Could not load SName: Path not found}");
  // It was registered again, and that opened.
  EXPECT_EQ(folders.opened, std::vector<Text>{u"C:\\New"});
  EXPECT_TRUE(sys.Failures().empty());
}

// A second live Session registers, reads and moves its own data source.
TEST_F(LoadTest, EachSessionReadsItsOwnDataSource) {
  for (const char16_t* f : {u"C:\\A", u"C:\\B", u"C:\\C"}) CustomerTable(f);
  Session first;
  Session second;
  ASSERT_EQ(second.instance_no(), 2);
  sys.registry.SetText(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP2", u"X", u"1");
  Init(first, u"C:\\A");
  Init(second, u"C:\\B");
  EXPECT_EQ(ToUtf8(first.Load(u"")), "{Result=Success}");
  EXPECT_EQ(ToUtf8(second.Load(u"")), "{Result=Success}");
  EXPECT_EQ(folders.opened, (std::vector<Text>{u"C:\\A", u"C:\\B"}));
  EXPECT_FALSE(sys.registry.HasKey(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP2"));

  Init(second, u"C:\\C");
  EXPECT_EQ(ToUtf8(second.Load(u"")), "{Result=Success}");
  EXPECT_EQ(folders.opened.back(), u"C:\\C");
  EXPECT_EQ(RegText(kDsnKey, u"SourceDB"), std::optional<std::string>("C:\\A"));
  EXPECT_EQ(sys.Failures(),
            std::vector<std::string>{"Data source Ledra II SP2 registered again, from C:\\B to C:\\C @ plgLedraII.Load"});
}

// A Load after Unload opens directly, without registering; a Load whose
// open fails keeps the earlier connection.
TEST_F(LoadTest, LoadAgain) {
  CustomerTable(u"C:\\Acc");
  Session s;
  Init(s, u"C:\\Acc");
  ASSERT_EQ(ToUtf8(s.Load(u"")), "{Result=Success}");
  sys.registry.SetText(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP1", u"X", u"1");
  EXPECT_EQ(ToUtf8(s.Unload()), "");
  EXPECT_FALSE(s.connected());
  EXPECT_EQ(ToUtf8(s.Load(u"{Anything(S1)=1}")), "{Result=Success}");
  EXPECT_TRUE(s.connected());
  EXPECT_EQ(folders.opened.size(), 2u);
  EXPECT_TRUE(sys.registry.HasKey(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP1"));

  sys.registry.DeleteKey(Registry::kCurrentUser, kDsnKey);
  folders.before_open = [](const Text&) { Raise(76, u"Path not found"); };
  EXPECT_EQ(ToUtf8(s.Load(u"")), "{Result=Success}");
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{"Path not found @ plgLedraII.Load"});
  EXPECT_TRUE(s.connected());
}

class EngineTest : public PlatformTest {};

TEST(EngineRegistrations, OpenConnectionFollowsTheRegistration) {
  struct Row {
    const char* name;
    const char16_t* driver;       // nullptr: no data source
    const char16_t* attributes;
    const char16_t* connect;
    int error;                    // 0: opens
    const char16_t* folder;
  };
  const Row rows[] = {
      {"silent registration", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceDB=C:\\A;SourceType=DBF", u"DSN=Ledra II SP1", 0,
       u"C:\\A"},
      {"name matched without case", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceDB=C:\\A", u"dsn=ledra ii sp1", 0,
       u"C:\\A"},
      {"administrator's registration", u"C:\\WINDOWS\\System32\\vfpodbc.dll", u"SourceDB=C:\\A", u"DSN=Ledra II SP1", 0,
       u"C:\\A"},
      {"database container", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceDB=C:\\A\\ledra.dbc;SourceType=DBC",
       u"DSN=Ledra II SP1", 0, u"C:\\A"},
      {"no data source", nullptr, u"", u"DSN=Ledra II SP1", 40002, nullptr},
      {"a registration cut short: no folder", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceType=DBF",
       u"DSN=Ledra II SP1", 40002, nullptr},
      {"no DSN keyword", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceDB=C:\\A", u"UID=x", 40002, nullptr},
      {"another driver", u"SQL Server", u"SourceDB=C:\\A", u"DSN=Ledra II SP1", 40002, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform fresh;
    testing::MemoryFiles files;
    fresh.platform.files = &files;
    files.MakeFolder(u"C:\\A");
    WatchedFolders fresh_folders;
    if (r.driver) Engine().RegisterDataSource(u"Ledra II SP1", r.driver, r.attributes);
    int error = 0;
    try {
      Engine().OpenConnection(r.connect);
      EXPECT_EQ(fresh_folders.opened, std::vector<Text>{r.folder});
    } catch (const Failure& f) {
      error = f.number;
    }
    EXPECT_EQ(error, r.error);
  }
}

TEST_F(EngineTest, RegisteringAgainReplacesTheAttributes) {
  Engine().RegisterDataSource(u"Mine", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceDB=C:\\A;Exclusive=Yes;");
  Engine().RegisterDataSource(u"Mine", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceDB=C:\\B; Collate=Machine");
  auto value = [&](const Text& name) { return sys.registry.Raw(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\Mine", name); };
  EXPECT_EQ(value(u"SourceDB"), std::optional<std::string>(std::string("C:\\B") + '\0'));
  EXPECT_EQ(value(u"Collate"), std::optional<std::string>(std::string("Machine") + '\0'));
  EXPECT_EQ(value(u"Exclusive"), std::nullopt);
  EXPECT_EQ(value(u"Driver"), std::optional<std::string>(std::string(kDriver) + '\0'));
}

}  // namespace
}  // namespace ledra
