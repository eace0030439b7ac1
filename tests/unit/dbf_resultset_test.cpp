// Queries over a folder of tables: filters, deleted rows, names, code pages,
// file handling and damaged files.
#include "unit/dbf_test_support.h"

#include <functional>

namespace ledra::testing {
namespace {

using Rows = std::vector<std::string>;

// A customer table as the accounting application writes it.
DbfWriter Customers(uint8_t version = 0x03) {
  DbfWriter w(version);
  w.Field("SN_ACCOUNT", 'C', 8).Field("SN_NAME", 'C', 12).Field("SN_TELENO", 'C', 14).Field("SN_BAL", 'N', 8, 2);
  return w;
}

struct FilterCase {
  const char* sql;
  Rows expected;  // sn_account of the rows returned
};

class DbfFilterTest : public DbfFolderTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(DbfFilterTest, ReturnsTheRowsTheFilterAccepts) {
  DbfWriter w(0x30);
  w.Field("SN_ACCOUNT", 'C', 8).Field("SN_NAME", 'C', 10, 0, true).Field("SN_NUM", 'N', 4);
  // Deleted records first, in a run and last: never returned.
  w.DeletedRow({"ACME01", "Mx", "0"})
      .Row({"ACME01", "Acme", "1"})
      .Row({"acme01", "acme", "2"})
      .Row({" ACME01", "Zulu", "3"})
      .Row({"ACME0", "M", "4"})
      .Row({"B", "Ma", "5"})
      .Row({"C", "a", "6"})
      .Row({"D", std::nullopt, "7"})
      .DeletedRow({"Y", "Z", "0"})
      .DeletedRow({"ACME01", "M", "0"})
      .Row({"E", "", "8"})
      .Row({"F", "M\x01", "9"})
      .DeletedRow({"ACME01", "Mx", "10"});
  Put("a_sname.dbf", w.Build());
  EXPECT_EQ(Column(GetParam().sql, "SN_ACCOUNT"), GetParam().expected) << GetParam().sql;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, DbfFilterTest,
    ::testing::Values(
        FilterCase{"select * from a_sname",
                   {"'ACME01  '", "'acme01  '", "' ACME01 '", "'ACME0   '", "'B       '", "'C       '", "'D       '",
                    "'E       '", "'F       '"}},
        // Equality: exact bytes, case-sensitive, trailing blanks ignored on both sides.
        FilterCase{"select * from a_sname where sn_account= 'ACME01'", {"'ACME01  '"}},
        FilterCase{"select * from a_sname where sn_account= 'ACME01   '", {"'ACME01  '"}},
        FilterCase{"select * from a_sname where SN_Account='acme01'", {"'acme01  '"}},
        FilterCase{"select * from a_sname where sn_account= ' ACME01'", {"' ACME01 '"}},
        FilterCase{"select * from a_sname where sn_account= 'ACME'", {}},
        FilterCase{"select * from a_sname where sn_account= 'ACME012'", {}},
        FilterCase{"select * from a_sname where sn_account= ''", {}},
        FilterCase{"select * from a_sname where sn_name= ''", {"'E       '"}},
        // Greater or equal: byte order, lower case after upper case, nulls never.
        FilterCase{"select * from a_sname where sn_name  >= 'M'",
                   {"'acme01  '", "' ACME01 '", "'ACME0   '", "'B       '", "'C       '"}},
        FilterCase{"select * from a_sname where sn_name  >= 'a'", {"'acme01  '", "'C       '"}},
        FilterCase{"select * from a_sname where sn_name  >= 'Z'", {"'acme01  '", "' ACME01 '", "'C       '"}},
        FilterCase{"select * from a_sname where sn_name  >= 'M '",
                   {"'acme01  '", "' ACME01 '", "'ACME0   '", "'B       '", "'C       '"}},
        FilterCase{"select * from a_sname where sn_name  >= 'Ma'",
                   {"'acme01  '", "' ACME01 '", "'B       '", "'C       '"}},
        FilterCase{"select * from a_sname where sn_name  >= ''",
                   {"'ACME01  '", "'acme01  '", "' ACME01 '", "'ACME0   '", "'B       '", "'C       '", "'E       '",
                    "'F       '"}},
        FilterCase{"select * from a_sname where sn_name  >= 'M\x01'",
                   {"'acme01  '", "' ACME01 '", "'ACME0   '", "'B       '", "'C       '", "'F       '"}},
        FilterCase{"select * from a_sname where sn_name  >= 'zz'", {}}));

TEST_F(DbfFolderTest, VarcharFiltersUseTheStoredLength) {
  DbfWriter w(0x32);
  w.Field("V", 'V', 6).Row({"abc"}).Row({"abc  "}).Row({"abcdef"}).Row({"ab"});
  Put("v.dbf", w.Build());
  EXPECT_EQ(Column("select * from v where v = 'abc'", "V"), (Rows{"'abc'", "'abc  '"}));
  EXPECT_EQ(Column("select * from v where v >= 'abc'", "V"), (Rows{"'abc'", "'abc  '", "'abcdef'"}));
}

TEST_F(DbfFolderTest, FailuresOfQueries) {
  Put("a_sname.dbf", Customers().Row({"A", "B", "C", "1"}).Build());
  struct Case { const char* sql; int number; const char* description; };
  const Case cases[] = {
      {"select * from a_pname", kDbfTableNotFound, "File 'a_pname.dbf' does not exist in /data"},
      {"select * from a_sname where sn_acount= 'A'", kDbfColumnNotFound, "Column sn_acount is not in table a_sname"},
      {"select * from a_sname where _NullFlags= 'A'", kDbfColumnNotFound, "Column _NullFlags is not in table a_sname"},
      {"select * from a_sname where sn_bal >= '1'", kDbfTypeMismatch,
       "Column sn_bal of table a_sname holds no text and cannot be compared with a text"},
      {"select * from a_sname where sn_name = 'O'Brien'", kDbfSqlError, ""},
      {"select sn_name from a_sname", kDbfSqlError, ""},
  };
  for (const Case& c : cases) {
    auto [number, description] = FailureOf(c.sql);
    EXPECT_EQ(number, c.number) << c.sql;
    if (*c.description) {
      EXPECT_EQ(description, c.description) << c.sql;
    }
    EXPECT_EQ(files.open_handles(), 0) << c.sql;
  }
}

// Names match without regard to case; a file named exactly wins over others,
// and is all a folder that cannot be listed offers.
TEST_F(DbfFolderTest, TableAndColumnNames) {
  Put("A_SName.DBF", Customers().Row({"A1", "", "", ""}).Build());
  Put("other.dbf", Customers().Row({"O1", "", "", ""}).Build());
  for (const char* name : {"t.dbf", "T.DBF", "T.dbf"}) Put(name, Customers().Row({name, "", "", ""}).Build());
  struct Case { const char* sql; const char* column; bool unlisted; const char* account; };  // nullptr: not found
  const Case cases[] = {
      {"select * from a_sname", "sn_account", false, "'A1      '"},
      {"select * from A_SNAME", "SN_ACCOUNT", false, "'A1      '"},
      {"SELECT * FROM A_SName", "Sn_Account", false, "'A1      '"},
      {"select * from t", "sn_account", false, "'t.dbf   '"},
      {"select * from T", "sn_account", false, "'T.dbf   '"},
      {"select * from t", "sn_account", true, "'t.dbf   '"},
      {"select * from a_sname", "sn_account", true, nullptr},
  };
  for (const Case& c : cases) {
    files.list_fails = c.unlisted;
    if (c.account) EXPECT_EQ(Column(c.sql, c.column), (Rows{c.account})) << c.sql;
    if (!c.account) EXPECT_EQ(FailureOf(c.sql).first, kDbfTableNotFound) << c.sql;
    EXPECT_EQ(files.open_handles(), 0);
  }
}

// Their descriptions are the contact record's to check.
TEST_F(DbfFolderTest, ColumnReadsAtTheEndAndUnknownColumnsFail) {
  Put("t.dbf", Customers().Row({"A", "B", "C", "1"}).Build());
  auto rs = Open("select * from t");
  EXPECT_THROW(rs->Field(u"sn_nope"), Failure);
  rs->MoveNext();
  ASSERT_TRUE(rs->Eof());
  EXPECT_THROW(rs->Field(u"sn_name"), Failure);
  EXPECT_THROW(rs->MoveNext(), Failure);
  EXPECT_TRUE(rs->Eof());
}

TEST_F(DbfFolderTest, ManyColumnNamesLookedUpInTurn) {
  DbfWriter w(0x03);
  for (int i = 0; i < 40; ++i) w.Field("F" + std::to_string(i), 'N', 3);
  std::vector<DbfValue> row;
  for (int i = 0; i < 40; ++i) row.push_back(std::to_string(i));
  w.Row(row).Row(row);
  Put("wide.dbf", w.Build());
  auto rs = Open("select * from wide");
  for (; !rs->Eof(); rs->MoveNext()) {
    for (int round = 0; round < 2; ++round) {
      for (int i = 39; i >= 0; --i) {
        std::string name = (round ? "f" : "F") + std::to_string(i);
        EXPECT_EQ(Show(rs->Field(FromAscii(name))), "D" + std::to_string(i));
      }
    }
  }
}

// --- Code pages -----------------------------------------------------------

struct CodePageCase {
  uint8_t mark;
  std::string stored;
  const char* expected;  // UTF-8
};

class DbfCodePageTest : public DbfFolderTest, public ::testing::WithParamInterface<CodePageCase> {};

// The number scan takes the dialling characters from the stored bytes and
// the contact record its values trimmed before decoding; both must give
// what decoding the whole value first gives.
TEST_P(DbfCodePageTest, TextIsDecodedWithTheTablesCodePage) {
  const CodePageCase& c = GetParam();
  DbfWriter w(0x30);
  w.CodePage(c.mark).Field("NAME", 'C', static_cast<int>(c.stored.size())).Field("NUM", 'N', 8);
  Put("cp.dbf", w.Row({c.stored, "  1234"}).Build());
  auto rs = Open("select * from cp");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(ToUtf8(rs->Field(u"name").text()), c.expected);
  for (const char16_t* column : {u"name", u"num"}) {
    const Text decoded = TextForm(rs->Field(column));
    Text digits = u"x", got = u"x", trimmed;
    for (char16_t ch : decoded) {
      if (IsDialling(ch)) digits += ch;
    }
    rs->AppendDialling(column, got);
    EXPECT_EQ(ToUtf8(got), ToUtf8(digits));
    rs->FieldText(column, trimmed, true);
    EXPECT_EQ(ToUtf8(trimmed), ToUtf8(Trim(decoded)));
  }
  // The same text written in the query finds the row, in the stored bytes
  // (queries on multi-byte code pages carry ASCII only).
  if (c.mark == 0x13) return;
  EXPECT_FALSE(Open(std::string("select * from cp where name= '") + c.expected + "'")->Eof());
}

INSTANTIATE_TEST_SUITE_P(Marks, DbfCodePageTest,
                         ::testing::Values(CodePageCase{0x03, "caf\xE9", "café"},      // 1252
                                           CodePageCase{0x02, "caf\xE9", "cafÚ"},      // 850
                                           CodePageCase{0x01, "caf\xE9", "cafΘ"},      // 437
                                           CodePageCase{0x01, "\x82t\x82", "été"},     // 437
                                           CodePageCase{0x64, "\xA5\x86", "ąć"},       // 852
                                           CodePageCase{0x65, "\x8C\xA8\xE0", "Мир"},  // 866
                                           CodePageCase{0xC8, "\x8A\xE8", "Šč"},       // 1250
                                           CodePageCase{0xC9, "\xCC\xE8\xF0", "Мир"},  // 1251
                                           CodePageCase{0x57, "\xE9", "é"},            // dBase ANSI driver
                                           CodePageCase{0x00, "caf\xC3\xA9", "café"},  // ANSI: UTF-8 here
                                           CodePageCase{0x03, "  +44 (0)20 7946-0000 x21  ", "  +44 (0)20 7946-0000 x21  "},
                                           CodePageCase{0x03, "*31# caf\xE9 9", "*31# café 9"},
                                           CodePageCase{0x01, "\x82t\x82 0161 496", "été 0161 496"},
                                           CodePageCase{0x65, "\x8C\xA8\xE0 8 800", "Мир 8 800"},
                                           // Shift-JIS: no trail byte is a digit
                                           CodePageCase{0x13, " \x93\x64\x98\x62 0120-33 ", " 電話 0120-33 "}));

TEST_F(DbfFolderTest, GreaterOrEqualFollowsTheCodePagesByteOrder) {
  // In 1252 "é" is byte 0xE9, above every ASCII letter; "Œ" is 0x8C.
  DbfWriter w(0x30);
  w.CodePage(0x03).Field("N", 'C', 3).Row({"\xE9t\xE9"}).Row({"zoo"}).Row({"\x8C" "uf"}).Row({"Abc"});
  Put("o.dbf", w.Build());
  EXPECT_EQ(Column("select * from o where n >= 'z'", "N"), (Rows{"'été'", "'zoo'", "'Œuf'"}));
  EXPECT_EQ(Column("select * from o where n >= 'é'", "N"), (Rows{"'été'"}));
  EXPECT_EQ(Column("select * from o where n >= 'Œ'", "N"), (Rows{"'été'", "'Œuf'"}));
  // The same bytes in 866 are Cyrillic letters with another order.
  DbfWriter r(0x30);
  r.CodePage(0x65).Field("N", 'C', 1).Row({"\x80"}).Row({"\xE9"}).Row({"z"});
  Put("r.dbf", r.Build());
  EXPECT_EQ(Column("select * from r where n >= 'А'", "N"), (Rows{"'А'", "'щ'"}));
  // A character the code page lacks is sent as "?", as the ANSI SQL was.
  EXPECT_EQ(Column("select * from o where n >= 'Ж'", "N"), (Rows{"'été'", "'zoo'", "'Œuf'", "'Abc'"}));
}

// --- Files ------------------------------------------------------------------

TEST_F(DbfFolderTest, NoFileStaysOpenBetweenCalls) {
  Put("t.dbf", Customers().Row({"A", "", "", ""}).Row({"B", "", "", ""}).Build());
  {
    auto rs = Open("select * from t");
    EXPECT_EQ(files.open_handles(), 0);  // the first block is read and the file closed
    EXPECT_EQ(files.opens(), 1);
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(files.open_handles(), 0);
    EXPECT_EQ(files.opens(), 2);  // once more at the end, for rows appended meanwhile
  }
  auto conn2 = OpenDbfFolder(u"/data");  // opening a connection opens no file
  EXPECT_EQ(files.opens(), 2);
}

// A table of 600 records of 1000 bytes (262 to a block), changed by another
// program after the scan's first row; K is the record number.
struct ChangeCase {
  const char* what;
  void (*change)(MemoryFiles& files, MemoryFiles::Bytes& bytes, DbfWriter& w);
  int rows;         // rows the scan returns
  double last;      // K of the last one
  bool fails;       // MoveNext fails once, then the result set is at its end
};

class DbfChangeTest : public DbfFolderTest, public ::testing::WithParamInterface<ChangeCase> {};

DbfWriter Numbered(int rows) {
  DbfWriter w(0x03);
  w.Field("K", 'N', 6).Field("PAD", 'C', 993);
  for (int i = 0; i < rows; ++i) w.Row({std::to_string(i), ""});
  return w;
}

const ChangeCase kChanges[] = {
    {"rows appended beyond the header's count are not read",
     [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter& w) { b->append(100 * w.RecordLength(), ' '); }, 600, 599,
     false},
    {"rows appended with the header's count: the scan goes on to them",
     [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter& w) {
       for (int i = 600; i < 700; ++i) w.Row({std::to_string(i), ""});
       *b = w.Build();
     },
     700, 699, false},
    {"rows rewritten in place are read as they are now",
     [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter& w) {
       b->replace(w.HeaderLength() + 599 * w.RecordLength() + 1, 6, "  1000");
     },
     600, 1000, false},
    {"a pack: fewer records in the header and the file",
     [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter& w) {
       DbfWriter::SetU32(b.get(), 4, 500);
       b->resize(w.HeaderLength() + 500 * w.RecordLength());
     },
     262, 261, true},
    {"the file cut with its header unchanged",
     [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter& w) { b->resize(w.HeaderLength() + 400 * w.RecordLength() + 37); },
     262, 261, true},
    {"the file emptied", [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter&) { b->clear(); }, 262, 261, true},
    {"the header rewritten with another layout",
     [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter&) {
       DbfWriter v(0x03);
       v.Field("K", 'N', 7).Field("PAD", 'C', 992);
       for (int i = 0; i < 600; ++i) v.Row({std::to_string(i), ""});
       *b = v.Build();
     },
     262, 261, true},
    {"the header's count raised past the file: the rows there are read",
     [](MemoryFiles&, MemoryFiles::Bytes& b, DbfWriter&) { DbfWriter::SetU32(b.get(), 4, 5000); }, 600, 599, false},
    {"replaced by another file with the same rows",
     [](MemoryFiles& f, MemoryFiles::Bytes&, DbfWriter& w) { f.Put(u"/data/big.dbf", w.Build()); }, 262, 261, true},
    {"renamed away", [](MemoryFiles& f, MemoryFiles::Bytes&, DbfWriter&) { f.Remove(u"/data/big.dbf"); }, 262, 261,
     true},
};

TEST_P(DbfChangeTest, EndsCleanlyOrReadsWhatIsThere) {
  const ChangeCase& c = GetParam();
  DbfWriter w = Numbered(600);
  auto bytes = Put("big.dbf", w.Build());
  auto rs = Open("select * from big");
  c.change(files, bytes, w);
  int rows = 0, failures = 0;
  double last = -1;
  while (!rs->Eof() && rows < 10000) {
    last = rs->Field(u"K").number();
    ++rows;
    try {
      rs->MoveNext();
    } catch (const Failure& f) {
      EXPECT_EQ(f.number, kDbfTableChanged) << c.what;
      EXPECT_NE(ToUtf8(f.description).find("its scan ended"), std::string::npos) << ToUtf8(f.description);
      ++failures;
    }
  }
  EXPECT_EQ(rows, c.rows) << c.what;
  EXPECT_EQ(last, c.last) << c.what;
  EXPECT_EQ(failures, c.fails ? 1 : 0) << c.what;
  EXPECT_EQ(files.open_handles(), 0) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Tables, DbfChangeTest, ::testing::ValuesIn(kChanges));

TEST_F(DbfFolderTest, ReadsInSmallPiecesAndReadErrorsEndTheScan) {
  DbfWriter w = Numbered(600);
  Put("big.dbf", w.Build());
  files.read_chunk = 7;
  auto count = [&] {
    int n = 0;
    for (auto rs = Open("select * from big"); !rs->Eof(); rs->MoveNext()) ++n;
    return n;
  };
  EXPECT_EQ(count(), 600);
  files.read_chunk = 0;
  files.fail_reads_from = w.HeaderLength() + 300 * w.RecordLength();
  // The records before the failing read, then one failure.
  auto rs = Open("select * from big");
  int n = 0;
  for (; n < 299; ++n) rs->MoveNext();
  try {
    rs->MoveNext();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number, kDbfTableChanged);
    EXPECT_NE(ToUtf8(f.description).find("could not be read past record 300"), std::string::npos);
  }
  EXPECT_TRUE(rs->Eof());
  files.fail_reads_from = 10;
  EXPECT_EQ(FailureOf("select * from big").first, kDbfBadTable);
  EXPECT_EQ(files.open_handles(), 0);
}

// --- Damaged files ----------------------------------------------------------

using Damage = std::function<void(std::string& file, const DbfWriter& w)>;

struct DamageCase {
  const char* what;
  Damage damage;
  int number;            // 0: the query opens and reads `rows` rows
  const char* reason;    // part of the description
  int rows;
};

class DbfDamageTest : public DbfFolderTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DbfDamageTest, FailsCleanlyOrReadsWhatIsThere) {
  const DamageCase& c = GetParam();
  DbfWriter w(0x30);
  w.Field("A", 'C', 4).Field("B", 'N', 5, 0, true).Row({"one", "1"}).Row({"two", std::nullopt}).Row({"three", "3"});
  std::string file = w.Build();
  c.damage(file, w);
  Put("bad.dbf", file);
  if (c.number) {
    auto [number, description] = FailureOf("select * from bad");
    EXPECT_EQ(number, c.number) << c.what;
    EXPECT_NE(description.find(c.reason), std::string::npos) << c.what << ": " << description;
  } else {
    int n = 0;
    for (auto rs = Open("select * from bad"); !rs->Eof(); rs->MoveNext()) {
      rs->Field(u"A");
      rs->Field(u"B");
      ++n;
    }
    EXPECT_EQ(n, c.rows) << c.what;
  }
  EXPECT_EQ(files.open_handles(), 0) << c.what;
}

Damage Cut(size_t size) { return [=](std::string& f, const DbfWriter&) { f.resize(size); }; }
Damage Byte(size_t at, char v) { return [=](std::string& f, const DbfWriter&) { f[at] = v; }; }
Damage U16(size_t at, uint16_t v) { return [=](std::string& f, const DbfWriter&) { DbfWriter::SetU16(&f, at, v); }; }
Damage Count(uint32_t n) { return [=](std::string& f, const DbfWriter&) { DbfWriter::SetU32(&f, 4, n); }; }
constexpr size_t kHeaderAt = DbfWriter::kHeaderLengthAt, kRecordAt = DbfWriter::kRecordLengthAt;
const int kBad = kDbfBadTable;

const DamageCase kDamage[] = {
    {"empty file", Cut(0), kBad, "too short"}, {"truncated in the fixed header", Cut(20), kBad, "too short"},
    {"truncated in the descriptors", Cut(50), kBad, "goes beyond the end of the file"},
    {"header length beyond the file", U16(kHeaderAt, 0xFFF0), kBad, "header length (65520) goes beyond the end of the file"},
    {"header length too small", U16(kHeaderAt, 32), kBad, "too small for any field"},
    {"header length cuts a descriptor", U16(kHeaderAt, 32 + 32 + 16), kBad, "run past the header length"},
    {"record length 0", U16(kRecordAt, 0), kBad, "record length is 0"},
    {"record length smaller than the fields", U16(kRecordAt, 6), kBad, "beyond the record length"},
    {"field longer than the record", Byte(DbfWriter::FieldLengthAt(1), static_cast<char>(200)), kBad,
     "the field B ends at byte 205, beyond the record length (11)"},
    {"field of length 0", Byte(DbfWriter::FieldLengthAt(0), 0), kBad, "the field A has length 0"},
    {"no fields", Byte(DbfWriter::DescriptorAt(0), 0x0D), kBad, "has no fields"},
    {"only the hidden null flags",
     [](std::string& f, const DbfWriter&) {
       f.erase(DbfWriter::DescriptorAt(0), 64);
       f.insert(DbfWriter::DescriptorAt(1), 64, '\0');
     },
     kBad, "has no fields"},
    {"unknown version byte", Byte(0, 0x00), kBad, "unknown version byte 0x00"},
    {"a text file", [](std::string& f, const DbfWriter&) { f = std::string(400, 'x'); }, kBad, "unknown version byte 0x78"},
    {"null flags field of length 0", Byte(DbfWriter::FieldLengthAt(2), 0), kBad, "the field _NullFlags has length 0"},
    {"record count high", Count(1000000000), 0, "", 3}, {"record count at most", Count(0xFFFFFFFFu), 0, "", 3},
    {"record count low", Count(1), 0, "", 1}, {"record count 0", Count(0), 0, "", 0},
    {"last record cut", [](std::string& f, const DbfWriter&) { f.resize(f.size() - 6); }, 0, "", 2},
    {"no records at all", [](std::string& f, const DbfWriter& w) { f.resize(w.HeaderLength()); }, 0, "", 0},
    {"header length a little too long",
     [](std::string& f, const DbfWriter& w) { DbfWriter::SetU16(&f, kHeaderAt, static_cast<uint16_t>(w.HeaderLength() + 5)); },
     0, "", 2},
    {"record length far too long", U16(kRecordAt, 0xFFFF), 0, "", 0},
    {"type bytes in lower case", Byte(DbfWriter::DescriptorAt(0) + 11, 'c'), 0, "", 3},
    {"unknown field type", Byte(DbfWriter::DescriptorAt(1) + 11, 'X'), 0, "", 3},
};

INSTANTIATE_TEST_SUITE_P(Files, DbfDamageTest, ::testing::ValuesIn(kDamage));

TEST_F(DbfFolderTest, NullFlagsShorterThanTheirBitsReadAsNotNull) {
  DbfWriter w(0x30);
  for (int i = 0; i < 10; ++i) w.Field("F" + std::to_string(i), 'N', 2, 0, true);
  std::vector<DbfValue> nulls(10, std::nullopt);
  std::string file = w.Row(nulls).Build();
  // Ten null bits need two bytes; the header now claims one.
  file[DbfWriter::FieldLengthAt(10)] = 1;
  Put("nf.dbf", file);
  EXPECT_EQ(Column("select * from nf", "F7"), (Rows{"null"}));
  EXPECT_EQ(Column("select * from nf", "F8"), (Rows{"D0"}));
  EXPECT_EQ(Column("select * from nf", "F9"), (Rows{"D0"}));
}

TEST_F(DbfFolderTest, HeaderWithoutTerminatorEndsAtTheHeaderLength) {
  DbfWriter w(0x03);
  w.Field("A", 'C', 3).Row({"abc"});
  std::string file = w.Build();
  // Drop the terminator and shorten the header to end right after the one descriptor.
  file.erase(64, 1);
  DbfWriter::SetU16(&file, DbfWriter::kHeaderLengthAt, 64);
  Put("nt.dbf", file);
  EXPECT_EQ(Column("select * from nt", "A"), (Rows{"'abc'"}));
}

// A data source whose folder is gone must fail to open, so that the plug-in
// registers it anew with the folder its settings name now.
TEST_F(DbfFolderTest, AConnectionOverAMissingFolderFails) {
  try {
    OpenDbfFolder(u"/gone");
    FAIL() << "opened a missing folder";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number, kDbfCannotOpen);
    EXPECT_EQ(ToUtf8(f.description), "The data folder /gone does not exist or cannot be read");
  }
  files.MakeFolder(u"/empty");
  EXPECT_NE(OpenDbfFolder(u"/empty"), nullptr);  // an empty folder is a folder
}

}  // namespace
}  // namespace ledra::testing
