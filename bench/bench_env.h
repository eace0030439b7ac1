// What the benchmark's parts share: the sample companies on disk, the
// measurements outside the plug-in, and the plug-in set up as the host does
// it over one company.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/vars.h"
#include "dbf/dbf_connection.h"
#include "platform/native/native_files.h"
#include "platform/native/native_platform.h"
#include "session/session.h"

namespace bench {

using ledra::Text;

constexpr uint64_t kSizes[] = {10000, 100000, 500000};

// The folder of a company with rows records per table, made when missing
// (under build/bench-data/<rows>/, or $LEDRA_BENCH_DATA/<rows>/).
std::string Company(uint64_t rows);

double PeakRssMb();
double CurrentRssMb();
// Reads the files front to back in 1 MB blocks; the bytes read.
uint64_t ReadFiles(const std::vector<std::string>& paths);
// Seconds to read the files from the page cache: warmed first, then the
// best of a few reads.
double RawReadSeconds(const std::vector<std::string>& paths);

class CountingLog : public ledra::LogFile {
 public:
  void Append(const std::string& bytes, const Full&) noexcept override {
    if (lines++ < 5) std::fprintf(stderr, "log: %s", bytes.c_str());
  }
  long lines = 0;
};

// One company's tables with a platform of their own (its in-memory registry
// holds the data source the Session registers) and a loaded Session. Only
// one exists at a time, so every Session is instance 1 and registers the
// data source it connects to.
struct Env {
  explicit Env(uint64_t rows) : rows(rows), folder(Company(rows)), native("/dev/null") {
    native.platform.log = &log;
    native.platform.files = &files;
    native.platform.threads = nullptr;  // the scan's figures: no worker reading beside them
    ledra::SetPlatform(&native.platform);
    paths = {folder + "/a_pname.dbf", folder + "/a_sname.dbf"};
    session = std::make_unique<ledra::Session>();
    session->Initialize(Settings(), Text(), nullptr);
    Text load = session->Load(Text());
    if (ledra::ToUtf8(load) != "{Result=Success}") throw std::runtime_error("load failed: " + ledra::ToUtf8(load));
    live_rows = CountLive("a_pname") + CountLive("a_sname");
    raw_seconds = RawReadSeconds(paths);
    last_customer = LastAccount("a_sname", u"sn_account");
  }
  ~Env() {
    session.reset();
    ledra::SetPlatform(nullptr);
  }

  // The settings record: the customer table's path, Windows style.
  Text Settings() const {
    std::string path = folder + "/a_sname.dbf";
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    Text rd;
    ledra::AddVar(rd, u"DBFile", ledra::FromUtf8(path));
    return rd;
  }

  uint64_t CountLive(const char* table) {
    auto rs = ledra::OpenDbfFolder(ledra::FromUtf8(folder))->OpenResultset(u"select * from " + ledra::FromUtf8(table));
    uint64_t n = 0;
    for (; !rs->Eof(); rs->MoveNext()) ++n;
    return n;
  }

  Text LastAccount(const char* table, const Text& column) {
    auto rs = ledra::OpenDbfFolder(ledra::FromUtf8(folder))->OpenResultset(u"select * from " + ledra::FromUtf8(table));
    Text last;
    for (; !rs->Eof(); rs->MoveNext()) last = ledra::TextForm(rs->Field(column));
    return ledra::Trim(last);
  }

  uint64_t rows;
  std::string folder;
  std::vector<std::string> paths;
  ledra::NativePlatform native;
  CountingLog log;
  ledra::NativeFiles files;
  std::unique_ptr<ledra::Session> session;
  uint64_t live_rows = 0;  // both tables
  double raw_seconds = 0;  // reading both files from the page cache
  Text last_customer;
};

// The one Env, released by main: a Session must go before the thread's
// module data.
std::unique_ptr<Env>& CurrentEnv();
Env& EnvFor(uint64_t rows);

std::string Answer(const Text& rd, const char16_t* key);

// The table of the search key cache beside the scan (key_cache_table.cpp).
void KeyCacheTable();

}  // namespace bench
