#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "data/data_source.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_tables.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::FakeFolders;
using testing::PlatformTest;

const char16_t* const kDsnKey = u"Software\\ODBC\\ODBC.INI\\Ledra II SP1";
const char16_t* const kSourcesKey = u"Software\\ODBC\\ODBC.INI\\ODBC Data Sources";
const char* const kDriver = "Microsoft FoxPro VFP Driver (*.dbf)";
const char* const kNoDsn = "[Microsoft][ODBC Driver Manager] Data source name not found and no default driver specified";

// A data source as an earlier run left it.
void Registered(const Text& dsn, const Text& folder) {
  Engine().RegisterDataSource(dsn, kVfpDriverName, u"SourceDB=" + folder + u";SourceType=DBF;");
}

void Init(Session& s, const Text& folder) { s.Initialize(u"{DBFile=" + folder + u"\\a_sname.dbf}", u"", nullptr); }

class LoadTest : public PlatformTest {
 protected:
  // A text value as the registry holds it, without its terminating zero.
  std::optional<std::string> RegText(const Text& key, const Text& name) {
    auto raw = sys.registry.Raw(Registry::kCurrentUser, key, name);
    if (raw && !raw->empty() && raw->back() == '\0') raw->pop_back();
    return raw;
  }
  void CustomerTable(const Text& folder) { folders.Folder(folder)->AddContacts(u"a_sname", u"sn", {}); }

  FakeFolders folders;
};

TEST_F(LoadTest, FirstLoadRegistersTheDataSourceAndOpensIt) {
  CustomerTable(u"C:\\Acc\\DATA");
  Session s;
  Init(s, u"C:\\Acc\\DATA");

  EXPECT_EQ(ToUtf8(s.Load(u"")), "{Result=Success}");
  EXPECT_TRUE(s.connected());
  EXPECT_FALSE(s.load_failed());
  EXPECT_EQ(folders.opened, std::vector<Text>{u"C:\\Acc\\DATA"});
  EXPECT_EQ(folders.Folder(u"C:\\Acc\\DATA")->queries, std::vector<Text>{u"select * from a_sname"});
  // The test result set does not outlive the load.
  EXPECT_EQ(folders.Folder(u"C:\\Acc\\DATA")->open_result_sets(), 0);
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(LoadTest, RegistrationWritesEveryAttribute) {
  Session s;
  Init(s, u"C:\\Acc\\DATA");
  s.Load(u"");
  const std::pair<const char16_t*, const char*> values[] = {
      {u"Driver", kDriver},          {u"UID", ""},           {u"PWD", ""},
      {u"SourceDB", "C:\\Acc\\DATA"}, {u"SourceType", "DBF"}, {u"Exclusive", "No"},
      {u"BackgroundFetch", "Yes"},    {u"Collate", "Machine"}, {u"Null", "Yes"},
      {u"Deleted", "Yes"},
  };
  for (const auto& [name, value] : values) {
    SCOPED_TRACE(ToUtf8(name));
    EXPECT_EQ(RegText(kDsnKey, name), std::optional<std::string>(value));
  }
  EXPECT_EQ(RegText(kSourcesKey, u"Ledra II SP1"), std::optional<std::string>(kDriver));
}

TEST_F(LoadTest, RegistrationFirstDeletesTheOldKeyWithoutTheSpace) {
  sys.registry.SetText(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP1", u"SourceDB", u"C:\\Old");
  Session s;
  Init(s, u"C:\\Acc\\DATA");
  s.Load(u"");
  EXPECT_FALSE(sys.registry.HasKey(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP1"));
  EXPECT_TRUE(sys.registry.HasKey(Registry::kCurrentUser, kDsnKey));
}

// Each row gets its own platform, so its registry starts empty.
TEST(LoadStates, AnswersForEachStateOfDataSourceAndTable) {
  struct Row {
    const char* name;
    const char16_t* registered_folder;  // nullptr: no data source yet
    bool table_in_data_path;
    bool table_in_registered_folder;
    const char* answer;
    const char16_t* folder_used;
  };
  const Row rows[] = {
      {"first run, table there", nullptr, true, false, "{Result=Success}", u"C:\\New"},
      {"first run, table missing", nullptr, false, false, "{Result=Fail}{Reason=Could not load SName: NOTDSN}",
       u"C:\\New"},
      {"registered, table missing", u"C:\\New", false, false, "{Result=Fail}{Reason=Could not load SName: }",
       u"C:\\New"},
      // A data source that opens keeps its folder, whatever the settings say now.
      {"registered elsewhere, table there", u"C:\\Old", false, true, "{Result=Success}", u"C:\\Old"},
      {"registered elsewhere, table only in new folder", u"C:\\Old", true, false,
       "{Result=Fail}{Reason=Could not load SName: }", u"C:\\Old"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform fresh;
    FakeFolders fresh_folders;
    if (r.registered_folder) Registered(u"Ledra II SP1", r.registered_folder);
    if (r.table_in_data_path) fresh_folders.Folder(u"C:\\New")->AddContacts(u"a_sname", u"sn", {});
    if (r.table_in_registered_folder) fresh_folders.Folder(u"C:\\Old")->AddContacts(u"a_sname", u"sn", {});
    Session s;
    Init(s, u"C:\\New");
    EXPECT_EQ(ToUtf8(s.Load(u"")), r.answer);
    EXPECT_EQ(fresh_folders.opened.back(), r.folder_used);
    EXPECT_TRUE(fresh.Failures().empty());
    EXPECT_EQ(s.load_failed(), std::string(r.answer).find("Fail") != std::string::npos);
    if (r.registered_folder) {
      // No new registration took place.
      auto raw = fresh.registry.Raw(Registry::kCurrentUser, kDsnKey, u"SourceDB");
      ASSERT_TRUE(raw.has_value());
      EXPECT_EQ(*raw, ToUtf8(r.registered_folder) + std::string(1, '\0'));
    }
  }
}

TEST_F(LoadTest, FirstFailureOtherThanMissingDataSourceGivesItsDescription) {
  Registered(u"Ledra II SP1", u"C:\\Gone");
  folders.before_open = [](const Text& folder) {
    if (folder == u"C:\\Gone") Raise(Err::PathNotFound);
  };
  Session s;
  Init(s, u"C:\\New");
  EXPECT_EQ(ToUtf8(s.Load(u"")), "{Result=Fail}{Reason=Could not load SName: Path not found}");
  // It was registered again with the current folder, and that opened.
  EXPECT_EQ(RegText(kDsnKey, u"SourceDB"), std::optional<std::string>("C:\\New"));
  EXPECT_EQ(folders.opened, std::vector<Text>{u"C:\\New"});
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(LoadTest, SecondSessionRegistersItsOwnNumberButOpensDataSourceOne) {
  CustomerTable(u"C:\\Acc");
  Session first;
  Session second;
  ASSERT_EQ(second.instance_no(), 2);
  sys.registry.SetText(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP2", u"X", u"1");
  Init(second, u"C:\\Acc");

  // Data source 1 does not exist, so both opens fail; the second is logged
  // and becomes the reason.
  EXPECT_EQ(ToUtf8(second.Load(u"")), std::string("{Result=Fail}{Reason=Could not load SName: ") + kNoDsn + "}");
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{std::string(kNoDsn) + " @ plgLedraII.Load"});
  EXPECT_TRUE(sys.registry.HasKey(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\Ledra II SP2"));
  EXPECT_FALSE(sys.registry.HasKey(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP2"));
  EXPECT_FALSE(sys.registry.HasKey(Registry::kCurrentUser, kDsnKey));
  EXPECT_TRUE(folders.opened.empty());
  EXPECT_FALSE(second.connected());
  EXPECT_TRUE(second.load_failed());

  // Once the first Session registered data source 1, the second one uses it.
  Init(first, u"C:\\Acc");
  EXPECT_EQ(ToUtf8(first.Load(u"")), "{Result=Success}");
  EXPECT_EQ(ToUtf8(second.Load(u"")), "{Result=Success}");
}

TEST_F(LoadTest, FailedReopenKeepsTheEarlierConnection) {
  CustomerTable(u"C:\\Acc");
  Session s;
  Init(s, u"C:\\Acc");
  ASSERT_EQ(ToUtf8(s.Load(u"")), "{Result=Success}");
  // The data source disappears and can no longer be opened.
  sys.registry.DeleteKey(Registry::kCurrentUser, kDsnKey);
  folders.before_open = [](const Text&) { Raise(76, u"Path not found"); };
  EXPECT_EQ(ToUtf8(s.Load(u"")), "{Result=Success}");
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{"Path not found @ plgLedraII.Load"});
  EXPECT_TRUE(s.connected());
}

TEST_F(LoadTest, LoadAfterUnloadOpensAgainWithoutRegistering) {
  CustomerTable(u"C:\\Acc");
  Session s;
  Init(s, u"C:\\Acc");
  s.Load(u"");
  sys.registry.SetText(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP1", u"X", u"1");
  EXPECT_EQ(ToUtf8(s.Unload()), "");
  EXPECT_FALSE(s.connected());
  EXPECT_EQ(ToUtf8(s.Load(u"{Anything(S1)=1}")), "{Result=Success}");
  EXPECT_TRUE(s.connected());
  EXPECT_EQ(folders.opened.size(), 2u);
  // The data source opened directly, so nothing was deleted.
  EXPECT_TRUE(sys.registry.HasKey(Registry::kCurrentUser, u"Software\\ODBC\\ODBC.INI\\LedraII SP1"));
}

TEST_F(LoadTest, LoadReleasesTheCacheWalk) {
  folders.Folder(u"C:\\Acc")->AddContacts(u"a_pname", u"pn", {{u"P1"}, {u"P2"}});
  CustomerTable(u"C:\\Acc");
  Session s;
  Init(s, u"C:\\Acc");
  s.CacheStart();
  ASSERT_EQ(folders.Folder(u"C:\\Acc")->open_result_sets(), 1);
  s.Load(u"");
  EXPECT_EQ(folders.Folder(u"C:\\Acc")->open_result_sets(), 0);
}

class EngineTest : public PlatformTest {
 protected:
  FakeFolders folders;
};

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
      {"no DSN keyword", u"Microsoft FoxPro VFP Driver (*.dbf)", u"SourceDB=C:\\A", u"UID=x", 40002, nullptr},
      {"another driver", u"SQL Server", u"SourceDB=C:\\A", u"DSN=Ledra II SP1", 40002, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform fresh;
    FakeFolders fresh_folders;
    if (r.driver) Engine().RegisterDataSource(u"Ledra II SP1", r.driver, r.attributes);
    int error = 0;
    try {
      auto conn = Engine().OpenConnection(r.connect);
      EXPECT_EQ(conn, fresh_folders.Folder(r.folder));
    } catch (const Failure& f) {
      error = f.number;
    }
    EXPECT_EQ(error, r.error);
  }
}

TEST_F(EngineTest, MissingDataSourceDescribesItAsTheDriverManagerDoes) {
  try {
    Engine().OpenConnection(u"DSN=Nowhere");
    FAIL() << "opened";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number, 40002);
    EXPECT_EQ(ToUtf8(f.description), kNoDsn);
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
