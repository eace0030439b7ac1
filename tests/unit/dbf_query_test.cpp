// The SQL the engine accepts, and everything it refuses.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "dbf/dbf_connection.h"
#include "dbf/query.h"

namespace ledra::dbf {
namespace {

struct Accepted { const char* sql; const char* table; Query::Op op; const char* column; const char* value; };

class QueryAcceptedTest : public ::testing::TestWithParam<Accepted> {};

TEST_P(QueryAcceptedTest, Parses) {
  const Accepted& c = GetParam();
  Query q = ParseQuery(FromUtf8(c.sql));
  EXPECT_EQ(ToUtf8(q.table), c.table) << c.sql;
  EXPECT_EQ(q.op, c.op) << c.sql;
  EXPECT_EQ(ToUtf8(q.column), c.column) << c.sql;
  EXPECT_EQ(ToUtf8(q.value), c.value) << c.sql;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, QueryAcceptedTest,
    ::testing::Values(
        Accepted{"select * from a_sname", "a_sname", Query::Op::All, "", ""},
        Accepted{"SELECT * FROM A_SNAME", "A_SNAME", Query::Op::All, "", ""},
        Accepted{"  select\t*\tfrom  a_sname  ", "a_sname", Query::Op::All, "", ""},
        Accepted{"select*from a_sname", "a_sname", Query::Op::All, "", ""},
        Accepted{"select * from a_pname where pn_account= 'ACME01'", "a_pname", Query::Op::Equal, "pn_account",
                 "ACME01"},
        Accepted{"select * from a_pname where pn_account = 'x y '", "a_pname", Query::Op::Equal, "pn_account",
                 "x y "},
        Accepted{"select * from a_pname WHERE pn_account='ACME01'", "a_pname", Query::Op::Equal, "pn_account",
                 "ACME01"},
        Accepted{"select * from a_sname where sn_name  >= 'M'", "a_sname", Query::Op::AtLeast, "sn_name", "M"},
        Accepted{"select * from a_sname where sn_name>='M'", "a_sname", Query::Op::AtLeast, "sn_name", "M"},
        Accepted{"select * from a_sname where sn_name >= ''", "a_sname", Query::Op::AtLeast, "sn_name", ""},
        Accepted{"select * from a_sname where sn_name= 'Ünïcode é'", "a_sname", Query::Op::Equal, "sn_name",
                 "Ünïcode é"},
        Accepted{"select * from 1-sname", "1-sname", Query::Op::All, "", ""},
        Accepted{"select * from où_sname", "où_sname", Query::Op::All, "", ""}));

struct Rejected {
  const char* sql;
  const char* why;  // the part of the description that names the fault
};

class QueryRejectedTest : public ::testing::TestWithParam<Rejected> {};

TEST_P(QueryRejectedTest, FailsWithTheSqlErrorNumber) {
  const Rejected& c = GetParam();
  try {
    ParseQuery(FromUtf8(c.sql));
    FAIL() << "accepted: " << c.sql;
  } catch (const Failure& f) {
    EXPECT_EQ(f.number, kDbfSqlError) << c.sql;
    std::string d = ToUtf8(f.description);
    EXPECT_NE(d.find(c.why), std::string::npos) << d;
    EXPECT_NE(d.find(c.sql), std::string::npos) << d;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Refused, QueryRejectedTest,
    ::testing::Values(
        Rejected{"", "expected SELECT"},
        Rejected{"selectx * from t", "expected SELECT"},
        Rejected{"select a from t", "only \"select *\""},
        Rejected{"select * , a from t", "expected FROM"},
        Rejected{"select * t", "expected FROM"},
        Rejected{"select * from", "a table name must follow FROM"},
        Rejected{"select * fromt", "expected FROM"},
        Rejected{"select * from ../t", "a table name must follow FROM"},
        Rejected{"select * from t.dbf", "unexpected character in the table name"},
        Rejected{"select * from t/x", "unexpected character in the table name"},
        Rejected{"select * from t order by a", "expected WHERE"},
        Rejected{"select * from t, u", "unexpected character in the table name"},
        Rejected{"delete from t", "expected SELECT"},
        Rejected{"select * from t where", "a column name must follow WHERE"},
        Rejected{"select * from t wherex a = 'b'", "expected WHERE"},
        Rejected{"select * from t where 'a' = 'b'", "a column name must follow WHERE"},
        Rejected{"select * from t where a", "only the operators = and >="},
        Rejected{"select * from t where a > 'b'", "only the operators = and >="},
        Rejected{"select * from t where a <= 'b'", "only the operators = and >="},
        Rejected{"select * from t where a like 'b%'", "only the operators = and >="},
        Rejected{"select * from t where a = b", "the value must be a text in single quotes"},
        Rejected{"select * from t where a = \"b\"", "the value must be a text in single quotes"},
        Rejected{"select * from t where a = 'b", "closing quote is missing"},
        Rejected{"select * from t where a = 'O'Brien'", "a quote inside the value"},
        Rejected{"select * from t where a = 'it''s'", "a quote inside the value"},
        Rejected{"select * from t where a = 'b' and c = 'd'", "a quote inside the value"},
        Rejected{"select * from t where a = 'b' or 1", "unexpected text after the value"},
        Rejected{"select * from t where a = 'b' order by a", "unexpected text after the value"}));

}  // namespace
}  // namespace ledra::dbf
