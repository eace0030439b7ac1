#include "platform/win32/win32_dialogs.h"

#include <commctrl.h>
#include <commdlg.h>
#include <uxtheme.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/win32/dialog_ids.h"
#include "dialogs/dialog_views.h"

namespace ledra::win32 {

namespace {

std::wstring Wide(const Text& s) { return std::wstring(s.begin(), s.end()); }
Text FromWide(const wchar_t* s, size_t n) { return Text(reinterpret_cast<const char16_t*>(s), n); }

Text WindowText(HWND h) {
  int n = GetWindowTextLengthW(h);
  std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
  int got = GetWindowTextW(h, buf.data(), n + 1);
  return FromWide(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

[[noreturn]] void RaiseLastError() {
  DWORD e = GetLastError();
  wchar_t* msg = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 e, 0, reinterpret_cast<wchar_t*>(&msg), 0, nullptr);
  Text text = msg ? FromWide(msg, wcslen(msg)) : Text(u"Windows error");
  if (msg) LocalFree(msg);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
  Raise(static_cast<int>(e), text);
}

// The module's own manifest (resource 2) activated for as long as a dialog
// is up: a DLL's manifest does not reach the windows it creates otherwise.
// Made for each dialog and released after it.
class CommonControlsV6 {
 public:
  explicit CommonControlsV6(HMODULE module) {
    ACTCTXW ctx{};
    ctx.cbSize = sizeof(ctx);
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.hModule = module;
    ctx.lpResourceName = MAKEINTRESOURCEW(2);
    context_ = CreateActCtxW(&ctx);
    if (context_ != INVALID_HANDLE_VALUE) active_ = ActivateActCtx(context_, &cookie_) != FALSE;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&icc);
  }
  ~CommonControlsV6() {
    if (active_) DeactivateActCtx(0, cookie_);
    if (context_ != INVALID_HANDLE_VALUE) ReleaseActCtx(context_);
  }
  CommonControlsV6(const CommonControlsV6&) = delete;
  CommonControlsV6& operator=(const CommonControlsV6&) = delete;

 private:
  HANDLE context_ = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

// The owner of a dialog shown on this thread: the host's active window,
// else the hidden owner window.
HWND DialogOwner(HWND hidden) {
  HWND active = GetActiveWindow();
  if (active && GetWindowThreadProcessId(active, nullptr) == GetCurrentThreadId()) return active;
  return hidden;
}

// The host's other visible windows on this thread, disabled while a dialog
// is up, as for a modal dialog of the host's own, and enabled again after.
// The owner is left to the dialog, which disables and enables it itself.
class HostWindowsDisabled {
 public:
  HostWindowsDisabled(HWND owner, HWND hidden) : owner_(owner), hidden_(hidden) {
    EnumThreadWindows(GetCurrentThreadId(), &Disable, reinterpret_cast<LPARAM>(this));
  }
  ~HostWindowsDisabled() {
    for (HWND h : disabled_) {
      if (IsWindow(h)) EnableWindow(h, TRUE);
    }
  }
  HostWindowsDisabled(const HostWindowsDisabled&) = delete;
  HostWindowsDisabled& operator=(const HostWindowsDisabled&) = delete;

 private:
  static BOOL CALLBACK Disable(HWND h, LPARAM self_param) {
    auto* self = reinterpret_cast<HostWindowsDisabled*>(self_param);
    if (h == self->owner_ || h == self->hidden_ || !IsWindowVisible(h) || !IsWindowEnabled(h)) return TRUE;
    try {
      self->disabled_.push_back(h);
    } catch (...) {
      return FALSE;  // no room to remember it: left enabled
    }
    EnableWindow(h, FALSE);
    return TRUE;
  }

  HWND owner_;
  HWND hidden_;
  std::vector<HWND> disabled_;
};

// What both dialogs share: the handle, raising, closing, and the dialog
// procedure's routing to the view kept in DWLP_USER.
class DialogBase {
 public:
  virtual ~DialogBase() = default;

  void Topmost(bool on) {
    SetWindowPos(h_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  void End() { EndDialog(h_, IDCANCEL); }

  // Centred on the owner's monitor (DS_CENTER).
  INT_PTR Show(HMODULE module, int id, const OwnerWindow& hidden_owner) {
    HWND hidden = reinterpret_cast<HWND>(hidden_owner.Handle());
    HWND owner = DialogOwner(hidden);
    CommonControlsV6 v6(module);
    HostWindowsDisabled host(owner, hidden);
    INT_PTR r = DialogBoxParamW(module, MAKEINTRESOURCEW(id), owner, &Proc, reinterpret_cast<LPARAM>(this));
    if (r == -1) RaiseLastError();
    return r;
  }

 protected:
  virtual void Init() = 0;
  virtual void Activated() = 0;
  virtual void Command(int id) = 0;
  HWND Item(int id) const { return GetDlgItem(h_, id); }
  virtual INT_PTR StaticColour(HDC, HWND) { return FALSE; }
  virtual void PaintBackground(HDC dc) {
    RECT rc;
    GetClientRect(h_, &rc);
    FillRect(dc, &rc, GetSysColorBrush(COLOR_3DFACE));
  }

  HWND h_ = nullptr;

 private:
  // Nothing is thrown through the window manager: a failure the handlers
  // did not catch themselves is logged and the message left to the default.
  static INT_PTR CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    try {
      return Handle(h, msg, wp, lp);
    } catch (...) {
      Procedure(u" @ plgLedraII.DialogProc").Log(DescribeCurrentException());
      return FALSE;
    }
  }

  static INT_PTR Handle(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      auto* self = reinterpret_cast<DialogBase*>(lp);
      SetWindowLongPtrW(h, DWLP_USER, lp);
      self->h_ = h;
      // Access keys underlined from the start, not only once Alt is pressed.
      SendMessageW(h, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL | UISF_HIDEFOCUS), 0);
      self->Init();
      return TRUE;
    }
    auto* self = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(h, DWLP_USER));
    if (!self) return FALSE;
    switch (msg) {
      case WM_ACTIVATE:
        // The handler runs once the activation is complete and the dialog
        // shown, as the form's Activate event does; raising the dialog from
        // inside the activation itself does not stick.
        if (LOWORD(wp) != WA_INACTIVE) PostMessageW(h, kActivated, 0, 0);
        return FALSE;
      case kActivated:
        if (GetActiveWindow() == h) self->Activated();
        return TRUE;
      case WM_COMMAND:
        if (HIWORD(wp) == BN_CLICKED) self->Command(LOWORD(wp));
        return TRUE;
      case WM_CLOSE:
        // The title bar's close button: no handler runs, ConfigRd stays.
        self->End();
        return TRUE;
      case WM_PRINTCLIENT:
        // What a themed control shows through: the background beneath it.
        self->PaintBackground(reinterpret_cast<HDC>(wp));
        return TRUE;
      case WM_CTLCOLORSTATIC:
        return self->StaticColour(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
      default:
        return FALSE;
    }
  }

  static constexpr UINT kActivated = WM_APP + 1;
};

class ConfigDialog : public DialogBase, public ConfigView {
 public:
  explicit ConfigDialog(ConfigHandlers& handlers) : handlers_(handlers) {}
  ~ConfigDialog() override {
    if (tab_brush_) DeleteObject(tab_brush_);
  }

  void SetCaption(const Text& s) override { SetWindowTextW(h_, Wide(s).c_str()); }
  void SetTabCaption(int tab, const Text& s) override {
    std::wstring w = Wide(s);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = &w[0];
    if (!SendMessageW(Item(IDC_TABS), TCM_SETITEMW, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&item)))
      Raise(Err::SubscriptOutOfRange);
  }
  void SelectTab(int tab) override { SendMessageW(Item(IDC_TABS), TCM_SETCURSEL, static_cast<WPARAM>(tab), 0); }
  Text DbFile() const override { return WindowText(Item(IDC_DBFILE)); }
  void SetDbFile(const Text& s) override { SetWindowTextW(Item(IDC_DBFILE), Wide(s).c_str()); }
  int Search(int index) const override {
    return static_cast<int>(SendMessageW(Item(IDC_SEARCH0 + index), BM_GETCHECK, 0, 0));
  }
  void SetSearch(int index, int value) override {
    SendMessageW(Item(IDC_SEARCH0 + index), BM_SETCHECK, static_cast<WPARAM>(value), 0);
  }
  void ShowTables(bool visible) override {
    for (int id : {IDC_FRAME1, IDC_SEARCH0, IDC_SEARCH1}) ShowWindow(Item(id), visible ? SW_SHOW : SW_HIDE);
    ShowWindow(Item(IDC_LABEL2), visible ? SW_HIDE : SW_SHOW);
  }
  void SetTopmost(bool on) override { Topmost(on); }
  void Close() override { End(); }

 private:
  void Init() override {
    // The design-time tab; opening renames it.
    wchar_t lookup[] = L"Lookup";
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = lookup;
    SendMessageW(Item(IDC_TABS), TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    // Check boxes end where their text ends: the part beyond it is not
    // painted by every theme.
    for (int id : {IDC_SEARCH0, IDC_SEARCH1}) {
      HWND box = Item(id);
      RECT r;
      SIZE ideal{};
      GetWindowRect(box, &r);
      if (SendMessageW(box, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) && ideal.cx > 0 &&
          ideal.cx < r.right - r.left)
        SetWindowPos(box, nullptr, 0, 0, ideal.cx, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    handlers_.FormLoad(*this);
  }
  void Activated() override { handlers_.FormActivate(*this); }
  void Command(int id) override {
    if (id == IDOK) handlers_.OkClick(*this);
    else if (id == IDCANCEL) handlers_.CancelClick(*this);
    else if (id == IDC_BINI) handlers_.BIniClick(*this);
  }
  // Texts and check boxes lie on the tab control, not on the dialog: under
  // a theme they take the tab's own background, painted once into a brush
  // and aligned to each control.
  INT_PTR StaticColour(HDC dc, HWND control) override {
    HWND tab = Item(IDC_TABS);
    if (!GetWindowTheme(tab)) {
      // Classic: the tab is the dialog's colour.
      SetBkColor(dc, GetSysColor(COLOR_3DFACE));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE));
    }
    if (!tab_brush_) {
      RECT rc;
      GetClientRect(tab, &rc);
      HDC tab_dc = GetDC(tab);
      HDC mem = CreateCompatibleDC(tab_dc);
      HBITMAP bmp = CreateCompatibleBitmap(tab_dc, rc.right, rc.bottom);
      HGDIOBJ old = SelectObject(mem, bmp);
      SendMessageW(tab, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT | PRF_ERASEBKGND);
      SelectObject(mem, old);
      tab_brush_ = CreatePatternBrush(bmp);
      DeleteObject(bmp);
      DeleteDC(mem);
      ReleaseDC(tab, tab_dc);
    }
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, tab, reinterpret_cast<POINT*>(&r), 2);
    SetBrushOrgEx(dc, -r.left, -r.top, nullptr);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(tab_brush_);
  }

  void PaintBackground(HDC dc) override {
    DialogBase::PaintBackground(dc);
    HWND tab = Item(IDC_TABS);
    RECT r;
    GetWindowRect(tab, &r);
    MapWindowPoints(nullptr, h_, reinterpret_cast<POINT*>(&r), 2);
    POINT old;
    OffsetViewportOrgEx(dc, r.left, r.top, &old);
    SendMessageW(tab, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    SetViewportOrgEx(dc, old.x, old.y, nullptr);
  }

  HBRUSH tab_brush_ = nullptr;
  ConfigHandlers& handlers_;
};

class ActionDialog : public DialogBase, public ActionView {
 public:
  explicit ActionDialog(ActionHandlers& handlers) : handlers_(handlers) {}

  void AddItem(const Text& s) override {
    LRESULT r = SendMessageW(Combo(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(s).c_str()));
    if (r == CB_ERR || r == CB_ERRSPACE) Raise(Err::OutOfMemory);
  }
  int ListCount() const override { return static_cast<int>(SendMessageW(Combo(), CB_GETCOUNT, 0, 0)); }
  Text List(int index) const override {
    LRESULT n = SendMessageW(Combo(), CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n == CB_ERR) Raise(Err::SubscriptOutOfRange);
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
    n = SendMessageW(Combo(), CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf.data()));
    return FromWide(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
  }
  int32_t ItemData(int index) const override {
    return static_cast<int32_t>(SendMessageW(Combo(), CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
  }
  void SetListIndex(int index) override { SendMessageW(Combo(), CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
  Text ActionText() const override { return WindowText(Combo()); }
  void SetTopmost(bool on) override { Topmost(on); }
  void Close() override { End(); }

 private:
  HWND Combo() const { return Item(IDC_ACTION); }
  void Init() override { handlers_.FormLoad(*this); }
  void Activated() override { handlers_.FormActivate(*this); }
  void Command(int id) override {
    if (id == IDOK) handlers_.OkClick(*this);
    else if (id == IDCANCEL) handlers_.CancelClick(*this);
  }

  ActionHandlers& handlers_;
};

}  // namespace

void Win32Dialogs::ShowConfig(const OwnerWindow& owner, ConfigHandlers& handlers) {
  ConfigDialog dialog(handlers);
  dialog.Show(module_, IDD_FRMCONFIG, owner);
}

void Win32Dialogs::ShowAction(const OwnerWindow& owner, ActionHandlers& handlers) {
  ActionDialog dialog(handlers);
  dialog.Show(module_, IDD_FRMACTION, owner);
}

Text ShowOpenFile(HMODULE module, HWND owner, const OpenFileRequest& request) {
  CommonControlsV6 v6(module);
  // "description|pattern" pairs become NUL-separated, ending in two NULs.
  std::wstring filter = Wide(request.filter);
  for (wchar_t& c : filter) {
    if (c == L'|') c = L'\0';
  }
  filter.push_back(L'\0');
  std::wstring title = Wide(request.title);
  std::wstring ext = Wide(request.default_ext);
  std::vector<wchar_t> file(32768, L'\0');
  std::wstring start = Wide(request.file_name);
  start.copy(file.data(), std::min(start.size(), file.size() - 1));

  std::wstring folder = Wide(request.initial_folder);

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = title.c_str();
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  // Only a table that exists; the host's current folder stays as it was.
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (GetOpenFileNameW(&ofn)) return FromWide(file.data(), wcslen(file.data()));
  DWORD e = CommDlgExtendedError();
  if (e != 0) Raise(static_cast<int>(e), u"Common dialog function failed");
  return Text();
}

}  // namespace ledra::win32
