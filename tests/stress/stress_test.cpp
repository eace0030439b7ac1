// Four host threads, each with its own Session, search two companies and
// walk them for the cache while a writer thread appends rows, rewrites rows
// in place, now and then replaces a table by a copy (as a pack does) and
// throws every search key away. Built under ThreadSanitizer: a data race
// ends the run with its report. Every answer must be a well-formed record
// that says how the call ended, the known contacts must be found, once,
// whatever the writer does, and the key worker must stop with the last
// Session.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/vars.h"
#include "search/search_keys.h"
#include "fakes/well_formed.h"
#include "platform/native/native_files.h"
#include "platform/native/native_platform.h"
#include "session/session.h"
#include "tools/sample_tables.h"

namespace ledra {
namespace {

constexpr int kRows = 3000;
constexpr auto kRunFor = std::chrono::seconds(8);

std::atomic<int> g_faults{0};
std::mutex g_print;

void Fault(const std::string& what) {
  std::lock_guard<std::mutex> hold(g_print);
  if (g_faults++ < 20) std::fprintf(stderr, "FAIL %s\n", what.c_str());
}

void Expect(const Text& call, const Text& answer, bool must_succeed) {
  std::string fault = testing::RecordFault(answer);
  if (!fault.empty()) return Fault(ToUtf8(call) + ": " + fault);
  Text result = CStr(GetVar(answer, u"Result"));
  if (result != u"Success" && result != u"Fail") return Fault(ToUtf8(call) + ": no result in " + ToUtf8(answer));
  if (must_succeed && result != u"Success") Fault(ToUtf8(call) + ": not found: " + ToUtf8(answer));
}

struct Counts { long searches = 0; long records = 0; };

// A Session of the company in folder, loaded.
std::unique_ptr<Session> Loaded(const std::string& folder) {
  auto s = std::make_unique<Session>();
  // The settings name the table as a Windows path; the native files take
  // either separator.
  Text dbfile = FromUtf8(folder) + u"\\a_sname.dbf";
  std::replace(dbfile.begin(), dbfile.end(), u'/', u'\\');
  s->Initialize(u"{DBFile=" + dbfile + u"}", u"", nullptr);
  Expect(u"Load", s->Load(u""), true);
  return s;
}

void Host(const std::string& folder, const std::chrono::steady_clock::time_point until, Counts* counts) {
  const auto session = Loaded(folder);
  Session& s = *session;
  std::vector<const sample::KnownContact*> known;
  for (const auto& k : sample::KnownContacts()) {
    if (*k.dialled) known.push_back(&k);
  }
  for (size_t round = 0; std::chrono::steady_clock::now() < until; ++round) {
    const sample::KnownContact& k = *known[round % known.size()];
    Text tel = u"{Tel=" + FromUtf8(k.dialled) + u"}";
    Text answer = s.FindContact(tel);
    Expect(tel, answer, true);
    if (CStr(GetVar(answer, u"Id")) != FromUtf8(std::string(k.table) + k.account) ||
        CStr(GetVar(answer, u"Matches")) != u"1") {
      Fault("the caller " + std::string(k.dialled) + " is not " + k.account + " alone: " + ToUtf8(answer));
    }
    Text words = u"{Text=" + FromUtf8(k.name).substr(0, 4) + u"}{MaxFind=5}";
    Expect(words, s.FindList(words), true);
    Expect(u"absent number", s.FindContact(u"{Tel=" + FromUtf8(sample::kAbsentNumber) + u"}"), false);
    counts->searches += 3;
    // A part of the cache walk, left unfinished every other round.
    s.CacheStart();
    for (int i = 0; i < 400; ++i) {
      Text r = s.CacheRecord();
      std::string fault = testing::RecordFault(r);
      if (!fault.empty()) Fault("CacheRecord: " + fault);
      ++counts->records;
      if (r == u"{Result(S3)=Eof}") break;
    }
    if (round % 2) s.CacheEnd();
  }
  s.Unload();
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// Appends a copy of a row, rewrites a row with another's bytes, and every
// tenth turn writes the table anew and renames it over the old one; after
// each second of that it rests for three, long enough for the search keys
// to be built and trusted again.
void Writer(const std::string& folder, const std::chrono::steady_clock::time_point until, long* writes) {
  std::mt19937 random(5);
  const std::string paths[] = {folder + "/a_pname.dbf", folder + "/a_sname.dbf"};
  auto burst_end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (long turn = 0; std::chrono::steady_clock::now() < until; ++turn) {
    if (std::chrono::steady_clock::now() > burst_end) {
      std::this_thread::sleep_for(std::chrono::seconds(3));
      burst_end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
    const std::string& path = paths[turn % 2];
    std::string bytes = Slurp(path);
    const uint32_t count = U32(bytes, 4), header = U16(bytes, 8), reclen = U16(bytes, 10);
    // Rows from 10 on: the known contacts stay where they are and unique.
    auto row = [&](uint32_t n) { return bytes.substr(header + static_cast<size_t>(n) * reclen, reclen); };
    const uint32_t from = 10 + random() % (count - 10), to = 10 + random() % (count - 10);
    if (turn % 10 == 9) {
      std::string copy = path + ".tmp";
      std::ofstream(copy, std::ios::binary) << bytes;
      std::rename(copy.c_str(), path.c_str());
    } else if (FILE* f = std::fopen(path.c_str(), "r+b")) {
      std::string moved = row(from);
      std::fseek(f, static_cast<long>(header + static_cast<size_t>(to) * reclen), SEEK_SET);
      std::fwrite(moved.data(), 1, moved.size(), f);
      // The row first, then the count, as the application appends.
      std::fseek(f, static_cast<long>(header + static_cast<size_t>(count) * reclen), SEEK_SET);
      std::fwrite(moved.data(), 1, moved.size(), f);
      std::fputc(0x1A, f);
      std::fflush(f);
      const uint32_t more = count + 1;
      std::fseek(f, 4, SEEK_SET);
      std::fwrite(&more, 4, 1, f);
      std::fclose(f);
    }
    if (turn % 4 == 3) ClearSearchKeys();  // built anew under the hosts
    ++*writes;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace
}  // namespace ledra

int main() {
  using namespace ledra;
  char tmpl[] = "/tmp/ledra_stress_XXXXXX";
  const std::string folder = mkdtemp(tmpl), other = folder + "/other";
  std::filesystem::create_directory(other);
  sample::GenerateCompany(folder, "a_", kRows, 17);
  sample::GenerateCompany(other, "a_", kRows / 2, 18);
  NativePlatform native(folder + "/fen.log");
  NativeFiles files;
  native.platform.files = &files;
  SetPlatform(&native.platform);

  // A Session of the main thread keeps the other company's keys wanted
  // after the hosts have gone.
  auto keeper = Loaded(other);
  const auto until = std::chrono::steady_clock::now() + kRunFor;
  Counts counts[4];
  long writes = 0;
  std::vector<std::thread> threads;
  for (Counts& c : counts) threads.emplace_back(Host, &c - counts < 2 ? folder : other, until, &c);
  threads.emplace_back(Writer, folder, until, &writes);
  for (auto& t : threads) t.join();
  if (!SearchKeyWorkerRunning()) Fault("the key worker stopped while a Session still keeps keys");
  keeper.reset();
  if (SearchKeyWorkerRunning() || SearchKeyState().bytes) Fault("the key worker outlived the last Session");

  long searches = 0, records = 0;
  for (const Counts& c : counts) searches += c.searches, records += c.records;
  const SearchKeyStats keys = SearchKeyState();
  std::printf("4 host threads: %ld searches (%llu table searches from keys, %llu scanned), %ld cache records; "
              "writer: %ld changes; faults: %d\n",
              searches, static_cast<unsigned long long>(keys.keyed), static_cast<unsigned long long>(keys.scans),
              records, writes, g_faults.load());
  std::string log = Slurp(folder + "/fen.log");
  std::printf("log lines (a table changed under a scan): %ld\n",
              static_cast<long>(std::count(log.begin(), log.end(), '\n')));
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (searches == 0 || keys.keyed == 0 || g_faults) return 1;
  std::printf("all passed\n");
  return 0;
}
