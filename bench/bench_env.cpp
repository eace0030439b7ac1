#include "bench/bench_env.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tools/sample_tables.h"

namespace bench {

namespace {

constexpr uint64_t kSeed = 20240102;
// Bumped whenever the generator's output changes, so old data is remade.
constexpr const char* kDataVersion = "sample-v1";

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

}  // namespace

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

}  // namespace bench
