// A host that calls one Session 2,000 times and more in one process (searches,
// full cache walks, walks left unfinished, Unload and Load) and checks that
// the process's handle count and private bytes stay flat. Then, with a walk
// left unfinished, another program opens the supplier table exclusively and
// renames it, as a pack of the accounting application does.
//
// leak_test FOLDER                 the host (FOLDER holds a_pname.dbf, a_sname.dbf)
// leak_test --exclusive TABLE      the other program: exit 0 when it could
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "client.h"

namespace {

int g_calls = 0;

// One call that answers a BSTR; the answer is freed at once.
template <class F>
std::wstring Call(F&& f) {
  BSTR r = nullptr;
  f(&r);
  ++g_calls;
  return Take(r);
}

// The figures are taken as Wine answers them truly (its
// GetProcessHandleCount says 0, its PrivateUsage is the swap in use): the
// process's entries in the system handle table, and the committed private
// pages that VirtualQuery walks. Windows answers both alike.
struct Usage { unsigned long handles = 0; unsigned long long bytes = 0; };

struct HandleEntry { ULONG owner_pid; BYTE object_type; BYTE flags; USHORT value; PVOID object; ULONG access; };

DWORD HandleEntries() {
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
  if (!query) return 0;
  static std::string buffer(1 << 20, '\0');
  ULONG needed = 0;
  LONG status;
  while ((status = query(16, &buffer[0], static_cast<ULONG>(buffer.size()), &needed)) == LONG(0xC0000004)) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return 0;
  const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
  const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
  DWORD mine = 0;
  for (ULONG i = 0; i < count; ++i) mine += entries[i].owner_pid == GetCurrentProcessId();
  return mine;
}

SIZE_T CommittedPrivate() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION m;
  for (char* p = nullptr; VirtualQuery(p, &m, sizeof m) == sizeof m; p = static_cast<char*>(m.BaseAddress) + m.RegionSize) {
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) total += m.RegionSize;
    if (static_cast<char*>(m.BaseAddress) + m.RegionSize < p) break;
  }
  return total;
}

Usage Measure() { return {HandleEntries(), CommittedPrivate()}; }

void Print(const char* when, const Usage& u) {
  std::printf("  %-7s handles: %lu; private bytes: %llu\n", when, u.handles, u.bytes);
}

// Runs as the other program: an exclusive open (share mode 0), then a
// rename away and back.
int Exclusive(const char* table) {
  std::wstring path = Wide(table);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("FAIL exclusive open of %s: error %lu\n", table, GetLastError());
    return 1;
  }
  CloseHandle(h);
  std::wstring moved = path + L".pack";
  if (!MoveFileW(path.c_str(), moved.c_str()) || !MoveFileW(moved.c_str(), path.c_str())) {
    std::printf("FAIL rename of %s: error %lu\n", table, GetLastError());
    return 1;
  }
  return 0;
}

int RunOther(const std::string& table) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self) + L"\" --exclusive \"" + Wide(table.c_str()) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--exclusive") return Exclusive(argv[2]);
  if (argc < 2) return 2;
  CoInitialize(nullptr);
  _Session* s = CreateSession();
  const std::string folder = argv[1];
  Bstr empty(L""), tel(L"{Tel=01234 567890}"), absent(L"{Tel=09876 543210}"), words(L"{Text=harr}{MaxFind=10}");
  // Failures inside the rounds are counted, and only the first ten printed.
  auto expect = [&](bool ok, const char* what, const std::wstring& answer) {
    if (!ok && g_failures++ < 10) std::printf("FAIL %s: [%ls]\n", what, answer.c_str());
  };
  expect(InitializeAndLoad(s, L"{DBFile=" + Wide(folder.c_str()) + L"\\a_sname.dbf}") == L"{Result=Success}", "Load",
         L"");

  int full = 0;  // the records of a full walk, both tables
  // A walk: its records, whether it reached the end; `stop` records at most.
  auto walk = [&](int stop, bool end) {
    int records = 0;
    Call([&](BSTR* r) { return s->CacheStart(r); });
    for (int i = 0; i < stop; ++i) {
      std::wstring a = Call([&](BSTR* r) { return s->CacheRecord(r); });
      if (a.find(L"{Result(S3)=Eof}") != std::wstring::npos) break;
      records += a.find(L"{Result(S7)=Success}") == 0;
    }
    if (end) Call([&](BSTR* r) { return s->CacheEnd(r); });
    return records;
  };
  auto round = [&](int n) {
    std::wstring a = Call([&](BSTR* r) { return s->FindContact(tel.b, r); });
    expect(a.find(L"{Id(S8)=pnACME01}") != std::wstring::npos, "FindContact", a);
    a = Call([&](BSTR* r) { return s->FindContact(absent.b, r); });
    expect(a.find(L"{Reason(S6)=NoFind}") != std::wstring::npos, "FindContact of an absent number", a);
    a = Call([&](BSTR* r) { return s->FindList(words.b, r); });
    expect(a.find(L"{Result(S7)=Success}") != std::wstring::npos, "FindList", a);
    walk(25, n % 2 == 0);  // left unfinished every other round
    if (n % 3 == 0) {
      Call([&](BSTR* r) { return s->Unload(r); });
      a = Call([&](BSTR* r) { return s->Load(&empty.b, r); });
      expect(a == L"{Result=Success}", "Load after Unload", a);
    }
    if (n % 10 == 0) {
      int records = walk(100000, true);
      if (!full) full = records;
      expect(records == full && records > 500, "a full walk", std::to_wstring(records) + L" records");
    }
  };

  // Warm up: the heaps and the runtime settle in during the first rounds.
  int n = 0;
  while (g_calls < 400) round(n++);
  const int warm = g_calls;
  Usage before = Measure();
  while (g_calls < warm + 1000) round(n++);
  Usage middle = Measure();
  while (g_calls < warm + 2000) round(n++);
  Usage after = Measure();
  std::printf("%d calls measured, after %d to warm up:\n", g_calls - warm, warm);
  Print("before", before);
  Print("middle", middle);
  Print("after", after);
  const long long grown = static_cast<long long>(after.bytes) - static_cast<long long>(before.bytes);
  Expect("figures to judge by", after.handles && after.bytes);
  Expect("the handle count stays within 2", after.handles <= before.handles + 2,
         std::to_wstring(static_cast<long>(after.handles) - static_cast<long>(before.handles)));
  Expect("private bytes grow by 256 KB at most", grown <= 256 * 1024, std::to_wstring(grown));

  // A walk left unfinished holds no file: the other program gets the
  // supplier table for itself, and the walk then goes on to its end.
  walk(2, false);
  int other = RunOther(folder + "\\a_pname.dbf");
  Expect("another program opens the supplier table exclusively and renames it during a walk", other == 0,
         std::to_wstring(other));
  int rest = 0;
  for (;;) {
    std::wstring a = Call([&](BSTR* r) { return s->CacheRecord(r); });
    if (a.find(L"{Result(S3)=Eof}") != std::wstring::npos || rest > 1000) break;
    rest += a.find(L"{Result(S7)=Success}") == 0;
  }
  expect(rest == full - 2, "the rest of the walk", std::to_wstring(rest) + L" records");

  s->Release();
  CoUninitialize();
  if (!g_failures) std::printf("ok   handles and private bytes stayed flat\n");
  return Finish();
}
