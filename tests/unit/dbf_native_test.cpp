// The native build's file system and code page conversions, and the engine
// over real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "fakes/temp_folder.h"
#include "platform/native/native_files.h"
#include "unit/dbf_test_support.h"

namespace ledra::testing {
namespace {

struct DecodeCase {
  uint32_t codepage;
  std::string bytes;
  const char* expected;  // UTF-8
};

class NativeDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(NativeDecodeTest, DecodesTheCodePage) {
  const DecodeCase& c = GetParam();
  InvariantLocale locale;
  EXPECT_EQ(ToUtf8(locale.Decode(c.codepage, c.bytes.data(), c.bytes.size())), c.expected) << c.codepage;
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, NativeDecodeTest,
    // The single-byte code pages' letters are the engine's code page test's.
    ::testing::Values(DecodeCase{1252, "caf\xE9 \x80\x9C", "café €œ"},
                      // Bytes a code page leaves undefined become U+FFFD.
                      DecodeCase{1252, "a\x81z", "a\xEF\xBF\xBDz"},
                      // 0: the native ANSI code page, UTF-8; broken sequences give U+FFFD.
                      DecodeCase{0, "caf\xC3\xA9 \xE2\x82\xAC", "café €"}, DecodeCase{0, "a\xC3", "a\xEF\xBF\xBD"},
                      DecodeCase{0, "\xFF" "b", "\xEF\xBF\xBD" "b"}, DecodeCase{0, "\xF0\x9F\x98\x80", "😀"},
                      DecodeCase{0, "\xC0\xAF", "\xEF\xBF\xBD"},
                      // A double-byte code page.
                      DecodeCase{932, "a\x82\xA0", "aあ"},
                      // A code page nobody knows: ASCII only.
                      DecodeCase{1, "ab\xE9", "ab\xEF\xBF\xBD"}, DecodeCase{1252, "", ""}));

class NativeFilesTest : public PlatformTest {
 protected:
  NativeFilesTest() { sys.platform.files = &files; }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(temp.path + "/" + name, std::ios::binary) << bytes;
  }
  TempFolder temp;
  NativeFiles files;
};

TEST_F(NativeFilesTest, JoinListAndOpen) {
  EXPECT_EQ(ToUtf8(files.Join(u"/a/b", u"t.dbf")), "/a/b/t.dbf");
  EXPECT_EQ(ToUtf8(files.Join(u"/a/b/", u"t.dbf")), "/a/b/t.dbf");
  EXPECT_EQ(ToUtf8(files.Join(u"c:\\Ledra II\\data", u"t.dbf")), "c:/Ledra II/data/t.dbf");
  EXPECT_EQ(ToUtf8(files.Join(u"", u"t.dbf")), "t.dbf");

  Write("One.DBF", "0123456789");
  Write("two.txt", "");
  auto names = files.List(FromUtf8(temp.path));
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(ToUtf8(names[0]), "One.DBF");
  EXPECT_EQ(ToUtf8(names[1]), "two.txt");
  EXPECT_TRUE(files.List(u"/no/such/folder").empty());

  Text error;
  auto f = files.OpenShared(FromUtf8(temp.path + "/One.DBF"), &error);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Size(), 10);
  char buf[8] = {};
  EXPECT_EQ(f->ReadAt(6, buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_EQ(f->ReadAt(10, buf, sizeof buf), 0);
  EXPECT_EQ(f->ReadAt(1000, buf, sizeof buf), 0);

  EXPECT_EQ(files.OpenShared(FromUtf8(temp.path + "/missing.dbf"), &error), nullptr);
  EXPECT_EQ(ToUtf8(error), "No such file or directory");
  EXPECT_EQ(files.OpenShared(FromUtf8(temp.path), &error), nullptr);  // a folder is no table
  EXPECT_EQ(ToUtf8(error), "not a regular file");
}

TEST_F(NativeFilesTest, QueriesOverAFolderGivenWithBackslashes) {
  DbfWriter w(0x30);
  w.CodePage(0x03).Field("SN_ACCOUNT", 'C', 6).Field("SN_NAME", 'C', 8);
  w.Row({"A1", "caf\xE9"}).DeletedRow({"A2", "gone"}).Row({"A3", "Zed"});
  Write("X_SNAME.DBF", w.Build());
  Text folder = FromUtf8(temp.path);
  for (char16_t& c : folder) c = c == u'/' ? u'\\' : c;
  auto conn = OpenDbfFolder(folder);
  auto rs = conn->OpenResultset(u"select * from x_sname where sn_name  >= 'Z'");
  std::vector<std::string> got;
  for (; !rs->Eof(); rs->MoveNext()) got.push_back(Show(rs->Field(u"sn_name")));
  EXPECT_EQ(got, (std::vector<std::string>{"'café    '", "'Zed     '"}));
}

}  // namespace
}  // namespace ledra::testing
