// The error log's file over the Win32 API.
#include <windows.h>
#include <sddl.h>

#include <string>

#include "platform/win32/win32_parts.h"

namespace ledra::win32 {

namespace {

const wchar_t kMachineLog[] = L"c:\\fen.log";

// How long an append waits for another writer: far longer than any append
// takes, short for the host's thread. Without the lock the bytes are still
// appended, but the file is not rolled over.
constexpr DWORD kLockWaitMs = 250;

// The named mutex that keeps the log's writers apart. c:\fen.log is every
// user's, so the mutex is the machine's and everyone may take it; where that
// cannot be had, the session's.
class LogLock {
 public:
  LogLock() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    // Everyone: SYNCHRONIZE and MUTEX_MODIFY_STATE, nothing more.
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;WD)", SDDL_REVISION_1, &sd, nullptr);
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    for (const wchar_t* name : {L"Global\\LedraII fen.log", L"Local\\LedraII fen.log"}) {
      h_ = CreateMutexExW(sd ? &sa : nullptr, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
      if (h_) break;
    }
    if (sd) LocalFree(sd);
    if (h_) {
      DWORD w = WaitForSingleObject(h_, kLockWaitMs);
      held_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
    }
  }
  ~LogLock() {
    if (held_) ReleaseMutex(h_);
    if (h_) CloseHandle(h_);
  }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  bool held() const { return held_; }

 private:
  HANDLE h_ = nullptr;
  bool held_ = false;
};

// Append-only, so that every write lands at the end whoever else writes;
// shared for deleting, so that the file can be renamed while it is open.
HANDLE OpenForAppend(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// %LOCALAPPDATA%\LedraII\fen.log, its folder made when missing; "" where
// the variable is not set.
std::wstring UserLog() {
  DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (n <= 1) return std::wstring();
  std::wstring folder(n, L'\0');
  folder.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", &folder[0], n));
  folder += L"\\LedraII";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\fen.log";
}

// Opens the file lines go to now, and says which.
HANDLE OpenLog(std::wstring* path) {
  *path = kMachineLog;
  HANDLE h = OpenForAppend(*path);
  if (h != INVALID_HANDLE_VALUE) return h;
  *path = UserLog();
  return path->empty() ? INVALID_HANDLE_VALUE : OpenForAppend(*path);
}

}  // namespace

void Win32Log::Append(const std::string& bytes, const Full& full) noexcept {
  try {
    LogLock lock;
    std::wstring path;
    HANDLE h = OpenLog(&path);
    if (h == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    if (lock.held() && GetFileSizeEx(h, &size) && full(static_cast<uint64_t>(size.QuadPart)) &&
        MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING)) {
      // The open handle went with the file to its new name: should no new
      // file open, the bytes still go into the old one.
      HANDLE fresh = OpenForAppend(path);
      if (fresh != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        h = fresh;
      }
    }
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
  } catch (...) {
  }
}

Text Win32Log::Path() {
  std::wstring path;
  HANDLE h = OpenLog(&path);
  if (h == INVALID_HANDLE_VALUE) return Text();
  CloseHandle(h);
  return Text(path.begin(), path.end());
}

}  // namespace ledra::win32
