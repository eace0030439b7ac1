// What the screen-pop does where only a fake clock reaches: when a pop stops
// (the front refused, a slow application's time used up) and the launch
// check's 30 seconds and paths. What each action opens and types, and what
// another program receives, is checked against the stand-in under Wine.
#include <gtest/gtest.h>

#include <functional>

#include "screenpop/screen_pop.h"
#include "base/file_registry.h"
#include "fakes/fake_desktop.h"
#include "session/session.h"
#include "screenpop/desktop.h"

namespace ledra::testing {
namespace {

constexpr uint32_t kLedra = FakeDesktop::kLedra, kOther = FakeDesktop::kOther;

class ScreenPopTest : public PlatformTest {
 protected:
  void SetUp() override {
    main = desk.Add("main", "Kestrin Ledra II - Acme");
    desk.Add("toolbar", "", main);
    desk.Add("status", "", main);
    ws = desk.Add("ws", "", main);
    desk.foreground = main;
    intruder = desk.Add("intruder", "Mail", 0, "Static", kOther);
    // The application opens its search window on Ctrl+F.
    desk.OnKeyUp('F', [this] { desk.Add("search", "Search", ws); });
  }
  // A record screen with its list pane; the pane.
  Desktop::Window Screen(const std::string& name) {
    return desk.Add(name + " list", "", desk.Add(name, name + " - Acme", ws), "LEDRA6C000000B");
  }
  uint32_t Elapsed(const std::function<void()>& act) {
    uint32_t start = sys.clock.ticks;
    act();
    return sys.clock.ticks - start;
  }

  FakeDesktop desk{sys};
  Desktop::Window main = 0, ws = 0, intruder = 0;
};

// The user clicks another program during the pop. The application is
// brought forward once more; when that does not work the pop stops, and
// the other program never gets a key.
TEST_F(ScreenPopTest, AForegroundThatChangesMidPop) {
  struct Case {
    const char* what;
    bool refused;      // the application cannot be brought forward again
    bool while_typing; // else during the pause before Alt+G
    const char16_t* typed;
  };
  const Case cases[] = {
      {"brought back while typing", false, true, u"AB/12"},
      {"stays in front", true, false, u""},
      {"stays in front while typing", true, true, u"A"},
  };
  for (const Case& c : cases) {
    desk.Reset();
    sys.log.lines.clear();
    SetUp();
    Screen("Customer");
    bool stolen = false;
    std::function<void()> steal = [&] {
      if (stolen) return;
      stolen = true;
      desk.foreground = intruder;
      desk.refuse_foreground = c.refused;
    };
    (c.while_typing ? desk.on_char : desk.on_wait) = steal;
    PopLedra(u"sn", u"AB/12", u"");
    EXPECT_EQ(desk.typed[kLedra], c.typed) << c.what;
    EXPECT_EQ(desk.keys_to[kOther], 0) << c.what;
    EXPECT_TRUE(desk.held.empty()) << c.what;
    EXPECT_EQ(sys.Failures(), c.refused ? std::vector<std::string>{"Another program's window is in front of Ledra II: "
                                                                   "the screen-pop stopped  @  PopLedra"}
                                        : std::vector<std::string>{})
        << c.what;
  }
}

// A hung application answers no message; a slow one answers each so late
// that the pop cannot finish. Either way the host has its answer within 20
// seconds, and the log says why, once. A window that is gone when the pop
// activates it is not a hung application: a search window that the first
// Escape closed (it had the focus) is skipped and the pop goes on; a
// record screen's list that closed ends it.
TEST_F(ScreenPopTest, AnApplicationThatDoesNotAnswerEndsThePopInTimeAWindowThatClosedDoesNot) {
  enum Closing { kNone, kOldSearch, kList };
  struct Case { uint32_t answer_ms; Closing closing; const char16_t* typed; const char* logged; };
  const Case cases[] = {
      {UINT32_MAX, kNone, u"", "Ledra II does not answer"},
      {4900, kNone, u"", "Ledra II does not answer"},
      {0, kOldSearch, u"AB12", nullptr},
      {0, kList, u"", "A window of Ledra II closed during the screen-pop"},
  };
  for (const Case& c : cases) {
    desk.Reset();
    sys.log.lines.clear();
    SetUp();
    const Desktop::Window list = Screen("Customer");
    desk.answer_ms = c.answer_ms;
    if (c.closing == kOldSearch) desk.closing.insert(desk.Add("old search", "Search", ws));
    if (c.closing == kList) desk.closing.insert(list);
    EXPECT_LE(Elapsed([] { Session().DoActionReal(u"{Id=snAB12}{Action=Show contact}"); }), 20000u);
    EXPECT_EQ(desk.typed[kLedra], c.typed);
    EXPECT_EQ(sys.Failures(), c.logged ? std::vector<std::string>{std::string(c.logged) +
                                                                  ": the screen-pop stopped  @  PopLedra"}
                                       : std::vector<std::string>{});
  }
}

// Whether the launch check starts Ledra II, and from where. It is not
// started again less than 30 seconds after the plug-in started it (nor while
// its program runs without a main window: the Wine stand-in's "--late").
TEST_F(ScreenPopTest, LaunchCheck) {
  struct Case {
    const char* what;
    const char16_t* path_to_ledra;  // nullptr: no value
    const char* main_title;         // nullptr: no main window
    bool start;
    uint32_t later_ms;              // since the case before
    const char* started;            // nullptr: nothing started
  };
  const Case cases[] = {
      {"not asked to start", nullptr, nullptr, false, 0, nullptr},
      {"running", nullptr, "Kestrin Ledra II - A", true, 0, nullptr},
      {"no blank after Ledra: not its window", nullptr, "Kestrin Ledra", true, 0, "c:\\Ledra II\\Ledra.exe"},
      {"started a moment ago", u"C:\\Apps\\Acct\\", nullptr, true, 29999, nullptr},
      {"started long enough ago", u"C:\\Apps\\Acct\\", nullptr, true, 1, "C:\\Apps\\Acct\\Ledra.exe"},
  };
  for (const Case& c : cases) {
    desk.Reset();
    sys.clock.ticks += c.later_ms;
    sys.registry.DeleteKey(Registry::kLocalMachine, kLedraKey);
    if (c.path_to_ledra) sys.registry.SetText(Registry::kLocalMachine, kLedraKey, kLedraPathValue, c.path_to_ledra);
    if (c.main_title) desk.foreground = desk.Add("main", c.main_title);
    EXPECT_FALSE(Session().CheckRunning(c.start));
    EXPECT_EQ(desk.events, c.started ? std::vector<std::string>{std::string("start ") + c.started}
                                     : std::vector<std::string>{})
        << c.what;
  }
  // New Contact starts it too, and shows its box all the same.
  desk.Reset();
  sys.clock.ticks += 30000;
  EXPECT_EQ(Session().DoActionReal(u"{Id=sn42}{Action=new contact}"), u"");
  EXPECT_EQ(desk.events, (std::vector<std::string>{"start C:\\Apps\\Acct\\Ledra.exe",
                                                   "box Ledra II: New Contact creation is not possible."}));
  FakeDesktop refused(sys);
  refused.start_succeeds = false;
  Session().CheckRunning(true);
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{"File not found @ plgLedraII.CheckRunning"});
}

}  // namespace
}  // namespace ledra::testing
