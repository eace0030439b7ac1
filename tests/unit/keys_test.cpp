// The key events SendDosKeys sends: codes, escapes and the modifiers' order.
#include <gtest/gtest.h>

#include "automation/keys.h"
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
  struct Case {
    const char16_t* keys;
    bool ctrl, shift, alt, literal;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {u"", false, false, false, false, {}},
      {u"p", false, false, false, false, {Down(80, 113), Up(80, 113)}},
      {u"P", false, false, false, false, {kShiftDown, Down(80, 81), kShiftUp, Up(80, 81)}},
      {u"{13}", false, false, false, false, {Down(13, 113), Up(13, 113)}},
      {u"{13", false, false, false, false, {Down(13, 113), Up(13, 113)}},
      {u"{13}", false, false, false, true,
       {kShiftDown, Down(219, 124), kShiftUp, Up(219, 124), Down(49, 50), Up(49, 50), Down(51, 52), Up(51, 52),
        kShiftDown, Down(255, 126), kShiftUp, Up(255, 126)}},  // "}" has no key in this layout: 255 with Shift
      {u"\\f/", false, false, false, false, {kAltDown, Down(70, 103), Up(70, 103), kAltUp}},
      {u"a\\", false, false, false, false, {Down(65, 98), Up(65, 98), kAltDown}},
      {u"f", true, false, false, false, {kCtrlDown, Down(70, 103), kCtrlUp, Up(70, 103)}},
      {u"g", false, false, true, false, {kAltDown, Down(71, 104), kAltUp, Up(71, 104)}},
      {u"{8}", true, true, true, false, {kShiftDown, kCtrlDown, kAltDown, Down(8, 108), kAltUp, kShiftUp, kCtrlUp, Up(8, 108)}},
      {u"~", false, false, false, false, {kShiftDown, Down(255, 127), kShiftUp, Up(255, 127)}},
      {u"\r", false, false, false, false, {Down(13, 14), Up(13, 14)}},
      {u"/", false, false, false, true, {Down(191, 48), Up(191, 48)}},
  };
  for (const Case& c : cases) {
    FakeDesktop desk(sys);
    SendDosKeys(0x42, c.keys, c.ctrl, c.shift, c.alt, c.literal);
    EXPECT_EQ(desk.raw_keys, c.events) << ToUtf8(c.keys);
    EXPECT_EQ(desk.events.front(), "fg 66");  // the window comes first, even with no keys
  }
  EXPECT_TRUE(sys.Failures().empty());
}

TEST_F(KeysTest, AKeyNumberBeyondAByteSendsOnlyItsModifiersAndIsLogged) {
  FakeDesktop desk(sys);
  SendDosKeys(0x42, u"{300}x", true, false, false, false);
  EXPECT_EQ(desk.raw_keys, (std::vector<std::string>{kCtrlDown, kCtrlUp, kCtrlDown, Down(88, 121), kCtrlUp, Up(88, 121)}));
  EXPECT_EQ(sys.Failures(), (std::vector<std::string>(2, "Overflow @ basGlobal.SendDosKeys")));
}

}  // namespace
}  // namespace ledra::testing
