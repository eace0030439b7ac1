#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/vars.h"
#include "contacts/data_source.h"
#include "fakes/company.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::Contact;
using testing::ContactRecord;
using testing::DbfWriter;

std::string U8(const Text& t) { return ToUtf8(t); }

class ContactTest : public testing::CompanyTest {
 protected:
  // The current row of the table, held as GetContact takes it.
  Var Row(const Text& table) {
    return Var::Obj(std::make_shared<ResultSetRef>(OpenDbfFolder(u"C:\\Acc")->OpenResultset(u"select * from " + table)));
  }
  void Table(const Text& name, const std::string& bytes) { files.Put(u"C:\\Acc/" + name + u".dbf", bytes); }

  Session s;
};

TEST_F(ContactTest, TypeSelectsTheTable) {
  // One row carrying the columns of both tables, with different values.
  DbfWriter both;
  std::vector<testing::DbfValue> values;
  for (const std::string code : {"pn", "sn"}) {
    for (const char* c : {"_account", "_name", "_contact", "_teleno", "_faxno", "_addr1", "_addr2", "_addr3", "_pstcode"}) {
      both.Field(code + c, 'C', 10);
      values.push_back(code + "-value");
    }
  }
  Table(u"both", both.Row(values).Build());
  auto all = [](const Text& v) { return Contact{v, v, v, v, v, v, v, v, v}; };
  struct Case { const char16_t* typ; bool supplier; };
  const Case cases[] = {
      {u"Suppliers", true}, {u"SUPPLIERS", true}, {u"pn", true},        {u"PN", true}, {u"Pn", true},
      {u"sn", false},       {u"CUSTOMERS", false}, {u"", false},        {u"supplier", false},
      {u"pname", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.typ));
    EXPECT_EQ(U8(s.GetContact(c.typ, Row(u"both"))),
              U8(c.supplier ? ContactRecord(u"pn", all(u"pn-value")) : ContactRecord(u"sn", all(u"sn-value"))));
  }
}

TEST_F(ContactTest, ValuesAreTrimmedAndNullIsEmpty) {
  DbfWriter w(0x30);
  w.Field("sn_account", 'C', 10).Field("sn_name", 'C', 20).Field("sn_contact", 'C', 10, 0, true);
  w.Field("sn_teleno", 'N', 12).Field("sn_faxno", 'C', 10, 0, true).Field("sn_addr1", 'C', 10);
  w.Field("sn_addr2", 'C', 10).Field("sn_addr3", 'C', 10).Field("sn_pstcode", 'C', 10);
  Table(u"sname", w.Row({"  B100  ", " Brown  &  Co ", std::nullopt, "1614960000", std::nullopt, "\tTab", "", "   "}).Build());
  EXPECT_EQ(U8(s.GetContact(u"sn", Row(u"sname"))),
            "{Id(S6)=snB100}{Name(S0)=}{Company(S12)=Brown  &  Co}{Maintel(S10)=1614960000}{Fax(S0)=}"
            "{Address1(S4)=\tTab}{Address2(S0)=}{Town(S0)=}{PostCode(S0)=}");
}

TEST_F(ContactTest, UnreadableColumnsAreLeftOut) {
  struct Case {
    const char* name;
    std::vector<std::string> columns;
    const char* record;
    std::vector<std::string> failures;
  };
  auto missing = [](const char* column) { return "Column pn_" + std::string(column) + " is not in table t @ plgLedraII.GetContact"; };
  const Case cases[] = {
      {"no fax column",
       {"pn_account", "pn_name", "pn_contact", "pn_teleno", "pn_addr1", "pn_addr2", "pn_addr3", "pn_pstcode"},
       "{Id(S3)=pnX}{Name(S1)=X}{Company(S1)=X}{Maintel(S1)=X}{Address1(S1)=X}{Address2(S1)=X}{Town(S1)=X}{PostCode(S1)=X}",
       {missing("faxno")}},
      {"only the account", {"pn_account"}, "{Id(S3)=pnX}", 
       {missing("contact"), missing("name"), missing("teleno"), missing("faxno"), missing("addr1"), missing("addr2"),
        missing("addr3"), missing("pstcode")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sys.log.lines.clear();
    const Text x = u"X";
    Table(u"t", testing::ContactTable("pn", {{x, x, x, x, x, x, x, x, x}}, c.columns));
    EXPECT_EQ(U8(s.GetContact(u"PN", Row(u"t"))), c.record);
    EXPECT_EQ(sys.Failures(), c.failures);
  }
}

TEST_F(ContactTest, NoRowOrNoResultSetGivesAnEmptyRecord) {
  Put("sn", {}, u"C:\\Acc", u"");
  struct Case { const char* name; Var res; std::string failure; };
  const Case cases[] = {
      {"past the end", Row(u"sname"), "No current row: the result set of table sname is at its end"},
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

// A value that itself looks like an entry changes what later keys replace;
// the record must still come out exactly as adding each key in turn makes
// it. The result set is not moved.
TEST_F(ContactTest, ValuesThatLookLikeEntriesGiveTheRecordAddVarGives) {
  const Text odd = u"{Company(S3)=abc}";
  Put("sn", {{u"A1", u"Acme", odd, u"1"}, {u"A2"}}, u"C:\\Acc", u"");
  Text expected;
  for (const auto& kv : std::vector<std::pair<Text, Text>>{{u"Id", u"snA1"}, {u"Name", odd}, {u"Company", u"Acme"},
                                                            {u"Maintel", u"1"}, {u"Fax", u""}, {u"Address1", u""},
                                                            {u"Address2", u""}, {u"Town", u""}, {u"PostCode", u""}}) {
    AddVar(expected, kv.first, kv.second, true);
  }
  Var row = Row(u"sname");
  EXPECT_EQ(U8(s.GetContact(u"sn", row)), U8(expected));
  EXPECT_EQ(U8(TextForm(static_cast<ResultSetRef&>(*row.object()).rs->Field(u"sn_account"))).substr(0, 3), "A1 ");
  // The Company entry inside the contact's value was the one replaced.
  EXPECT_EQ(U8(expected).find("{Company(S3)=abc}"), std::string::npos);
}

}  // namespace
}  // namespace ledra
