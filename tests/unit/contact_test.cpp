#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/vars.h"
#include "contacts/data_source.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_tables.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::Contact;
using testing::ContactRecord;
using testing::FakeTables;
using testing::PlatformTest;

std::string U8(const Text& t) { return ToUtf8(t); }

class ContactTest : public PlatformTest {
 protected:
  // The current row of a query on the table, held as GetContact takes it.
  Var Row(const Text& sql) { return Var::Obj(std::make_shared<ResultSetRef>(tables.OpenResultset(sql))); }

  FakeTables tables;
  Session s;
};

TEST_F(ContactTest, TypeSelectsTheTable) {
  // One row carrying the columns of both tables, with different values.
  std::vector<Text> columns;
  std::vector<Var> values;
  for (const char16_t* code : {u"pn", u"sn"}) {
    for (const char16_t* c : {u"_account", u"_name", u"_contact", u"_teleno", u"_faxno", u"_addr1", u"_addr2",
                              u"_addr3", u"_pstcode"}) {
      columns.push_back(code + Text(c));
      values.push_back(Text(code) + u"-value");
    }
  }
  tables.AddTable(u"both", columns);
  tables.AddRow(u"both", values);
  auto all = [](const Text& v) { return Contact{v, v, v, v, v, v, v, v, v}; };
  struct Case {
    const char16_t* typ;
    bool supplier;
  };
  const Case cases[] = {
      {u"Suppliers", true}, {u"SUPPLIERS", true}, {u"pn", true},        {u"PN", true}, {u"Pn", true},
      {u"sn", false},       {u"CUSTOMERS", false}, {u"", false},        {u"supplier", false},
      {u"pname", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.typ));
    EXPECT_EQ(U8(s.GetContact(c.typ, Row(u"select * from both"))),
              U8(c.supplier ? ContactRecord(u"pn", all(u"pn-value")) : ContactRecord(u"sn", all(u"sn-value"))));
  }
}

TEST_F(ContactTest, ValuesAreTrimmedAndNullIsEmpty) {
  tables.AddContacts(u"sname", u"sn", {});
  tables.AddRow(u"sname", {Text(u"  B100  "), Text(u" Brown  &  Co "), Var::Null(), Var::Double(1614960000),
                           Var::Null(), Text(u"\tTab"), Text(u""), Text(u"   "), Var()});
  EXPECT_EQ(U8(s.GetContact(u"sn", Row(u"select * from sname"))),
            "{Id(S6)=snB100}{Name(S0)=}{Company(S12)=Brown  &  Co}{Maintel(S10)=1614960000}{Fax(S0)=}"
            "{Address1(S4)=\tTab}{Address2(S0)=}{Town(S0)=}{PostCode(S0)=}");
}

TEST_F(ContactTest, UnreadableColumnsAreLeftOut) {
  struct Case {
    const char* name;
    std::vector<Text> columns;
    const char* record;
    std::vector<std::string> failures;
  };
  const std::string missing = "Object Collection: Couldn't find item indicated by text. @ plgLedraII.GetContact";
  const Case cases[] = {
      {"no fax column",
       {u"pn_account", u"pn_name", u"pn_contact", u"pn_teleno", u"pn_addr1", u"pn_addr2", u"pn_addr3", u"pn_pstcode"},
       "{Id(S3)=pnX}{Name(S1)=X}{Company(S1)=X}{Maintel(S1)=X}{Address1(S1)=X}{Address2(S1)=X}{Town(S1)=X}{PostCode(S1)=X}",
       {missing}},
      {"only the account", {u"pn_account"}, "{Id(S3)=pnX}", std::vector<std::string>(8, missing)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sys.log.lines.clear();
    tables.AddTable(u"t", c.columns);
    tables.AddRow(u"t", std::vector<Var>(c.columns.size(), Text(u"X")));
    EXPECT_EQ(U8(s.GetContact(u"PN", Row(u"select * from t"))), c.record);
    EXPECT_EQ(sys.Failures(), c.failures);
  }
}

TEST_F(ContactTest, NoRowOrNoResultSetGivesAnEmptyRecord) {
  tables.AddContacts(u"sname", u"sn", {});
  struct Case {
    const char* name;
    Var res;
    std::string failure;
  };
  const Case cases[] = {
      {"past the end", Row(u"select * from sname"), "No current row"},
      {"empty variant", Var(), "Object required"},
      {"text", Var(Text(u"rs")), "Object required"},
      {"nothing", Var::Obj(nullptr), "Object variable or With block variable not set"},
      {"released result set", Var::Obj(std::make_shared<ResultSetRef>(nullptr)),
       "Object variable or With block variable not set"},
      {"another object", Var::Obj(std::make_shared<Object>()), "Object doesn't support this property or method"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sys.log.lines.clear();
    EXPECT_EQ(U8(s.GetContact(u"sn", c.res)), "");
    // One line for each of the nine keys.
    EXPECT_EQ(sys.Failures(), std::vector<std::string>(9, c.failure + " @ plgLedraII.GetContact"));
  }
}

TEST_F(ContactTest, ResultSetIsNotMoved) {
  tables.AddContacts(u"sname", u"sn", {{u"C1"}, {u"C2"}});
  Var row = Row(u"select * from sname");
  s.GetContact(u"sn", row);
  auto& rs = *static_cast<ResultSetRef&>(*row.object()).rs;
  EXPECT_EQ(U8(TextForm(rs.Field(u"sn_account"))), "C1");
}

// A value that itself looks like an entry changes what later keys replace;
// the record must still come out exactly as adding each key in turn makes it.
TEST_F(ContactTest, ValuesThatLookLikeEntriesGiveTheRecordAddVarGives) {
  const Text odd = u"{Company(S3)=abc}";
  tables.AddContacts(u"sname", u"sn", {{u"A1", u"Acme", odd, u"1", u"", u"", u"", u"", u""}});
  Text expected;
  for (const auto& kv : std::vector<std::pair<Text, Text>>{{u"Id", u"snA1"}, {u"Name", odd}, {u"Company", u"Acme"},
                                                            {u"Maintel", u"1"}, {u"Fax", u""}, {u"Address1", u""},
                                                            {u"Address2", u""}, {u"Town", u""}, {u"PostCode", u""}}) {
    AddVar(expected, kv.first, kv.second, true);
  }
  EXPECT_EQ(U8(s.GetContact(u"sn", Row(u"select * from sname"))), U8(expected));
  // The Company entry inside the contact's value was the one replaced.
  EXPECT_EQ(U8(expected).find("{Company(S3)=abc}"), std::string::npos);
}

}  // namespace
}  // namespace ledra
