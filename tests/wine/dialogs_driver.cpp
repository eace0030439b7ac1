// The settings dialogs as a user meets them: the host calls Configure, and
// from a second thread this driver finds the dialog by its caption, reads
// and sets its controls and presses OK, Cancel or the title bar's close.
// Then the settings cycle: a data folder picked in the file picker, stored,
// handed to Initialize, and a caller found in that folder's tables. Last, a
// host with windows of its own, whose messages arrive while the dialog is up.
// Usage: dialogs_driver SAMPLE-FOLDER SCREENSHOT-FOLDER (Windows paths)
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "client.h"
#include "platform/win32/dialog_ids.h"

namespace {

const wchar_t kConfigCaption[] = L"LedraII Configuration";
const wchar_t kActionCaption[] = L"Kestrin Action Configuration";
const wchar_t kPickerCaption[] = L"Select database file (?_sname.dbf)";

std::wstring g_shots;

std::wstring Text(HWND h) {
  wchar_t buf[1024] = {0};
  SendMessageW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
  return buf;
}

// Every wait is bounded: 10 s at most, polling.
HWND WaitForWindow(const wchar_t* caption) {
  HWND h = nullptr;
  return WaitUntil(10000, [&] { return (h = FindWindowW(nullptr, caption)) && IsWindowVisible(h); }) ? h : nullptr;
}
bool WaitGone(HWND h) { return WaitUntil(10000, [&] { return !IsWindow(h); }); }

// The window as the screen shows it, written as a BMP (the test's script
// turns it into a PNG).
void Screenshot(HWND h, const wchar_t* name) {
  Sleep(300);
  RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(200);
  RECT r;
  GetWindowRect(h, &r);
  LONG w = r.right - r.left, ht = r.bottom - r.top, row = (w * 3 + 3) / 4 * 4;
  HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, ht);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER bi{sizeof(bi), w, ht, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<BYTE> pixels(row * ht);
  GetDIBits(mem, bmp, 0, ht, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
  DWORD head = sizeof(BITMAPFILEHEADER) + sizeof(bi);
  BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(head + pixels.size()), 0, 0, head};
  if (FILE* f = _wfopen((g_shots + L"\\" + name + L".bmp").c_str(), L"wb")) {
    fwrite(&fh, sizeof(fh), 1, f);
    fwrite(&bi, sizeof(bi), 1, f);
    fwrite(pixels.data(), 1, pixels.size(), f);
    fclose(f);
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

struct UserThread {
  const wchar_t* caption;
  std::function<void(HWND)> act;
};

// The user: finds the dialog, acts, and makes sure it closes so that the
// host's Configure call returns.
DWORD WINAPI RunUser(void* p) {
  auto* u = static_cast<UserThread*>(p);
  HWND dlg = WaitForWindow(u->caption);
  Expect("the dialog opens", dlg != nullptr);
  if (!dlg) return 1;
  u->act(dlg);
  bool closed = WaitGone(dlg);
  Expect("the dialog closes", closed);
  if (!closed) PostMessageW(dlg, WM_CLOSE, 0, 0);
  return 0;
}

std::wstring Call(_Session* s, const std::wstring& rd_text, const std::wstring& page_text, const wchar_t* caption,
                  std::function<void(HWND)> act) {
  UserThread user{caption, std::move(act)};
  HANDLE t = CreateThread(nullptr, 0, RunUser, &user, 0, nullptr);
  Bstr rd(rd_text), page(page_text);
  BSTR r = nullptr;
  s->Configure(&rd.b, &page.b, &r);
  Expect("the user is done", WaitForSingleObject(t, 15000) == WAIT_OBJECT_0);
  CloseHandle(t);
  return Take(r);
}

HWND Item(HWND dlg, int id) { return GetDlgItem(dlg, id); }
void Click(HWND dlg, int id) { PostMessageW(Item(dlg, id), BM_CLICK, 0, 0); }
bool Visible(HWND dlg, int id) { return IsWindowVisible(Item(dlg, id)) != FALSE; }
LRESULT Checked(HWND dlg, int id) { return SendMessageW(Item(dlg, id), BM_GETCHECK, 0, 0); }
void Type(HWND dlg, int id, const std::wstring& s) {
  SendMessageW(Item(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.c_str()));
}
std::wstring TabText(HWND dlg) {
  wchar_t buf[64] = {0};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = buf;
  item.cchTextMax = 64;
  SendMessageW(Item(dlg, IDC_TABS), TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return buf;
}
// Raised to the top and in front. Whether the topmost flag was taken back
// cannot be seen under Wine, which keeps it on an owned window whose owner
// lies right beneath it.
bool Raised(HWND dlg) {
  for (int i = 0; i < 40; ++i) {
    if (GetWindow(dlg, GW_HWNDFIRST) == dlg && GetForegroundWindow() == dlg) return true;
    Sleep(50);
  }
  return false;
}

// The picker's file name box (cmb13) and file type box (cmb1).
HWND PickerFileName(HWND picker) { return GetDlgItem(picker, 0x47c); }

void ConfigurationDialog(_Session* s) {
  ExpectEq("defaults", Call(s, L"{Other=1}", L"", kConfigCaption, [](HWND d) {
    ExpectEq("caption", Text(d), kConfigCaption);
    ExpectEq("tab", TabText(d), L"Lookup");
    ExpectEq("dbFile", Text(Item(d, IDC_DBFILE)), L"(Default)");
    Expect("both tables searched", Checked(d, IDC_SEARCH0) == BST_CHECKED && Checked(d, IDC_SEARCH1) == BST_CHECKED);
    Expect("tables shown, hint hidden", Visible(d, IDC_FRAME1) && Visible(d, IDC_SEARCH0) && !Visible(d, IDC_LABEL2));
    Expect("raised", Raised(d));
    Screenshot(d, L"config");
    Click(d, IDOK);
  }), L"{Caption(S7)=LedraII}{Dbfile(S9)=(Default)}{UseSuppliers(N1)=1}{UseCustomers(N1)=1}");

  ExpectEq("USER page", Call(s, L"{dbFile=C:\\Ledra\\a_sname.dbf}{UseSuppliers=0}", L"user", kConfigCaption, [](HWND d) {
    Expect("hint shown, tables hidden", Visible(d, IDC_LABEL2) && !Visible(d, IDC_FRAME1) && !Visible(d, IDC_SEARCH1));
    Expect("suppliers off", Checked(d, IDC_SEARCH0) == BST_UNCHECKED);
    Screenshot(d, L"config-user");
    Click(d, IDOK);
  }), L"{Caption(S20)=C:\\Ledra\\a_sname.dbf}{Dbfile(S20)=C:\\Ledra\\a_sname.dbf}{UseSuppliers(N1)=0}"
      L"{UseCustomers(N1)=1}");

  const struct { const char* name; const wchar_t* typed; const wchar_t* expected; } texts[] = {
      {"(default) in any case", L"(dEFAULT)",
       L"{Caption(S7)=LedraII}{Dbfile(S9)=(dEFAULT)}{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
      {"25 characters", L"D:\\Data\\Ledra\\a_sname.dbf",
       L"{Caption(S25)=D:\\Data\\Ledra\\a_sname.dbf}{Dbfile(S25)=D:\\Data\\Ledra\\a_sname.dbf}"
       L"{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
      {"26 characters", L"D:\\Data\\Ledra2\\a_sname.dbf",
       L"{Caption(S26)=...Data\\Ledra2\\a_sname.dbf}{Dbfile(S26)=D:\\Data\\Ledra2\\a_sname.dbf}"
       L"{UseSuppliers(N1)=1}{UseCustomers(N1)=1}"},
  };
  for (const auto& t : texts) {
    ExpectEq(t.name, Call(s, L"", L"", kConfigCaption, [&](HWND d) {
      Type(d, IDC_DBFILE, t.typed);
      Click(d, IDOK);
    }), t.expected);
  }
  ExpectEq("empty text, suppliers unticked", Call(s, L"", L"", kConfigCaption, [](HWND d) {
    Type(d, IDC_DBFILE, L"");
    SendMessageW(Item(d, IDC_SEARCH0), BM_CLICK, 0, 0);
    Click(d, IDOK);
  }), L"{UseSuppliers(N1)=0}{UseCustomers(N1)=1}");

  for (bool cancel : {true, false}) {
    ExpectEq(cancel ? "Cancel" : "title-bar close", Call(s, L"{Other=1}", L"lookup", kConfigCaption, [&](HWND d) {
      Type(d, IDC_DBFILE, L"E:\\elsewhere");
      cancel ? Click(d, IDCANCEL) : void(PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0));
    }), L"{Other=1}{Page(S6)=LOOKUP}");
  }

  ExpectEq("picker cancelled", Call(s, L"{dbFile=C:\\keep\\a_sname.dbf}", L"", kConfigCaption, [](HWND d) {
    Click(d, IDC_BINI);
    HWND picker = WaitForWindow(kPickerCaption);
    Expect("picker opens", picker != nullptr);
    if (!picker) return;
    ExpectEq("picker starts with no file name", Text(PickerFileName(picker)), L"");
    ExpectEq("picker filter", Text(GetDlgItem(picker, 0x470)), L"Database file (?_sname.dbf)");
    Screenshot(picker, L"picker");
    PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
    Expect("picker closes", WaitGone(picker));
    ExpectEq("text kept", Text(Item(d, IDC_DBFILE)), L"C:\\keep\\a_sname.dbf");
    Expect("raised again", Raised(d));
    Click(d, IDOK);
  }), L"{Caption(S19)=C:\\keep\\a_sname.dbf}{Dbfile(S19)=C:\\keep\\a_sname.dbf}{UseSuppliers(N1)=1}"
      L"{UseCustomers(N1)=1}");
}

void ActionDialog(_Session* s) {
  ExpectEq("action default", Call(s, L"{X=1}", L"action", kActionCaption, [](HWND d) {
    HWND combo = Item(d, IDC_ACTION);
    std::wstring entries;
    for (int i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
      wchar_t buf[64] = {0};
      SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
      entries += buf + std::wstring(L";");
    }
    ExpectEq("the actions", entries, L"Show contact;Sales processing;Order processing;Stock processing;Purchase orders;");
    ExpectEq("first preselected", Text(combo), L"Show contact");
    Expect("action dialog raised", Raised(d));
    Screenshot(d, L"action");
    Click(d, IDOK);
  }), L"{Action(S12)=Show contact}");
  ExpectEq("ORDER PROCESSING preselected, another chosen",
        Call(s, L"{Action=ORDER PROCESSING}{X=1}", L"ACTION", kActionCaption, [](HWND d) {
          Expect("order processing selected", SendMessageW(Item(d, IDC_ACTION), CB_GETCURSEL, 0, 0) == 2);
          SendMessageW(Item(d, IDC_ACTION), CB_SETCURSEL, 3, 0);
          Click(d, IDOK);
        }), L"{Action(S16)=Stock processing}");
  ExpectEq("unknown action", Call(s, L"{Action=NEW CONTACT}{X=1}", L"Action", kActionCaption, [](HWND d) {
    Expect("nothing selected", SendMessageW(Item(d, IDC_ACTION), CB_GETCURSEL, 0, 0) == CB_ERR);
    Click(d, IDOK);
  }), L"");
  ExpectEq("action Cancel", Call(s, L"{X=1}", L"action", kActionCaption, [](HWND d) {
    SendMessageW(Item(d, IDC_ACTION), CB_SETCURSEL, 4, 0);
    Click(d, IDCANCEL);
  }), L"{X=1}{Page(S6)=ACTION}");
}

// The host's round trip: the user picks the sample company's customer
// table, the host stores the answer and initialises the session with it.
// The session is the thread's first, whose data source every load opens.
void SettingsCycle(const std::wstring& folder) {
  _Session* host = CreateSession();
  std::wstring file = folder + L"\\a_sname.dbf";
  std::wstring stored = Call(host, L"{DBFile=C:\\nowhere\\a_sname.dbf}{UseSuppliers=1}{UseCustomers=1}", L"",
                             kConfigCaption, [&](HWND d) {
    Click(d, IDC_BINI);
    HWND picker = WaitForWindow(kPickerCaption);
    Expect("picker opens for the new folder", picker != nullptr);
    if (!picker) return;
    SendMessageW(PickerFileName(picker), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()));
    PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
    Expect("picker closes on Open", WaitGone(picker));
    ExpectEq("picked file shown", Text(Item(d, IDC_DBFILE)), file);
    Click(d, IDOK);
  });
  Expect("the picked file is stored", stored.find(L"=" + file + L"}") != std::wstring::npos);

  ExpectEq("load from the picked folder", InitializeAndLoad(host, stored), L"{Result=Success}");
  Bstr tel(L"{Tel=01234 567890}");
  BSTR r = nullptr;
  host->FindContact(tel.b, &r);
  std::wstring found = Take(r);
  Expect("caller found in the picked folder", found.find(L"{Company(S8)=Acme Ltd}") != std::wstring::npos &&
                                                 found.find(L"{Result(S7)=Success}") != std::wstring::npos);
  host->Unload(&r);
  SysFreeString(r);
  host->Release();
}

// The host's messages while the dialog is up: one asks Configure again, one
// an action that would show a message box, one releases the host's only
// reference to the Session.
const UINT kConfigureAgain = WM_APP + 1, kReleaseSession = WM_APP + 2, kNewContact = WM_APP + 3;
_Session* g_host_session = nullptr;
std::wstring g_again;
std::atomic<bool> g_again_done{false}, g_released{false}, g_action_done{false};
ULONG g_left = 0;
HRESULT g_unload_inside = E_FAIL;

LRESULT CALLBACK HostProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == kConfigureAgain) {
    Bstr rd(L"{Inner=1}"), page(L"action");
    BSTR r = nullptr;
    g_host_session->Configure(&rd.b, &page.b, &r);
    g_again = Take(r);
    g_again_done = true;
  } else if (m == kNewContact) {
    Bstr rd(L"{Id=snCUST01}{Action=New contact}");
    BSTR r = nullptr;
    g_host_session->DoAction(rd.b, &r);
    SysFreeString(r);
    g_action_done = true;
  } else if (m == kReleaseSession) {
    g_left = g_host_session->Release();
    g_unload_inside = CanUnloadNow();
    g_released = true;
  }
  return DefWindowProcW(w, m, wp, lp);
}

// Waits for the host's message to be handled; a second dialog that shows
// meanwhile is a failure, and is closed so that the host's call returns.
bool Handled(const std::atomic<bool>& done) {
  bool second = false;
  for (int i = 0; i < 200 && !done; ++i, Sleep(50)) {
    for (HWND h : {FindWindowW(nullptr, kActionCaption), FindWindowW(L"#32770", L"Ledra II")}) {
      if (h && IsWindowVisible(h)) {
        second = true;
        PostMessageW(h, WM_CLOSE, 0, 0);
      }
    }
  }
  Expect("no second dialog", !second);
  return done;
}

bool CentredOnMonitorOf(HWND dlg, HWND owner) {
  MONITORINFO mi{sizeof(mi)};
  GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &mi);
  RECT r;
  GetWindowRect(dlg, &r);
  return std::abs(r.left + r.right - mi.rcWork.left - mi.rcWork.right) <= 2 &&
         std::abs(r.top + r.bottom - mi.rcWork.top - mi.rcWork.bottom) <= 2;
}

// A host with a main window and a palette calls Configure from their thread.
void HostWithWindows() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TelephonyHost";
  RegisterClassW(&wc);
  HWND main = CreateWindowExW(0, wc.lpszClassName, L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 300,
                              nullptr, nullptr, wc.hInstance, nullptr);
  HWND palette = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"Palette", WS_POPUP | WS_CAPTION | WS_VISIBLE,
                                 900, 40, 150, 200, nullptr, nullptr, wc.hInstance, nullptr);
  SetForegroundWindow(main);
  SetActiveWindow(main);
  g_host_session = CreateSession();
  std::wstring outer = Call(g_host_session, L"{Outer=1}", L"lookup", kConfigCaption, [&](HWND d) {
    Expect("owned by the host's active window", GetWindow(d, GW_OWNER) == main);
    Expect("the host's windows disabled", !IsWindowEnabled(main) && !IsWindowEnabled(palette));
    Expect("centred on the owner's monitor", CentredOnMonitorOf(d, main));
    PostMessageW(main, kConfigureAgain, 0, 0);
    if (Handled(g_again_done))
      ExpectEq("Configure asked again answers at once, as Cancel", g_again, L"{Inner=1}{Page(S6)=ACTION}");
    int skipped = Logged("the New Contact message is not shown");
    PostMessageW(main, kNewContact, 0, 0);
    if (Handled(g_action_done))
      Expect("an action's message box is not shown over it, and logged",
             Logged("the New Contact message is not shown") == skipped + 1);
    PostMessageW(main, kReleaseSession, 0, 0);
    Handled(g_released);
    Click(d, IDCANCEL);
  });
  ExpectEq("the first Configure answers its own record", outer, L"{Outer=1}{Page(S6)=LOOKUP}");
  Expect("the host's windows enabled again", IsWindowEnabled(main) && IsWindowEnabled(palette));
  Expect("released during the dialog, the running call still holds the Session", g_left > 0);
  Expect("DllCanUnloadNow says no while the dialog is up", g_unload_inside == S_FALSE);
  DestroyWindow(palette);
  DestroyWindow(main);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  g_shots = Wide(argv[2]);
  CreateDirectoryW(g_shots.c_str(), nullptr);
  CoInitialize(nullptr);
  _Session* s = CreateSession();
  ConfigurationDialog(s);
  ActionDialog(s);
  s->Release();
  SettingsCycle(Wide(argv[1]));
  HostWithWindows();
  CoUninitialize();
  return Finish();
}
