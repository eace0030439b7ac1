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
// The benchmarks above run with the search key cache off: they are the
// scan's figures. After them a table compares, per size, the scan with the
// key cache cold (no keys: the call scans while the worker builds), 3 s
// after a Load, warm (files unchanged), and the first call after one
// appended row and after one edit in place (each scans while the worker
// builds anew); then the same lookups over a simulated network share
// (bytes, requests and time per warm lookup), the keys' bytes per row and
// the worker's build time.
//
// The tables are generated once and kept under build/bench-data/<rows>/
// (or $LEDRA_BENCH_DATA/<rows>/).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "bench/bench_env.h"
#include "search/search_keys.h"
#include "tools/sample_tables.h"

namespace {

using namespace bench;

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
    ledra::SetSearchKeyBudget(0);  // the scan's figures
    benchmark::RunSpecifiedBenchmarks();
    ledra::SetSearchKeyBudget(ledra::kDefaultSearchKeyBudget);
    KeyCacheTable();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ledra_bench: %s\n", e.what());
    CurrentEnv().reset();
    return 1;
  }
  CurrentEnv().reset();
  benchmark::Shutdown();
  return 0;
}
