// The screen-pop against a fake accounting application and another program
// that shares its desktop: what each receives, when a pop stops, and the
// launch check. Which keys open which screen, and that an account code is
// typed as it stands, is checked against the stand-in application under Wine.
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
    // The application opens its search window on Ctrl+F and closes it on Alt+S.
    desk.OnKeyUp('F', [this] { search = desk.Add("search", "Search", ws); });
    desk.OnKeyUp('S', [this] {
      if (search) desk.Remove(search);
      search = 0;
    });
  }
  // A record screen with its list pane.
  void Screen(const std::string& name) {
    desk.Add(name + " list", "", desk.Add(name, name + " - Acme", ws), "LEDRA6C000000B");
  }
  uint32_t Elapsed(const std::function<void()>& act) {
    uint32_t start = sys.clock.ticks;
    act();
    return sys.clock.ticks - start;
  }

  FakeDesktop desk{sys};
  Desktop::Window main = 0, ws = 0, search = 0, intruder = 0;
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
      {"brought back", false, false, u"AB/12"},
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
// seconds, and the log says why, once.
TEST_F(ScreenPopTest, AnApplicationThatDoesNotAnswerEndsThePopInTime) {
  Screen("Customer");
  for (uint32_t answer_ms : {UINT32_MAX, 4900u}) {
    sys.log.lines.clear();
    desk.answer_ms = answer_ms;
    EXPECT_LE(Elapsed([] { Session().DoActionReal(u"{Id=snAB12}{Action=Show contact}"); }), 20000u);
    EXPECT_EQ(desk.typed[kLedra], u"");
    EXPECT_EQ(sys.Failures(),
              std::vector<std::string>{"Ledra II does not answer: the screen-pop stopped  @  PopLedra"});
  }
}

// What DoActionReal does per identifier and action: the menu keys it sends
// (no screen opens here) or the message box.
TEST_F(ScreenPopTest, ActionTable) {
  struct Case {
    const char16_t* rd;
    const char* menu;  // key downs after Escape and the Alt tap
  };
  const Case cases[] = {
      {u"{Id=sn42}{Action=Show contact}", "SP"},   {u"{Id=Pn42}{Action=SHOWCONTACT}", "P\rI"},
      {u"{Id=sn42}{Action=Sales Processing}", "SP"}, {u"{Id=pn42}{Action=Sales processing}", ""},
      {u"{Id=sn42}{Action=order processing}", "OP"}, {u"{Id=PN42}{Action=Order processing}", ""},
      {u"{Id=sn42}{Action=Stock processing}", "CP"}, {u"{Id=pN42}{Action=stock processing}", ""},
      {u"{Id=pn42}{Action=Purchase orders}", "P\rI"}, {u"{Id=sn42}{Action=Purchase orders}", ""},
      {u"{Id=s}{Action=Show contact}", "SP"},       {u"{Id=sn42}", ""},
      {u"{Id=sn42}{Action=Delete}", ""},
  };
  for (const Case& c : cases) {
    desk.events.clear();
    Session().DoActionReal(c.rd);
    std::string keys = desk.KeyDowns();
    EXPECT_EQ(keys.substr(std::min<size_t>(keys.size(), 2)), c.menu) << ToUtf8(c.rd);
  }
  desk.events.clear();
  desk.foreground = 0;  // not running: started, and the box shows all the same
  EXPECT_EQ(Session().DoActionReal(u"{Id=sn42}{Action=new contact}"), u"");
  EXPECT_EQ(desk.events, (std::vector<std::string>{"start c:\\Ledra II\\Ledra.exe",
                                                   "box Ledra II: New Contact creation is not possible."}));
}

// Whether the launch check starts Ledra II, and from where. It is not
// started again while it is starting: less than 30 seconds after the
// plug-in started it, or while its program runs without a main window.
TEST_F(ScreenPopTest, LaunchCheck) {
  struct Case {
    const char* what;
    const char16_t* path_to_ledra;  // nullptr: no value
    const char* main_title;         // nullptr: no main window
    bool start, running;
    uint32_t later_ms;              // since the case before
    const char* started;            // nullptr: nothing started
  };
  const Case cases[] = {
      {"not asked to start", nullptr, nullptr, false, false, 0, nullptr},
      {"running", nullptr, "Kestrin Ledra II - A", true, false, 0, nullptr},
      {"no blank after Ledra: not its window", nullptr, "Kestrin Ledra", true, false, 0, "c:\\Ledra II\\Ledra.exe"},
      {"started a moment ago", u"C:\\Apps\\Acct\\", nullptr, true, false, 29999, nullptr},
      {"started long enough ago", u"C:\\Apps\\Acct\\", nullptr, true, false, 1, "C:\\Apps\\Acct\\Ledra.exe"},
      {"its program runs, no main window yet", nullptr, nullptr, true, true, 30000, nullptr},
  };
  for (const Case& c : cases) {
    desk.Reset();
    sys.clock.ticks += c.later_ms;
    desk.running = c.running;
    sys.registry.DeleteKey(Registry::kLocalMachine, kLedraKey);
    if (c.path_to_ledra) sys.registry.SetText(Registry::kLocalMachine, kLedraKey, kLedraPathValue, c.path_to_ledra);
    if (c.main_title) desk.foreground = desk.Add("main", c.main_title);
    EXPECT_FALSE(Session().CheckRunning(c.start));
    EXPECT_EQ(desk.events, c.started ? std::vector<std::string>{std::string("start ") + c.started}
                                     : std::vector<std::string>{})
        << c.what;
  }
  FakeDesktop refused(sys);
  refused.start_succeeds = false;
  Session().CheckRunning(true);
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{"File not found @ plgLedraII.CheckRunning"});
}

}  // namespace
}  // namespace ledra::testing
