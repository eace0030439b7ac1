// The key cache itself: one entry per kept table, the stamp that says
// whether its keys still describe the file, the budget their bytes are
// charged to, the worker that builds, checks and gives back keys, and the
// public calls of search_keys.h. The keys' own parts are in key_data.h.
#include "search/search_keys.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "search/key_data.h"

namespace ledra {

namespace {

using namespace keys;

constexpr uint32_t kRecheckMs = 20000;         // keys in use are read again at this age
constexpr uint32_t kTickMs = 1000;             // how often the worker looks at the stamps
constexpr uint32_t kRetryMs = 10000;           // after keys did not fit the budget
constexpr uint64_t kIdleMs = 10 * 60 * 1000;  // keys of a table not searched this long are given back
constexpr int64_t kCoarseWriteTime = 2 * 10000000;  // 2 s of file time: the coarsest write times kept
constexpr uint32_t kStopWaitMs = 2000;         // the most that stopping the worker waits for it

std::atomic<uint64_t> g_bytes{0};
std::atomic<uint64_t> g_budget{kDefaultSearchKeyBudget};
std::atomic<uint64_t> g_builds{0};
std::atomic<uint64_t> g_checks{0};
std::atomic<uint64_t> g_keyed{0};
std::atomic<uint64_t> g_scans{0};

}  // namespace

// Takes n bytes of the budget, or nothing when they do not fit.
bool keys::Charge(uint64_t n) {
  uint64_t held = g_bytes.load();
  for (;;) {
    const uint64_t budget = g_budget.load();
    if (n > budget || held > budget - n) return false;
    if (g_bytes.compare_exchange_weak(held, held + n)) return true;
  }
}

void keys::Refund(uint64_t n) { g_bytes -= n; }

namespace {

// What decides whether keys still describe the file.
struct Stamp {
  int64_t size = -1;
  int64_t written = -1;
  uint32_t count = 0;
  int year = 0, month = 0, day = 0;
  uint64_t layout = 0;    // version, lengths, code page and fields of the header
  uint64_t identity = 0;  // the file on its volume
  bool operator==(const Stamp& o) const {
    return size == o.size && written == o.written && count == o.count && year == o.year && month == o.month &&
           day == o.day && layout == o.layout && identity == o.identity;
  }
};

struct Keys {
  std::shared_ptr<const KeyData> data;
  Stamp stamp;
  Text path;
  ColumnNames columns;
  uint64_t read_at = 0;      // when the read that built or last checked them began
  bool trusted = false;      // that read overlapped no write
  mutable std::atomic<bool> stale{false};  // a search found a row they got wrong
};

// A table some connection keeps keys for.
struct Entry {
  FileSystem* fs = nullptr;
  Text folder, table;
  ColumnNames columns;
  std::function<Text()> find_path;
  std::unique_ptr<Lock> mu;    // keys
  std::unique_ptr<Lock> busy;  // held by whoever reads the file for its keys
  std::shared_ptr<const Keys> keys;
  std::atomic<uint64_t> used_at{0};
  int holders = 0;             // the cache's lock
  Text path;                   // busy: the file found for the table
  uint64_t next_at = 0;        // busy: not read again before
  bool starved = false;        // busy: the last build did not fit the budget

  std::shared_ptr<const Keys> Current() {
    Locked hold(*mu);
    return keys;
  }
  void Publish(std::shared_ptr<const Keys> k) {
    {
      Locked hold(*mu);
      keys.swap(k);
    }
    // the old keys go here, outside the lock
  }
};

using EntryKey = std::tuple<const FileSystem*, Text, Text>;

struct Cache {
  explicit Cache(Threads& t) : mu(t.NewLock()), life(t.NewLock()), wake(t.NewSignal()) {}
  std::unique_ptr<Lock> mu;  // the map only, never held while reading a file
  std::map<EntryKey, std::shared_ptr<Entry>> tables;

  // The worker: started by the first holder of kept keys, stopped by the last.
  std::unique_ptr<Lock> life;
  int holders = 0;
  std::unique_ptr<Thread> thread;
  std::shared_ptr<std::atomic<bool>> stop;
  std::unique_ptr<Signal> wake;
  std::atomic<int> alive{0};

  std::vector<std::shared_ptr<Entry>> Entries() {
    Locked hold(*mu);
    std::vector<std::shared_ptr<Entry>> out;
    for (const auto& e : tables) out.push_back(e.second);
    return out;
  }
};

// Made with the first platform that has threads, and kept until the process
// ends whatever order statics go in: nothing here is ever destroyed, so a
// process that exits with the worker still running never waits for it.
Cache* TheCache() {
  static std::atomic<Cache*> cache{nullptr};
  Cache* c = cache.load(std::memory_order_acquire);
  if (c) return c;
  Threads* threads = Sys().threads;
  if (!threads) return nullptr;
  auto* fresh = new Cache(*threads);
  if (cache.compare_exchange_strong(c, fresh, std::memory_order_acq_rel)) return fresh;
  delete fresh;
  return c;
}

uint64_t LayoutOf(const dbf::Header& h) {
  uint64_t x = kFnvStart;
  uint32_t fixed[] = {h.version, h.header_length, h.record_length, h.codepage_mark, h.table_flags,
                      static_cast<uint32_t>(h.fields.size())};
  x = Fnv(x, fixed, sizeof fixed);
  for (const dbf::FieldDesc& f : h.fields) {
    x = Fnv(x, f.name.data(), f.name.size());
    uint32_t d[] = {static_cast<uint32_t>(f.type), f.offset, f.length, f.flags};
    x = Fnv(x, d, sizeof d);
  }
  return x;
}

// The stamp of the opened file; false when its write time is unknown.
bool StampOf(const dbf::OpenedTable& t, Stamp* s) {
  s->written = t.written;
  s->size = static_cast<int64_t>(t.file_size);
  s->count = t.header.record_count;
  s->year = t.header.update_year;
  s->month = t.header.update_month;
  s->day = t.header.update_day;
  s->layout = LayoutOf(t.header);
  s->identity = t.identity;
  return s->written >= 0;
}

// ---------------------------------------------------------------------------
// The worker's side: building, checking and giving back keys

// Takes n bytes of the budget, giving back the keys of the tables searched
// least recently, and less recently than self, for as long as they do not
// fit; two companies that do not fit together do not take turns.
bool ChargeEvicting(Cache& c, const Entry& self, uint64_t n) {
  if (n > g_budget) return false;
  for (;;) {
    if (Charge(n)) return true;
    std::shared_ptr<Entry> victim;
    uint64_t oldest = self.used_at;
    for (const auto& e : c.Entries()) {
      if (e.get() == &self || !e->Current()) continue;
      const uint64_t used = e->used_at;
      if (used < oldest) {
        oldest = used;
        victim = e;
      }
    }
    if (!victim) return false;
    victim->Publish(nullptr);  // its bytes come back once no search reads them
  }
}

// The table as it is now at the entry's path (found again when it cannot
// be opened there).
bool OpenEntry(Entry& e, dbf::OpenedTable* t, Stamp* stamp) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (e.path.empty() || attempt > 0) e.path = e.find_path();
      *t = dbf::OpenTable(*e.fs, e.path, e.table);
      return StampOf(*t, stamp);
    } catch (...) {
    }
  }
  e.path.clear();
  return false;
}

// Whether a read that began at file time `began` of a file last written at
// `written` (and unchanged over the read) cannot have missed a write.
bool Settled(int64_t written, int64_t began) { return began >= 0 && written <= began - kCoarseWriteTime; }

// Publishes keys made or found right by a read that began at began_ms
// (file time began) of the file with that stamp, unless it was written
// meanwhile (the next round reads it again); whether it published.
bool PublishRead(Entry& e, std::shared_ptr<const KeyData> data, const Stamp& stamp, uint64_t began_ms, int64_t began) {
  dbf::OpenedTable after;
  Stamp now;
  if (!data || !OpenEntry(e, &after, &now) || !(now == stamp)) return false;
  auto keys = std::make_shared<Keys>();
  keys->data = std::move(data);
  keys->stamp = stamp;
  keys->path = e.path;
  keys->columns = e.columns;
  keys->read_at = began_ms;
  keys->trusted = Settled(stamp.written, began);
  e.Publish(std::move(keys));
  return true;
}

void Build(Cache& c, Entry& e, dbf::OpenedTable& t, const Stamp& stamp, uint64_t began_ms,
           const std::atomic<bool>& stop) {
  e.Publish(nullptr);  // they describe another file now, and their bytes make room
  e.starved = false;
  const int64_t began = e.fs->FileTimeNow();
  dbf::TableText text(t.header.codepage);
  Columns cols;
  if (!FindColumns(t.header, text, e.columns, &cols)) return;
  std::shared_ptr<const KeyData> data =
      BuildKeys(t, text, cols, dbf::RecordsInFile(t.header, t.file_size), stop, [&](uint64_t n) {
        e.starved = !ChargeEvicting(c, e, n);
        return !e.starved;
      });
  if (!data) return;  // cut short, over the budget or stopped
  if (PublishRead(e, std::move(data), stamp, began_ms, began)) ++g_builds;
}

// Reads the file again and compares what the keys were made of; keys found
// right are published anew with the time of this read, wrong ones built anew.
void Check(Cache& c, Entry& e, dbf::OpenedTable& t, const Stamp& stamp, const Keys& keys, uint64_t began_ms,
           const std::atomic<bool>& stop) {
  const int64_t began = e.fs->FileTimeNow();
  dbf::TableText text(t.header.codepage);
  Columns cols;
  if (!FindColumns(t.header, text, e.columns, &cols)) return e.Publish(nullptr);
  uint64_t content = 0;
  const uint64_t got = HashRecords(t, cols, keys.data->rows, stop, &content);
  if (stop) return;
  if (got < keys.data->rows || content != keys.data->content) return Build(c, e, t, stamp, began_ms, stop);
  if (PublishRead(e, keys.data, stamp, began_ms, began)) ++g_checks;
}

// What one table needs now: nothing, keys given back, a check or a build.
void Tend(Cache& c, Entry& e, const Clock& clock, const std::atomic<bool>& stop) {
  const uint64_t now = clock.Milliseconds();
  std::shared_ptr<const Keys> keys = e.Current();
  const uint64_t used = e.used_at;
  if (now > used && now - used > kIdleMs) {
    if (keys) e.Publish(nullptr);
    return;
  }
  if (now < e.next_at) return;
  dbf::OpenedTable t;
  Stamp stamp;
  if (!OpenEntry(e, &t, &stamp)) {
    e.Publish(nullptr);
    e.next_at = now + kTickMs;
    return;
  }
  // Read block by block, opened for each: the table is not held open over
  // the whole read, which may take seconds.
  t.file = std::make_unique<dbf::ReopenedFile>(*e.fs, e.path, t.identity);
  const bool same = keys && !keys->stale && keys->stamp == stamp && keys->path == e.path;
  if (same && keys->trusted && now - std::min(now, keys->read_at) < kRecheckMs) return;
  // A read too close to the last write tells nothing more until the write
  // is old enough.
  if (same && !keys->trusted && !Settled(stamp.written, e.fs->FileTimeNow())) return;
  if (same) {
    Check(c, e, t, stamp, *keys, now, stop);
  } else {
    Build(c, e, t, stamp, now, stop);
  }
  // A table that keeps changing is read at most a third of the time; one
  // whose keys did not fit is left alone for a while.
  const uint64_t took = clock.Milliseconds() - now;
  e.next_at = now + std::max<uint64_t>(3 * took, e.starved ? kRetryMs : 0);
}

void Round(const std::atomic<bool>& stop) {
  Cache* c = TheCache();
  const Clock* clock = Sys().clock;
  if (!c || !clock) return;
  for (const auto& e : c->Entries()) {
    if (stop) return;
    if (!e->busy->TryAcquire()) continue;  // another round is at it
    try {
      Tend(*c, *e, *clock, stop);
    } catch (...) {
      e->Publish(nullptr);
    }
    e->busy->Release();
  }
}

// Keys kept for one connection's tables; the worker runs while any are.
class Kept {
 public:
  Kept(Cache& c, std::vector<std::shared_ptr<Entry>> entries) : c_(c), entries_(std::move(entries)) {}
  ~Kept() {
    std::vector<std::shared_ptr<Entry>> gone;
    {
      Locked hold(*c_.mu);
      for (const auto& e : entries_) {
        if (--e->holders > 0) continue;
        auto it = c_.tables.find(EntryKey(e->fs, e->folder, e->table));
        if (it != c_.tables.end() && it->second == e) c_.tables.erase(it);
        gone.push_back(e);
      }
    }
    for (const auto& e : gone) e->Publish(nullptr);
    Locked hold(*c_.life);
    if (--c_.holders > 0 || !c_.thread) return;
    // Stopped between two blocks of rows; a worker stuck in a read is left
    // to end on its own rather than hold the host.
    *c_.stop = true;
    c_.wake->Set();
    c_.thread->Join(kStopWaitMs);
    c_.thread.reset();
    c_.stop.reset();
  }
  Kept(const Kept&) = delete;
  Kept& operator=(const Kept&) = delete;

 private:
  Cache& c_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

void StartWorker(Cache& c) {
  Threads* threads = Sys().threads;
  if (c.thread || !threads) return;
  auto stop = std::make_shared<std::atomic<bool>>(false);
  ++c.alive;
  c.thread = threads->Start([&c, stop] {
    while (!*stop) {
      Round(*stop);
      if (!*stop) c.wake->Wait(kTickMs);
    }
    --c.alive;
  });
  if (!c.thread) {
    --c.alive;
    return;
  }
  c.stop = std::move(stop);
}

}  // namespace

void SetSearchKeyBudget(uint64_t bytes) { g_budget = bytes; }
uint64_t SearchKeyBudget() { return g_budget; }

SearchKeyStats SearchKeyState() {
  SearchKeyStats s;
  s.bytes = g_bytes;
  s.builds = g_builds;
  s.checks = g_checks;
  s.keyed = g_keyed;
  s.scans = g_scans;
  if (Cache* c = TheCache()) {
    for (const auto& e : c->Entries()) {
      auto keys = e->Current();
      if (!keys) continue;
      ++s.tables;
      s.rows += keys->data->rows;
    }
  }
  return s;
}

void ClearSearchKeys() {
  Cache* c = TheCache();
  if (!c) return;
  for (const auto& e : c->Entries()) e->Publish(nullptr);
}

std::shared_ptr<void> KeepSearchKeys(FileSystem& fs, const Text& folder, const std::vector<KeyTable>& tables,
                                     std::function<Text(const Text& table)> find_path) {
  try {
    Cache* c = TheCache();
    const Clock* clock = Sys().clock;
    Threads* threads = Sys().threads;
    if (!c || !clock || !threads || tables.empty()) return nullptr;
    const uint64_t now = clock->Milliseconds();
    std::vector<std::shared_ptr<Entry>> entries;
    {
      Locked hold(*c->mu);
      for (const KeyTable& t : tables) {
        auto& e = c->tables[EntryKey(&fs, folder, t.table)];
        if (!e) {
          e = std::make_shared<Entry>();
          e->fs = &fs;
          e->folder = folder;
          e->table = t.table;
          e->columns = {t.tel_column, t.contact_column, t.name_column};
          e->find_path = [find_path, table = t.table] { return find_path(table); };
          e->mu = threads->NewLock();
          e->busy = threads->NewLock();
        }
        ++e->holders;
        e->used_at = now;
        entries.push_back(e);
      }
    }
    auto kept = std::make_shared<Kept>(*c, std::move(entries));
    {
      Locked hold(*c->life);
      ++c->holders;
      StartWorker(*c);
    }
    c->wake->Set();
    return kept;
  } catch (...) {
    return nullptr;
  }
}

void RefreshSearchKeys() {
  const std::atomic<bool> never{false};
  Round(never);
}

bool SearchKeyWorkerRunning() {
  Cache* c = TheCache();
  return c && c->alive > 0;
}

std::shared_ptr<KeyedRows> OpenKeyedRows(FileSystem& fs, const Text& folder, const dbf::Query& q,
                                         const KeyRequest& request) {
  Cache* c = TheCache();
  const Clock* clock = Sys().clock;
  try {
    std::shared_ptr<Entry> entry;
    if (c && clock && g_budget > 0) {
      Locked hold(*c->mu);
      auto it = c->tables.find(EntryKey(&fs, folder, q.table));
      if (it != c->tables.end()) entry = it->second;
    }
    if (!entry) {
      ++g_scans;
      return nullptr;
    }
    const uint64_t now = clock->Milliseconds();
    entry->used_at = now;
    auto scan = [&]() -> std::shared_ptr<KeyedRows> {
      ++g_scans;
      c->wake->Set();
      return nullptr;
    };
    std::shared_ptr<const Keys> keys = entry->Current();
    if (!keys || keys->stale || !keys->trusted || now - std::min(now, keys->read_at) > kKeysTrustedMs ||
        !keys->columns.Same(request.tel_column, request.contact_column, request.name_column)) {
      return scan();
    }
    dbf::OpenedTable t = dbf::OpenTable(fs, keys->path, q.table);
    Stamp stamp;
    if (!StampOf(t, &stamp) || !(stamp == keys->stamp)) return scan();
    dbf::TableText text(t.header.codepage);
    std::vector<uint64_t> rows;
    if (!FindMatches(request, q, text, *keys->data, std::max<size_t>(request.max_rows, 1), &rows)) {
      ++g_scans;
      return nullptr;
    }
    ++g_keyed;
    return ReadKeyedRows(std::move(t), q, std::move(rows), [keys] { keys->stale = true; });
  } catch (...) {
    ++g_scans;
    return nullptr;
  }
}

}  // namespace ledra
