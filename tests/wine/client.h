// What the Windows test clients share: checks that count their failures,
// BSTR answers and arguments, a Session made as a host makes it, a window
// for the host's messages, bounded waits, a Configure whose dialog a user
// closes, time limits scaled to the machine, and the plug-in's own
// DllCanUnloadNow.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "plgLedraII.h"

inline std::atomic<int> g_failures{0};

// Every line reaches the test's log as it is printed: a client that dies
// leaves what it had found so far, not an empty log.
inline const int g_unbuffered = std::setvbuf(stdout, nullptr, _IONBF, 0);

// "ok" or "FAIL" with what was got; failures are counted.
inline bool Expect(const char* what, bool ok, const std::wstring& got = L"") {
  std::printf(ok ? "ok   %s\n" : "FAIL %s [%ls]\n", what, got.c_str());
  if (!ok) ++g_failures;
  return ok;
}
inline bool ExpectEq(const char* what, const std::wstring& got, const std::wstring& expected) {
  if (got == expected) return Expect(what, true);
  return Expect(what, false, got + L"] expected [" + expected);
}

// Takes ownership of a BSTR answer.
inline std::wstring Take(BSTR b) {
  std::wstring s = b ? std::wstring(b, SysStringLen(b)) : L"";
  SysFreeString(b);
  return s;
}

struct Bstr {
  explicit Bstr(const std::wstring& s) : b(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  ~Bstr() { SysFreeString(b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR b;
};

inline std::wstring Wide(const char* s) {
  std::wstring w;
  for (; *s; ++s) w += static_cast<wchar_t>(static_cast<unsigned char>(*s));
  return w;
}

// A new Session by its ProgID; the test ends when none can be made.
template <class Interface = _Session>
Interface* CreateSession(REFIID iid = IID__Session) {
  CLSID clsid;
  void* s = nullptr;
  if (FAILED(CLSIDFromProgID(L"plgLedraII.Session", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &s))) {
    std::printf("FAIL create by ProgID\n");
    std::exit(1);
  }
  return static_cast<Interface*>(s);
}

// Initializes the Session with data_rd (and no user record) and loads it;
// answers what Load answered. A data source an earlier run registered
// would keep its own folder, so it goes first.
inline std::wstring InitializeAndLoad(_Session* s, const std::wstring& data_rd) {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\ODBC\\ODBC.INI\\Ledra II SP1");
  Bstr data(data_rd), user(L"");
  BSTR r = nullptr;
  IDispatch* cb = nullptr;
  s->Initialize(&data.b, &user.b, &cb, &r);
  SysFreeString(r);
  r = nullptr;
  s->Load(&user.b, &r);
  return Take(r);
}

// FindContact's answer to a request.
inline std::wstring Find(_Session* s, const std::wstring& request) {
  Bstr rd(request);
  BSTR r = nullptr;
  s->FindContact(rd.b, &r);
  return Take(r);
}

// The value of a {Key(Sn)=value} entry, "" when absent.
inline std::wstring Value(const std::wstring& answer, const std::wstring& key) {
  size_t at = answer.find(L"{" + key + L"(");
  if (at == std::wstring::npos) return L"";
  size_t eq = answer.find(L")=", at);
  size_t end = answer.find(L'}', eq);
  return answer.substr(eq + 2, end - eq - 2);
}

// A hidden window of this thread, whose messages proc handles.
inline HWND HostWindow(WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TestHost";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"TestHost", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

// Polls until cond holds or ms pass; answers whether it holds.
template <class F>
bool WaitUntil(DWORD ms, F cond) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50)) {
    if (cond()) return true;
  }
  return cond();
}

// Configure shows a modal dialog. For hosts that test only its answer, a
// second thread closes the dialog by its title bar, as a user who changes
// nothing does.
inline DWORD WINAPI CloseDialogWhenShown(void*) {
  HWND h = nullptr;
  return WaitUntil(10000, [&] {
    for (const wchar_t* caption : {L"LedraII Configuration", L"Kestrin Action Configuration"}) {
      if ((h = FindWindowW(nullptr, caption)) && IsWindowVisible(h)) return true;
    }
    return false;
  }) && PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 1;
}
template <class F>
auto WithDialogClosed(F call) {
  HANDLE t = CreateThread(nullptr, 0, CloseDialogWhenShown, nullptr, 0, nullptr);
  auto r = call();
  WaitForSingleObject(t, 15000);
  CloseHandle(t);
  return r;
}

// How many times slower this run's machine runs code than the machines the
// tests' time limits were set on. 1 natively; the test VM measures it at the
// start of its run (a fixed calibration loop timed on the host and in the
// guest) and passes it as LEDRA_SPEED_FACTOR. A limit on how long code takes
// is multiplied by it, never switched off.
inline double SpeedFactor() {
  char text[32] = {0};
  if (GetEnvironmentVariableA("LEDRA_SPEED_FACTOR", text, sizeof text) == 0) return 1.0;
  double f = std::strtod(text, nullptr);
  return f > 1.0 ? f : 1.0;
}
inline DWORD ScaledMs(DWORD ms) { return static_cast<DWORD>(ms * SpeedFactor() + 0.5); }

// The loaded plug-in's DllCanUnloadNow: S_OK once nothing holds it.
inline HRESULT CanUnloadNow() {
  using Fn = HRESULT(__stdcall*)();
  HMODULE dll = GetModuleHandleW(L"LedraII.dll");
  auto fn = dll ? reinterpret_cast<Fn>(GetProcAddress(dll, "DllCanUnloadNow")) : nullptr;
  return fn ? fn() : E_FAIL;
}

// How many lines of the plug-in's log mention what.
inline int Logged(const std::string& what) {
  std::ifstream in("c:\\fen.log");
  int n = 0;
  for (std::string l; std::getline(in, l);) n += l.find(what) != std::string::npos;
  return n;
}

// The closing line and the exit status.
inline int Finish() {
  if (g_failures == 0) std::printf("all passed\n");
  else std::printf("%d failed\n", g_failures.load());
  return g_failures ? 1 : 0;
}
