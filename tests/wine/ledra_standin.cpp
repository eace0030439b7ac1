// A stand-in for the accounting application, for the screen-pop's tests
// under Wine: its main window, a workspace as the third child, record screens
// opened by menu keys (each with a list pane), and a search window opened by
// Alt+G then Ctrl+F and closed by Alt+S, or by Escape whichever of its
// windows has the focus. It logs what it receives,
// one line each, to a log file (by default Ledra.log beside itself):
//   up in <working folder> / started <title> / open <screen> /
//   search opened on <screen> / search <screen>: <text typed> /
//   search closed / menu <unknown keys> / key <virtual key> / hung
// Usage: Ledra.exe [--log FILE] [--company NAME] [--open SCREEN]... [--search]
//                  [--no-search] (Ctrl+F opens nothing)
//                  [--hang] (the window thread stops answering once activated)
//                  [--flat] (no workspace: screens are top-level windows)
//                  [--late MS] (the main window comes MS milliseconds late)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_log;
HWND g_main = nullptr, g_workspace = nullptr, g_search = nullptr, g_edit = nullptr;
HWND g_search_screen = nullptr, g_last_screen = nullptr;
bool g_no_search = false, g_flat = false, g_hang = false;
std::vector<HWND> g_screens;

// Where screens and the search window go: in the workspace, or beside the
// main window as windows it owns.
HWND Create(const char* cls, int x, int y, int w, int h) {
  DWORD style = (g_flat ? WS_OVERLAPPED : WS_CHILD) | WS_VISIBLE | WS_CAPTION | WS_CLIPSIBLINGS;
  return CreateWindowExA(0, cls, "", style, x, y, w, h, g_flat ? g_main : g_workspace, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

void Log(const std::string& line) {
  if (FILE* f = std::fopen(g_log.c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

std::string TitleOf(HWND w) {
  char b[256] = {0};
  GetWindowTextA(w, b, sizeof b);
  return b;
}

// The menu keys of each screen, as the plug-in types them after tapping Alt.
struct Menu { const char* keys; const char* screen; };
const Menu kMenus[] = {{"sp", "Customer"}, {"op", "SOP Processing"}, {"cp", "Stock"}, {"p\ri", "Supplier"}};

HWND FindScreen(const char* title) {
  for (HWND w : g_screens) {
    if (TitleOf(w) == title) return w;
  }
  return nullptr;
}

void OpenScreen(const char* title) {
  HWND s = FindScreen(title);
  if (!s) {
    int n = static_cast<int>(g_screens.size());
    // Titled only once its list pane is in it: a screen is found by its title.
    s = Create("LedraScreen", 20 * n, 20 * n, 500, 300);
    CreateWindowExA(0, "Ledra6c000000List", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 460, 220, s, nullptr,
                    GetModuleHandleA(nullptr), nullptr);
    SetWindowTextA(s, title);
    g_screens.push_back(s);
  }
  SetWindowPos(s, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  g_last_screen = s;
  Log(std::string("open ") + title);
}

// The screen the focus is in, else the one opened or raised last.
HWND CurrentScreen() {
  for (HWND w = GetFocus(); w; w = GetParent(w)) {
    char cls[64] = {0};
    GetClassNameA(w, cls, sizeof cls);
    if (!std::strcmp(cls, "LedraScreen")) return w;
  }
  return g_last_screen;
}

void OpenSearch(HWND screen) {
  if (g_search) return;
  g_search_screen = screen;
  g_search = Create("LedraSearch", 100, 100, 300, 120);
  g_edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 260, 24, g_search, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  SetWindowTextA(g_search, "Search");
  SetWindowPos(g_search, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetFocus(g_edit);
  Log("search opened on " + (screen ? TitleOf(screen) : std::string("nothing")));
}

void CloseSearch(bool searched) {
  if (searched) {
    char text[256] = {0};
    GetWindowTextA(g_edit, text, sizeof text);
    Log("search " + (g_search_screen ? TitleOf(g_search_screen) : std::string("nothing")) + ": " + text);
  } else {
    Log("search closed");
  }
  DestroyWindow(g_search);
  g_search = g_edit = nullptr;
  SetFocus(g_main);
}

// The keyboard, as the application reads it: true when the message is
// taken here and is not to be dispatched.
class Keys {
 public:
  bool Take(const MSG& m) {
    UINT vk = static_cast<UINT>(m.wParam);
    bool down = m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN;
    bool up = m.message == WM_KEYUP || m.message == WM_SYSKEYUP;
    if (!down && !up) return m.message == WM_SYSCHAR;  // no system menu to open
    if (vk == VK_MENU) {
      // Alt pressed and released alone enters the menu.
      if (down) alone_ = true;
      if (up && alone_) {
        menu_ = true;
        typed_.clear();
      }
      return true;
    }
    if (vk == VK_SHIFT || vk == VK_CONTROL) return false;
    if (up) return m.message == WM_SYSKEYUP;
    alone_ = false;
    Log("key " + std::to_string(vk));
    if (menu_) {
      Menu(vk);
      return true;
    }
    bool alt = m.message == WM_SYSKEYDOWN;
    if (alt && vk == 'G') {
      alt_g_ = true;
      return true;
    }
    if (alt && vk == 'S' && g_search) {
      CloseSearch(true);
      return true;
    }
    if (!alt && vk == 'F' && (GetKeyState(VK_CONTROL) & 0x8000) && alt_g_) {
      alt_g_ = false;
      if (!g_no_search) OpenSearch(CurrentScreen());
      return true;
    }
    // Escape closes an open search window whichever window of the
    // application has the focus.
    if (vk == VK_ESCAPE && g_search) {
      CloseSearch(false);
      return true;
    }
    return alt;
  }

 private:
  void Menu(UINT vk) {
    if (vk == VK_ESCAPE) {
      menu_ = false;
      return;
    }
    typed_ += vk == VK_RETURN ? '\r' : static_cast<char>(vk >= 'A' && vk <= 'Z' ? vk - 'A' + 'a' : vk);
    bool partial = false;
    for (const ::Menu& m : kMenus) {
      if (typed_ == m.keys) {
        menu_ = false;
        OpenScreen(m.screen);
        return;
      }
      partial |= std::string(m.keys).compare(0, typed_.size(), typed_) == 0;
    }
    if (!partial) {
      menu_ = false;
      Log("menu " + typed_);
    }
  }

  bool alone_ = false, menu_ = false, alt_g_ = false;
  std::string typed_;
};

LRESULT CALLBACK MainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (g_hang && ((m == WM_ACTIVATEAPP && wp) || (m == WM_ACTIVATE && LOWORD(wp) != WA_INACTIVE))) {
    g_hang = false;
    Log("hung");
    Sleep(90000);  // answers nothing; the test ends it before then
  }
  if (m == WM_TIMER || m == WM_CLOSE) DestroyWindow(w);
  if (m == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(w, m, wp, lp);
}

// The search window hands the focus to its text box.
LRESULT CALLBACK SearchProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if ((m == WM_SETFOCUS || (m == WM_ACTIVATE && LOWORD(wp) != WA_INACTIVE)) && g_edit) {
    SetFocus(g_edit);
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

void Register(const char* name, WNDPROC proc) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = name;
  RegisterClassA(&wc);
}

}  // namespace

int main(int argc, char** argv) {
  char exe[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  g_log = exe;
  g_log = g_log.substr(0, g_log.rfind('\\') + 1) + "Ledra.log";
  std::string company = "Sample Company";
  std::vector<std::string> open;
  bool search = false, hang = false;
  int late = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--log" && i + 1 < argc) g_log = argv[++i];
    else if (a == "--company" && i + 1 < argc) company = argv[++i];
    else if (a == "--open" && i + 1 < argc) open.push_back(argv[++i]);
    else if (a == "--search") search = true;
    else if (a == "--no-search") g_no_search = true;
    else if (a == "--hang") hang = true;
    else if (a == "--flat") g_flat = true;
    else if (a == "--late" && i + 1 < argc) late = std::atoi(argv[++i]);
  }
  char folder[MAX_PATH] = {0};
  GetCurrentDirectoryA(MAX_PATH, folder);
  Log(std::string("up in ") + folder);
  Sleep(late);

  Register("LedraStandInMain", MainProc);
  Register("LedraWorkspace", DefWindowProcA);
  Register("LedraScreen", DefWindowProcA);
  Register("Ledra6c000000List", DefWindowProcA);
  Register("LedraSearch", SearchProc);
  std::string title = "Kestrin Ledra II - " + company;
  g_main = CreateWindowExA(0, "LedraStandInMain", title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 800,
                           600, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  HINSTANCE inst = GetModuleHandleA(nullptr);
  HWND toolbar = CreateWindowExA(0, "STATIC", "toolbar", WS_CHILD | WS_VISIBLE, 0, 0, 800, 20, g_main, nullptr, inst, nullptr);
  HWND status = CreateWindowExA(0, "STATIC", "status", WS_CHILD | WS_VISIBLE, 0, 560, 800, 20, g_main, nullptr, inst, nullptr);
  if (!g_flat) {
    g_workspace = CreateWindowExA(0, "LedraWorkspace", "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 20, 800, 540,
                                  g_main, nullptr, inst, nullptr);
  }
  // The workspace is the third child from the top, whatever order creation gave.
  SetWindowPos(toolbar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(status, toolbar, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (g_workspace) SetWindowPos(g_workspace, status, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ShowWindow(g_main, SW_SHOWNORMAL);
  SetForegroundWindow(g_main);
  for (const std::string& s : open) OpenScreen(s.c_str());
  if (search) OpenSearch(g_last_screen);
  SetTimer(g_main, 1, 120000, nullptr);  // never outlives a test run
  g_hang = hang;
  Log("started " + title);

  Keys keys;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (keys.Take(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
