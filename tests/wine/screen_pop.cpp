// The screen-pop for real: a host calls DoAction while the stand-in
// accounting application runs (or does not), and the stand-in's log tells
// what reached it. Usage: screen_pop <folder of the stand-in's Ledra.exe>
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "client.h"

namespace {

std::string g_dir;
_Session* g_session = nullptr;

void Expect(const std::string& what, bool ok, const std::string& got = "") { ::Expect(what.c_str(), ok, Wide(got.c_str())); }

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

// The first line of a log that begins with prefix, "" when there is none.
std::string Line(const std::string& log, const std::string& prefix) {
  std::ifstream in(log);
  for (std::string l; std::getline(in, l);) {
    if (l.compare(0, prefix.size(), prefix) == 0) return l;
  }
  return "";
}
bool Started(const std::string& log) { return !Line(log, "started ").empty(); }

// Calls f with the id of each stand-in process that runs; answers how many.
template <class F>
int StandIns(F f) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 e{};
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL more = Process32First(snapshot, &e); more; more = Process32Next(snapshot, &e)) {
    if (lstrcmpiA(e.szExeFile, "Ledra.exe") == 0) ++n, f(e.th32ProcessID);
  }
  CloseHandle(snapshot);
  return n;
}
int StandInsRunning() { return StandIns([](DWORD) {}); }

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& l : v) s += (s.empty() ? "" : " | ") + l;
  return s;
}

void DoAction(const wchar_t* rd) {
  BSTR b = SysAllocString(rd), r = nullptr;
  g_session->DoAction(b, &r);
  SysFreeString(b);
  SysFreeString(r);
}

// Closes every stand-in that runs, and waits until each has gone; one
// without a window yet is ended.
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
  StandIns([](DWORD id) {
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (p) TerminateProcess(p, 1), WaitForSingleObject(p, 5000), CloseHandle(p);
  });
}

bool StartStandIn(const std::string& args, const std::string& log, const char* up = "started ") {
  DeleteFileA(log.c_str());
  std::string line = "\"" + g_dir + "\\Ledra.exe\" --log \"" + log + "\" --company Acme " + args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return WaitUntil(15000, [&] { return !Line(log, up).empty(); });
}

// The accounting application's installation key, in one registry view.
const wchar_t kLedraKey[] = L"SOFTWARE\\Kestrin\\Ledra Client\\System";
void DeleteLedraKey(REGSAM view) { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLedraKey, view, 0); }

// Another program's window, on a thread of its own, that counts the keys it
// gets: one titled "Search", or one that takes the front while a pop runs,
// as a user's click would.
struct Intruder {
  enum Kind { None, Decoy, Thief, HostCall } kind;
  std::string log;  // the stand-in's, to know when the pop is under way
  HANDLE thread = nullptr;
  HWND window = nullptr;
  std::atomic<int> keys{0};
  std::atomic<bool> done{false};
};
Intruder* g_intruder = nullptr;
HWND g_host = nullptr;  // a window of the host's thread, whose messages call the Session
std::atomic<bool> g_configured{false};
std::wstring g_configure_answer;
std::atomic<bool> g_dialog_over_box{false};

LRESULT CALLBACK HostProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP) DoAction(L"{Id=snOTHER}{Action=Show contact}");
  if (m == WM_APP + 1) {
    Bstr rd(L"{Mine=1}"), page(L"lookup");
    BSTR r = nullptr;
    g_session->Configure(&rd.b, &page.b, &r);
    g_configure_answer = Take(r);
    g_configured = true;
  }
  return DefWindowProcA(w, m, wp, lp);
}

LRESULT CALLBACK IntruderProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN || m == WM_CHAR) ++g_intruder->keys;
  return DefWindowProcA(w, m, wp, lp);
}

DWORD WINAPI RunIntruder(void*) {
  Intruder& in = *g_intruder;
  WNDCLASSA wc{};
  wc.lpfnWndProc = IntruderProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "Intruder";
  RegisterClassA(&wc);
  in.window = CreateWindowExA(0, "Intruder", in.kind == Intruder::Decoy ? "Search" : "Mail",
                              WS_OVERLAPPEDWINDOW | (in.kind == Intruder::Decoy ? WS_VISIBLE : 0), 50, 50, 300, 200,
                              nullptr, nullptr, wc.hInstance, nullptr);
  bool acted = in.kind == Intruder::Decoy;
  while (!in.done) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    if (!acted && !Line(in.log, "open ").empty()) {
      acted = true;
      if (in.kind == Intruder::Thief) {
        ShowWindow(in.window, SW_SHOW);
        SetForegroundWindow(in.window);
      } else {
        PostMessageA(g_host, WM_APP, 0, 0);
      }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  DestroyWindow(in.window);
  return 0;
}

struct Case {
  const char* what;
  const char* args;  // the stand-in's state before the action
  std::vector<const wchar_t*> rds;  // the actions, in turn
  std::vector<std::string> expected;
  Intruder::Kind intruder = Intruder::None;
};

void Check(const Case& c, int n) {
  std::string log = g_dir + "\\case" + std::to_string(n) + ".log";
  if (!StartStandIn(c.args, log)) {
    Expect(std::string(c.what) + ": the stand-in starts", false);
    return;
  }
  Intruder intruder{c.intruder, log};
  g_intruder = &intruder;
  if (c.intruder != Intruder::None) intruder.thread = CreateThread(nullptr, 0, RunIntruder, nullptr, 0, nullptr);
  if (c.intruder == Intruder::Decoy) WaitUntil(5000, [&] { return intruder.window != nullptr; });
  int refused = Logged("this one is refused");
  DWORD start = GetTickCount();
  for (const wchar_t* rd : c.rds) DoAction(rd);
  std::printf("     (%s: DoAction took %lu ms)\n", c.what, static_cast<unsigned long>(GetTickCount() - start));
  // The keys are handled after DoAction returns: wait for the last line
  // expected, then a little for anything unexpected after it.
  if (!c.expected.empty()) WaitUntil(10000, [&] { auto r = Received(log); return !r.empty() && r.back() == c.expected.back(); });
  Sleep(700);
  auto got = Received(log);
  Expect(c.what, got == c.expected, Join(got));
  if (intruder.thread) {
    intruder.done = true;
    WaitForSingleObject(intruder.thread, 5000);
    CloseHandle(intruder.thread);
    Expect(std::string(c.what) + ": the other window got no key", intruder.keys == 0, std::to_string(intruder.keys));
  }
  if (c.intruder == Intruder::HostCall) {
    Expect(std::string(c.what) + ": refused, and logged", Logged("this one is refused") == refused + 1);
  }
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
  // The host asks for its settings while the box is up: no dialog over it.
  PostMessageA(g_host, WM_APP + 1, 0, 0);
  HWND dialog = nullptr;
  WaitUntil(5000, [&] { return g_configured || (dialog = FindWindowA(nullptr, "LedraII Configuration")); });
  if (dialog) {
    g_dialog_over_box = true;
    PostMessageA(dialog, WM_CLOSE, 0, 0);
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
  DeleteLedraKey(KEY_WOW64_32KEY);
  DeleteLedraKey(KEY_WOW64_64KEY);
  g_host = HostWindow(HostProc);
  EndStandIns();
  // A first run of the stand-in, so that the cases do not pay for a cold
  // start inside the plug-in's time-outs.
  StartStandIn("--open Customer --search", g_dir + "\\warm.log");
  EndStandIns();

  const std::vector<std::string> kCustomer{"open Customer", "search opened on Customer", "search Customer: CUST01"};
  const std::vector<std::string> kSupplier{"open Supplier", "search opened on Supplier", "search Supplier: SUP01"};
  const Case cases[] = {
      {"show contact, customer", "", {L"{Id=snCUST01}{Action=Show contact}"}, kCustomer},
      {"sales processing, customer", "", {L"{Id=snCUST01}{Action=Sales Processing}"}, kCustomer},
      {"show contact, supplier, the name without its blank", "", {L"{Id=PnSUP01}{Action=SHOWCONTACT}"}, kSupplier},
      {"purchase orders, supplier", "", {L"{Id=PNSUP01}{Action=purchase orders}"}, kSupplier},
      {"order processing", "", {L"{Id=snCUST01}{Action=order processing}"},
       {"open SOP Processing", "search opened on SOP Processing", "search SOP Processing: CUST01"}},
      {"stock processing, screen closed: only opened", "", {L"{Id=snCUST01}{Action=Stock processing}"}, {"open Stock"}},
      {"stock processing, screen open", "--open Stock", {L"{Id=snCUST01}{Action=Stock processing}"},
       {"search opened on Stock", "search Stock: CUST01"}},
      {"an id without an account: the search is left empty", "", {L"{Id=s}{Action=Show contact}"},
       {"open Customer", "search opened on Customer", "search Customer: "}},
      {"no pop: a customer's purchase orders, a supplier's sales, orders or stock, no action, another action", "",
       {L"{Id=snCUST01}{Action=Purchase orders}", L"{Id=pnSUP01}{Action=Sales processing}",
        L"{Id=pnSUP01}{Action=Order processing}", L"{Id=pNSUP01}{Action=Stock processing}", L"{Id=snCUST01}",
        L"{Id=snCUST01}{Action=Delete}"},
       {}},
      {"a search window left open is closed first", "--open Customer --search", {L"{Id=snCUST01}{Action=Show contact}"},
       {"search closed", "search opened on Customer", "search Customer: CUST01"}},
      {"an account code is typed as it stands", "", {L"{Id(S16)=snAB/12{91}X\\Y@\u00e9}{Action=Show contact}"},
       {"open Customer", "search opened on Customer", "search Customer: AB/12{91}X\\Y@\xe9"}},
      {"no workspace: another program's Search window is left alone", "--flat",
       {L"{Id=snCUST01}{Action=Show contact}"}, kCustomer, Intruder::Decoy},
      {"another window takes the front during the pop", "", {L"{Id=snCUST01}{Action=Show contact}"}, kCustomer,
       Intruder::Thief},
      {"a second action during the pop is refused", "", {L"{Id=snCUST01}{Action=Show contact}"}, kCustomer,
       Intruder::HostCall},
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
  Expect("new contact: Configure meanwhile shows no dialog", !g_dialog_over_box);
  ExpectEq("new contact: Configure meanwhile answers as Cancel", g_configure_answer, L"{Mine=1}{Page(S6)=LOOKUP}");
  EndStandIns();

  // A hung application: each action ends within 20 seconds and types
  // nothing. The first writes one line; the second, within the minute,
  // repeats it and the log counts it instead of writing it again.
  log = g_dir + "\\hung.log";
  StartStandIn("--hang", log);
  for (int i = 1; i <= 2; ++i) {
    int stopped = Logged("the screen-pop stopped");
    DWORD took = GetTickCount();
    DoAction(L"{Id=snCUST01}{Action=Show contact}");
    took = GetTickCount() - took;
    std::printf("     (a hung application, action %d: %lu ms)\n", i, static_cast<unsigned long>(took));
    Expect("hung: the action ends within 20 s", took < 20000, std::to_string(took));
    Expect("hung: one line in the log", Logged("the screen-pop stopped") == stopped + (i == 1 ? 1 : 0));
  }
  Expect("hung: nothing typed", Received(log) == std::vector<std::string>{"hung"}, Join(Received(log)));
  EndStandIns();

  // The 32-bit application's installation writes "PathToLedra" into the
  // 32-bit view; here as an expandable value, in quotes.
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLedraKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr);
  const wchar_t quoted[] = L"\"%LEDRA_STANDIN%\"";
  RegSetValueExW(key, L"PathToLedra", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(quoted), sizeof quoted);
  RegCloseKey(key);
  SetEnvironmentVariableA("LEDRA_STANDIN", g_dir.c_str());

  // Its program runs but shows no main window yet: no second copy.
  StartStandIn("--late 8000", g_dir + "\\late.log", "up in ");
  DoAction(L"{Id=snCUST01}");
  Expect("starting: no second copy", StandInsRunning() == 1, std::to_string(StandInsRunning()));
  EndStandIns();

  // Not running: started from there, in its own folder, once however often
  // asked; nothing typed.
  std::string own_log = g_dir + "\\Ledra.log";
  DeleteFileA(own_log.c_str());
  DoAction(L"{Id=snCUST01}{Action=Show contact}");
  DoAction(L"{Id=snCUST01}");
  bool started = WaitUntil(15000, [&] { return Started(own_log); });
  Expect("not running: started from PathToLedra", started);
  Expect("not running: in its own folder", lstrcmpiA(Line(own_log, "up in ").c_str(), ("up in " + g_dir).c_str()) == 0,
         Line(own_log, "up in "));
  Expect("not running: started once", StandInsRunning() == 1, std::to_string(StandInsRunning()));
  Sleep(1000);
  std::ifstream in(own_log);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Expect("not running: nothing typed", started && all.find("\nkey ") == std::string::npos &&
                                           Received(own_log).empty(), all);
  EndStandIns();
  DeleteLedraKey(KEY_WOW64_32KEY);

  g_session->Release();
  CoUninitialize();
  return Finish();
}
