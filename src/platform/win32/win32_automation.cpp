#include "platform/win32/win32_automation.h"

#include <vector>

#include "platform/win32/win32_parts.h"

namespace ledra::win32 {

namespace {

HWND Hwnd(Desktop::Window w) { return reinterpret_cast<HWND>(w); }
Desktop::Window Handle(HWND h) { return reinterpret_cast<Desktop::Window>(h); }

std::string Ansi(const Text& s) { return Win32Locale().ToAnsi(s); }

// A text read into a buffer two characters longer than the count given,
// cut at its first NUL.
template <class Read>
std::string ReadText(int max_count, Read read) {
  if (max_count <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(max_count) + 2, '\0');
  read(buffer.data(), max_count);
  return std::string(buffer.data());
}

}  // namespace

Desktop::Window Win32Desktop::ForegroundWindow() { return Handle(::GetForegroundWindow()); }

Desktop::Window Win32Desktop::GetWindow(Window w, uint32_t cmd) { return Handle(::GetWindow(Hwnd(w), cmd)); }

std::string Win32Desktop::WindowText(Window w, int max_count) {
  return ReadText(max_count, [&](char* b, int n) { GetWindowTextA(Hwnd(w), b, n); });
}

std::string Win32Desktop::ClassName(Window w, int max_count) {
  return ReadText(max_count, [&](char* b, int n) { GetClassNameA(Hwnd(w), b, n); });
}

bool Win32Desktop::ShowWindow(Window w, int cmd) { return ::ShowWindow(Hwnd(w), cmd) != FALSE; }

bool Win32Desktop::SetForegroundWindow(Window w) { return ::SetForegroundWindow(Hwnd(w)) != FALSE; }

intptr_t Win32Desktop::SendMessageA(Window w, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  return ::SendMessageA(Hwnd(w), msg, wparam, lparam);
}

void Win32Desktop::ShowMessageBox(const Text& text, const Text& title) {
  // Modal to whatever window of the host's thread is active, as a message
  // box of the host itself would be.
  ::MessageBoxA(GetActiveWindow(), Ansi(text).c_str(), Ansi(title).c_str(), MB_OK);
}

int16_t Win32Keyboard::VkKeyScanA(char c) { return ::VkKeyScanA(c); }

std::string Win32Keyboard::CharToOemA(const std::string& ansi) {
  std::vector<char> out(ansi.size() + 1, '\0');
  ::CharToOemA(ansi.c_str(), out.data());
  return std::string(out.data());
}

uint32_t Win32Keyboard::OemKeyScan(uint16_t oem) { return ::OemKeyScan(oem); }

uint32_t Win32Keyboard::MapVirtualKeyA(uint32_t code, uint32_t map_type) { return ::MapVirtualKeyA(code, map_type); }

void Win32Keyboard::KeybdEvent(uint8_t vk, uint8_t scan, uint32_t flags, uintptr_t extra) {
  keybd_event(vk, scan, flags, static_cast<ULONG_PTR>(extra));
}

bool Win32Programs::Start(const Text& program) {
  // Quoted, so that a path with blanks names only itself.
  std::string line = "\"" + Ansi(program) + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  // Not waited for: the program comes up on its own.
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

}  // namespace ledra::win32
