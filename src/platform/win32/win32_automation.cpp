#include "platform/win32/win32_automation.h"

#include <tlhelp32.h>

#include <vector>

#include "platform/win32/win32_parts.h"
#include "screenpop/desktop.h"

namespace ledra::win32 {

namespace {

HWND Hwnd(Desktop::Window w) { return reinterpret_cast<HWND>(w); }
Desktop::Window Handle(HWND h) { return reinterpret_cast<Desktop::Window>(h); }

std::string Ansi(const Text& s) { return Win32Locale().ToAnsi(s); }
std::wstring Wide(const Text& s) { return std::wstring(s.begin(), s.end()); }

// A text read into a buffer two characters longer than the count given,
// cut at its first NUL.
template <class Read>
Text ReadText(int max_count, Read read) {
  if (max_count <= 0) return Text();
  std::vector<wchar_t> buffer(static_cast<size_t>(max_count) + 2, L'\0');
  read(buffer.data(), max_count);
  return Text(reinterpret_cast<const char16_t*>(buffer.data()));
}

}  // namespace

Desktop::Window Win32Desktop::ForegroundWindow() { return Handle(::GetForegroundWindow()); }

Desktop::Window Win32Desktop::GetWindow(Window w, uint32_t cmd) { return Handle(::GetWindow(Hwnd(w), cmd)); }

// GetWindowText would send WM_GETTEXT to a window of another thread of
// this process, and wait for it however long that thread is busy.
Text Win32Desktop::WindowText(Window w, int max_count) {
  return ReadText(max_count, [&](wchar_t* b, int n) { InternalGetWindowText(Hwnd(w), b, n); });
}

Text Win32Desktop::ClassName(Window w, int max_count) {
  return ReadText(max_count, [&](wchar_t* b, int n) { GetClassNameW(Hwnd(w), b, n); });
}

uint32_t Win32Desktop::WindowProcess(Window w) {
  DWORD process = 0;
  if (w == 0 || !GetWindowThreadProcessId(Hwnd(w), &process)) return 0;
  return process;
}

bool Win32Desktop::ShowWindowAsync(Window w, int cmd) { return ::ShowWindowAsync(Hwnd(w), cmd) != FALSE; }

bool Win32Desktop::SetForegroundWindow(Window w) { return ::SetForegroundWindow(Hwnd(w)) != FALSE; }

Desktop::Sent Win32Desktop::SendMessageWithin(Window w, uint32_t msg, uintptr_t wparam, intptr_t lparam,
                                              uint32_t timeout_ms) {
  DWORD_PTR answer = 0;
  SetLastError(0);
  if (SendMessageTimeoutW(Hwnd(w), msg, wparam, lparam, SMTO_ABORTIFHUNG | SMTO_NORMAL, timeout_ms, &answer)) {
    return Sent::kAnswered;
  }
  // A window being destroyed fails the send at once: Windows says the
  // handle is invalid, Wine that access is denied. Only a window still
  // there that let the time pass (or whose thread is hung) did not answer.
  const DWORD error = GetLastError();
  if (!IsWindow(Hwnd(w)) || error == ERROR_INVALID_WINDOW_HANDLE || error == ERROR_ACCESS_DENIED) return Sent::kGone;
  return Sent::kNoAnswer;
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

void Win32Keyboard::UnicodeEvent(char16_t unit, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wScan = unit;
  in.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
  SendInput(1, &in, sizeof in);
}

bool Win32Programs::Start(const Text& program) {
  // Quoted, so that a path with blanks names only itself; in its own folder,
  // where a program expects to find the files that come with it.
  std::wstring path = Wide(program);
  std::wstring line = L"\"" + path + L"\"";
  size_t slash = path.find_last_of(L"\\/");
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
    return false;
  }
  // Not waited for: the program comes up on its own.
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool Win32Programs::Running(const Text& program) {
  wchar_t full[MAX_PATH * 2] = {0};
  if (!GetFullPathNameW(Wide(program).c_str(), MAX_PATH * 2, full, nullptr)) return false;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const wchar_t* name = full;
  for (const wchar_t* c = full; *c; ++c) {
    if (*c == L'\\') name = c + 1;
  }
  bool found = false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, name) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (!process) continue;  // another user's, or gone
    wchar_t image[MAX_PATH * 2] = {0};
    DWORD size = MAX_PATH * 2;
    found = QueryFullProcessImageNameW(process, 0, image, &size) && lstrcmpiW(image, full) == 0;
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace ledra::win32
