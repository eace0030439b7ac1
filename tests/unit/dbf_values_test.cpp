// Reading every table version and field type the engine knows.
#include "unit/dbf_test_support.h"

namespace ledra::testing {
namespace {

struct VersionCase { uint8_t version; bool level7; };

class DbfVersionTest : public DbfFolderTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(DbfVersionTest, ReadsTheCommonFieldTypes) {
  const VersionCase& c = GetParam();
  DbfWriter w(c.version);
  w.Level7(c.level7)
      .Field("ACCOUNT", 'C', 8)
      .Field("BALANCE", 'N', 10, 2)
      .Field("OPENED", 'D', 8)
      .Field("ACTIVE", 'L', 1)
      .Row({"ACME01", "1234.50", "20240102", "T"})
      .Row({"BOLT02", "-7", "        ", "f"});
  Put("t.dbf", w.Build());

  auto rs = Open("select * from t");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(Show(rs->Field(u"ACCOUNT")), "'ACME01  '");
  EXPECT_EQ(Show(rs->Field(u"BALANCE")), "D1234.5");
  EXPECT_EQ(Show(rs->Field(u"OPENED")), "T2024-01-02 00:00:00");
  EXPECT_EQ(Show(rs->Field(u"ACTIVE")), "true");
  rs->MoveNext();
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(Show(rs->Field(u"account")), "'BOLT02  '");
  EXPECT_EQ(Show(rs->Field(u"balance")), "D-7");
  EXPECT_EQ(Show(rs->Field(u"opened")), "null");
  EXPECT_EQ(Show(rs->Field(u"active")), "false");
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
}

INSTANTIATE_TEST_SUITE_P(AllVersions, DbfVersionTest,
                         ::testing::Values(VersionCase{0x03, false}, VersionCase{0x83, false},
                                           VersionCase{0x04, false}, VersionCase{0x8B, false},
                                           VersionCase{0xF5, false}, VersionCase{0xFB, false},
                                           VersionCase{0x30, false}, VersionCase{0x31, false},
                                           VersionCase{0x32, false}, VersionCase{0x04, true},
                                           VersionCase{0x8C, true}));

struct ValueCase {
  const char* what;
  uint8_t version;
  char type;
  int length;
  int decimals;
  DbfValue stored;
  std::string expected;
};

class DbfValueTest : public DbfFolderTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(DbfValueTest, DecodesTheStoredValue) {
  const ValueCase& c = GetParam();
  DbfWriter w(c.version);
  // A C field on either side checks that the value's neighbours survive.
  w.Field("BEFORE", 'C', 3).Field("VALUE", c.type, c.length, c.decimals, !c.stored).Field("AFTER", 'C', 3);
  w.Row({"abc", c.stored, "xyz"});
  Put("v.dbf", w.Build());
  auto rs = Open("select * from v");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(Show(rs->Field(u"VALUE")), c.expected) << c.what;
  EXPECT_EQ(Show(rs->Field(u"BEFORE")), "'abc'") << c.what;
  EXPECT_EQ(Show(rs->Field(u"AFTER")), "'xyz'") << c.what;
}

const std::vector<ValueCase> kValues = {
    {"character keeps blanks", 0x03, 'C', 6, 0, "ab", "'ab    '"},
    {"character all blank", 0x03, 'C', 4, 0, "", "'    '"},
    {"long character field (high length byte)", 0xF5, 'C', 300, 0, "wide", "'wide" + std::string(296, ' ') + "'"},
    {"numeric with decimals", 0x03, 'N', 8, 2, "12.25", "D12.25"},
    {"numeric negative", 0x30, 'N', 6, 0, "-42", "D-42"},
    {"numeric blank reads 0", 0x03, 'N', 6, 0, "", "D0"},
    {"numeric overflow stars", 0x03, 'N', 4, 0, "****", "null"},
    {"numeric with plus", 0x03, 'N', 5, 0, "+5", "D5"},
    {"numeric leading point", 0x03, 'N', 5, 2, "-.5", "D-0.5"},
    {"float with exponent", 0xF5, 'F', 10, 0, "1.5E+3", "D1500"},
    {"date", 0x03, 'D', 8, 0, "19991231", "T1999-12-31 00:00:00"},
    {"date blank", 0x03, 'D', 8, 0, "", "null"},
    {"date invalid day", 0x03, 'D', 8, 0, "20230230", "null"},
    {"date leap day", 0x30, 'D', 8, 0, "20240229", "T2024-02-29 00:00:00"},
    {"date junk", 0x03, 'D', 8, 0, "2024AB01", "null"},
    {"logical T", 0x03, 'L', 1, 0, "T", "true"}, {"logical t", 0x03, 'L', 1, 0, "t", "true"},
    {"logical Y", 0x03, 'L', 1, 0, "Y", "true"}, {"logical y", 0x03, 'L', 1, 0, "y", "true"},
    {"logical F", 0x03, 'L', 1, 0, "F", "false"}, {"logical n", 0x03, 'L', 1, 0, "n", "false"},
    {"logical unknown", 0x03, 'L', 1, 0, "?", "null"}, {"logical blank", 0x03, 'L', 1, 0, "", "null"},
    {"integer", 0x30, 'I', 4, 0, "-123456", "I-123456"},
    {"integer max", 0x31, 'I', 4, 0, "2147483647", "I2147483647"},
    {"double", 0x30, 'B', 8, 2, "3.75", "D3.75"},
    {"currency", 0x30, 'Y', 8, 4, "12.3456", "Y123456"},
    {"currency negative", 0x30, 'Y', 8, 4, "-0.5", "Y-5000"},
    {"datetime", 0x30, 'T', 8, 0, "20240102 03:04:05", "T2024-01-02 03:04:05"},
    {"datetime before 1900", 0x30, 'T', 8, 0, "18991229 12:00:00", "T1899-12-29 12:00:00"},
    {"datetime empty", 0x30, 'T', 8, 0, "", "null"},
    {"varchar short", 0x32, 'V', 10, 0, "abc", "'abc'"},
    {"varchar full", 0x32, 'V', 4, 0, "abcd", "'abcd'"},
    {"varchar keeps inner blanks", 0x32, 'V', 10, 0, "a b ", "'a b '"},
    {"varbinary not read", 0x32, 'Q', 6, 0, "xy", "null"},
    {"memo (VFP) not read", 0x30, 'M', 4, 0, "17", "null"}, {"memo (dBase) not read", 0x83, 'M', 10, 0, "17", "null"},
    {"memo (FoxPro 2) not read", 0xF5, 'M', 10, 0, "3", "null"},
    {"memo (dBase IV) not read", 0x8B, 'M', 10, 0, "3", "null"}, {"general not read", 0x30, 'G', 4, 0, "2", "null"},
    {"blob not read", 0x32, 'W', 4, 0, "2", "null"}, {"picture not read", 0xFB, 'P', 10, 0, "2", "null"},
    {"integer of a wrong length", 0x30, 'I', 2, 0, "12", "null"},
    {"null character", 0x30, 'C', 5, 0, std::nullopt, "null"}, {"null numeric", 0x30, 'N', 5, 0, std::nullopt, "null"},
    {"null date", 0x30, 'D', 8, 0, std::nullopt, "null"}, {"null integer", 0x30, 'I', 4, 0, std::nullopt, "null"},
    {"null logical", 0x30, 'L', 1, 0, std::nullopt, "null"}, {"null varchar", 0x32, 'V', 6, 0, std::nullopt, "null"},
    {"null datetime", 0x30, 'T', 8, 0, std::nullopt, "null"},
};

INSTANTIATE_TEST_SUITE_P(AllTypes, DbfValueTest, ::testing::ValuesIn(kValues));

TEST_F(DbfFolderTest, DBase7NumbersAreBigEndianWithTheSignFlipped) {
  DbfWriter w(0x04);
  w.Level7(true).Field("N", 'I', 4).Field("AUTO", '+', 4).Field("DBL", 'O', 8);
  w.Row({"-5", "7", "-2.5"}).Row({"300", "8", "1e10"});
  Put("d7.dbf", w.Build());
  EXPECT_EQ(Column("select * from d7", "N"), (std::vector<std::string>{"I-5", "I300"}));
  EXPECT_EQ(Column("select * from d7", "AUTO"), (std::vector<std::string>{"I7", "I8"}));
  EXPECT_EQ(Column("select * from d7", "DBL"), (std::vector<std::string>{"D-2.5", "D10000000000"}));
}

TEST_F(DbfFolderTest, NullFlagsAreHiddenAndCountVarcharLengthBitsFirst) {
  // Bits in order: V1 varlength, V1 null, N1 null, V2 varlength, C1 null.
  DbfWriter w(0x32);
  w.Field("V1", 'V', 5, 0, true).Field("N1", 'N', 4, 0, true).Field("V2", 'V', 3).Field("C1", 'C', 2, 0, true);
  w.Row({"ab", std::nullopt, "xyz", "q"});
  w.Row({std::nullopt, "7", "x", std::nullopt});
  w.Row({"abcde", "", "", ""});
  Put("n.dbf", w.Build());
  EXPECT_EQ(Column("select * from n", "V1"), (std::vector<std::string>{"'ab'", "null", "'abcde'"}));
  EXPECT_EQ(Column("select * from n", "N1"), (std::vector<std::string>{"null", "D7", "D0"}));
  EXPECT_EQ(Column("select * from n", "V2"), (std::vector<std::string>{"'xyz'", "'x'", "''"}));
  EXPECT_EQ(Column("select * from n", "C1"), (std::vector<std::string>{"'q '", "null", "'  '"}));
  auto rs = Open("select * from n");
  EXPECT_THROW(rs->Field(u"_NullFlags"), Failure);
}

TEST_F(DbfFolderTest, NullableFieldsWithoutNullFlagsAreNeverNull) {
  // A header that marks a field nullable but has no _NullFlags column.
  DbfWriter w(0x30);
  w.Field("A", 'C', 3);
  std::string file = w.Row({"abc"}).Build();
  file[DbfWriter::DescriptorAt(0) + 18] = 0x02;
  Put("x.dbf", file);
  EXPECT_EQ(Column("select * from x", "A"), (std::vector<std::string>{"'abc'"}));
}

TEST_F(DbfFolderTest, BackLinkAreaIsSkippedByTheHeaderLength) {
  for (bool backlink : {true, false}) {
    DbfWriter w(0x30);
    w.Backlink(backlink).Field("NAME", 'C', 4).Row({"one"}).Row({"two"});
    Put("b.dbf", w.Build());
    EXPECT_EQ(Column("select * from b", "NAME"), (std::vector<std::string>{"'one '", "'two '"})) << backlink;
  }
}

TEST_F(DbfFolderTest, InspectTableDescribesTheFile) {
  DbfWriter w(0x30);
  w.CodePage(0x03).Field("ACC", 'C', 6).Field("AMT", 'N', 8, 2, true);
  w.Row({"a", "1"}).DeletedRow({"b", "2"}).Row({"c", std::nullopt});
  Put("Info.DBF", w.Build());
  TableInfo info = InspectTable(u"/data", u"info");
  EXPECT_EQ(ToUtf8(info.path), "/data/Info.DBF");
  EXPECT_EQ(info.version, 0x30);
  EXPECT_EQ(ToUtf8(info.format), "Visual FoxPro");
  EXPECT_EQ(info.update_year, 2024);
  EXPECT_EQ(info.codepage_mark, 0x03);
  EXPECT_EQ(info.codepage, 1252u);
  EXPECT_EQ(info.header_length, 32u + 3 * 32 + 1 + 263);
  EXPECT_EQ(info.record_length, 1u + 6 + 8 + 1);
  EXPECT_EQ(info.header_records, 3u);
  EXPECT_EQ(info.file_records, 3u);
  EXPECT_EQ(info.rows, 3u);
  EXPECT_EQ(info.deleted, 1u);
  ASSERT_EQ(info.fields.size(), 3u);
  EXPECT_EQ(ToUtf8(info.fields[0].name), "ACC");
  EXPECT_EQ(info.fields[0].type, 'C');
  EXPECT_EQ(info.fields[0].offset, 1u);
  EXPECT_EQ(info.fields[1].decimals, 2);
  EXPECT_TRUE(info.fields[1].nullable);
  EXPECT_EQ(ToUtf8(info.fields[2].name), "_NullFlags");
  EXPECT_TRUE(info.fields[2].hidden);
  EXPECT_EQ(InspectTable(u"/data", u"INFO.dbf").rows, 3u);
  EXPECT_EQ(files.open_handles(), 0);
}

}  // namespace
}  // namespace ledra::testing
