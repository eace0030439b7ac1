// Clock, message pump, registry, files and the hidden owner window
// over the Win32 API.
#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "platform/win32/win32_automation.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_parts.h"
#include "platform/win32/win32_platform.h"
#include "dialogs/dialog_views.h"

namespace ledra::win32 {

namespace {

std::wstring Wide(const Text& s) { return std::wstring(s.begin(), s.end()); }
Text FromWide(const wchar_t* s) { return s ? Text(reinterpret_cast<const char16_t*>(s)) : Text(); }

// The predefined keys are 32-bit numbers that the headers widen with their
// sign: HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002 in a 64-bit process.
HKEY Root(uint32_t root) { return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(root))); }

REGSAM ViewFlag(Registry::View view) {
  switch (view) {
    case Registry::View::Bits32: return KEY_WOW64_32KEY;
    case Registry::View::Bits64: return KEY_WOW64_64KEY;
    case Registry::View::Own: break;
  }
  return 0;
}

}  // namespace

OleDate Win32Clock::Now() const {
  SYSTEMTIME st;
  GetLocalTime(&st);
  st.wMilliseconds = 0;
  DATE d = 0;
  SystemTimeToVariantTime(&st, &d);
  return d;
}

float Win32Clock::Timer() const {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return static_cast<float>(st.wHour * 3600 + st.wMinute * 60 + st.wSecond + st.wMilliseconds / 1000.0);
}

uint32_t Win32Clock::TickCount() const { return GetTickCount(); }

uint64_t Win32Clock::Milliseconds() const { return GetTickCount64(); }

bool Win32Pump::HasPending() const { return HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0; }

void Win32Pump::DoEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit for the host's own loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32Pump::WaitForMessages(uint32_t max_ms) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, max_ms, QS_ALLINPUT);
}

long Win32Registry::OpenKey(uint32_t root, const Text& subkey, Key* key, View view) {
  HKEY h = nullptr;
  LONG rc = RegOpenKeyExW(Root(root), Wide(subkey).c_str(), 0, KEY_READ | ViewFlag(view), &h);
  *key = reinterpret_cast<Key>(h);
  return rc;
}

long Win32Registry::QueryValue(Key key, const Text& name, uint32_t* type, uint8_t* data, uint32_t* size) {
  DWORD t = 0, n = size ? *size : 0;
  LONG rc = RegQueryValueExW(reinterpret_cast<HKEY>(key), Wide(name).c_str(), nullptr, &t, data, &n);
  if (type) *type = t;
  if (size) *size = n;
  return rc;
}

long Win32Registry::CloseKey(Key key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

long Win32Registry::DeleteKey(uint32_t root, const Text& subkey) {
  return RegDeleteKeyW(Root(root), Wide(subkey).c_str());
}

long Win32Registry::SetText(uint32_t root, const Text& subkey, const Text& name, const Text& value) {
  HKEY h = nullptr;
  LONG rc = RegCreateKeyExW(Root(root), Wide(subkey).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  std::wstring v = Wide(value);
  rc = RegSetValueExW(h, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                      static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
  return rc;
}

Text Win32Registry::ExpandEnvironment(const Text& s) const {
  std::wstring in = Wide(s);
  DWORD n = ExpandEnvironmentStringsW(in.c_str(), nullptr, 0);
  if (n == 0) return s;
  std::vector<wchar_t> out(n + 1, L'\0');
  if (ExpandEnvironmentStringsW(in.c_str(), out.data(), n + 1) == 0) return s;
  return FromWide(out.data());
}

namespace {

// The file's index on its volume (FileInternalInformation), 0 when the file
// system keeps none.
uint64_t FileIndex(HANDLE h) {
  using Query = LONG(WINAPI*)(HANDLE, void* status, void* info, ULONG size, int info_class);
  static const Query query =
      reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  constexpr int kFileInternalInformation = 6;
  ULONG_PTR status[2] = {};  // IO_STATUS_BLOCK
  LARGE_INTEGER index{};
  if (!query || query(h, status, &index, sizeof index, kFileInternalInformation) < 0) return 0;
  return static_cast<uint64_t>(index.QuadPart);
}

class Win32DataFile : public DataFile {
 public:
  explicit Win32DataFile(HANDLE h) : h_(h) {}
  ~Win32DataFile() override { CloseHandle(h_); }
  // A seek and a plain read, not a read with an OVERLAPPED offset: under
  // Wine that one costs a round trip to the server (for a completion port
  // the handle never has), 40 us a read here, and a search reads both
  // tables. Each file object is read by one thread at a time.
  int64_t ReadAt(uint64_t offset, void* buf, size_t n) override {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(h_, at, nullptr, FILE_BEGIN)) return -1;
    DWORD got = 0;
    // One ReadFile takes a DWORD count: a larger request (x64) reads short.
    const DWORD want = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    if (!ReadFile(h_, buf, want, &got, nullptr)) {
      return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
  }
  int64_t Size() override {
    LARGE_INTEGER s;
    return GetFileSizeEx(h_, &s) ? s.QuadPart : -1;
  }
  int64_t LastWriteTime() override {
    FILETIME written;
    if (!GetFileTime(h_, nullptr, nullptr, &written)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
  }

  uint64_t Identity() override {
    Facts f;
    return Stat(&f) ? f.identity : 0;
  }

  // Every keyed search asks this of both tables, so it avoids
  // GetFileInformationByHandle: its volume query costs about a millisecond
  // under Wine and a round trip on a network share. The file index alone
  // tells a copy renamed over the table from the table itself.
  bool Stat(Facts* f) override {
    FILE_STANDARD_INFO standard;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(h_, FileStandardInfo, &standard, sizeof standard) ||
        !GetFileInformationByHandleEx(h_, FileBasicInfo, &basic, sizeof basic)) {
      return false;
    }
    f->size = standard.EndOfFile.QuadPart;
    f->written = basic.LastWriteTime.QuadPart;
    f->identity = FileIndex(h_);
    return true;
  }

 private:
  HANDLE h_;
};

Text SystemMessage(DWORD code) {
  wchar_t* msg = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&msg), 0, nullptr);
  Text t = FromWide(msg);
  LocalFree(msg);
  while (!t.empty() && (t.back() == u'\n' || t.back() == u'\r' || t.back() == u' ')) t.pop_back();
  return t;
}

}  // namespace

std::unique_ptr<DataFile> Win32Files::OpenShared(const Text& path, Text* error) {
  // The accounting application keeps reading and writing while we read.
  // A delete is not shared: with FILE_SHARE_DELETE it would succeed but
  // leave the file in the folder, pending, until we close it, so that a
  // pack's rename of its new copy to the table's name is refused and the
  // table is gone once we let go. Refused, the delete fails at once and
  // the application reports it; nothing is lost.
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = SystemMessage(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32DataFile>(h);
}

namespace {

// ReadDirectoryChangesW on the folder, one request always outstanding,
// looked at without waiting. The folder handle shares everything, so the
// folder's files can be renamed and deleted as if nobody watched.
class Win32FolderWatch : public FolderWatch {
 public:
  static std::unique_ptr<Win32FolderWatch> Open(const Text& folder) {
    HANDLE h = CreateFileW(Wide(folder).c_str(), FILE_LIST_DIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    std::unique_ptr<Win32FolderWatch> w(new Win32FolderWatch(h));
    if (!w->Ask()) return nullptr;
    return w;
  }
  ~Win32FolderWatch() override {
    if (asked_) {
      // The system writes into buffer_ until the request is over.
      DWORD n = 0;
      CancelIoEx(h_, &ov_);
      GetOverlappedResult(h_, &ov_, &n, TRUE);
    }
    CloseHandle(h_);
    CloseHandle(ov_.hEvent);
  }
  Win32FolderWatch(const Win32FolderWatch&) = delete;
  Win32FolderWatch& operator=(const Win32FolderWatch&) = delete;

  bool Changes(std::vector<Text>* names) override {
    if (!asked_) return false;
    if (!HasOverlappedIoCompleted(&ov_)) return true;
    DWORD n = 0;
    asked_ = false;
    // Nothing came back: more changed than the buffer holds, or the folder
    // can no longer be watched.
    const bool whole = GetOverlappedResult(h_, &ov_, &n, FALSE) && n > 0;
    for (DWORD at = 0; whole && at + sizeof(FILE_NOTIFY_INFORMATION) <= n;) {
      const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + at);
      names->push_back(Text(reinterpret_cast<const char16_t*>(info->FileName), info->FileNameLength / 2));
      if (!info->NextEntryOffset) break;
      at += info->NextEntryOffset;
    }
    return Ask() && whole;
  }

 private:
  explicit Win32FolderWatch(HANDLE h) : h_(h) { ov_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  bool Ask() {
    ResetEvent(ov_.hEvent);
    asked_ = ov_.hEvent && ReadDirectoryChangesW(h_, buffer_, sizeof buffer_, FALSE,
                                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                                     FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES,
                                                 nullptr, &ov_, nullptr);
    return asked_;
  }

  HANDLE h_;
  OVERLAPPED ov_{};
  bool asked_ = false;
  // A share passes at most 64 KB of changes at a time.
  alignas(DWORD) BYTE buffer_[64 * 1024];
};

}  // namespace

std::unique_ptr<FolderWatch> Win32Files::Watch(const Text& folder) { return Win32FolderWatch::Open(folder); }

std::vector<Text> Win32Files::List(const Text& folder) {
  std::vector<Text> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((Wide(folder) + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(FromWide(fd.cFileName));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return names;
}

bool Win32Files::FolderExists(const Text& folder) {
  DWORD a = GetFileAttributesW(Wide(folder.empty() ? Text(u".") : folder).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t Win32Files::FileTimeNow() const {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

Text Win32Files::Join(const Text& folder, const Text& name) const {
  if (folder.empty()) return name;
  if (folder.back() == u'\\' || folder.back() == u'/') return folder + name;
  return folder + u"\\" + name;
}

namespace {

const wchar_t kOwnerClass[] = L"LedraIIOwner";

class Win32OwnerWindow : public OwnerWindow {
 public:
  explicit Win32OwnerWindow(HWND h) : h_(h) {}
  ~Win32OwnerWindow() override {
    if (IsWindow(h_)) DestroyWindow(h_);
  }
  uintptr_t Handle() const override { return reinterpret_cast<uintptr_t>(h_); }
  // The picker is modal to the dialog that asked for it (the thread's
  // active window), so that the dialog gets the focus back when it closes.
  Text ShowOpen(const OpenFileRequest& request) override {
    HWND active = GetActiveWindow();
    return ShowOpenFile(reinterpret_cast<HMODULE>(GetWindowLongPtrW(h_, GWLP_HINSTANCE)), active ? active : h_,
                        request);
  }

 private:
  HWND h_;
};

}  // namespace

std::unique_ptr<OwnerWindow> Win32Windows::CreateOwnerWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = module_;
  wc.lpszClassName = kOwnerClass;
  RegisterClassW(&wc);  // fails harmlessly when already registered
  HWND h = CreateWindowExW(0, kOwnerClass, L"LedraII", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module_, nullptr);
  if (!h) return nullptr;
  return std::make_unique<Win32OwnerWindow>(h);
}

namespace {

ModuleInfo ReadModuleInfo(HMODULE module) {
  ModuleInfo info;
  info.title = u"LedraII";
  wchar_t path[MAX_PATH + 1] = {0};
  GetModuleFileNameW(module, path, MAX_PATH);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return info;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return info;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed) {
    info.major = HIWORD(fixed->dwFileVersionMS);
    info.minor = LOWORD(fixed->dwFileVersionMS);
  }
  struct Translation { WORD language, codepage; }* tr = nullptr;
  if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr), &len) && tr &&
      len >= sizeof(Translation)) {
    wchar_t key[96];
    auto read = [&](const wchar_t* name, Text* out) {
      wsprintfW(key, L"\\StringFileInfo\\%04x%04x\\%s", tr->language, tr->codepage, name);
      wchar_t* value = nullptr;
      UINT n = 0;
      if (VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&value), &n) && value) *out = FromWide(value);
    };
    read(L"Comments", &info.comments);
    Text internal;
    read(L"InternalName", &internal);
    if (!internal.empty()) info.title = internal;
  }
  return info;
}

}  // namespace

Platform& ThePlatform(HMODULE module) {
  static Win32Locale locale;
  static Win32Log log;
  static Win32Clock clock;
  static Win32Pump pump;
  static Win32Registry registry;
  static Win32Files files;
  static Win32Windows windows(module);
  static Win32Desktop desktop;
  static Win32Keyboard keyboard;
  static Win32Programs programs;
  static Win32Dialogs dialogs(module);
  static Win32Threads threads;
  static Platform platform = [&] {
    Platform p;
    p.locale = &locale;
    p.log = &log;
    p.clock = &clock;
    p.pump = &pump;
    p.registry = &registry;
    p.files = &files;
    p.windows = &windows;
    p.module = ReadModuleInfo(module);
    p.desktop = &desktop;
    p.keyboard = &keyboard;
    p.programs = &programs;
    p.dialogs = &dialogs;
    p.threads = &threads;
    return p;
  }();
  return platform;
}

}  // namespace ledra::win32
