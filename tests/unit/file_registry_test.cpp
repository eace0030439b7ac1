#include "base/file_registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace ledra {
namespace {

using testing::PlatformTest;

class FileRegistryTest : public PlatformTest {};

std::string U8(const Text& t) { return ToUtf8(t); }

// A path's file and folder; "/" is an ordinary character.
TEST_F(FileRegistryTest, FileEndAndFilePath) {
  struct Row { const char16_t* path; const char16_t* file; const char16_t* folder; };
  const Row rows[] = {
      {u"C:\\Data\\ledger.dbf", u"ledger.dbf", u"C:\\Data"}, {u"C:\\file.dbf", u"file.dbf", u"C:"},
      {u"ledger.dbf", u"ledger.dbf", u""}, {u"C:\\Data\\", u"", u"C:\\Data"}, {u"", u"", u""}, {u"   ", u"   ", u""},
      {u"\\x", u"x", u""}, {u" \\x", u"x", u" "}, {u"C:/Data/ledger.dbf", u"C:/Data/ledger.dbf", u""},
      {u"C:\\My Data\\a b.dbf ", u"a b.dbf ", u"C:\\My Data"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(U8(r.path));
    EXPECT_EQ(U8(FileEnd(r.path)), U8(r.file));
    EXPECT_EQ(U8(FilePath(r.path)), U8(r.folder));
  }
  EXPECT_TRUE(sys.Failures().empty());
}

constexpr uint32_t kHklm = Registry::kLocalMachine;
constexpr uint32_t kHkcu = Registry::kCurrentUser;
const char16_t* const kKey = u"SOFTWARE\\Test\\App";

// Text values are written in UTF-8 and kept in UTF-16, as Windows keeps them.
struct RawValue {
  uint32_t root;
  const char16_t* key;
  const char16_t* name;
  uint32_t type;
  std::string bytes;
  Registry::View view = Registry::View::Own;
};

// Each row gets its own platform, so its registry starts empty.
TEST(FileRegistryValues, RegistryGet) {
  struct Row {
    const char* name;
    std::vector<RawValue> setup;
    const char16_t* value_name;
    std::optional<Var> def;
    uint32_t root;
    VarKind expected_kind;
    std::string expected_text;  // text result, or the number's decimal form
  };
  const std::string long_text(1000, 'a');  // 2000 bytes before its zero
  const std::string fits = std::string(999, 'b') + '\0';  // exactly 2000 bytes
  const std::string seven_hundred = std::string("\xbc\x02\x00\x00", 4);  // 700, little-endian
  const Row rows[] = {
      {"missing key, text default", {}, u"Path", Var(u"c:\\app"), 0, VarKind::String, "c:\\app"},
      {"missing key, no default", {}, u"Path", std::nullopt, 0, VarKind::String, ""},
      {"missing value, text default", {{kHklm, kKey, u"Other", 1, std::string("x\0", 2)}}, u"Path",
       Var(u"c:\\app"), 0, VarKind::String, "c:\\app"},
      {"number default, missing key: its text", {}, u"Count", Var::Integer(7), 0, VarKind::String, "7"},
      {"number default, missing value: the number", {{kHklm, kKey, u"Other", 4, seven_hundred}}, u"Count",
       Var::Integer(7), 0, VarKind::Integer, "7"},
      {"number default, present value", {{kHklm, kKey, u"Count", 4, seven_hundred}}, u"Count",
       Var::Integer(7), 0, VarKind::Long, "700"},
      {"32-bit default, present value", {{kHklm, kKey, u"Count", 4, seven_hundred}}, u"Count",
       Var::Long(7), 0, VarKind::Long, "700"},
      // The type in the registry is not checked: "1" and its zero as a number.
      {"number default, text value", {{kHklm, kKey, u"Count", 1, std::string("1\0", 2)}}, u"Count",
       Var::Integer(7), 0, VarKind::Long, "49"},
      {"fractional default is a text default", {{kHklm, kKey, u"Other", 1, std::string("x\0", 2)}},
       u"Count", Var::Double(7.5), 0, VarKind::String, "7.5"},
      {"text value with its zero",
       {{kHklm, kKey, u"Path", 1, std::string("C:\\Program Files\\App\0", 21)}}, u"Path", Var(u"c:\\app"), 0,
       VarKind::String, "C:\\Program Files\\App"},
      {"blanks of the value itself stay", {{kHklm, kKey, u"Path", 1, std::string("C:\\My App  \0", 12)}},
       u"Path", std::nullopt, 0, VarKind::String, "C:\\My App  "},
      {"value without zero loses its trailing blanks", {{kHklm, kKey, u"Path", 1, "abc  "}}, u"Path",
       std::nullopt, 0, VarKind::String, "abc"},
      {"what follows the zero is dropped", {{kHklm, kKey, u"Path", 1, std::string("ab\0cd\0", 6)}}, u"Path",
       std::nullopt, 0, VarKind::String, "ab"},
      {"value of 2000 bytes fits", {{kHklm, kKey, u"Path", 1, fits}}, u"Path", Var(u"d"), 0,
       VarKind::String, std::string(999, 'b')},
      {"expandable text is expanded", {{kHklm, kKey, u"Path", 2, std::string("%HOME%\\App\0", 11)}}, u"Path",
       std::nullopt, 0, VarKind::String, "C:\\Users\\Ann\\App"},
      {"plain text is not", {{kHklm, kKey, u"Path", 1, std::string("%HOME%\\App\0", 11)}}, u"Path",
       std::nullopt, 0, VarKind::String, "%HOME%\\App"},
      {"the 32-bit view is another registry", {{kHklm, kKey, u"Path", 1, "x", Registry::View::Bits32}}, u"Path",
       Var(u"d"), 0, VarKind::String, "d"},
      {"longer value gives the default", {{kHklm, kKey, u"Path", 1, long_text + '\0'}}, u"Path", Var(u"d"),
       0, VarKind::String, "d"},
      {"another root given", {{kHkcu, kKey, u"Path", 1, std::string("cu\0", 3)}}, u"Path", std::nullopt,
       kHkcu, VarKind::String, "cu"},
      {"another root does not see the local machine", {{kHklm, kKey, u"Path", 1, std::string("lm\0", 3)}},
       u"Path", Var(u"none"), kHkcu, VarKind::String, "none"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform fresh;
    fresh.registry.environment["HOME"] = "C:\\Users\\Ann";
    for (const RawValue& v : r.setup) fresh.registry.SetRaw(v.root, v.key, v.name, v.type, v.bytes, v.view);
    Var got = RegistryGet(kKey, r.value_name, r.def, r.root);
    EXPECT_EQ(got.kind(), r.expected_kind);
    EXPECT_EQ(U8(CStr(got)), r.expected_text);
    EXPECT_EQ(fresh.registry.open_handles(), 0);
    EXPECT_TRUE(fresh.Failures().empty());
  }
}

// The accounting application is a 32-bit program: its installation writes
// to the 32-bit view, which this 64-bit test process reads first.
TEST(FileRegistryValues, LedraFolder) {
  struct Row { const char* name; std::vector<RawValue> setup; const char* expected; };
  const auto own = Registry::View::Own, bits32 = Registry::View::Bits32;
  const Row rows[] = {
      {"not installed", {}, ""},
      {"64-bit view only", {{kHklm, kLedraKey, kLedraPathValue, 1, "D:\\Ledra\\", own}}, "D:\\Ledra"},
      {"32-bit view only", {{kHklm, kLedraKey, kLedraPathValue, 1, "C:\\Ledra II", bits32}}, "C:\\Ledra II"},
      {"the 32-bit view first",
       {{kHklm, kLedraKey, kLedraPathValue, 1, "D:\\Ledra", own},
        {kHklm, kLedraKey, kLedraPathValue, 1, "C:\\L", bits32}},
       "C:\\L"},
      {"an empty 32-bit value counts for nothing",
       {{kHklm, kLedraKey, kLedraPathValue, 1, "D:\\Ledra", own}, {kHklm, kLedraKey, kLedraPathValue, 1, "", bits32}},
       "D:\\Ledra"},
      {"expanded, unquoted", {{kHklm, kLedraKey, kLedraPathValue, 2, "\"%PF%\\Ledra II\\\"", bits32}},
       "C:\\Program Files (x86)\\Ledra II"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::FakePlatform fresh;
    fresh.registry.environment["PF"] = "C:\\Program Files (x86)";
    for (const RawValue& v : r.setup) fresh.registry.SetRaw(v.root, v.key, v.name, v.type, v.bytes, v.view);
    EXPECT_EQ(U8(LedraFolder()), r.expected);
  }
}

}  // namespace
}  // namespace ledra
