// What the screen-pop reaches of other programs: their windows, the
// keyboard, and starting a program. src/platform/win32 holds the real ones,
// tests/fakes the ones the unit tests drive.
#pragma once

#include <cstdint>
#include <string>

#include "base/text.h"

namespace ledra {

// Windows of other programs, as user32 shows them: looked at, brought to the
// front and sent activation messages. Nothing here waits for another
// program's window thread, so a hung program cannot hold the caller. Handles
// are plain numbers (0: none).
class Desktop {
 public:
  using Window = uintptr_t;
  // GetWindow commands.
  static constexpr uint32_t kFirst = 0;   // GW_HWNDFIRST
  static constexpr uint32_t kNext = 2;    // GW_HWNDNEXT
  static constexpr uint32_t kChild = 5;   // GW_CHILD

  virtual ~Desktop() = default;
  virtual Window ForegroundWindow() = 0;
  virtual Window GetWindow(Window w, uint32_t cmd) = 0;
  // The title as the system keeps it (InternalGetWindowText: no message to
  // the window) and the class name, into a buffer of max_count characters
  // (so at most max_count - 1 are read), up to the first NUL.
  virtual Text WindowText(Window w, int max_count) = 0;
  virtual Text ClassName(Window w, int max_count) = 0;
  // The id of the process a window belongs to; 0 for no window.
  virtual uint32_t WindowProcess(Window w) = 0;
  // ShowWindowAsync: the window's thread shows it when it gets to it.
  virtual bool ShowWindowAsync(Window w, int cmd) = 0;
  virtual bool SetForegroundWindow(Window w) = 0;
  // What became of a message sent with a time-out.
  enum class Sent { kAnswered, kGone, kNoAnswer };
  // SendMessageTimeout with SMTO_ABORTIFHUNG: kNoAnswer when the window is
  // there and its thread is hung or did not answer within timeout_ms;
  // kGone when the window no longer exists or is being destroyed (the send
  // then fails at once, with another error than a time-out).
  virtual Sent SendMessageWithin(Window w, uint32_t msg, uintptr_t wparam, intptr_t lparam, uint32_t timeout_ms) = 0;
  // A modal message box with only an OK button and no icon.
  virtual void ShowMessageBox(const Text& text, const Text& title) = 0;
};

// The keyboard calls of user32: key-code look-ups and synthetic key events.
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  virtual int16_t VkKeyScanA(char c) = 0;
  virtual std::string CharToOemA(const std::string& ansi) = 0;
  virtual uint32_t OemKeyScan(uint16_t oem) = 0;
  virtual uint32_t MapVirtualKeyA(uint32_t code, uint32_t map_type) = 0;
  virtual void KeybdEvent(uint8_t vk, uint8_t scan, uint32_t flags, uintptr_t extra) = 0;
  // One UTF-16 unit typed as itself, whatever the keyboard layout: SendInput
  // with KEYEVENTF_UNICODE, key down or up.
  virtual void UnicodeEvent(char16_t unit, bool up) = 0;
};

class Programs {
 public:
  virtual ~Programs() = default;
  // Starts a program file as a new process, without arguments, in its own
  // folder, its window shown normally and given the focus; does not wait for
  // it. False when it cannot start.
  virtual bool Start(const Text& program) = 0;
  // Whether a process runs from this program file, windows or not.
  virtual bool Running(const Text& program) = 0;
};

}  // namespace ledra
