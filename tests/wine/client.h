// What the Windows test clients share: checks that count their failures,
// BSTR answers and arguments, a Session made as a host makes it, and the
// plug-in's own DllCanUnloadNow.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>

#include "plgLedraII.h"

inline std::atomic<int> g_failures{0};

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

// A new Session by its ProgID; nullptr when it cannot be made.
template <class Interface = _Session>
Interface* CreateSession(REFIID iid = IID__Session) {
  CLSID clsid;
  void* s = nullptr;
  if (FAILED(CLSIDFromProgID(L"plgLedraII.Session", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &s)))
    return nullptr;
  return static_cast<Interface*>(s);
}

// Initializes the Session with data_rd (and no user record) and loads it;
// answers what Load answered.
inline std::wstring InitializeAndLoad(_Session* s, const std::wstring& data_rd) {
  Bstr data(data_rd), user(L"");
  BSTR r = nullptr;
  IDispatch* cb = nullptr;
  s->Initialize(&data.b, &user.b, &cb, &r);
  SysFreeString(r);
  r = nullptr;
  s->Load(&user.b, &r);
  return Take(r);
}

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
