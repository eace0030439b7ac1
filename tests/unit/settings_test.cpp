#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::PlatformTest;

const char16_t* const kLedraKey = u"SOFTWARE\\Kestrin\\Ledra Client\\System";

class SettingsTest : public PlatformTest {
 protected:
  void SetLedraFolder(const Text& folder) {
    sys.registry.SetText(Registry::kLocalMachine, kLedraKey, u"PathToLedra", folder);
  }
};

std::string U8(const Text& t) { return ToUtf8(t); }

// Each row gets its own platform, so its registry starts empty.
TEST(SettingsValues, InitializeReal) {
  struct Row {
    const char* name;
    const char16_t* data_rd;
    const char16_t* ledra_folder;  // nullptr: no PathToLedra value
    const char16_t* prefix;
    const char16_t* path;
    bool suppliers;
    bool customers;
  };
  const Row rows[] = {
      {"full path", u"{DBFile=C:\\Acc\\DATA\\a_sname.dbf}", nullptr, u"a_", u"C:\\Acc\\DATA", true, true},
      {"full path wins over the registry", u"{DBFile=C:\\Acc\\DATA\\a_sname.dbf}", u"D:\\Ledra", u"a_",
       u"C:\\Acc\\DATA", true, true},
      {"no file, registry folder", u"", u"D:\\Ledra", u"z_", u"D:\\Ledra\\data", true, true},
      {"no file, no registry value", u"", nullptr, u"z_", u"\\data", true, true},
      {"xx is the default company", u"{DBFile=C:\\Acc\\xx_sname.dbf}", nullptr, u"z_", u"C:\\Acc", true, true},
      {"XX is a company of its own", u"{DBFile=C:\\Acc\\XX_sname.dbf}", nullptr, u"XX", u"C:\\Acc", true, true},
      {"folder only", u"{DBFile=C:\\Acc\\}", nullptr, u"z_", u"C:\\Acc", true, true},
      {"no folder", u"{DBFile=a_sname.dbf}", u"D:\\Ledra", u"a_", u"D:\\Ledra\\data", true, true},
      {"one-character name", u"{DBFile=C:\\Acc\\a}", nullptr, u"ax", u"C:\\Acc", true, true},
      {"key written as Dbfile, typed", u"{Dbfile(S23)=C:\\Acc\\DATA\\b_sname.dbf}", nullptr, u"b_",
       u"C:\\Acc\\DATA", true, true},
      {"switches 0", u"{UseSuppliers(N1)=0}{UseCustomers(N1)=0}", nullptr, u"z_", u"\\data", false, false},
      {"switch as plain text 0", u"{UseSuppliers=0}", nullptr, u"z_", u"\\data", false, true},
      {"words in any case", u"{usesuppliers=false}{USECUSTOMERS=TRUE}", nullptr, u"z_", u"\\data", false, true},
      {"any other number is true", u"{UseSuppliers(N2)=-1}{UseCustomers=5}", nullptr, u"z_", u"\\data", true,
       true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform fresh;
    if (r.ledra_folder) fresh.registry.SetText(Registry::kLocalMachine, kLedraKey, u"PathToLedra", r.ledra_folder);
    Session s;
    EXPECT_EQ(U8(s.Initialize(r.data_rd, u"", nullptr)), "");
    EXPECT_EQ(U8(s.table_prefix()), U8(r.prefix));
    EXPECT_EQ(U8(s.data_path()), U8(r.path));
    EXPECT_EQ(s.use_suppliers(), r.suppliers);
    EXPECT_EQ(s.use_customers(), r.customers);
    EXPECT_EQ(fresh.registry.open_handles(), 0);
    EXPECT_TRUE(fresh.Failures().empty());
  }
}

TEST_F(SettingsTest, ASwitchThatIsNoBooleanKeepsItsValue) {
  struct Row { const char* name; const char16_t* first_rd; bool suppliers_before; };
  // A new Session's switch is false until an Initialize sets it.
  const Row rows[] = {
      {"kept false", u"{UseSuppliers=0}", false},
      {"kept true", u"{UseSuppliers=1}", true},
      {"a new Session's", nullptr, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    sys.log.lines.clear();
    Session s;
    if (r.first_rd) {
      s.Initialize(r.first_rd, u"", nullptr);
      ASSERT_EQ(s.use_suppliers(), r.suppliers_before);
    }

    s.Initialize(u"{UseSuppliers=maybe}{UseCustomers=0}{DBFile=C:\\Acc\\b_sname.dbf}", u"", nullptr);
    EXPECT_EQ(s.use_suppliers(), r.suppliers_before);
    // The steps after the failing one still ran.
    EXPECT_FALSE(s.use_customers());
    EXPECT_EQ(U8(s.table_prefix()), "b_");
    EXPECT_EQ(U8(s.data_path()), "C:\\Acc");
    EXPECT_EQ(sys.Failures(), std::vector<std::string>{"Type mismatch @ plugin.Session.InitializeReal"});
  }
}

TEST_F(SettingsTest, ASecondInitializeRereadsTheSettings) {
  SetLedraFolder(u"D:\\Ledra");
  Session s;
  s.Initialize(u"{DBFile=C:\\Acc\\DATA\\a_sname.dbf}{UseSuppliers=0}", u"", nullptr);
  s.Initialize(u"", u"", nullptr);
  EXPECT_EQ(U8(s.table_prefix()), "z_");
  EXPECT_EQ(U8(s.data_path()), "D:\\Ledra\\data");
  EXPECT_TRUE(s.use_suppliers());
  EXPECT_TRUE(s.use_customers());
}

// MatchLastDigits: text or DWORD, the user's value before the machine's; 0 and
// an absent value are off silently, anything else not from 6 to 15 is off and
// logged once per Initialize.
TEST(SettingsValues, MatchLastDigits) {
  struct Row {
    const char* name;
    uint32_t machine_type;  // 0: no value
    std::string machine;
    uint32_t user_type;
    std::string user;
    int expected;
    bool logged;
  };
  const std::string dword9("\x09\0\0\0", 4), dword16("\x10\0\0\0", 4), dword_big("\0\0\0\x80", 4);
  const Row rows[] = {
      {"absent", 0, "", 0, "", 0, false}, {"text with blanks", 1, " 10 ", 0, "", 10, false},
      {"DWORD", 4, dword9, 0, "", 9, false}, {"lowest", 1, "6", 0, "", 6, false},
      {"highest", 1, "15", 0, "", 15, false}, {"zero is off", 1, "0", 0, "", 0, false},
      {"the user's value wins", 1, "9", 1, "11", 11, false},
      {"the user's invalid value wins too", 1, "9", 1, "x", 0, true},
      {"too few", 1, "5", 0, "", 0, true}, {"too many", 4, dword16, 0, "", 0, true},
      {"a huge DWORD", 4, dword_big, 0, "", 0, true}, {"negative", 1, "-9", 0, "", 0, true},
      {"a fraction", 1, "9.5", 0, "", 0, true}, {"empty text", 1, "", 0, "", 0, true},
      {"another type", 3, dword9, 0, "", 0, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform sys;
    const Text key = u"Software\\LedraII";
    if (r.machine_type) sys.registry.SetRaw(Registry::kLocalMachine, key, u"MatchLastDigits", r.machine_type, r.machine);
    if (r.user_type) sys.registry.SetRaw(Registry::kCurrentUser, key, u"MatchLastDigits", r.user_type, r.user);
    Session s;
    s.Initialize(u"", u"", nullptr);
    EXPECT_EQ(s.match_last_digits(), r.expected);
    std::vector<std::string> failures = sys.Failures();
    ASSERT_EQ(failures.size(), r.logged ? 1u : 0u) << ::testing::PrintToString(failures);
    if (r.logged) EXPECT_NE(failures[0].find("MatchLastDigits is"), std::string::npos) << failures[0];
    EXPECT_EQ(sys.registry.open_handles(), 0);
  }
}

}  // namespace
}  // namespace ledra
