// One host process keeps a Session while the accounting application edits a
// customer's telephone in place and appends a customer, between two
// lookups, then replaces the table by a copy of the same size and write
// time: the next lookups find the edited and the new caller, as a scan
// would. Once the last Session is released the module may unload (no
// thread of its own is left).
//
// fresh_keys SAMPLE-FOLDER WORK-FOLDER   (the sample's tables are copied to WORK-FOLDER)
#include <cstring>
#include <string>

#include "client.h"
#include "table_image.h"

namespace {

// Writes the changed bytes in place through one handle, as the accounting
// application does: the record in the middle, then the new record and the
// header's count.
bool EditAndAppend(const std::wstring& path, Table& t, uint32_t edited) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  auto write = [&](uint32_t at, const void* p, uint32_t n) {
    DWORD done = 0;
    SetFilePointer(h, static_cast<LONG>(at), nullptr, FILE_BEGIN);
    return WriteFile(h, p, n, &done, nullptr) && done == n;
  };
  std::string added(t.Record(edited + 1), t.reclen);
  bool ok = write(t.header + edited * t.reclen, t.Record(edited), t.reclen);
  t.bytes.insert(t.header + t.count * t.reclen, added);
  t.Set(t.count, t.account, "ZZNEW1");
  t.Set(t.count, t.tel, "0999 111 4445");
  ok = ok && write(t.header + t.count * t.reclen, t.Record(t.count), t.reclen);
  const char eof = 0x1A;
  ok = ok && write(t.header + (t.count + 1) * t.reclen, &eof, 1);
  ++t.count;
  std::memcpy(&t.bytes[4], &t.count, 4);
  ok = ok && write(4, &t.count, 4);
  CloseHandle(h);
  return ok;
}

// Writes t's bytes to a copy with the table's own last-write time and
// renames it over the table: only the file itself is new.
bool ReplaceByCopy(const std::wstring& path, const Table& t) {
  FILETIME written{};
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  bool ok = h != INVALID_HANDLE_VALUE && GetFileTime(h, nullptr, nullptr, &written);
  CloseHandle(h);
  const std::wstring copy = path + L".new";
  h = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  ok = ok && h != INVALID_HANDLE_VALUE && WriteFile(h, t.bytes.data(), static_cast<DWORD>(t.bytes.size()), &done, nullptr) &&
       SetFileTime(h, nullptr, nullptr, &written);
  CloseHandle(h);
  // Refused while a reader has the table open (Windows replaces no open
  // file), as the application's own pack would be: try again.
  bool moved = false;
  for (int i = 0; ok && !moved && i < 100; ++i) {
    moved = MoveFileExW(copy.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) || (Sleep(20), false);
  }
  ok = moved;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("FAIL usage: fresh_keys SAMPLE-FOLDER WORK-FOLDER\n");
    return 1;
  }
  const std::wstring sample = Wide(argv[1]), work = Wide(argv[2]);
  CreateDirectoryW(work.c_str(), nullptr);
  for (const wchar_t* name : {L"\\a_pname.dbf", L"\\a_sname.dbf"}) {
    Expect("copy the sample table", CopyFileW((sample + name).c_str(), (work + name).c_str(), FALSE) != 0);
  }
  const std::wstring customers = work + L"\\a_sname.dbf";
  Table t(customers);
  if (!Expect("the customer table's layout", t.count > 20 && t.tel.length >= 12 && t.account.length >= 6)) {
    return Finish();
  }
  const uint32_t edited = 10;
  const std::wstring id = L"sn" + Wide(t.Text(edited, t.account).c_str());
  const std::wstring old_tel = Wide(t.Text(edited, t.tel).c_str());

  CoInitialize(nullptr);
  _Session* s = CreateSession();
  ExpectEq("Load", InitializeAndLoad(s, L"{DBFile=" + customers + L"}"), L"{Result=Success}");
  Sleep(ScaledMs(3000));  // the keys are built by now, and old enough to answer

  std::wstring answer = Find(s, L"{Tel=" + old_tel + L"}");
  Expect("the customer is found by the number it has", Value(answer, L"Result") == L"Success", answer);
  for (const wchar_t* unused : {L"{Tel=0999 111 2223}", L"{Tel=0999 111 4445}"}) {
    answer = Find(s, unused);
    Expect("nobody has the numbers to come", Value(answer, L"Reason") == L"NoFind", answer);
  }

  t.Set(edited, t.tel, "0999 111 2223");
  Expect("the accounting application edits one customer and adds another", EditAndAppend(customers, t, edited));
  answer = Find(s, L"{Tel=0999 111 2223}");
  Expect("the edited customer is found by the new number", Value(answer, L"Id") == id, answer);
  answer = Find(s, L"{Tel=0999 111 4445}");
  Expect("the new customer is found", Value(answer, L"Id") == L"snZZNEW1", answer);

  Sleep(ScaledMs(6000));  // keys again, built from the edited table and trusted
  t.Set(edited, t.tel, "0999 111 6667");
  Expect("a copy of the same size and time is renamed over the table", ReplaceByCopy(customers, t));
  answer = Find(s, L"{Tel=0999 111 6667}");
  Expect("the copy's number is found", Value(answer, L"Id") == id, answer);

  BSTR r = nullptr;
  s->Unload(&r);
  Take(r);
  s->Release();
  Expect("the module may unload once the last Session is gone", CanUnloadNow() == S_OK);
  CoUninitialize();
  return Finish();
}
