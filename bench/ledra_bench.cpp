// Timings of what the host waits for, through the real Session on the
// native platform, over sample companies of 10,000, 100,000 and 500,000
// rows per table (about 400 bytes a row):
//   - identification of a number that no row has, and of one that a single
//     supplier has: both tables read to the end;
//   - a search by words (also to the end), a letter listing, a direct
//     lookup by Id;
//   - the cache walk, per record;
//   - Load.
// Rows per second are rates over the rows each call reads. x_raw is a full
// scan's time over the time it takes just to read the two files' bytes from
// the page cache, measured in the same run. maxrss_MB after each size shows
// whether memory grows with the tables.
//
// The tables are generated once and kept under build/bench-data/<rows>/
// (or $LEDRA_BENCH_DATA/<rows>/).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/vars.h"
#include "data/dbf_connection.h"
#include "platform/native/native_files.h"
#include "platform/native/native_platform.h"
#include "session/session.h"
#include "tool/sample_tables.h"

namespace {

using ledra::Text;

constexpr uint64_t kSeed = 20240102;
constexpr uint64_t kSizes[] = {10000, 100000, 500000};
// Bumped whenever the generator's output changes, so old data is remade.
constexpr const char* kDataVersion = "sample-v1";

// ---------------------------------------------------------------------------
// Where the tables live

std::string Dirname(const std::string& p) {
  size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

std::string DataRoot() {
  if (const char* env = std::getenv("LEDRA_BENCH_DATA")) return env;
  // Next to the build trees: build/<tree>/ledra_bench -> build/bench-data.
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "bench-data";
  exe[n] = 0;
  return Dirname(Dirname(exe)) + "/bench-data";
}

void MakeFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0777);
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw std::runtime_error("cannot create " + path);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

// The folder of a company with rows records per table, made when missing.
std::string Company(uint64_t rows) {
  const std::string folder = DataRoot() + "/" + std::to_string(rows);
  const std::string stamp = folder + "/complete";
  const std::string want = std::string(kDataVersion) + " rows=" + std::to_string(rows) + " seed=" + std::to_string(kSeed);
  if (Slurp(stamp) == want) return folder;
  MakeFolders(folder);
  std::remove(stamp.c_str());
  auto t0 = std::chrono::steady_clock::now();
  ledra::sample::CompanySummary s = ledra::sample::GenerateCompany(folder, "a_", rows, kSeed);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::fprintf(stderr, "generated %s: 2 x %llu records of %u bytes in %.1f s\n", folder.c_str(),
               static_cast<unsigned long long>(rows), s.customers.record_length, secs);
  std::ofstream(stamp) << want << "\n";
  return folder;
}

// ---------------------------------------------------------------------------
// Measurements outside the plug-in

double PeakRssMb() {
  struct rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024.0;  // kilobytes on Linux
}

double CurrentRssMb() {
  long pages_total = 0, pages_resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
    std::fclose(f);
  }
  return pages_resident * (::sysconf(_SC_PAGESIZE) / 1024.0) / 1024.0;
}

// Reads the files front to back in 1 MB blocks; the bytes read.
uint64_t ReadFiles(const std::vector<std::string>& paths) {
  static std::vector<char> buffer(1 << 20);
  uint64_t total = 0;
  for (const std::string& p : paths) {
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + p);
    for (;;) {
      ssize_t r = ::read(fd, buffer.data(), buffer.size());
      if (r <= 0) break;
      total += static_cast<uint64_t>(r);
    }
    ::close(fd);
  }
  benchmark::DoNotOptimize(buffer.data());
  return total;
}

// Seconds to read the files from the page cache: warmed first, then the
// best of a few reads.
double RawReadSeconds(const std::vector<std::string>& paths) {
  ReadFiles(paths);
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    ReadFiles(paths);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// ---------------------------------------------------------------------------
// The plug-in, set up as the host does it

class CountingLog : public ledra::LogFile {
 public:
  void AppendLine(const std::string& line) noexcept override {
    if (lines++ < 5) std::fprintf(stderr, "log: %s\n", line.c_str());
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

// Released by main: a Session must go before the thread's module data.
std::unique_ptr<Env>& CurrentEnv() {
  static std::unique_ptr<Env> env;
  return env;
}

Env& EnvFor(uint64_t rows) {
  std::unique_ptr<Env>& env = CurrentEnv();
  if (!env || env->rows != rows) {
    env.reset();
    env = std::make_unique<Env>(rows);
  }
  return *env;
}

std::string Answer(const Text& rd, const char16_t* key) {
  return ledra::ToUtf8(ledra::TextForm(ledra::GetVar(rd, key)));
}

void Finish(benchmark::State& state, Env& env, double rows_per_iteration) {
  if (rows_per_iteration > 0) {
    state.counters["rows_per_s"] =
        benchmark::Counter(rows_per_iteration * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  }
  state.counters["maxrss_MB"] = PeakRssMb();
  state.counters["rss_MB"] = CurrentRssMb();
  state.counters["log_lines"] = static_cast<double>(env.log.lines);
}

// ---------------------------------------------------------------------------
// The benchmarks; the argument is the rows per table.

void BM_RawRead(benchmark::State& state) {
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  ReadFiles(env.paths);  // warm the page cache
  uint64_t bytes = 0;
  for (auto _ : state) bytes += ReadFiles(env.paths);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  Finish(state, env, static_cast<double>(2 * env.rows));
}

void BM_FindNumberNoMatch(benchmark::State& state) {
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  const double raw = RawReadSeconds(env.paths);
  Text rd;
  ledra::AddVar(rd, u"Tel", ledra::FromUtf8(ledra::sample::kAbsentNumber));
  std::string result;
  double spent = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    Text answer = env.session->FindContact(rd);
    spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    result = Answer(answer, u"Reason");
  }
  if (result != "NoFind") state.SkipWithError(("unexpected answer: " + result).c_str());
  const double per_call = spent / static_cast<double>(state.iterations());
  state.counters["raw_read_ms"] = raw * 1e3;
  state.counters["x_raw"] = per_call / raw;
  Finish(state, env, static_cast<double>(2 * env.rows));
}

// Times a call that reads both tables to the end, as a multiple of just
// reading their bytes.
template <typename Call>
void FullScan(benchmark::State& state, Env& env, Call call) {
  double spent = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    call();
    spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["x_raw"] = spent / static_cast<double>(state.iterations()) / env.raw_seconds;
  Finish(state, env, static_cast<double>(2 * env.rows));
}

void BM_FindNumberKnown(benchmark::State& state) {
  // The everyday case: one supplier has the number, so both tables are
  // still read to the end.
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  Text rd;
  ledra::AddVar(rd, u"Tel", Text(u"01234 567890"));
  std::string id;
  FullScan(state, env, [&] { id = Answer(env.session->FindContact(rd), u"Id"); });
  if (id != "pnACME01") state.SkipWithError(("unexpected Id: " + id).c_str());
}

void BM_FindWords(benchmark::State& state) {
  // Two words that only the known supplier has: every row's words are
  // built and tested.
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  Text rd;
  ledra::AddVar(rd, u"Text", Text(u"dave pennington"));
  std::string matches;
  FullScan(state, env, [&] { matches = Answer(env.session->FindContact(rd), u"Matches"); });
  if (matches != "1") state.SkipWithError(("unexpected Matches: " + matches).c_str());
}

void BM_FindListLetter(benchmark::State& state) {
  // The host's letter list: names from M on, the first 50 that begin with M.
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  Text rd;
  ledra::AddVar(rd, u"Begin", Text(u"M"));
  std::string count;
  for (auto _ : state) count = Answer(env.session->FindList(rd), u"ListCount");
  if (count.empty()) state.SkipWithError("nothing listed");
  state.counters["listed"] = std::atof(count.c_str());
  Finish(state, env, 0);
}

void BM_FindById(benchmark::State& state) {
  // The last customer: the account filter passes over the whole customer
  // table (the supplier table is not opened).
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  Text rd;
  ledra::AddVar(rd, u"Id", u"sn" + env.last_customer);
  const std::string want = "sn" + ledra::ToUtf8(env.last_customer);
  std::string id;
  for (auto _ : state) id = Answer(env.session->FindContact(rd), u"Id");
  if (id != want) state.SkipWithError(("unexpected Id: " + id).c_str());
  Finish(state, env, static_cast<double>(env.rows));
}

void BM_CacheWalk(benchmark::State& state) {
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  uint64_t records = 0;
  for (auto _ : state) {
    env.session->CacheStart();
    for (;;) {
      Text answer = env.session->CacheRecord();
      // "{Result(S7)=Success}..." / "{Result=Ignore}" / "{Result(S3)=Eof}"
      if (answer.compare(0, 20, u"{Result(S7)=Success}") == 0) {
        ++records;
        continue;
      }
      if (answer == u"{Result=Ignore}") continue;
      break;
    }
    env.session->CacheEnd();
  }
  const double per_walk = static_cast<double>(records) / static_cast<double>(state.iterations());
  if (static_cast<uint64_t>(per_walk) != env.live_rows) {
    state.SkipWithError(("walked " + std::to_string(per_walk) + " of " + std::to_string(env.live_rows)).c_str());
  }
  state.counters["records_per_s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
  Finish(state, env, 0);
}

void BM_Load(benchmark::State& state) {
  // A host starting up: a new Session, Initialize and Load (which opens the
  // customer table to prove the connection).
  Env& env = EnvFor(static_cast<uint64_t>(state.range(0)));
  const Text settings = env.Settings();
  std::string result;
  for (auto _ : state) {
    ledra::Session s;
    s.Initialize(settings, Text(), nullptr);
    result = Answer(s.Load(Text()), u"Result");
  }
  if (result != "Success") state.SkipWithError(("load: " + result).c_str());
  Finish(state, env, 0);
}

// Sizes in ascending order, every benchmark of a size before the next size,
// so that maxrss_MB shows what each size added.
void Register() {
  struct Size {
    uint64_t rows;
    double min_time;     // seconds, for the fast calls
    int64_t scan_iters;  // for the calls that read everything; 0: automatic
    int64_t walk_iters;  // for the cache walk
  };
  const Size sizes[] = {{kSizes[0], 0.5, 0, 0}, {kSizes[1], 0.5, 10, 2}, {kSizes[2], 0.5, 3, 1}};
  for (const Size& s : sizes) {
    auto scan = [&](const char* name, void (*fn)(benchmark::State&), int64_t iters) {
      auto* b = benchmark::RegisterBenchmark(name, fn)->Arg(static_cast<int64_t>(s.rows))->Unit(benchmark::kMillisecond)->UseRealTime();
      if (iters) b->Iterations(iters);
      else b->MinTime(s.min_time);
    };
    scan("RawRead", BM_RawRead, s.scan_iters);
    scan("FindContact/NumberNoMatch", BM_FindNumberNoMatch, s.scan_iters);
    scan("FindContact/NumberKnown", BM_FindNumberKnown, s.scan_iters);
    scan("FindContact/Words", BM_FindWords, s.scan_iters);
    scan("FindContact/Id", BM_FindById, s.scan_iters);
    scan("CacheWalk", BM_CacheWalk, s.walk_iters);
    benchmark::RegisterBenchmark("FindList/Letter", BM_FindListLetter)
        ->Arg(static_cast<int64_t>(s.rows))->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(s.min_time);
    benchmark::RegisterBenchmark("Load", BM_Load)
        ->Arg(static_cast<int64_t>(s.rows))->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(s.min_time);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    // Made (or found) before anything is timed, so that maxrss_MB is the
    // plug-in's alone.
    for (uint64_t rows : kSizes) Company(rows);
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ledra_bench: %s\n", e.what());
    CurrentEnv().reset();
    return 1;
  }
  CurrentEnv().reset();
  benchmark::Shutdown();
  return 0;
}
