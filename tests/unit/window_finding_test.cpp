// Finding windows by title and class pattern, and waiting without freezing.
#include <gtest/gtest.h>

#include <algorithm>

#include "screenpop/window_finding.h"
#include "fakes/fake_desktop.h"
#include "screenpop/desktop.h"

namespace ledra::testing {
namespace {

class WindowFindingTest : public PlatformTest {
 protected:
  FakeDesktop desk{sys};
};

struct MatchCase {
  std::string pattern;
  std::vector<std::string> texts;  // top-level windows, topmost first
  int expected;                    // index of the window found, -1 for none
};

// A title matches where it contains the pattern; a class name where it
// begins with it.
TEST_F(WindowFindingTest, TitleAndClassPatterns) {
  const std::string long_a(1005, 'A');
  const MatchCase cases[] = {
      {"Kestrin Ledra *", {"Kestrin Ledra", "Kestrin Ledra-II", "Kestrin Ledra II - Company A"}, 2},
      {"Search*", {"Customer", "Customer Search"}, 1},
      {"Stock*", {"Stock 1", "Stock 2"}, 0},
      {std::string(999, 'A') + "*", {long_a}, 0},  // compared on 999 characters
      {std::string(1000, 'A') + "*", {long_a}, -1},
  };
  for (const MatchCase& c : cases) {
    FakeDesktop d(sys);
    std::vector<Desktop::Window> ws;
    for (const auto& t : c.texts) ws.push_back(d.Add(t, t));
    d.foreground = ws.back();  // the walk starts at the top whatever is in front
    Desktop::Window found = FindWindowTitle(FromUtf8(c.pattern), 0);
    EXPECT_EQ(found, c.expected < 0 ? 0 : ws[c.expected]) << c.pattern.substr(0, 20) << " / " << c.texts.back();
  }
  FakeDesktop d(sys);
  Desktop::Window parent = d.Add("screen", "Customer");
  for (const char* name : {"Edit", "xLedra6c000000"}) d.Add(name, "", parent, name);
  Desktop::Window list = d.Add("list", "", parent, "ledra6c000000_list");
  EXPECT_EQ(FindWindowClassEx(u"Ledra6c000000", parent), list);
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(WindowFindingTest, ChildrenOnlyOneLevelDownOnlyOfTheProcessAndNothingWithoutAForegroundWindow) {
  Desktop::Window main = desk.Add("main", "Kestrin Ledra II");
  Desktop::Window ws = desk.Add("ws", "Workspace", main);
  desk.Add("grandchild", "Search", ws);
  Desktop::Window decoy = desk.Add("decoy", "Search", 0, "Static", FakeDesktop::kOther);
  Desktop::Window own = desk.Add("own", "Customer Search");
  EXPECT_EQ(FindWindowTitle(u"Search*", main), 0u);
  EXPECT_EQ(desk.read, std::vector<std::string>{"ws"});
  desk.read.clear();
  EXPECT_EQ(FindWindowTitle(u"", 0), 0u);  // no foreground window: nothing visited
  EXPECT_TRUE(desk.read.empty());
  desk.foreground = main;
  EXPECT_EQ(FindWindowTitle(u"Search*", 0), decoy);
  EXPECT_EQ(FindWindowTitle(u"Search*", 0, FakeDesktop::kLedra), own);
  EXPECT_EQ(FindWindowWait(u"Search*", 5, 0, FakeDesktop::kLedra), own);
}

TEST_F(WindowFindingTest, WaitHandlesMessagesWhileWaiting) {
  struct WaitCase { float timeout; uint32_t start_ticks; uint32_t expected_ms; };
  // Ticks about to wrap stand for a wait over midnight: it still ends on time.
  for (WaitCase c : {WaitCase{5, 1000, 5000}, WaitCase{1.25f, 0xFFFFFF00u, 1250}, WaitCase{0, 7, 0}, WaitCase{-1, 7, 0}}) {
    desk.events.clear();
    desk.read.clear();
    sys.clock.ticks = c.start_ticks;
    EXPECT_EQ(FindWindowWait(u"Search*", c.timeout, 0), 0u);
    EXPECT_EQ(sys.clock.ticks - c.start_ticks, c.expected_ms) << c.timeout;
    if (c.timeout <= 0) {
      EXPECT_TRUE(desk.read.empty());
    }
    // Every attempt is followed by handling messages and a short idle wait.
    EXPECT_EQ(std::count(desk.events.begin(), desk.events.end(), "pump"), c.expected_ms / 5);
  }
  EXPECT_LE(desk.longest_wait, 5u);
}

// A window that comes late is the Wine stand-in's (its screens and search
// window open after the keys); one whose handle is negative never counts.
TEST_F(WindowFindingTest, WaitFindsNoWindowWhoseHandleIsNegativeAs32Bits) {
  desk.foreground = desk.Add("first", "Other");
  desk.next_handle = 0x80000010u;
  desk.Add("negative", "Stock");
  sys.clock.ticks = 0;
  EXPECT_EQ(FindWindowWait(u"Stock*", 2, 0), 0u);
  EXPECT_EQ(sys.clock.ticks, 2000u);
}

// Where a round of looking and handling messages costs time (an emulated
// machine), the idle waits grow with it, up to a quarter second, and the
// wait still ends on time; the average cost counts where the tick count
// moves in 16 ms steps.
TEST_F(WindowFindingTest, WaitIdlesLongerWhereARoundIsSlow) {
  desk.foreground = desk.Add("first", "Other");
  struct SlowCase {
    uint32_t every;  // every how many rounds the clock moves on
    uint32_t cost_ms;
    uint32_t longest_wait;
  };
  for (SlowCase c : {SlowCase{1, 0, 5}, SlowCase{1, 1, 8}, SlowCase{1, 40, 250}, SlowCase{20, 16, 6}}) {
    uint32_t rounds = 0, busy = 0;
    desk.on_pump = [&] {
      if (++rounds % c.every == 0) sys.clock.ticks += c.cost_ms, busy += c.cost_ms;
    };
    desk.longest_wait = 0;
    sys.clock.ticks = 0;
    EXPECT_EQ(FindWindowWait(u"Search*", 5, 0), 0u);
    EXPECT_GE(sys.clock.ticks, 5000u) << c.cost_ms;
    EXPECT_LE(sys.clock.ticks, 5000u + c.cost_ms) << c.cost_ms;
    EXPECT_EQ(desk.longest_wait, c.longest_wait) << c.cost_ms;
    EXPECT_LE(busy * 6, sys.clock.ticks) << c.cost_ms;
  }
}

TEST_F(WindowFindingTest, PauseHandlesMessagesForItsWholeLength) {
  sys.clock.ticks = 0xFFFFFFF0u;
  Pause(1.25f);
  EXPECT_EQ(sys.clock.ticks - 0xFFFFFFF0u, 1250u);
  EXPECT_EQ(std::count(desk.events.begin(), desk.events.end(), "pump") +
                std::count(desk.events.begin(), desk.events.end(), "wait"),
            static_cast<long>(desk.events.size()));
  EXPECT_EQ(desk.events.front(), "pump");
  EXPECT_EQ(desk.events.back(), "pump");  // the last messages are handled too
  EXPECT_LE(desk.longest_wait, 5u);
}

}  // namespace
}  // namespace ledra::testing
