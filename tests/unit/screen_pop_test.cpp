// The screen-pop against a fake accounting application: the launch check,
// the action table, and the exact events of each path through PopLedra.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "automation/screen_pop.h"
#include "common/file_registry.h"
#include "fakes/fake_desktop.h"
#include "session/session.h"

namespace ledra::testing {
namespace {

using Story = std::vector<std::string>;

Story operator+(Story a, const Story& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Story Tap(int vk) { return {"key " + std::to_string(vk) + " down", "key " + std::to_string(vk) + " up"}; }
Story Activate(const std::string& w) { return {"send " + w + " 28 1 0", "send " + w + " 6 2 0"}; }
// SendDosKeys of one key with one modifier held.
Story Chord(const std::string& w, int mod, int vk) {
  return {"fg " + w, "key " + std::to_string(mod) + " down", "key " + std::to_string(vk) + " down",
          "key " + std::to_string(mod) + " up", "key " + std::to_string(vk) + " up"};
}
Story Typed(const std::string& w, std::initializer_list<int> vks) {
  Story s{"fg " + w};
  for (int vk : vks) s = s + Tap(vk);
  return s;
}

const Story kFront = Story{"show main 3", "fg main"} + Activate("main") + Tap(27);

// From the list pane found (step 8) to Alt+S, for the account "12".
Story Search(const std::string& screen) {
  const std::string list = screen + " list";
  return Story{"pump", "fg " + list} + Activate(list) + Story{"idle"} + Chord(screen, 18, 71) + Story{"pump"} +
         Chord(list, 162, 70) + Story{"pump", "pump", "pump"} + Activate("search") + Story{"pump"} +
         Typed("search", {49, 50}) + Chord("search", 18, 83);
}

class ScreenPopTest : public PlatformTest {
 protected:
  void SetUp() override {
    main = desk.Add("main", "Kestrin Ledra II - Acme");
    desk.Add("toolbar", "", main);
    desk.Add("status", "", main);
    ws = desk.Add("ws", "", main);
    desk.foreground = main;
    desk.OnKeyUp('F', [this] { search = desk.Add("search", "Search", ws); });
  }
  // A record screen with its list pane, in the workspace unless told.
  Desktop::Window Screen(const std::string& name, std::optional<Desktop::Window> parent = std::nullopt) {
    Desktop::Window s = desk.Add(name, name + " - Acme", parent.value_or(ws));
    desk.Add(name + " list", "", s, "LEDRA6C000000B");
    return s;
  }
  void OpensOn(int vk, const std::string& name) { desk.OnKeyUp(static_cast<uint8_t>(vk), [=] { Screen(name); }); }

  FakeDesktop desk{sys};
  Desktop::Window main = 0, ws = 0, search = 0;
};

TEST_F(ScreenPopTest, EachPathThroughTheChoreography) {
  Screen("Customer");
  PopLedra(u"sn", u"12", u"");
  EXPECT_EQ(desk.Story(), kFront + Search("Customer"));
  EXPECT_EQ(sys.clock.ticks, 1250u);  // the settling pause before Alt+G

  desk.events.clear();  // the old search window is closed first (Escape on it)
  desk.OnKeyUp(27, [this] {
    if (desk.LastForeground() == "search") desk.Remove(search);
  });
  PopLedra(u"sn", u"12", u"SALES");
  Story after_pause = Search("Customer");
  after_pause.erase(after_pause.begin());  // step 8's messages run on from the pause
  EXPECT_EQ(desk.Story(), kFront + Story{"fg search"} + Activate("search") + Story{"pump"} + Tap(27) +
                              Story{"idle"} + after_pause);

  desk.events.clear();  // a closed screen is opened from the menu
  desk.Remove(search);
  OpensOn('P', "SOP Processing");
  PopLedra(u"SN", u"12", u"sop");
  EXPECT_EQ(desk.Story(), kFront + Tap(18) + Typed("main", {79, 80}) + Search("SOP Processing"));

  desk.events.clear();  // the supplier's menu keys go in three sends
  desk.Remove(search);
  OpensOn('I', "Supplier");
  PopLedra(u"pn", u"12", u"");
  EXPECT_EQ(desk.Story(), kFront + Tap(18) + Typed("main", {80}) + Typed("main", {13}) + Typed("main", {73}) +
                              Search("Supplier"));
}

TEST_F(ScreenPopTest, StockScreenIsOnlyOpenedWhenClosedAndSearchedWhenOpen) {
  sys.clock.ticks = 0;
  PopLedra(u"sn", u"12", u"STOCK");
  EXPECT_EQ(desk.Story(), kFront + Tap(18) + Typed("main", {67, 80}) + Story{"idle"});
  EXPECT_EQ(sys.clock.ticks, 5000u);

  desk.events.clear();
  OpensOn('P', "Stock");  // opening it ends the action all the same
  PopLedra(u"sn", u"12", u"STOCK");
  EXPECT_EQ(desk.Story(), kFront + Tap(18) + Typed("main", {67, 80}));

  desk.events.clear();
  PopLedra(u"sn", u"12", u"STOCK");
  EXPECT_EQ(desk.Story(), kFront + Search("Stock"));
}

TEST_F(ScreenPopTest, EndsSilentlyAtEachMissingWindow) {
  Story to_ctrl_f = kFront + Search("Customer");
  to_ctrl_f.resize(to_ctrl_f.size() - 16);  // up to Ctrl+F and the messages after it
  struct Case {
    const char* what;
    std::function<void()> arrange;
    Story story;
  };
  const Case cases[] = {
      {"no main window", [&] { desk.foreground = 0; }, {}},
      {"the screen does not open", [] {}, kFront + Tap(18) + Typed("main", {83, 80}) + Story{"idle"}},
      {"no list pane", [&] { desk.Add("bare", "Customer", ws); }, kFront + Story{"pump"}},
      {"no search window", [&] { Screen("Customer"); desk.OnKeyUp('F', nullptr); }, to_ctrl_f + Story{"idle"}},
  };
  for (const Case& c : cases) {
    desk.Reset();
    SetUp();
    c.arrange();
    PopLedra(u"sn", u"12", u"");
    EXPECT_EQ(desk.Story(), c.story) << c.what;
  }
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(ScreenPopTest, AccountCodesAreTypedWithTheEscapesInForce) {
  struct Case {
    const char16_t* account;
    Story keys;
  };
  const Case cases[] = {
      {u"12/3", Typed("search", {49, 50}) + Story{"key 18 up"} + Tap(51)},
      {u"{13}1", Typed("search", {13, 49})},
      {u"1\\2", Typed("search", {49}) + Story{"key 18 down"} + Tap(50)},
      {u"", {"fg search"}},
  };
  Screen("Customer");
  for (const Case& c : cases) {
    desk.events.clear();
    PopLedra(u"sn", c.account, u"");
    Story story = desk.Story();
    Story typed(story.end() - 5 - static_cast<long>(c.keys.size()), story.end() - 5);
    EXPECT_EQ(typed, c.keys) << ToUtf8(c.account);
    desk.Remove(search);
  }
}

TEST_F(ScreenPopTest, WithoutAWorkspaceTheScreensAreLookedForAmongTopLevelWindows) {
  desk.Reset();  // a main window with only two children
  Desktop::Window small = desk.Add("main", "Kestrin Ledra II - Small");
  desk.Add("toolbar", "", small);
  desk.Add("status", "", small);
  desk.foreground = small;
  Screen("Customer", 0);
  desk.OnKeyUp('F', [this] { search = desk.Add("search", "Search"); });
  PopLedra(u"sn", u"12", u"");
  EXPECT_EQ(desk.Story(), kFront + Search("Customer"));
}

// What DoActionReal does per identifier and action: the menu keys it sends
// (no screen opens here) or the message box.
TEST_F(ScreenPopTest, ActionTable) {
  struct Case {
    const char16_t* rd;
    const char* menu;  // key-down codes after the Alt tap, as characters
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
    std::string menu;
    for (const std::string& e : desk.events) {
      int vk = 0;
      bool down = e.size() > 5 && e.compare(e.size() - 5, 5, " down") == 0;
      if (down && std::sscanf(e.c_str(), "key %d", &vk) == 1 && vk != 27 && vk != 18) menu += static_cast<char>(vk);
    }
    EXPECT_EQ(menu, c.menu) << ToUtf8(c.rd);
  }
  desk.events.clear();
  desk.foreground = 0;  // not running: started, and the box shows all the same
  EXPECT_EQ(Session().DoActionReal(u"{Id=sn42}{Action=new contact}"), u"");
  EXPECT_EQ(desk.events, (Story{"start c:\\Ledra II\\Ledra.exe", "box Ledra II: New Contact creation is not possible."}));
}

TEST_F(ScreenPopTest, LaunchCheck) {
  struct Case {
    const char* what;
    const char16_t* path_to_ledra;  // nullptr: no key
    const char* main_title;         // nullptr: no main window
    bool start;
    const char* started;  // nullptr: nothing started
  };
  const Case cases[] = {
      {"not asked to start", nullptr, nullptr, false, nullptr},
      {"running", nullptr, "Kestrin Ledra II - A", true, nullptr},
      {"no key", nullptr, nullptr, true, "c:\\Ledra II\\Ledra.exe"},
      {"folder with separator", u"C:\\Apps\\Acct\\", nullptr, true, "C:\\Apps\\Acct\\Ledra.exe"},
      {"folder without separator", u"C:\\Apps\\Acct", nullptr, true, "C:\\Apps\\Acct\\Ledra.exe"},
      {"no blank after Ledra", nullptr, "Kestrin Ledra", true, "c:\\Ledra II\\Ledra.exe"},
  };
  for (const Case& c : cases) {
    FakeDesktop d(sys);
    sys.registry.DeleteKey(Registry::kLocalMachine, kLedraKey);
    if (c.path_to_ledra) sys.registry.SetText(Registry::kLocalMachine, kLedraKey, kLedraPathValue, c.path_to_ledra);
    if (c.main_title) d.foreground = d.Add("main", c.main_title);
    EXPECT_FALSE(Session().CheckRunning(c.start));
    EXPECT_EQ(d.events, c.started ? Story{std::string("start ") + c.started} : Story{}) << c.what;
  }
  FakeDesktop refused(sys);
  refused.start_succeeds = false;
  Session().CheckRunning(true);
  EXPECT_EQ(sys.Failures(), std::vector<std::string>{"File not found @ plgLedraII.CheckRunning"});
}

}  // namespace
}  // namespace ledra::testing
