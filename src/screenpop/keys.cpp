#include "screenpop/keys.h"

#include "base/errors.h"
#include "screenpop/desktop.h"

namespace ledra {

namespace {

constexpr uint8_t kVkMenu = 18;
constexpr uint8_t kVkLShift = 160;
constexpr uint8_t kVkLControl = 162;
constexpr uint32_t kKeyUp = 2;  // KEYEVENTF_KEYUP
constexpr uint32_t kVkToScan = 0;

uint8_t ScanOf(Keyboard& kb, uint32_t vk) { return static_cast<uint8_t>(kb.MapVirtualKeyA(vk, kVkToScan)); }

void Event(Keyboard& kb, uint8_t vk, bool up) { kb.KeybdEvent(vk, ScanOf(kb, vk), up ? kKeyUp : 0, 0); }

// What one step types: a key (vk and scan code), whether Shift goes with it,
// a character as itself, or only an Alt press or release.
struct Step {
  enum Kind { Key, Character, AltDown, AltUp } kind = Key;
  long vk = 0;  // out of 0..255 for a {n} too large to be a key
  uint8_t scan = 0;
  bool needs_shift = false;
  char16_t unit = 0;  // of a Character: one UTF-16 unit
};

// The number after "{", as far as it reads: blanks, a sign, decimal digits.
long ReadNumber(const Text& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool negative = i < s.size() && (s[i] == u'-' || s[i] == u'+') && s[i++] == u'-';
  long n = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    if (n < 100000) n = n * 10 + (s[i] - u'0');
  }
  return negative ? -n : n;
}

// Takes the next token off the front of keys.
Step NextStep(Keyboard& kb, Text& keys, bool literal) {
  Step step;
  char16_t c = keys[0];
  if (literal) {
    // Data is typed as it stands, never through the layout's key codes:
    // the layout may need AltGr for it, or have no key for it at all.
    keys.erase(0, 1);
    step.kind = Step::Character;
    step.unit = c;
    return step;
  }
  if (c == u'{') {
    size_t close = keys.find(u'}');
    step.vk = ReadNumber(keys.substr(1, close == Text::npos ? Text::npos : close - 1));
    if (step.vk >= 0 && step.vk <= 255) step.scan = ScanOf(kb, static_cast<uint32_t>(step.vk));
    keys.erase(0, close == Text::npos ? keys.size() : close + 1);
    return step;
  }
  keys.erase(0, 1);
  if (c == u'\\') step.kind = Step::AltDown;
  if (c == u'/') step.kind = Step::AltUp;
  if (step.kind != Step::Key) return step;
  std::string ansi = Sys().locale->ToAnsi(Text(1, c));
  char a = ansi.empty() ? '?' : ansi[0];
  uint16_t code = static_cast<uint16_t>(kb.VkKeyScanA(a));
  step.vk = code & 0xFF;
  step.needs_shift = (code & 0x100) != 0;
  std::string oem = kb.CharToOemA(std::string(1, a));
  step.scan = static_cast<uint8_t>(kb.OemKeyScan(static_cast<uint8_t>(oem.empty() ? a : oem[0])) & 0xFF);
  return step;
}

}  // namespace

void SendDosKeys(Desktop::Window window, const Text& keys, bool ctrl, bool shift, bool alt, bool literal,
                 const std::function<bool()>& may_type) {
  Procedure proc(u" @ basGlobal.SendDosKeys");
  Desktop* desktop = Sys().desktop;
  Keyboard* kb = Sys().keyboard;
  proc.Step([&] {
    if (desktop) desktop->SetForegroundWindow(window);
  });
  if (!kb) return;
  Text rest = keys;
  bool alt_held = false;  // pressed by a backslash
  while (!rest.empty()) {
    if (may_type && !may_type()) break;
    Step step;
    if (!proc.Step([&] { step = NextStep(*kb, rest, literal); })) {
      rest.erase(0, 1);  // the token could not be read: go on after its first character
      continue;
    }
    if (step.kind == Step::AltDown || step.kind == Step::AltUp) {
      alt_held = step.kind == Step::AltDown;
      proc.Step([&] { Event(*kb, kVkMenu, !alt_held); });
      continue;
    }
    bool with_shift = shift || step.needs_shift;
    // A {n} beyond a byte sends no key, but its modifiers still go down and up.
    auto key = [&](bool up) {
      proc.Step([&] {
        if (step.kind == Step::Character) return kb->UnicodeEvent(step.unit, up);
        if (step.vk < 0 || step.vk > 255) Raise(Err::Overflow);
        kb->KeybdEvent(static_cast<uint8_t>(step.vk), step.scan, up ? kKeyUp : 0, 0);
      });
    };
    if (with_shift) proc.Step([&] { Event(*kb, kVkLShift, false); });
    if (ctrl) proc.Step([&] { Event(*kb, kVkLControl, false); });
    if (alt) proc.Step([&] { Event(*kb, kVkMenu, false); });
    key(false);
    if (alt) proc.Step([&] { Event(*kb, kVkMenu, true); });
    if (with_shift) proc.Step([&] { Event(*kb, kVkLShift, true); });
    if (ctrl) proc.Step([&] { Event(*kb, kVkLControl, true); });
    key(true);
  }
  // Alt left down would turn the user's next key into a shortcut.
  if (alt_held) proc.Step([&] { Event(*kb, kVkMenu, true); });
}

void TapKey(uint8_t vk) {
  Keyboard* kb = Sys().keyboard;
  if (!kb) return;
  Event(*kb, vk, false);
  Event(*kb, vk, true);
}

}  // namespace ledra
