// What one long-lived host's process reads while it keeps a Session of a
// company loaded, as the process sees it: the bytes it read (Linux's
// /proc/PID/io "rchar" under Wine, GetProcessIoCounters on Windows) over
// a window after warm-up, in three phases one after the other:
//   idle      no calls at all;
//   lookups   a caller identified every 2 s;
//   writer    the same lookups, and an edit in place of the customer table
//             every 15 s through a handle kept open, as the application
//             writes.
// Prints MB per minute for each phase.
//
// background_reads FOLDER WINDOW-SECONDS WARM-UP-SECONDS [PID-FILE]
//   FOLDER holds a_sname.dbf and a_pname.dbf; the writer changes the first
//   customer's telephone in place (between two values of the same size).
//   Under Wine, PID-FILE is where scripts/bench-reads writes this process's
//   Linux process number: Wine's server opens files for its clients, so
//   /proc/self would be the server's.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client.h"
#include "table_image.h"

namespace {

// The bytes this process has read so far.
unsigned long long BytesRead(const std::wstring& proc_io) {
  HANDLE h = proc_io.empty() ? INVALID_HANDLE_VALUE
                             : CreateFileW(proc_io.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    char text[1024] = {0};
    DWORD got = 0;
    ReadFile(h, text, sizeof text - 1, &got, nullptr);
    CloseHandle(h);
    if (const char* at = std::strstr(text, "rchar:")) return std::strtoull(at + 6, nullptr, 10);
  }
  IO_COUNTERS io{};
  GetProcessIoCounters(GetCurrentProcess(), &io);
  return io.ReadTransferCount;
}

// Z:\proc\PID\io from the file scripts/bench-reads writes, waiting for it.
std::wstring ProcIo(const char* pid_file) {
  for (int i = 0; i < 600; ++i, Sleep(100)) {
    FILE* f = std::fopen(pid_file, "r");
    unsigned long pid = 0;
    if (!f) continue;
    const bool read = std::fscanf(f, "%lu", &pid) == 1;
    std::fclose(f);
    if (read && pid) return L"Z:\\proc\\" + std::to_wstring(pid) + L"\\io";
  }
  std::printf("FAIL no process number in %s\n", pid_file);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: background_reads FOLDER WINDOW-SECONDS WARM-UP-SECONDS [PID-FILE]\n");
    return 2;
  }
  const std::wstring folder = Wide(argv[1]);
  const DWORD window = static_cast<DWORD>(std::atoi(argv[2]));
  const DWORD warm_up = static_cast<DWORD>(std::atoi(argv[3]));
  const std::wstring proc_io = argc > 4 ? ProcIo(argv[4]) : L"";
  const std::wstring customers = folder + L"\\a_sname.dbf";
  Table image(customers);
  if (image.count < 2 || image.tel.length < 12) {
    std::printf("FAIL the customer table cannot be read: %ls\n", customers.c_str());
    return 1;
  }
  uint32_t caller = 1;  // a customer with a telephone, not the one the writer edits
  while (caller + 1 < image.count && image.Text(caller, image.tel).size() < 6) ++caller;
  const std::wstring known = Wide(image.Text(caller, image.tel).c_str());

  CoInitialize(nullptr);
  _Session* s = CreateSession();
  const std::wstring loaded = InitializeAndLoad(s, L"{DBFile=" + customers + L"}");
  if (loaded != L"{Result=Success}") {
    std::printf("FAIL Load: %ls\n", loaded.c_str());
    return 1;
  }
  Sleep(warm_up * 1000);

  HANDLE writer = INVALID_HANDLE_VALUE;
  int edits = 0;
  auto edit = [&] {
    if (writer == INVALID_HANDLE_VALUE) {
      writer = CreateFileW(customers.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    image.Set(0, image.tel, ++edits % 2 ? "0999 000 0001" : "0999 000 0002");
    DWORD done = 0;
    SetFilePointer(writer, static_cast<LONG>(image.header + image.tel.offset), nullptr, FILE_BEGIN);
    WriteFile(writer, image.Record(0) + image.tel.offset, image.tel.length, &done, nullptr);
  };
  struct Phase { const char* name; DWORD lookup_ms, edit_ms; };
  for (const Phase& p : {Phase{"idle", 0, 0}, Phase{"lookups", 2000, 0}, Phase{"writer", 2000, 15000}}) {
    const int edits_before = edits;
    int lookups = 0;
    const unsigned long long before = BytesRead(proc_io);
    const DWORD start = GetTickCount();
    DWORD next_lookup = 0, next_edit = p.edit_ms;
    for (DWORD now = 0; now < window * 1000; now = GetTickCount() - start) {
      if (p.lookup_ms && now >= next_lookup) {
        const std::wstring answer = Find(s, L"{Tel=" + known + L"}");
        if (Value(answer, L"Result") != L"Success") std::printf("FAIL lookup: %ls\n", answer.c_str());
        ++lookups;
        next_lookup += p.lookup_ms;
      }
      if (p.edit_ms && now >= next_edit) {
        edit();
        next_edit += p.edit_ms;
      }
      Sleep(50);
    }
    const double minutes = (GetTickCount() - start) / 60000.0;
    const double mb = (BytesRead(proc_io) - before) / 1e6;
    std::printf("%-8s %8.2f MB/min  (%.1f MB in %.0f s, %d lookups, %d edits)\n", p.name, mb / minutes, mb,
                minutes * 60, lookups, edits - edits_before);
    std::fflush(stdout);
  }
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  BSTR r = nullptr;
  s->Unload(&r);
  Take(r);
  s->Release();
  CoUninitialize();
  return 0;
}
