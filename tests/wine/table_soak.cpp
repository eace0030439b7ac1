// One long-lived host keeps a Session while this process plays the
// accounting application on the customer table: hundreds of random edits in
// place (some with the write time put back), appends, deletes, packs into a
// new copy renamed over the table, packs that delete the table and rename
// the new copy to its name, and same-size copies with the old file times
// renamed over it. Each change is followed at once by lookups whose answer
// is known: the numbers it gave out, the ones it took away and one of the
// others. Once the Session goes, the module may unload. Mostly the changes come close together, as the application's
// work does; now and then it rests long enough for the plug-in to read the
// table again.
//
// It counts wrong answers, renames refused, deletes refused and tables left
// missing; all four must be 0.
//
// table_soak SAMPLE-FOLDER WORK-FOLDER [--changes N] [--seed S]
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "client.h"
#include "table_image.h"

namespace {

struct Counts { int wrong = 0, renames_refused = 0, deletes_refused = 0, missing = 0, lookups = 0; };

// The application's side: the table's image, a handle it keeps open for
// its edits (closed for a pack), and the numbers it gave out.
class Application {
 public:
  Application(const std::wstring& path, Counts& counts) : path_(path), image_(path), counts_(counts) {}
  bool Ready() const { return image_.count > 20 && image_.tel.length >= 12 && image_.account.length >= 6; }
  ~Application() { Close(); }

  std::map<std::string, std::wstring> holders;  // number -> Id; deleted and replaced numbers are absent
  std::vector<std::string> gone;                  // numbers nobody has any more

  void Edit(std::mt19937& rng, bool put_time_back) {
    const uint32_t row = Renumber(LiveRow(rng));
    FILETIME written{};
    Open();
    GetFileTime(h_, nullptr, nullptr, &written);
    Write(image_.header + row * image_.reclen, image_.Record(row), image_.reclen);
    if (put_time_back) SetFileTime(h_, nullptr, nullptr, &written);
  }

  void Append() {
    std::string added(image_.Record(image_.count - 1), image_.reclen);
    added[0] = ' ';
    image_.bytes.resize(image_.header + image_.count * image_.reclen);
    image_.bytes += added + '\x1A';
    const uint32_t row = image_.count++;
    image_.Set(row, image_.account, "SK" + std::to_string(numbered_ + 1));
    image_.Set(row, image_.tel, "");  // the copied record's number stays its own
    Renumber(row);
    std::memcpy(&image_.bytes[4], &image_.count, 4);
    Open();
    Write(image_.header + row * image_.reclen, image_.Record(row), image_.reclen + 1);  // the record and EOF
    Write(4, &image_.count, 4);
  }

  void Delete(std::mt19937& rng) {
    const uint32_t row = LiveRow(rng);
    image_.Record(row)[0] = '*';
    Forget(image_.Text(row, image_.tel));
    Open();
    Write(image_.header + row * image_.reclen, image_.Record(row), 1);
  }

  // The deleted records go; the new copy replaces the table, renamed over
  // it or after the table is deleted. With same_times, one number changes
  // in place of the pack and the copy keeps the table's size and times.
  void Replace(std::mt19937& rng, bool by_delete, bool same_times) {
    Close();
    FILETIME times[3]{};
    HANDLE h = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    GetFileTime(h, &times[0], &times[1], &times[2]);
    CloseHandle(h);
    if (same_times) {
      Renumber(LiveRow(rng));
    } else {
      Pack();
    }
    const std::wstring copy = path_ + L".new";
    h = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    WriteFile(h, image_.bytes.data(), static_cast<DWORD>(image_.bytes.size()), &done, nullptr);
    if (same_times) SetFileTime(h, &times[0], &times[1], &times[2]);
    CloseHandle(h);
    // What an application that does not try again would have failed on is
    // counted; the soak tries again so that it can go on.
    if (by_delete) {
      for (int i = 0; !DeleteFileW(path_.c_str()); ++i) {
        if (i == 0) ++counts_.deletes_refused;
        Sleep(20);
      }
    }
    const DWORD flags = by_delete ? 0 : MOVEFILE_REPLACE_EXISTING;
    for (int i = 0; !MoveFileExW(copy.c_str(), path_.c_str(), flags); ++i) {
      if (i == 0) ++counts_.renames_refused;
      if (i > 500) break;
      Sleep(20);
    }
    if (GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      ++counts_.missing;
      MoveFileExW(copy.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  }

 private:
  // A number nobody has.
  std::string NewNumber() {
    char n[16];
    std::snprintf(n, sizeof n, "0999 %07d", ++numbered_);
    return n;
  }
  std::wstring Id(uint32_t row) { return L"sn" + Wide(image_.Text(row, image_.account).c_str()); }

  // A record not deleted.
  uint32_t LiveRow(std::mt19937& rng) {
    for (;;) {
      const uint32_t row = rng() % image_.count;
      if (image_.Record(row)[0] != '*') return row;
    }
  }
  void Forget(const std::string& number) {
    if (holders.erase(number)) gone.push_back(number);
  }
  // Gives the row a new number; the row.
  uint32_t Renumber(uint32_t row) {
    const std::string number = NewNumber();
    Forget(image_.Text(row, image_.tel));
    image_.Set(row, image_.tel, number);
    holders[number] = Id(row);
    return row;
  }
  void Pack() {
    std::string packed = image_.bytes.substr(0, image_.header);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < image_.count; ++i) {
      if (image_.Record(i)[0] == '*') continue;
      packed.append(image_.Record(i), image_.reclen);
      ++kept;
    }
    packed += '\x1A';
    image_.bytes = std::move(packed);
    image_.count = kept;
    std::memcpy(&image_.bytes[4], &image_.count, 4);
  }
  void Open() {
    if (h_ == INVALID_HANDLE_VALUE) {
      h_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    }
  }
  void Close() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }
  void Write(uint32_t at, const void* p, uint32_t n) {
    DWORD done = 0;
    SetFilePointer(h_, static_cast<LONG>(at), nullptr, FILE_BEGIN);
    if (!WriteFile(h_, p, n, &done, nullptr) || done != n) std::printf("FAIL the soak's own write failed\n");
  }

  std::wstring path_;
  Table image_;
  Counts& counts_;
  HANDLE h_ = INVALID_HANDLE_VALUE;
  int numbered_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("FAIL usage: table_soak SAMPLE-FOLDER WORK-FOLDER [--changes N] [--seed S]\n");
    return 1;
  }
  int changes = 300;
  unsigned seed = 20261207;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--changes") == 0) changes = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
  }
  const std::wstring sample = Wide(argv[1]), work = Wide(argv[2]);
  CreateDirectoryW(work.c_str(), nullptr);
  for (const wchar_t* name : {L"\\a_pname.dbf", L"\\a_sname.dbf"}) {
    Expect("copy the sample table", CopyFileW((sample + name).c_str(), (work + name).c_str(), FALSE) != 0);
  }
  const std::wstring customers = work + L"\\a_sname.dbf";
  Counts counts;
  Application app(customers, counts);
  if (!Expect("the customer table's layout", app.Ready())) return Finish();

  CoInitialize(nullptr);
  _Session* s = CreateSession();
  ExpectEq("Load", InitializeAndLoad(s, L"{DBFile=" + customers + L"}"), L"{Result=Success}");
  std::mt19937 rng(seed);
  std::printf("soak: %d changes, seed %u\n", changes, seed);
  auto expect = [&](const std::string& number, const std::wstring& id, int change) {
    const std::wstring answer = Find(s, L"{Tel=" + Wide(number.c_str()) + L"}");
    ++counts.lookups;
    const bool right = id.empty() ? Value(answer, L"Reason") == L"NoFind" : Value(answer, L"Id") == id;
    if (!right && counts.wrong++ < 10) {
      std::printf("  change %d: %s should find %ls: %ls\n", change, number.c_str(), id.empty() ? L"nobody" : id.c_str(),
                  answer.c_str());
    }
  };
  const int rests = 20;  // long enough for the plug-in to read the table again
  int rested = 0;
  for (int change = 0; change < changes; ++change) {
    const auto gone_before = app.gone.size();
    switch (rng() % 8) {
      case 0: case 1: app.Edit(rng, false); break;
      case 2: app.Edit(rng, true); break;
      case 3: app.Append(); break;
      case 4: app.Delete(rng); break;
      case 5: app.Replace(rng, false, false); break;
      case 6: app.Replace(rng, true, false); break;
      default: app.Replace(rng, false, true); break;
    }
    // The numbers this change gave out and took away, and one other.
    if (!app.holders.empty()) {
      const auto newest = std::prev(app.holders.end());  // numbers are given out in order
      expect(newest->first, newest->second, change);
      auto other = app.holders.begin();
      std::advance(other, rng() % app.holders.size());
      expect(other->first, other->second, change);
    }
    for (size_t i = gone_before; i < app.gone.size(); ++i) expect(app.gone[i], L"", change);
    const bool rest = rested < rests && rng() % static_cast<unsigned>(changes) < static_cast<unsigned>(rests);
    rested += rest;
    Sleep(rest ? ScaledMs(4000) : rng() % 400);
  }
  std::printf("soak: %d lookups after %d changes (%d rests): %d wrong, %d renames refused, %d deletes refused, "
              "%d tables left missing\n",
              counts.lookups, changes, rested, counts.wrong, counts.renames_refused, counts.deletes_refused,
              counts.missing);
  Expect("every answer is the scan's", counts.wrong == 0);
  Expect("no rename was refused", counts.renames_refused == 0);
  Expect("no delete was refused", counts.deletes_refused == 0);
  Expect("the table was never missing", counts.missing == 0);
  BSTR r = nullptr;
  s->Unload(&r);
  Take(r);
  s->Release();
  Expect("the module may unload once the last Session is gone (no thread of its own left)", CanUnloadNow() == S_OK);
  CoUninitialize();
  return Finish();
}
