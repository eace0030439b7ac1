// A desktop of windows for the screen-pop's tests. It records, in one list and
// in order, everything the plug-in does to other programs (foreground,
// show, messages sent, key events, message box, program start) and every
// time it handles or waits for its own messages; waiting moves the test
// clock on. Windows can appear when a key goes up, as an application would
// react to the keys.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace ledra::testing {

class FakeDesktop : public Desktop, public Keyboard, public Programs, public MessagePump {
 public:
  explicit FakeDesktop(FakePlatform& sys) : clock_(sys.clock) {
    sys.platform.desktop = this;
    sys.platform.keyboard = this;
    sys.platform.programs = this;
    sys.platform.pump = this;
  }

  // A window at the bottom of its siblings' Z order; named for the record.
  Window Add(const std::string& name, const std::string& title, Window parent = 0, const std::string& cls = "Static") {
    Window w = next_handle++;
    windows_[w] = Node{name, title, cls, parent, {}};
    (parent ? windows_[parent].children : top_).push_back(w);
    return w;
  }
  void Remove(Window w) {
    std::vector<Window>& level = windows_[w].parent ? windows_[windows_[w].parent].children : top_;
    level.erase(std::find(level.begin(), level.end(), w));
    windows_.erase(w);
  }
  // The window last brought to the front, by name.
  std::string LastForeground() const {
    for (auto e = events.rbegin(); e != events.rend(); ++e) {
      if (e->compare(0, 3, "fg ") == 0) return e->substr(3);
    }
    return "";
  }
  // An empty desktop again.
  void Reset() {
    windows_.clear();
    top_.clear();
    on_key_up_.clear();
    events.clear();
    foreground = 0;
  }
  void OnKeyUp(uint8_t vk, std::function<void()> act) { on_key_up_[vk] = std::move(act); }

  // The events with each stretch of waiting (messages handled and waits for
  // more) shown as one "idle"; a lone "pump" stays.
  std::vector<std::string> Story() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < events.size();) {
      size_t j = i;
      bool waited = false;
      while (j < events.size() && (events[j] == "pump" || events[j] == "wait")) waited |= events[j++] == "wait";
      if (j == i) {
        out.push_back(events[i++]);
        continue;
      }
      if (waited) out.push_back("idle");
      else out.insert(out.end(), j - i, "pump");
      i = j;
    }
    return out;
  }

  Window ForegroundWindow() override { return foreground; }
  Window GetWindow(Window w, uint32_t cmd) override {
    auto it = windows_.find(w);
    if (it == windows_.end()) return 0;
    if (cmd == kChild) return it->second.children.empty() ? 0 : it->second.children.front();
    const std::vector<Window>& level = it->second.parent ? windows_[it->second.parent].children : top_;
    if (cmd == kFirst) return level.front();
    for (size_t i = 0; i + 1 < level.size(); ++i) {
      if (level[i] == w) return level[i + 1];
    }
    return 0;
  }
  std::string WindowText(Window w, int max_count) override { return Read(w, max_count, false); }
  std::string ClassName(Window w, int max_count) override { return Read(w, max_count, true); }
  bool ShowWindow(Window w, int cmd) override { return Record("show " + Name(w) + " " + std::to_string(cmd)); }
  bool SetForegroundWindow(Window w) override { return Record("fg " + Name(w)); }
  intptr_t SendMessageA(Window w, uint32_t msg, uintptr_t wp, intptr_t lp) override {
    return Record("send " + Name(w) + " " + std::to_string(msg) + " " + std::to_string(wp) + " " + std::to_string(lp));
  }
  void ShowMessageBox(const Text& text, const Text& title) override { Record("box " + ToUtf8(title) + ": " + ToUtf8(text)); }

  // Key codes of a small US layout; a character without a key answers -1.
  int16_t VkKeyScanA(char c) override {
    if (c >= 'a' && c <= 'z') return static_cast<int16_t>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z')) return static_cast<int16_t>(0x100 | c);
    if ((c >= '0' && c <= '9') || c == ' ' || c == '\r') return c;
    if (c == '/') return 0xBF;
    if (c == '{') return 0x1DB;
    if (c == '\\') return 0xDC;
    if (c == '!') return 0x131;
    return -1;
  }
  std::string CharToOemA(const std::string& ansi) override { return ansi; }
  // Scan codes that differ from the virtual keys, with shift-state bits above.
  uint32_t OemKeyScan(uint16_t oem) override { return 0x30000u | ((oem + 1u) & 0xFFu); }
  uint32_t MapVirtualKeyA(uint32_t code, uint32_t) override { return (code + 100u) & 0xFFu; }
  void KeybdEvent(uint8_t vk, uint8_t scan, uint32_t flags, uintptr_t extra) override {
    raw_keys.push_back(std::to_string(vk) + ":" + std::to_string(scan) + ":" + std::to_string(flags) + ":" +
                       std::to_string(extra));
    Record("key " + std::to_string(vk) + (flags & 2 ? " up" : " down"));
    auto act = on_key_up_.find(vk);
    if ((flags & 2) && act != on_key_up_.end() && act->second) act->second();
  }

  bool Start(const Text& program) override {
    Record("start " + ToUtf8(program));
    return start_succeeds;
  }

  bool HasPending() const override { return false; }
  void DoEvents() override { events.push_back("pump"); }
  void WaitForMessages(uint32_t max_ms) override {
    events.push_back("wait");
    longest_wait = std::max(longest_wait, max_ms);
    clock_.ticks += max_ms;
    if (on_wait) on_wait();
  }

  Window foreground = 0;
  Window next_handle = 0x10;
  std::function<void()> on_wait;  // what happens meanwhile in other programs
  bool start_succeeds = true;
  std::vector<std::string> events;
  std::vector<std::string> raw_keys;  // vk:scan:flags:extra of every key event
  std::vector<std::string> read;      // the windows whose text or class was read
  uint32_t longest_wait = 0;

 private:
  struct Node {
    std::string name, title, cls;
    Window parent = 0;
    std::vector<Window> children;
  };
  std::string Name(Window w) const {
    auto it = windows_.find(w);
    return it == windows_.end() ? std::to_string(w) : it->second.name;
  }
  std::string Read(Window w, int max_count, bool cls) {
    read.push_back(Name(w));
    const Node& n = windows_[w];
    std::string s = cls ? n.cls : n.title;
    return s.substr(0, std::min(s.size(), static_cast<size_t>(max_count - 1)));
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
