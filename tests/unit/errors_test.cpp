#include "common/errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/variant.h"
#include "fakes/fake_platform.h"

namespace ledra {
namespace {

using testing::PlatformTest;

class LogErrorTest : public PlatformTest {};

TEST_F(LogErrorTest, LineLayout) {
  struct Case {
    OleDate now;
    const char16_t* text;
    const char* line;
  };
  const Case cases[] = {
      {46362.5, u"Type mismatch @ plugin.Session.Load",
       "LedraII - 12/6/2026 12:00:00 PM    @ Type mismatch @ plugin.Session.Load"},
      {46362.75, u"Overflow  @  basGlobal.DigitsOnly",
       "LedraII - 12/6/2026 6:00:00 PM    @ Overflow  @  basGlobal.DigitsOnly"},
      {46023.0, u" @ basGlobal.GetVar", "LedraII - 1/1/2026 12:00:00 AM    @  @ basGlobal.GetVar"},
      {46023.0 + 47109.0 / 86400.0, u"x", "LedraII - 1/1/2026 1:05:09 PM    @ x"},
      {0.25, u"", "LedraII - 12/30/1899 6:00:00 AM    @ "},
  };
  for (const auto& c : cases) {
    sys.log.lines.clear();
    sys.clock.now = c.now;
    LogError(c.text);
    ASSERT_EQ(sys.log.lines.size(), 1u) << c.line;
    EXPECT_EQ(sys.log.lines[0], c.line);
  }
}

TEST_F(LogErrorTest, HarmlessMessagesAreNotWritten) {
  struct Case {
    const char16_t* text;
    bool written;
  };
  const Case cases[] = {
      {u"Address Family is not supported @ plgLedraII.Load", false},
      {u"ADDRESS FAMILY IS NOT SUPPORTED", false},
      {u"error: address family is NOT supported by protocol", false},
      {u"Form cannot be created because its designer window is open. @ plgLedraII.frmConfig.Form_Load", false},
      {u"CANNOT BE CREATED BECAUSE ITS DESIGNER WINDOW IS OPEN.", false},
      {u"cannot be created because its designer window is open", true},  // the full stop belongs to it
      {u"Address Family is supported", true},
      {u"Type mismatch @ basGlobal.AddVar", true},
  };
  for (const auto& c : cases) {
    sys.log.lines.clear();
    LogError(c.text);
    EXPECT_EQ(sys.log.lines.size(), c.written ? 1u : 0u) << ToUtf8(c.text);
  }
}

TEST_F(LogErrorTest, TextOutsideAsciiGoesThroughTheAnsiConversion) {
  LogError(u"Stra\u00DFe @ x");
  ASSERT_EQ(sys.log.lines.size(), 1u);
  EXPECT_EQ(sys.log.lines[0], "LedraII - 12/6/2026 12:00:00 PM    @ Stra\xC3\x9F" "e @ x");
}

class ProcedureTest : public PlatformTest {};

TEST_F(ProcedureTest, FailureTextIsDescriptionAndLabel) {
  struct Case {
    std::function<void()> step;
    const char* failure;
  };
  const Case cases[] = {
      {[] { Raise(Err::TypeMismatch); }, "Type mismatch @ plugin.Session.Load"},
      {[] { Raise(1234, u""); }, " @ plugin.Session.Load"},  // empty description: the label alone
      {[] { Raise(3265, u"Item cannot be found"); }, "Item cannot be found @ plugin.Session.Load"},
      {[] { CInt(Var(u"abc")); }, "Type mismatch @ plugin.Session.Load"},
      {[] { CInt(Var::Long(40000)); }, "Overflow @ plugin.Session.Load"},
      {[] { throw std::bad_alloc(); }, "Out of memory @ plugin.Session.Load"},
      {[] { throw std::length_error("too long"); }, "Out of memory @ plugin.Session.Load"},
      {[] { Text().at(3); }, "Subscript out of range @ plugin.Session.Load"},
      {[] { throw std::runtime_error("odd"); }, "Automation error @ plugin.Session.Load"},
      {[] { throw 42; }, "Automation error @ plugin.Session.Load"},
  };
  for (const auto& c : cases) {
    sys.log.lines.clear();
    Procedure proc(u" @ plugin.Session.Load");
    EXPECT_FALSE(proc.Step(c.step)) << c.failure;
    ASSERT_EQ(sys.log.lines.size(), 1u) << c.failure;
    EXPECT_EQ(sys.log.lines[0], std::string("LedraII - 12/6/2026 12:00:00 PM    @ ") + c.failure);
  }
}

TEST_F(ProcedureTest, CarriesOnAfterEachFailure) {
  Procedure proc(u" @ plugin.Session.FindContact");
  std::vector<int> done;
  int partial = 0;
  int kept = 7;
  EXPECT_TRUE(proc.Step([&] { done.push_back(1); }));
  EXPECT_FALSE(proc.Step([&] {
    partial = 1;
    Raise(Err::DivisionByZero);
  }));
  EXPECT_TRUE(proc.Step([&] { done.push_back(2); }));
  EXPECT_FALSE(proc.Step([&] { kept = CInt(Var(u"yes")); }));
  EXPECT_TRUE(proc.Step([&] { done.push_back(3); }));

  EXPECT_EQ(done, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(partial, 1);  // what a failed step did before failing stays done
  EXPECT_EQ(kept, 7);     // what it would have assigned keeps its value
  EXPECT_EQ(sys.Failures(), (std::vector<std::string>{"Division by zero @ plugin.Session.FindContact",
                                                      "Type mismatch @ plugin.Session.FindContact"}));
}

TEST_F(ProcedureTest, LogsAFailureNoticedWithoutAnException) {
  Procedure proc(u"  @  PopLedra");
  proc.Log(u"Window not found");
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{"Window not found  @  PopLedra"});
}

// A log that loses every line, as when c:\ cannot be written.
class LostLog : public LogFile {
 public:
  void AppendLine(const std::string&) noexcept override { ++calls; }
  int calls = 0;
};

// A locale that fails while the line is being built.
class FailingLocale : public InvariantLocale {
 public:
  Text FormatLogTime(OleDate) const override { Raise(Err::OutOfMemory); }
};

TEST_F(ProcedureTest, BrokenLogDoesNotAffectTheCaller) {
  LostLog lost;
  FailingLocale failing;
  struct Case {
    const char* name;
    std::function<void()> arrange;
  };
  const Case cases[] = {
      {"lost lines", [&] { sys.platform.log = &lost; }},
      {"no log", [&] { sys.platform.log = nullptr; }},
      {"no clock", [&] { sys.platform.clock = nullptr; }},
      {"failing line", [&] { sys.platform.locale = &failing; }},
  };
  for (const auto& c : cases) {
    sys.platform.log = &sys.log;
    sys.platform.locale = &sys.locale;
    sys.platform.clock = &sys.clock;
    c.arrange();
    Procedure proc(u" @ plugin.Session.Load");
    int steps = 0;
    EXPECT_FALSE(proc.Step([] { Raise(Err::FileNotFound); })) << c.name;
    EXPECT_TRUE(proc.Step([&] { ++steps; })) << c.name;
    EXPECT_FALSE(proc.Step([] { Raise(Err::PathNotFound); })) << c.name;
    EXPECT_TRUE(proc.Step([&] { ++steps; })) << c.name;
    EXPECT_EQ(steps, 2) << c.name;
    EXPECT_TRUE(sys.log.lines.empty()) << c.name;
  }
  EXPECT_EQ(lost.calls, 2);
}

}  // namespace
}  // namespace ledra
