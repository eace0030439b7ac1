// The search key cache side by side with the scan: per size, the scan, the
// first call with no keys, 3 s after a Load, warm, after one appended row
// and after one edit in place; then the same lookups over a simulated
// network share, the keys' bytes per row and the worker's build time.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "bench/bench_env.h"
#include "search/search_keys.h"
#include "tools/sample_tables.h"

namespace bench {

namespace {

// The tables as another program changes them, and as a network share
// serves them: every open, listing and read is a request that waits
// latency_s plus its bytes at bytes_per_s when `network` is on. Appended
// rows (copies of a table's last record) and edits in place (one byte of a
// middle record flipped) are laid over the real files, each with a new
// last-write time, so the generated data stays as it is.
class ShareFiles : public ledra::FileSystem {
 public:
  explicit ShareFiles(ledra::FileSystem& inner) : inner_(inner) {}

  std::atomic<bool> network{false};
  double latency_s = 0.0003;
  double bytes_per_s = 125e6;  // 1 Gbit/s
  // The host's requests only: the worker's own reads are not the lookup's.
  uint64_t requests = 0;
  uint64_t bytes = 0;
  std::atomic<uint32_t> appended{0};
  std::atomic<uint32_t> edits{0};

  std::unique_ptr<ledra::DataFile> OpenShared(const Text& path, Text* error) override {
    Request(0);
    auto f = inner_.OpenShared(path, error);
    if (!f) return nullptr;
    return std::make_unique<File>(*this, std::move(f));
  }
  std::vector<Text> List(const Text& folder) override {
    std::vector<Text> names = inner_.List(folder);
    uint64_t n = 0;
    for (const Text& name : names) n += 100 + 2 * name.size();  // an SMB directory entry
    Request(n);
    return names;
  }
  bool FolderExists(const Text& folder) override {
    Request(0);
    return inner_.FolderExists(folder);
  }
  Text Join(const Text& folder, const Text& name) const override { return inner_.Join(folder, name); }
  int64_t FileTimeNow() const override { return inner_.FileTimeNow(); }

  void Request(uint64_t n) {
    if (std::this_thread::get_id() == host_) {
      ++requests;
      bytes += n;
    }
    if (network) std::this_thread::sleep_for(std::chrono::duration<double>(latency_s + static_cast<double>(n) / bytes_per_s));
  }

 private:
  class File : public ledra::DataFile {
   public:
    // A view of the file as the counters stand when it is opened.
    File(ShareFiles& fs, std::unique_ptr<ledra::DataFile> f)
        : fs_(fs), f_(std::move(f)), appended_(fs.appended), edits_(fs.edits) {
      uint8_t h[12] = {};
      f_->ReadAt(0, h, sizeof h);
      count_ = h[4] | h[5] << 8 | h[6] << 16 | static_cast<uint32_t>(h[7]) << 24;
      header_ = h[8] | h[9] << 8;
      reclen_ = h[10] | h[11] << 8;
      real_size_ = static_cast<uint64_t>(f_->Size());
      if (reclen_ && appended_) {
        last_.resize(reclen_);
        f_->ReadAt(header_ + uint64_t{count_ - 1} * reclen_, last_.data(), reclen_);
      }
      edit_at_ = header_ + uint64_t{count_ / 2} * reclen_ + reclen_ - 2;
    }
    int64_t ReadAt(uint64_t offset, void* buf, size_t n) override {
      auto* out = static_cast<uint8_t*>(buf);
      const uint64_t end = header_ + (uint64_t{count_} + appended_) * reclen_;
      if (offset >= std::max(end, real_size_)) return 0;
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, std::max(end, real_size_) - offset));
      size_t real = offset < real_size_ ? static_cast<size_t>(std::min<uint64_t>(take, real_size_ - offset)) : 0;
      size_t got = 0;
      while (got < real) {
        int64_t r = f_->ReadAt(offset + got, out + got, real - got);
        if (r <= 0) return -1;
        got += static_cast<size_t>(r);
      }
      // Only the few bytes that differ from the real file are patched.
      const uint64_t stop = offset + take;
      auto each = [&](uint64_t from, uint64_t to, auto&& set) {
        for (uint64_t at = std::max(from, offset); at < std::min(to, stop); ++at) set(at, out[at - offset]);
      };
      const uint64_t old_end = header_ + uint64_t{count_} * reclen_;
      each(4, 8, [&](uint64_t at, uint8_t& b) { b = static_cast<uint8_t>((count_ + appended_) >> (8 * (at - 4))); });
      each(old_end, end, [&](uint64_t at, uint8_t& b) { b = last_[(at - old_end) % reclen_]; });
      each(end, UINT64_MAX, [&](uint64_t, uint8_t& b) { b = 0x1A; });
      if (edits_ % 2) each(edit_at_, edit_at_ + 1, [&](uint64_t, uint8_t& b) { b ^= 1; });
      fs_.Request(take);
      return static_cast<int64_t>(take);
    }
    int64_t Size() override {
      return static_cast<int64_t>(std::max(real_size_, header_ + (uint64_t{count_} + appended_) * reclen_ + 1));
    }
    int64_t LastWriteTime() override { return f_->LastWriteTime() + 1000 * appended_ + edits_; }

   private:
    ShareFiles& fs_;
    std::unique_ptr<ledra::DataFile> f_;
    uint32_t count_ = 0;
    uint32_t header_ = 0;
    uint32_t reclen_ = 0;
    uint64_t real_size_ = 0;
    uint64_t edit_at_ = 0;
    uint32_t appended_, edits_;
    std::vector<uint8_t> last_;
  };

  ledra::FileSystem& inner_;
  const std::thread::id host_ = std::this_thread::get_id();
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct Lookup {
  const char* name;
  const char* method;
  Text request;
  const char16_t* key;  // checked in the answer
  std::string want;
};

std::vector<Lookup> Lookups() {
  Text none, known, words, letter;
  ledra::AddVar(none, u"Tel", ledra::FromUtf8(ledra::sample::kAbsentNumber));
  ledra::AddVar(known, u"Tel", Text(u"01234 567890"));
  ledra::AddVar(words, u"Text", Text(u"dave pennington"));
  ledra::AddVar(letter, u"Begin", Text(u"M"));
  return {{"number, no match", "FindContact", none, u"Reason", "NoFind"},
          {"number, known", "FindContact", known, u"Id", "pnACME01"},
          {"FindList, words", "FindList", words, u"ListCount", "1"},
          {"FindList, letter", "FindList", letter, u"Result", "Success"}};
}

// The calling thread's processor time: the worker's is not the call's.
double CpuSeconds() {
  timespec ts;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// The processor time of the last call: on a machine shared with other work
// the elapsed time says more about the neighbours than about the call.
double g_last_cpu_ms = 0;

// Milliseconds of one call, checked.
double TimeCall(Env& env, const Lookup& l) {
  auto t0 = std::chrono::steady_clock::now();
  const double c0 = CpuSeconds();
  Text answer = std::string(l.method) == "FindList" ? env.session->FindList(l.request) : env.session->FindContact(l.request);
  g_last_cpu_ms = (CpuSeconds() - c0) * 1e3;
  double ms = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() * 1e3;
  std::string got = Answer(answer, l.key);
  if (got != l.want) std::fprintf(stderr, "%s: unexpected %s: %s\n", l.name, ledra::ToUtf8(l.key).c_str(), got.c_str());
  return ms;
}

// Waits until the worker has published keys for both tables that answer
// (built and, the files being old, trusted), at least `builds` builds in all;
// the seconds it took.
double AwaitKeys(Env& env, uint64_t builds) {
  const Lookup probe = Lookups()[0];
  auto t0 = std::chrono::steady_clock::now();
  for (;;) {
    const ledra::SearchKeyStats k = ledra::SearchKeyState();
    if (k.tables == 2 && k.builds >= builds) {
      TimeCall(env, probe);
      if (ledra::SearchKeyState().keyed >= k.keyed + 2) break;
    }
    if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(120)) {
      std::fprintf(stderr, "the worker built no keys in 120 s\n");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

void KeyCacheTable() {
  std::printf("\nSearch key cache against the scan: ms per call, median, elapsed (the calling thread's processor\n"
              "time in brackets). cold: no keys yet (the call scans while the worker builds); 3 s after Load: a\n"
              "new Load, the call 3 s later; +1 row, 1 edit: the first call after the change (it scans while the\n"
              "worker builds anew); x_raw: warm call over reading both files' bytes\n");
  std::printf("%-7s %-17s %15s %15s %15s %13s %15s %15s %9s %6s\n", "rows", "call", "scan", "cold", "3 s after Load",
              "warm", "+1 row", "1 edit", "cold/scan", "x_raw");
  struct Net {
    uint64_t rows;
    std::string call;
    double warm_ms, warm_kb, warm_requests, scan_ms, scan_mb;
  };
  std::vector<Net> net;
  struct Mem {
    uint64_t rows;
    double bytes_per_row, build_s, maxrss;
  };
  std::vector<Mem> mem;
  for (uint64_t rows : kSizes) {
    Env& env = EnvFor(rows);
    ShareFiles share(env.files);
    env.native.platform.files = &share;
    // Now with the worker: Load has it build both tables' keys.
    env.native.platform.threads = &env.native.threads;
    env.session->Load(Text());
    const double build_s = AwaitKeys(env, ledra::SearchKeyState().builds + 2);
    const int reps = rows >= 500000 ? 3 : 5;
    for (const Lookup& l : Lookups()) {
      std::vector<double> scan, cold, loaded, warm, append, edit;
      std::vector<double> scan_cpu, cold_cpu, loaded_cpu, warm_cpu, append_cpu, edit_cpu;
      auto timed = [&](std::vector<double>& wall, std::vector<double>& cpu) {
        wall.push_back(TimeCall(env, l));
        cpu.push_back(g_last_cpu_ms);
      };
      ledra::SetSearchKeyBudget(0);
      for (int i = 0; i < reps; ++i) timed(scan, scan_cpu);
      ledra::SetSearchKeyBudget(ledra::kDefaultSearchKeyBudget);
      for (int i = 0; i < reps; ++i) {
        const uint64_t builds = ledra::SearchKeyState().builds;
        ledra::ClearSearchKeys();
        timed(cold, cold_cpu);
        AwaitKeys(env, builds + 2);
      }
      // A host starting up: its first caller 3 s after Load, the keys
      // built meanwhile by the worker from nothing.
      for (int i = 0; i < 3; ++i) {
        env.session->Unload();  // the worker stops, the keys go
        const uint64_t builds = ledra::SearchKeyState().builds;
        env.session->Load(Text());
        std::this_thread::sleep_for(std::chrono::seconds(3));
        timed(loaded, loaded_cpu);
        AwaitKeys(env, builds + 2);
      }
      for (int i = 0; i < 20; ++i) timed(warm, warm_cpu);
      for (int i = 0; i < reps; ++i) {
        const uint64_t builds = ledra::SearchKeyState().builds;
        ++share.appended;
        timed(append, append_cpu);
        AwaitKeys(env, builds + 2);
      }
      for (int i = 0; i < reps; ++i) {
        const uint64_t builds = ledra::SearchKeyState().builds;
        ++share.edits;
        timed(edit, edit_cpu);
        AwaitKeys(env, builds + 2);
      }
      auto both = [](const std::vector<double>& wall, const std::vector<double>& cpu, int decimals) {
        char b[48];
        std::snprintf(b, sizeof b, "%.*f (%.*f)", decimals, Median(wall), decimals, Median(cpu));
        return std::string(b);
      };
      std::printf("%-7llu %-17s %15s %15s %15s %13s %15s %15s %9.2f %6.3f\n", static_cast<unsigned long long>(rows),
                  l.name, both(scan, scan_cpu, 1).c_str(), both(cold, cold_cpu, 1).c_str(),
                  both(loaded, loaded_cpu, 3).c_str(), both(warm, warm_cpu, 3).c_str(),
                  both(append, append_cpu, 1).c_str(), both(edit, edit_cpu, 1).c_str(),
                  Median(cold_cpu) / Median(scan_cpu), Median(warm) / (env.raw_seconds * 1e3));
      std::fflush(stdout);

      // The same call over the network share: warm, then the scan.
      share.network = true;
      AwaitKeys(env, 0);
      share.requests = share.bytes = 0;
      std::vector<double> net_warm;
      for (int i = 0; i < 5; ++i) net_warm.push_back(TimeCall(env, l));
      Net n{rows, l.name, Median(net_warm), share.bytes / 5.0 / 1024, share.requests / 5.0, 0, 0};
      ledra::SetSearchKeyBudget(0);
      share.requests = share.bytes = 0;
      n.scan_ms = TimeCall(env, l);
      n.scan_mb = share.bytes / 1048576.0;
      ledra::SetSearchKeyBudget(ledra::kDefaultSearchKeyBudget);
      share.network = false;
      net.push_back(n);
    }
    const ledra::SearchKeyStats k = ledra::SearchKeyState();
    mem.push_back({rows, static_cast<double>(k.bytes) / k.rows, build_s, PeakRssMb()});
    env.session->Unload();  // the worker stops, the keys go
    env.native.platform.threads = nullptr;
    env.native.platform.files = &env.files;
  }

  std::printf("\nOver a simulated network share (%.1f ms a request, 1 Gbit/s): per warm lookup, and the scan's\n", 0.3);
  std::printf("%-9s %-18s %9s %9s %9s %11s %9s\n", "rows", "call", "warm_ms", "warm_KB", "requests", "scan_ms", "scan_MB");
  for (const Net& n : net) {
    std::printf("%-9llu %-18s %9.2f %9.1f %9.1f %11.1f %9.1f\n", static_cast<unsigned long long>(n.rows), n.call.c_str(),
                n.warm_ms, n.warm_kb, n.warm_requests, n.scan_ms, n.scan_mb);
  }
  std::printf("\nKeys held (bytes per row, both tables), the worker's first build of both tables after Load\n"
              "(seconds, elapsed) and the process's peak memory\n");
  std::printf("%-9s %14s %10s %10s\n", "rows", "bytes/row", "build_s", "maxrss_MB");
  for (const Mem& m : mem) {
    std::printf("%-9llu %14.1f %10.2f %10.0f\n", static_cast<unsigned long long>(m.rows), m.bytes_per_row, m.build_s,
                m.maxrss);
  }
}

}  // namespace bench
