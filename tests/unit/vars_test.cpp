#include "base/vars.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace ledra {
namespace {

using testing::PlatformTest;

// What a read is expected to give: the kind, and the text or the number.
struct Expect { VarKind kind; Text text; double number; };

Expect Empty() { return {VarKind::Empty, u"", 0}; }
Expect Str(const Text& t) { return {VarKind::String, t, 0}; }
Expect Num(double v) { return {VarKind::Double, u"", v}; }
Expect Date(double v) { return {VarKind::Date, u"", v}; }

void ExpectVar(const Var& got, const Expect& want, const std::string& where) {
  ASSERT_EQ(static_cast<int>(got.kind()), static_cast<int>(want.kind)) << where;
  if (want.kind == VarKind::String) {
    EXPECT_EQ(ToUtf8(got.text()), ToUtf8(want.text)) << where;
  } else if (want.kind != VarKind::Empty) {
    EXPECT_DOUBLE_EQ(got.number(), want.number) << where;
  }
}

class GetVarTest : public PlatformTest {};

// Reading, and the failures it logs (none unless given); a failure ends
// the reading with what was read so far.
TEST_F(GetVarTest, ReadsEntries) {
  struct Case { const char16_t* vars; const char16_t* key; Expect want; std::vector<std::string> failures; };
  const std::vector<std::string> mismatch{"Type mismatch @ basGlobal.GetVar"};
  const Case cases[] = {
      {u"", u"A", Empty()}, {u"{B=1}{C(S1)=2}", u"A", Empty()}, {u"{TEL(S3)=123}", u"tel", Str(u"123")},
      {u"{\u00C4(S1)=1}", u"\u00E4", Str(u"1")},                       // accented letters fold too
      {u"{Tel=1}{Tel(S1)=2}", u"Tel", Str(u"2")},                     // typed wins, wherever it stands
      {u"{A=x}y}", u"A", Str(u"x")},                                  // plain value ends at the first "}"
      {u"{A=}", u"A", Str(u"")},
      {u"{B=1}{A=open", u"A", Str(u"open")},                          // no "}": up to the end
      {u"{A(S3)=x}y}", u"A", Str(u"x}y")},                            // typed value is taken by length
      {u"{A(S10)=abc}", u"A", Str(u"abc}")},                          // length past the end: what exists
      {u"{A(2147483647)=ab}", u"A", Str(u"=ab}")},                    // the largest length fills the ten
      {u"{A(S3)=", u"A", Str(u"")}, {u"{A(S12)=abcdefghijkl}", u"A", Str(u"abcdefghijkl")},
      {u"{List1(S27)={Name(S4)=Anna}{Id(S3)=A01}}", u"id", Str(u"A01")},
      {u"{List1(S27)={Name(S4)=Anna}{Id(S3)=A01}}", u"List1", Str(u"{Name(S4)=Anna}{Id(S3)=A01}")},
      {u"{Note(S9)={A(S1)=z}}", u"A", Str(u"z")},                     // text that looks like an entry
      {u"{AB(S1)=1}{XA(S1)=2}", u"A", Empty()},                       // names match whole
      {u"{ListCount(N2)=12}", u"ListCount", Num(12)}, {u"{T(N4)=-2.5}", u"T", Num(-2.5)},
      {u"{T(N5)=0.047}", u"T", Num(0.047)}, {u"{T(N5)=1E+16}", u"T", Num(1e16)},
      {u"{T(N4)=12ab}", u"T", Num(12)},                               // number at the start only
      {u"{T(N5)=1 2 3}", u"T", Num(123)}, {u"{T(N3)=abc}", u"T", Num(0)},
      {u"{T(N3)=1,5}", u"T", Num(1)},                                 // only "." is a decimal point
      {u"{X(N0)=}", u"X", Num(0)},
      {u"{X(n1)=5}", u"X", Str(u"5")}, {u"{X(Q2)=42}", u"X", Str(u"42")},  // letters compare exactly
      {u"{Key(2)=abc}", u"Key", Str(u"ab")},                          // no letter: text by length
      {u"{A(S2.5)=abcd}", u"A", Str(u"ab")},                          // length rounds half to even
      {u"{A(S3.5)=abcd}", u"A", Str(u"abcd")},
      {u"{A(S3)xxxxxxxxxxyz}", u"A", Str(u"xxy")},                    // no "=" in the ten: value after them
      {u"{D(D21)=12/6/2026 12:00:00 PM}", u"D", Date(46362.5)}, {u"{D(D10)=6:00:00 PM}", u"D", Date(0.75)},
      {u"{D(D9)=2/29/2028}", u"D", Date(46812)}, {u"{D(D10)=2026-12-06}", u"D", Date(46362)},
      {u"{A(D3)=abc}", u"A", Empty(), mismatch}, {u"{A(D0)=}", u"A", Empty(), mismatch},
      {u"{A(D9)=13/1/2026}", u"A", Empty(), mismatch}, {u"{A(D9)=2/29/2026}", u"A", Empty(), mismatch},
      {u"{A(D10)=2026-13-01}", u"A", Empty(), mismatch}, {u"{A(D5)=12:-5}", u"A", Empty(), mismatch},
      {u"{A(S-2)=abc}", u"A", Str(u""), {"Invalid procedure call or argument @ basGlobal.GetVar"}},
      {u"{A(-2)=abc}", u"A", Str(u""), {"Invalid procedure call or argument @ basGlobal.GetVar"}},
      {u"{A(2147483648)=x}", u"A", Str(u""), {"Overflow @ basGlobal.GetVar"}},
      {u"{A(N5)=1e999}", u"A", Empty(), {"Overflow @ basGlobal.GetVar"}},
      // the letter test fails: reading goes on as for an entry without a letter
      {u"{A(1e999)=x}", u"A", Str(u""), {"Overflow @ basGlobal.GetVar", "Overflow @ basGlobal.GetVar"}},
  };
  for (const auto& c : cases) {
    sys.log.lines.clear();
    const std::string where = ToUtf8(c.vars) + " / " + ToUtf8(c.key);
    ExpectVar(GetVar(c.vars, c.key), c.want, where);
    EXPECT_EQ(sys.Failures(), c.failures) << where;
  }
}

TEST_F(GetVarTest, DefaultOnlyForAbsentEntries) {
  struct Case { const char16_t* vars; Var def; Expect want; };
  const Case cases[] = {
      {u"", Var::Integer(50), {VarKind::Integer, u"", 50}},  // stays a number
      {u"{B=1}", Var(u"none"), Str(u"none")},
      {u"{a(S0)=}", Var(u"none"), Str(u"")},                 // present though empty
      {u"{A=1}", Var(u"none"), Str(u"1")},
      {u"{A(N1)=7}", Var::Integer(50), Num(7)},
      {u"{A(D3)=abc}", Var(u"none"), Empty()},               // failed date stays empty
  };
  for (const auto& c : cases) {
    ExpectVar(GetVar(c.vars, u"A", c.def), c.want, ToUtf8(c.vars));
  }
}

class AddVarTest : public PlatformTest {};

// Writing, and the failures it logs (none unless given); after a failure
// the writing goes on.
TEST_F(AddVarTest, WritesReplacesAndRemoves) {
  struct Case {
    const char16_t* vars;
    const char16_t* key;
    Var value;
    bool force;
    const char16_t* want;
    std::vector<std::string> failures;
  };
  const auto object = Var::Obj(std::make_shared<Object>());
  const Case cases[] = {
      // kinds and their text forms
      {u"", u"ListCount", Var::Integer(12), false, u"{ListCount(N2)=12}"},
      {u"", u"Speed", Var::Single(0.047f), false, u"{Speed(N5)=0.047}"},
      {u"", u"N", Var::Long(-2147483647 - 1), false, u"{N(N11)=-2147483648}"},
      {u"", u"N", Var::Double(-0.5), false, u"{N(N4)=-0.5}"},
      {u"", u"N", Var::Byte(7), false, u"{N(N1)=7}"},
      {u"", u"N", Var::Currency(15000), false, u"{N(N3)=1.5}"},
      {u"", u"N", Var::Integer(0), false, u"{N(N1)=0}"},             // 0 is not empty
      {u"", u"B", Var::Boolean(true), false, u"{B(S4)=True}"},
      {u"", u"D", Var::Date(46362.5), false, u"{D(D21)=12/6/2026 12:00:00 PM}"},
      {u"", u"T", Var(u"a}b{c="), false, u"{T(S6)=a}b{c=}"},
      {u"", u"T", Var(u"{A(S1)=q}"), false, u"{T(S9)={A(S1)=q}}"},
      // empty values
      {u"", u"E", Var(), false, u""},
      {u"", u"E", Var(), true, u"{E(S0)=}"},
      {u"", u"E", Var::Null(), true, u"{E(S0)=}"},
      {u"{B=1}", u"E", Var(u""), false, u"{B=1}"},
      {u"{A(S1)=1}{B(S1)=2}", u"A", Var(u""), false, u"{B(S1)=2}"},
      {u"{A(S1)=1}{B(S1)=2}", u"A", Var::Null(), false, u"{B(S1)=2}"},
      {u"{A(S1)=1}{B(S1)=2}", u"A", Var(u""), true, u"{B(S1)=2}{A(S0)=}"},
      // replacing moves the entry to the end
      {u"{A(S1)=1}{B(S1)=2}", u"A", Var(u"3"), false, u"{B(S1)=2}{A(S1)=3}"},
      {u"{B(S1)=2}", u"A", Var(u"3"), false, u"{B(S1)=2}{A(S1)=3}"},
      {u"{A=1}{B=2}", u"a", Var(u"z"), false, u"{B=2}{a(S1)=z}"},
      {u"{\u00C4(S1)=1}", u"\u00E4", Var(u"2"), false, u"{\u00E4(S1)=2}"},
      {u"{A(S1)=1}{A(S1)=2}", u"A", Var(u"3"), false, u"{A(S1)=2}{A(S1)=3}"},  // first only
      {u"{A=1}{A(S1)=2}", u"A", Var(u""), false, u"{A=1}"},                    // typed first
      {u"{AB(S1)=1}", u"A", Var(u"2"), false, u"{AB(S1)=1}{A(S1)=2}"},
      // removal by length
      {u"{A(S12)=abcdefghijkl}{B=1}", u"A", Var(u""), false, u"{B=1}"},
      {u"{A(S3)=x}y}{B=1}", u"A", Var(u""), false, u"{B=1}"},
      {u"{X(N0)=}{B=1}", u"X", Var(u""), false, u"{B=1}"},
      {u"{A(S2.5)=ab}{B=1}", u"A", Var(u""), false, u"{B=1}"},
      {u"{B=1}{A(S50)=abc}", u"A", Var(u""), false, u"{B=1}"},               // past the end: to the end
      {u"{B=1}{A(S3", u"A", Var(u""), false, u"{B=1}"},                      // no ")": to the end
      {u"{L(S9)={A(S1)=z}}{B=1}", u"L", Var(u""), false, u"{B=1}"},
      {u"{L(S9)={A(S1)=z}}", u"A", Var(u""), false, u"{L(S9)=}"},            // reaches into values
      // no type letter: the whole entry goes, as it reads
      {u"{Key(3)=abc}{B=1}", u"key", Var(u"x"), false, u"{B=1}{key(S1)=x}"},
      {u"{B=1}{Key(30)=abc}", u"Key", Var(u""), false, u"{B=1}"},
      // plain entries
      {u"{A=x}y}", u"A", Var(u""), false, u"y}"},
      {u"{B=1}{A=xyz", u"A", Var(u""), false, u"{B=1}"},
      {u"{A=}{B=1}", u"A", Var(u"1"), false, u"{B=1}{A(S1)=1}"},
      // a negative length leaves the old entry; the new one is still written
      {u"{A(S-1)=x}", u"A", Var(u"z"), false, u"{A(S-1)=x}{A(S1)=z}",
       {"Invalid procedure call or argument @ basGlobal.AddVar"}},
      {u"{A(S99999999999)=x}", u"A", Var(u"z"), false, u"{A(S99999999999)=x}{A(S1)=z}", {"Overflow @ basGlobal.AddVar"}},
      // an object has no text form: it counts as empty
      {u"{A(S1)=1}{B=2}", u"A", object, false, u"{B=2}", {"Type mismatch @ basGlobal.AddVar"}},
      {u"{A(S1)=1}{B=2}", u"A", object, true, u"{B=2}{A(S0)=}", {"Type mismatch @ basGlobal.AddVar"}},
  };
  for (const auto& c : cases) {
    sys.log.lines.clear();
    Text vars = c.vars;
    AddVar(vars, c.key, c.value, c.force);
    const std::string where = ToUtf8(c.vars) + " / " + ToUtf8(c.key);
    EXPECT_EQ(ToUtf8(vars), ToUtf8(c.want)) << where;
    EXPECT_EQ(sys.Failures(), c.failures) << where;
  }
}

}  // namespace
}  // namespace ledra
