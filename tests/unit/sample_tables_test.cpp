// The sample tables read back through the real engine, from files on the
// local disk; the known contacts are found by the stress test's hosts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dbf/dbf_connection.h"
#include "fakes/fake_platform.h"
#include "fakes/temp_folder.h"
#include "platform/native/native_files.h"
#include "tools/dbf_writer.h"
#include "tools/sample_tables.h"

namespace ledra {
namespace {

using sample::CompanyOptions;
using sample::CompanySummary;
using sample::GenerateCompany;

constexpr uint64_t kRows = 300;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SampleTablesTest : public testing::PlatformTest {
 protected:
  SampleTablesTest() { sys.platform.files = &files; }

  NativeFiles files;
  testing::TempFolder temp;
};

struct Variant { const char* label; bool vfp; uint8_t version; };

const Variant kVariants[] = {{"FoxPro2", false, 0x03}, {"VisualFoxPro", true, 0x30}};

// The header's description of a table is the engine's to test
// (InspectTable) and the live rows the export's (ledra_tool_test); here the
// format each variant asks for, and a few deleted rows.
TEST_F(SampleTablesTest, TablesHaveTheirVariantsFormatAndAFewDeletedRows) {
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.label);
    std::string folder = temp.Sub(v.label);
    CompanyOptions options;
    options.visual_foxpro = v.vfp;
    CompanySummary made = GenerateCompany(folder, "a_", kRows, 7, options);
    for (const sample::TableSummary* t : {&made.suppliers, &made.customers}) {
      TableInfo info = InspectTable(FromUtf8(folder), FromUtf8(std::filesystem::path(t->path).stem().string()));
      EXPECT_EQ(info.version, v.version);
      EXPECT_EQ(info.codepage, 1252u);
      EXPECT_EQ(info.rows, kRows);
      EXPECT_EQ(info.deleted, t->deleted);
      EXPECT_GT(t->deleted, 0u);
      EXPECT_LT(t->deleted, kRows / 10);
      bool nullable = false;
      for (const DbfFieldInfo& f : info.fields) nullable |= f.nullable;
      EXPECT_EQ(nullable, v.vfp);
    }
  }
}

TEST_F(SampleTablesTest, SameSeedSameBytesOtherSeedOtherRows) {
  struct Case { const char* label; uint64_t seed; bool vfp; bool same; };
  const Case cases[] = {{"same-seed", 42, false, true}, {"same-seed-vfp", 42, true, true}, {"other-seed", 43, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CompanyOptions options;
    options.visual_foxpro = c.vfp;
    std::string a = temp.Sub(std::string(c.label) + "-a");
    std::string b = temp.Sub(std::string(c.label) + "-b");
    GenerateCompany(a, "a_", kRows, 42, options);
    GenerateCompany(b, "a_", kRows, c.seed, options);
    for (const char* name : {"/a_pname.dbf", "/a_sname.dbf"}) {
      EXPECT_EQ(Slurp(a + name) == Slurp(b + name), c.same) << name;
    }
  }
}

TEST_F(SampleTablesTest, StreamWriterValuesReadBack) {
  std::string folder = temp.Sub("writer");
  tool::DbfStreamWriter w;
  tool::DbfFormat format;
  format.version = 0x30;
  w.Open(folder + "/t.dbf",
         {{"NAME", 'C', 12, 0, true}, {"AMOUNT", 'N', 9, 2, false}, {"DAY", 'D', 8, 0, true}, {"OK", 'L', 1, 0, false}},
         format, 1);  // a flush after every row
  w.BeginRow();
  w.SetText(0, "Acme Ltd and more");  // cut to the width
  w.SetNumber(1, -12.5);
  w.SetDate(2, 2024, 2, 29);
  w.SetLogical(3, true);
  w.EndRow();
  w.BeginRow(true);
  w.SetText(0, "gone");
  w.EndRow();
  w.BeginRow();
  w.SetNull(0);
  w.SetNumber(1, 1234567.891);  // too wide for N(9,2)
  w.SetNull(2);
  w.SetLogical(3, false);
  w.EndRow();
  w.Close();
  EXPECT_EQ(w.rows(), 3u);

  auto rs = OpenDbfFolder(FromUtf8(folder))->OpenResultset(u"select * from t");
  struct Expected { const char* name; const char* amount; const char* day; const char* ok; };
  const Expected rows[] = {{"Acme Ltd and", "-12.5", "2024-02-29", "True"}, {"", "", "", "False"}};
  const Expected* e = rows;
  for (; !rs->Eof(); rs->MoveNext(), ++e) {
    ASSERT_LT(e - rows, 2);
    EXPECT_EQ(ToUtf8(TextForm(rs->Field(u"name"))), e->name);
    Var amount = rs->Field(u"amount");
    EXPECT_EQ(amount.IsNull() ? "" : ToUtf8(TextForm(amount)), e->amount);
    Var day = rs->Field(u"day");
    EXPECT_EQ(day.IsNull(), !*e->day);
    EXPECT_EQ(ToUtf8(TextForm(rs->Field(u"ok"))), e->ok);
  }
  EXPECT_EQ(e - rows, 2);
}

}  // namespace
}  // namespace ledra
