// The screen-pop's platform over user32: other programs' windows, the
// keyboard, and starting a program.
#pragma once

#include <windows.h>

#include "base/platform.h"
#include "screenpop/desktop.h"

namespace ledra::win32 {

class Win32Desktop : public Desktop {
 public:
  Window ForegroundWindow() override;
  Window GetWindow(Window w, uint32_t cmd) override;
  Text WindowText(Window w, int max_count) override;
  Text ClassName(Window w, int max_count) override;
  uint32_t WindowProcess(Window w) override;
  bool ShowWindowAsync(Window w, int cmd) override;
  bool SetForegroundWindow(Window w) override;
  Sent SendMessageWithin(Window w, uint32_t msg, uintptr_t wparam, intptr_t lparam, uint32_t timeout_ms) override;
  void ShowMessageBox(const Text& text, const Text& title) override;
};

class Win32Keyboard : public Keyboard {
 public:
  int16_t VkKeyScanA(char c) override;
  std::string CharToOemA(const std::string& ansi) override;
  uint32_t OemKeyScan(uint16_t oem) override;
  uint32_t MapVirtualKeyA(uint32_t code, uint32_t map_type) override;
  void KeybdEvent(uint8_t vk, uint8_t scan, uint32_t flags, uintptr_t extra) override;
  void UnicodeEvent(char16_t unit, bool up) override;
};

class Win32Programs : public Programs {
 public:
  bool Start(const Text& program) override;
  bool Running(const Text& program) override;
};

}  // namespace ledra::win32
