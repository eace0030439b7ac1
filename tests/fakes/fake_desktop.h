// A desktop of windows of two processes, the accounting application's and
// another program's, for the screen-pop's tests. Keys and characters reach
// the process whose window is in front, as they would; what the plug-in
// does to windows (foreground, show, messages sent, key events, message
// box, program start) and every time it handles or waits for its own
// messages is recorded in order. Waiting moves the test clock on. Windows
// can appear when a key goes up, as an application would react to keys.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "screenpop/desktop.h"
#include "screenpop/screen_pop.h"
#include "fakes/fake_platform.h"

namespace ledra::testing {

class FakeDesktop : public Desktop, public Keyboard, public Programs, public MessagePump {
 public:
  static constexpr uint32_t kLedra = 7;  // the accounting application's process
  static constexpr uint32_t kOther = 9;  // any other program's

  explicit FakeDesktop(FakePlatform& sys) : clock_(sys.clock) {
    sys.platform.desktop = this;
    sys.platform.keyboard = this;
    sys.platform.programs = this;
    sys.platform.pump = this;
    ForgetLedraStart();
  }

  // A window at the bottom of its siblings' Z order; named for the record.
  Window Add(const std::string& name, const std::string& title, Window parent = 0, const std::string& cls = "Static",
             uint32_t process = kLedra) {
    Window w = next_handle++;
    windows_[w] = Node{name, title, cls, parent, process, {}};
    (parent ? windows_[parent].children : top_).push_back(w);
    return w;
  }
  void OnKeyUp(uint8_t vk, std::function<void()> act) { on_key_up_[vk] = std::move(act); }
  // A window that goes: no longer listed, and a message to it fails.
  void Remove(Window w) {
    auto it = windows_.find(w);
    if (it == windows_.end()) return;
    std::vector<Window>& level = it->second.parent ? windows_[it->second.parent].children : top_;
    level.erase(std::remove(level.begin(), level.end(), w), level.end());
    windows_.erase(it);
  }
  // An empty desktop again, where nobody has typed.
  void Reset() {
    windows_.clear();
    top_.clear();
    on_key_up_.clear();
    on_wait = on_char = on_pump = nullptr;
    events.clear();
    typed.clear();
    keys_to.clear();
    foreground = 0;
    refuse_foreground = false;
    closing.clear();
  }
  Window ForegroundWindow() override { return foreground; }
  Window GetWindow(Window w, uint32_t cmd) override {
    auto it = windows_.find(w);
    if (it == windows_.end()) return 0;
    if (cmd == kChild) return it->second.children.empty() ? 0 : it->second.children.front();
    const std::vector<Window>& level = it->second.parent ? windows_[it->second.parent].children : top_;
    if (cmd == kFirst) return level.front();
    auto at = std::find(level.begin(), level.end(), w);
    return at + 1 < level.end() ? *(at + 1) : 0;
  }
  Text WindowText(Window w, int max_count) override { return Read(w, max_count, false); }
  Text ClassName(Window w, int max_count) override { return Read(w, max_count, true); }
  uint32_t WindowProcess(Window w) override {
    auto it = windows_.find(w);
    return it == windows_.end() ? 0 : it->second.process;
  }
  bool ShowWindowAsync(Window w, int cmd) override { return Record("show " + Name(w) + " " + std::to_string(cmd)); }
  bool SetForegroundWindow(Window w) override {
    Record("fg " + Name(w));
    if (refuse_foreground) return false;
    foreground = w;
    return true;
  }
  Sent SendMessageWithin(Window w, uint32_t msg, uintptr_t wp, intptr_t, uint32_t timeout_ms) override {
    Record("send " + Name(w) + " " + std::to_string(msg) + " " + std::to_string(wp));
    if (!windows_.count(w) || closing.count(w)) {
      Remove(w);  // destroyed by now
      return Sent::kGone;
    }
    clock_.ticks += std::min(answer_ms, timeout_ms);
    return answer_ms <= timeout_ms ? Sent::kAnswered : Sent::kNoAnswer;
  }
  void ShowMessageBox(const Text& text, const Text& title) override { Record("box " + ToUtf8(title) + ": " + ToUtf8(text)); }

  // Key codes of a small German layout: "@" needs AltGr (Ctrl+Alt) and Q;
  // a character without a key answers -1.
  int16_t VkKeyScanA(char c) override {
    if (c >= 'a' && c <= 'z') return static_cast<int16_t>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z')) return static_cast<int16_t>(0x100 | c);
    if ((c >= '0' && c <= '9') || c == ' ' || c == '\r') return c;
    if (c == '/') return 0x137;
    if (c == '@') return 0x651;
    return -1;
  }
  std::string CharToOemA(const std::string& ansi) override { return ansi; }
  // Scan codes that differ from the virtual keys, with shift-state bits above.
  uint32_t OemKeyScan(uint16_t oem) override { return 0x30000u | ((oem + 1u) & 0xFFu); }
  uint32_t MapVirtualKeyA(uint32_t code, uint32_t) override { return (code + 100u) & 0xFFu; }
  void KeybdEvent(uint8_t vk, uint8_t scan, uint32_t flags, uintptr_t extra) override {
    raw_keys.push_back(std::to_string(vk) + ":" + std::to_string(scan) + ":" + std::to_string(flags) + ":" +
                       std::to_string(extra));
    bool up = flags & 2;
    Record("key " + std::to_string(vk) + (up ? " up" : " down"));
    if (up) held.erase(vk);
    else held.insert(vk), ++keys_to[WindowProcess(foreground)];
    auto act = on_key_up_.find(vk);
    if (up && act != on_key_up_.end() && act->second) act->second();
  }
  void UnicodeEvent(char16_t unit, bool up) override {
    Record(std::string("char ") + (up ? "up" : "down"));
    if (up) return;
    ++keys_to[WindowProcess(foreground)];
    typed[WindowProcess(foreground)] += unit;
    if (on_char) on_char();
  }

  bool Start(const Text& program) override {
    Record("start " + ToUtf8(program));
    return start_succeeds;
  }
  bool Running(const Text&) override { return false; }

  bool HasPending() const override { return false; }
  void DoEvents() override {
    events.push_back("pump");
    if (on_pump) on_pump();
  }
  void WaitForMessages(uint32_t max_ms) override {
    events.push_back("wait");
    longest_wait = std::max(longest_wait, max_ms);
    clock_.ticks += max_ms;
    if (on_wait) on_wait();
  }

  Window foreground = 0;
  Window next_handle = 0x10;
  std::function<void()> on_wait;  // what happens meanwhile in other programs
  std::function<void()> on_char;  // ... or after a character arrived
  std::function<void()> on_pump;  // ... or while the plug-in handles its messages
  bool refuse_foreground = false;
  uint32_t answer_ms = 0;         // how long a window takes to answer a message
  std::set<Window> closing;       // still listed, but being destroyed: a message finds them gone
  bool start_succeeds = true;
  std::vector<std::string> events;
  std::vector<std::string> raw_keys;     // vk:scan:flags:extra of every key event
  std::map<uint32_t, Text> typed;        // the characters each process received
  std::map<uint32_t, int> keys_to;       // key downs and characters each process received
  std::set<uint8_t> held;                // virtual keys down now
  std::vector<std::string> read;         // the windows whose text or class was read
  uint32_t longest_wait = 0;

 private:
  struct Node {
    std::string name, title, cls;
    Window parent = 0;
    uint32_t process = kLedra;
    std::vector<Window> children;
  };
  std::string Name(Window w) const {
    auto it = windows_.find(w);
    return it == windows_.end() ? std::to_string(w) : it->second.name;
  }
  Text Read(Window w, int max_count, bool cls) {
    read.push_back(Name(w));
    const Node& n = windows_[w];
    std::string s = cls ? n.cls : n.title;
    return FromUtf8(s.substr(0, std::min(s.size(), static_cast<size_t>(max_count - 1))));
  }
  bool Record(const std::string& e) {
    events.push_back(e);
    return true;
  }

  ManualClock& clock_;
  std::map<Window, Node> windows_;
  std::vector<Window> top_;
  std::map<uint8_t, std::function<void()>> on_key_up_;
};

}  // namespace ledra::testing
