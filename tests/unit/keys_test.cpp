// The key events SendDosKeys sends: scan codes, escapes and the modifiers'
// order. That the menu keys, Alt+G and Ctrl+F open what they should is the
// Wine stand-in's to check.
#include <gtest/gtest.h>

#include "screenpop/keys.h"
#include "fakes/fake_desktop.h"

namespace ledra::testing {
namespace {

class KeysTest : public PlatformTest {};

// In the fake layout a virtual key's scan code is vk + 100 and a
// character's is its code + 1; "vk:scan:flags:extra" per event.
std::string Down(int vk, int scan) { return std::to_string(vk) + ":" + std::to_string(scan) + ":0:0"; }
std::string Up(int vk, int scan) { return std::to_string(vk) + ":" + std::to_string(scan) + ":2:0"; }
const std::string kAltDown = Down(18, 118), kAltUp = Up(18, 118);
const std::string kShiftDown = Down(160, 4), kShiftUp = Up(160, 4);  // (160 + 100) & 255
const std::string kCtrlDown = Down(162, 6), kCtrlUp = Up(162, 6);

TEST_F(KeysTest, EventsOfEachToken) {
  struct Case { const char16_t* keys; bool ctrl, shift, alt; std::vector<std::string> events; };
  const Case cases[] = {
      {u"", false, false, false, {}},
      {u"P", false, false, false, {kShiftDown, Down(80, 81), kShiftUp, Up(80, 81)}},
      {u"{13}", false, false, false, {Down(13, 113), Up(13, 113)}},
      {u"{13", false, false, false, {Down(13, 113), Up(13, 113)}},
      {u"\\f/", false, false, false, {kAltDown, Down(70, 103), Up(70, 103), kAltUp}},
      {u"a\\", false, false, false, {Down(65, 98), Up(65, 98), kAltDown, kAltUp}},  // Alt never left down
      {u"{8}", true, true, true, {kShiftDown, kCtrlDown, kAltDown, Down(8, 108), kAltUp, kShiftUp, kCtrlUp, Up(8, 108)}},
      {u"~", false, false, false, {kShiftDown, Down(255, 127), kShiftUp, Up(255, 127)}},
      // A key number beyond a byte sends only its modifiers, and is logged.
      {u"{300}x", true, false, false, {kCtrlDown, kCtrlUp, kCtrlDown, Down(88, 121), kCtrlUp, Up(88, 121)}},
  };
  for (const Case& c : cases) {
    FakeDesktop desk(sys);
    SendDosKeys(0x42, c.keys, c.ctrl, c.shift, c.alt, false);
    EXPECT_EQ(desk.raw_keys, c.events) << ToUtf8(c.keys);
    EXPECT_EQ(desk.events.front(), "fg 66");  // the window comes first, even with no keys
  }
  EXPECT_EQ(sys.Failures(), (std::vector<std::string>(2, "Overflow @ basGlobal.SendDosKeys")));
}

// Data arrives as it stands on any layout: no escapes, no key codes (the
// fake layout is German, where "@" needs AltGr and "{" and "\" have no key
// of their own), and no Alt or Windows key pressed on the way.
TEST_F(KeysTest, LiteralTextArrivesAsItself) {
  for (const char16_t* text : {u"AB/12", u"{91}cmd{13}", u"X\\Y/", u"a@b.de", u"\u00e9\u20ac\u0141", u"\U0001D11E"}) {
    FakeDesktop desk(sys);
    desk.foreground = desk.Add("search", "Search");
    SendDosKeys(desk.foreground, text, false, false, false, true);
    EXPECT_EQ(desk.typed[FakeDesktop::kLedra], text) << ToUtf8(text);
    EXPECT_TRUE(desk.raw_keys.empty()) << ToUtf8(text);
  }
}

}  // namespace
}  // namespace ledra::testing
