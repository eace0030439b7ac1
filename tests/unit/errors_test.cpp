#include "base/errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/variant.h"
#include "fakes/fake_platform.h"

namespace ledra {
namespace {

using testing::PlatformTest;

class LogErrorTest : public PlatformTest {};

// The layout with a real clock and locale is error_log.vbs's to check; here
// the invariant time forms at their edges.
TEST_F(LogErrorTest, LineLayout) {
  struct Case { OleDate now; const char16_t* text; const char* line; };
  const Case cases[] = {
      {46023.0 + 47109.0 / 86400.0, u" @ basGlobal.GetVar", "LedraII - 1/1/2026 1:05:09 PM    @  @ basGlobal.GetVar"},
      {0.25, u"", "LedraII - 12/30/1899 6:00:00 AM    @ "},
      // Text outside ASCII goes through the ANSI conversion.
      {46362.5, u"Stra\u00DFe @ x", "LedraII - 12/6/2026 12:00:00 PM    @ Stra\xC3\x9F" "e @ x"},
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
  struct Case { const char16_t* text; bool written; };
  const Case cases[] = {
      {u"error: address family is NOT supported by protocol", false},
      {u"Form cannot be created because its designer window is open. @ plgLedraII.frmConfig.Form_Load", false},
      {u"cannot be created because its designer window is open", true},  // the full stop belongs to it
      {u"Address Family is supported", true},
  };
  for (const auto& c : cases) {
    sys.log.lines.clear();
    LogError(c.text);
    EXPECT_EQ(sys.log.lines.size(), c.written ? 1u : 0u) << ToUtf8(c.text);
  }
}

// The same failure within a minute of its line is counted, not written; the
// count goes with the next line of it, or with its last repeat, written
// late with its own time when the process logs anything after the minute.
TEST_F(LogErrorTest, RepeatsWithinAMinuteAreOneLine) {
  struct Event {
    uint32_t second;
    const char16_t* text;  // nullptr: the log writes what is owed, all or only what is due
    bool all;
    std::vector<std::string> lines;
  };
  const std::string at = "LedraII - 12/6/2026 12:";
  const Event events[] = {
      {0, u"A", false, {at + "00:00 PM    @ A"}},
      {1, u"A", false, {}},
      {2, u"B", false, {at + "00:02 PM    @ B"}},
      {30, u"A", false, {}},
      {40, u"B", false, {}},
      {60, u"A", false, {at + "01:00 PM    @ A (the line above repeated 2 times)"}},
      {61, u"B", false, {}},
      {70, u"C", false, {at + "01:01 PM    @ B (the line above repeated 1 times)", at + "01:10 PM    @ C"}},
      {80, u"A", false, {}},
      {100, nullptr, false, {}},
      {120, nullptr, false, {at + "01:20 PM    @ A"}},
      {121, u"C", false, {}},
      {122, nullptr, true, {at + "02:01 PM    @ C"}},
      {123, u"C", false, {at + "02:03 PM    @ C"}},
  };
  for (const Event& e : events) {
    sys.log.lines.clear();
    sys.clock.ticks = e.second * 1000;
    sys.clock.now = 46362.5 + e.second / 86400.0;
    if (e.text) {
      LogError(e.text);
    } else {
      LogLeftOutRepeats(e.all);
    }
    EXPECT_EQ(sys.log.lines, e.lines) << "at second " << e.second;
  }
}

// Whatever is written, the file and its rolled over copy stay under their
// bound and together hold the newest lines, none missing in between.
TEST_F(LogErrorTest, TheLogRollsOverBeforeItPassesItsBound) {
  for (int i = 0; i < 6000; ++i) {
    sys.clock.ticks += kLogRepeatMs;
    LogError(FromAscii(std::to_string(i)) + Text(i % 500 == 7 ? 9000 : i % 1000, u'x'));
    ASSERT_LE(sys.log.file.size(), kLogRollAt);
    ASSERT_LE(sys.log.rolled.size(), kLogRollAt);
  }
  std::string kept = sys.log.rolled + sys.log.file;
  std::string all;
  for (const auto& l : sys.log.lines) all += l + "\r\n";
  EXPECT_GT(sys.log.rolled.size() + sys.log.file.size(), kLogRollAt);
  EXPECT_EQ(all.substr(all.size() - kept.size()), kept);
  EXPECT_EQ(sys.log.lines.back().substr(sys.log.lines.back().find("@ ") + 2, 5), "5999x");
  // An overlong text is cut.
  EXPECT_EQ(sys.log.lines[7].size(), sys.log.lines[0].size() - 1 + kLogTextMax);
}

class ProcedureTest : public PlatformTest {};

TEST_F(ProcedureTest, FailureTextIsDescriptionAndLabel) {
  struct Case {
    std::function<void()> step;
    const char* failure;
  };
  const Case cases[] = {
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
    sys.clock.ticks += kLogRepeatMs;  // not a repeat of the case before
    Procedure proc(u" @ plugin.Session.Load");
    EXPECT_FALSE(proc.Step(c.step)) << c.failure;
    ASSERT_EQ(sys.log.lines.size(), 1u) << c.failure;
    EXPECT_EQ(sys.log.lines[0], std::string("LedraII - 12/6/2026 12:00:00 PM    @ ") + c.failure);
  }
}

// A log that loses every line, as when c:\ cannot be written, and a locale
// that fails while the line is being built.
struct LostLog : LogFile {
  void Append(const std::string&, const Full&) noexcept override { ++calls; }
  int calls = 0;
};
struct FailingLocale : InvariantLocale {
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
  sys.platform.log = &sys.log;
  sys.platform.locale = &sys.locale;
}

}  // namespace
}  // namespace ledra
