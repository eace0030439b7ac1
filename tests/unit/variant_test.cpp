#include "base/variant.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/errors.h"
#include "fakes/fake_platform.h"

namespace ledra {
namespace {

using testing::PlatformTest;

// The description of the failure f raises, "" when it raises none.
template <class F>
std::string FailureOf(F&& f) {
  try {
    f();
  } catch (const Failure& e) {
    return ToUtf8(e.description);
  }
  return "";
}

TEST(ValTest, ReadsTheLeadingNumber) {
  struct Case { const char16_t* text; double want; };
  const Case cases[] = {
      {u"12abc", 12}, {u" 1 2 3", 123}, {u"\t1\n2", 12}, {u"-3.5e2x", -350}, {u"+7", 7}, {u"- 5", -5}, {u"abc", 0},
      {u"", 0}, {u"-", 0}, {u".", 0}, {u".5", 0.5}, {u"5.", 5}, {u"1.5.6", 1.5}, {u"1,5", 1}, {u"1e", 1}, {u"1e+", 1},
      {u"1E-2", 0.01}, {u"2d2", 200}, {u"&H10", 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(Val(c.text), c.want) << ToUtf8(c.text);
  EXPECT_EQ(FailureOf([] { Val(u"1e999"); }), "Overflow");
}

class TextFormTest : public PlatformTest {};

TEST_F(TextFormTest, InvariantForms) {
  struct Case { Var value; const char* want; };
  const Case cases[] = {
      {Var(), ""}, {Var::Byte(255), "255"}, {Var::Integer(-12), "-12"}, {Var::Long(2147483647), "2147483647"},
      {Var::Single(0.047f), "0.047"}, {Var::Single(1.0f / 3.0f), "0.3333333"},
      {Var::Double(0.1 + 0.2), "0.3"},  // 15 significant digits
      {Var::Double(1.0 / 3.0), "0.333333333333333"}, {Var::Double(1e16), "1E+16"}, {Var::Double(1e-5), "1E-05"},
      {Var::Double(123456789012345.0), "123456789012345"}, {Var::Currency(12345), "1.2345"},
      {Var::Currency(-50000), "-5"}, {Var::Date(46362.5), "12/6/2026 12:00:00 PM"}, {Var::Date(46023), "1/1/2026"},
      {Var::Date(0.75), "6:00:00 PM"}, {Var::Boolean(true), "True"}, {Var(u"a b"), "a b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToUtf8(CStr(c.value)), c.want) << c.want;
    EXPECT_EQ(ToUtf8(TextForm(c.value)), c.want) << c.want;
  }
  // Null and objects.
  const Var object = Var::Obj(std::make_shared<Object>());
  EXPECT_EQ(FailureOf([] { CStr(Var::Null()); }), "Invalid use of Null");
  EXPECT_EQ(ToUtf8(TextForm(Var::Null())), "");
  EXPECT_EQ(FailureOf([&] { CStr(object); }), "Type mismatch");
  EXPECT_EQ(FailureOf([&] { TextForm(object); }), "Type mismatch");
}

class ConversionTest : public PlatformTest {};

// CBool (true as 1) and CInt, which rounds half to even and checks the range.
TEST_F(ConversionTest, CBoolAndCInt) {
  using Routine = int (*)(const Var&);
  const Routine bool_of = [](const Var& v) { return CBool(v) ? 1 : 0; };
  const Routine integer_of = [](const Var& v) { return static_cast<int>(CInt(v)); };
  struct Case { Routine routine; Var value; int want; const char* failure; };
  const Case cases[] = {
      {bool_of, Var(), 0, ""}, {bool_of, Var::Integer(0), 0, ""}, {bool_of, Var::Integer(5), 1, ""},
      {bool_of, Var::Boolean(true), 1, ""}, {bool_of, Var(u"True"), 1, ""}, {bool_of, Var(u"false"), 0, ""},
      {bool_of, Var(u" 0 "), 0, ""}, {bool_of, Var(u"0.5"), 1, ""}, {bool_of, Var(u"yes"), 0, "Type mismatch"},
      {bool_of, Var(u""), 0, "Type mismatch"}, {bool_of, Var::Null(), 0, "Invalid use of Null"},
      {integer_of, Var::Double(2.5), 2, ""}, {integer_of, Var::Double(3.5), 4, ""},
      {integer_of, Var::Double(2.6), 3, ""}, {integer_of, Var::Double(32767.4), 32767, ""},
      {integer_of, Var::Double(-32768.5), -32768, ""}, {integer_of, Var::Double(32767.5), 0, "Overflow"},
      {integer_of, Var::Long(32768), 0, "Overflow"}, {integer_of, Var::Long(-32769), 0, "Overflow"},
      {integer_of, Var(u" 12 "), 12, ""}, {integer_of, Var(u"abc"), 0, "Type mismatch"},
      {integer_of, Var::Boolean(true), -1, ""}, {integer_of, Var(), 0, ""},
  };
  for (const auto& c : cases) {
    const std::string where = ToUtf8(TextForm(c.value)) + (c.routine == bool_of ? " CBool" : " CInt");
    int got = 999;
    EXPECT_EQ(FailureOf([&] { got = c.routine(c.value); }), c.failure) << where;
    if (!*c.failure) {
      EXPECT_EQ(got, c.want) << where;
    }
  }
}

}  // namespace
}  // namespace ledra
