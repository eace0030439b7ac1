// The screen-pop for real: a host calls DoAction while the stand-in
// accounting application runs (or does not), and the stand-in's log tells
// what reached it. Usage: screen_pop <folder of the stand-in's Ledra.exe>
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "client.h"

namespace {

std::string g_dir;
_Session* g_session = nullptr;

void Expect(const std::string& what, bool ok, const std::string& got = "") {
  std::printf(ok ? "ok   %s\n" : "FAIL %s [%s]\n", what.c_str(), got.c_str());
  if (!ok) ++g_failures;
}

// The lines the stand-in wrote after it was up, leaving out the raw keys.
std::vector<std::string> Received(const std::string& log) {
  std::ifstream in(log);
  std::vector<std::string> lines;
  bool up = false;
  for (std::string l; std::getline(in, l);) {
    if (l.compare(0, 8, "started ") == 0) up = true;
    else if (up && l.compare(0, 4, "key ") != 0) lines.push_back(l);
  }
  return lines;
}

bool Started(const std::string& log) {
  std::ifstream in(log);
  for (std::string l; std::getline(in, l);) {
    if (l.compare(0, 8, "started ") == 0) return true;
  }
  return false;
}

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& l : v) s += (s.empty() ? "" : " | ") + l;
  return s;
}

// Polls until cond holds or ms pass.
template <class F>
bool WaitUntil(DWORD ms, F cond) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50)) {
    if (cond()) return true;
  }
  return cond();
}

void DoAction(const wchar_t* rd) {
  BSTR b = SysAllocString(rd), r = nullptr;
  g_session->DoAction(b, &r);
  SysFreeString(b);
  SysFreeString(r);
}

// Closes every stand-in that runs, and waits until each has gone.
void EndStandIns() {
  while (HWND w = FindWindowA("LedraStandInMain", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    PostMessageA(w, WM_CLOSE, 0, 0);
    if (p && WaitForSingleObject(p, 5000) != WAIT_OBJECT_0) TerminateProcess(p, 1);
    if (p) WaitForSingleObject(p, 5000), CloseHandle(p);
    WaitUntil(5000, [&] { return !IsWindow(w); });
  }
}

bool StartStandIn(const std::string& args, const std::string& log) {
  DeleteFileA(log.c_str());
  std::string line = "\"" + g_dir + "\\Ledra.exe\" --log \"" + log + "\" --company Acme " + args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return WaitUntil(15000, [&] { return Started(log); });
}

// A command of the prefix, its output discarded.
void Run(const std::string& cmd) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE null = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = null;
  PROCESS_INFORMATION pi{};
  std::string line = cmd;
  if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(null);
}

struct Case {
  const char* what;
  const char* args;  // the stand-in's state before the action
  const wchar_t* rd;
  std::vector<std::string> expected;
};

void Check(const Case& c, int n) {
  std::string log = g_dir + "\\case" + std::to_string(n) + ".log";
  if (!StartStandIn(c.args, log)) {
    Expect(std::string(c.what) + ": the stand-in starts", false);
    return;
  }
  DWORD start = GetTickCount();
  DoAction(c.rd);
  std::printf("     (%s: DoAction took %lu ms)\n", c.what, static_cast<unsigned long>(GetTickCount() - start));
  // The keys are handled after DoAction returns: wait for the last line
  // expected, then a little for anything unexpected after it.
  if (!c.expected.empty()) WaitUntil(10000, [&] { auto r = Received(log); return !r.empty() && r.back() == c.expected.back(); });
  Sleep(700);
  auto got = Received(log);
  Expect(c.what, got == c.expected, Join(got));
  EndStandIns();
}

// Finds the message box of the running action, reads it and closes it.
std::string g_box_text;
int g_box_buttons = 0;
DWORD WINAPI AnswerBox(void*) {
  HWND box = nullptr;
  if (!WaitUntil(10000, [&] { return (box = FindWindowA("#32770", "Ledra II")) != nullptr; })) {
    std::printf("FAIL no message box titled Ledra II\n");
    std::fflush(stdout);
    ExitProcess(1);  // the action would wait for it for ever
  }
  HWND ok = nullptr;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[32] = {0}, text[256] = {0};
    GetClassNameA(c, cls, sizeof cls);
    GetWindowTextA(c, text, sizeof text);
    if (!lstrcmpiA(cls, "Static") && text[0]) g_box_text = text;
    if (!lstrcmpiA(cls, "Button") && IsWindowVisible(c)) ++g_box_buttons, ok = c;
  }
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_dir = argv[1];
  CoInitialize(nullptr);
  g_session = CreateSession();
  if (!g_session) {
    std::printf("FAIL create\n");
    return 1;
  }
  const std::string kKey = "\"HKLM\\SOFTWARE\\Kestrin\\Ledra Client\\System\"";
  Run("reg delete " + kKey + " /f");
  EndStandIns();
  // A first run of the stand-in, so that the cases do not pay for a cold
  // start inside the plug-in's time-outs.
  StartStandIn("--open Customer --search", g_dir + "\\warm.log");
  EndStandIns();

  const Case cases[] = {
      {"show contact, customer", "", L"{Id=snCUST01}{Action=Show contact}",
       {"open Customer", "search opened on Customer", "search Customer: CUST01"}},
      {"show contact, supplier", "", L"{Id=pnSUP01}{Action=Show contact}",
       {"open Supplier", "search opened on Supplier", "search Supplier: SUP01"}},
      {"order processing", "", L"{Id=snCUST01}{Action=Order processing}",
       {"open SOP Processing", "search opened on SOP Processing", "search SOP Processing: CUST01"}},
      {"stock processing, screen closed: only opened", "", L"{Id=snCUST01}{Action=Stock processing}", {"open Stock"}},
      {"stock processing, screen open", "--open Stock", L"{Id=snCUST01}{Action=Stock processing}",
       {"search opened on Stock", "search Stock: CUST01"}},
      {"order processing for a supplier does nothing", "", L"{Id=pnSUP01}{Action=Order processing}", {}},
      {"a search window left open is closed first", "--open Customer --search", L"{Id=snCUST01}{Action=Show contact}",
       {"search closed", "search opened on Customer", "search Customer: CUST01"}},
      {"an account code with / releases Alt instead", "", L"{Id=snAB/12}{Action=Show contact}",
       {"open Customer", "search opened on Customer", "search Customer: AB12"}},
  };
  int n = 0;
  for (const Case& c : cases) Check(c, ++n);

  // Waiting costs little processor time: a search window that never opens
  // is waited for 5 seconds, after the 1.25-second pause.
  auto cpu_ms = [] {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return (ULARGE_INTEGER{{kernel.dwLowDateTime, kernel.dwHighDateTime}}.QuadPart +
            ULARGE_INTEGER{{user.dwLowDateTime, user.dwHighDateTime}}.QuadPart) / 10000;
  };
  StartStandIn("--open Customer --no-search", g_dir + "\\wait.log");
  DWORD wall = GetTickCount();
  auto cpu = cpu_ms();
  DoAction(L"{Id=snCUST01}{Action=Show contact}");
  cpu = cpu_ms() - cpu;
  wall = GetTickCount() - wall;
  std::printf("     (a screen-pop that waited for a search window in vain: %lu ms, %lu ms of processor time)\n",
              static_cast<unsigned long>(wall), static_cast<unsigned long>(cpu));
  Expect("waiting does not spin", wall >= 6250 && cpu * 4 < wall);
  EndStandIns();

  // NEW CONTACT: the message box, answered from another thread.
  std::string log = g_dir + "\\box.log";
  StartStandIn("", log);
  HANDLE watcher = CreateThread(nullptr, 0, AnswerBox, nullptr, 0, nullptr);
  DoAction(L"{Id=snCUST01}{Action=New contact}");
  WaitForSingleObject(watcher, 10000);
  CloseHandle(watcher);
  Expect("new contact: the message box's text", g_box_text == "New Contact creation is not possible.", g_box_text);
  Expect("new contact: only an OK button", g_box_buttons == 1, std::to_string(g_box_buttons));
  Expect("new contact: nothing typed", Received(log).empty(), Join(Received(log)));
  EndStandIns();

  // Not running: started from the install folder (a value without the final
  // "\"), and nothing typed.
  Run("reg add " + kKey + " /v PathToLedra /d \"" + g_dir + "\" /f");
  std::string own_log = g_dir + "\\Ledra.log";
  DeleteFileA(own_log.c_str());
  DoAction(L"{Id=snCUST01}{Action=Show contact}");
  bool started = WaitUntil(15000, [&] { return Started(own_log); });
  Expect("not running: started from PathToLedra", started);
  Sleep(1000);
  std::ifstream in(own_log);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Expect("not running: nothing typed", started && all.find("\nkey ") == std::string::npos &&
                                           Received(own_log).empty(), all);
  EndStandIns();
  Run("reg delete " + kKey + " /f");

  g_session->Release();
  CoUninitialize();
  return Finish();
}
