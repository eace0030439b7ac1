// The key cache itself: one entry per kept table, the stamp that says
// whether its keys still describe the file, the signs of change that put
// them in doubt (the folders' change notifications, searches, the rolling
// check), the budget their bytes are charged to, the worker that builds,
// checks and gives back keys, and the public calls of search_keys.h. The
// keys' own parts are in key_data.h.
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

constexpr uint32_t kTickMs = 250;              // how often the worker looks at the folders and its tables
constexpr uint32_t kBackOffMs = 5000;          // the first wait after a sign of maintenance, doubled while they last
constexpr uint32_t kMaxBackOffMs = 60000;
constexpr uint32_t kRetryMs = 10000;           // a table that lacks a column is looked at again after this
constexpr uint32_t kStarvedMs = 5 * 60 * 1000; // one whose keys did not fit the budget is read again after this
constexpr uint32_t kMostSettleMs = 60000;      // the longest wait for a write time to get old enough
constexpr uint32_t kRollQuietMs = 60000;       // the rolling check leaves a table alone this long after a change
constexpr uint64_t kRollMostCredit = 2 * kSpanBytes;  // the rolling check never catches up in a burst
constexpr uint32_t kWatchRetryMs = 10000;      // a folder that cannot be watched is tried again after this
constexpr uint64_t kIdleMs = 10 * 60 * 1000;   // keys of a table not searched this long are given back
constexpr int64_t kCoarseWriteTime = 2 * 10000000;  // 2 s of file time: the coarsest write times kept
constexpr uint32_t kStopWaitMs = 2000;         // the most that stopping the worker waits for it

std::atomic<uint64_t> g_bytes{0};
std::atomic<uint64_t> g_budget{kDefaultSearchKeyBudget};
std::atomic<uint64_t> g_builds{0};
std::atomic<uint64_t> g_rolled{0};
std::atomic<uint64_t> g_backoffs{0};
std::atomic<uint64_t> g_keyed{0};
std::atomic<uint64_t> g_scans{0};
// Moves on whenever room is made for keys other than by a build: a larger
// budget, keys given back by idle tables or by the last connection keeping
// them. A table whose keys did not fit is read again when it has.
std::atomic<uint64_t> g_room{0};

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
  uint32_t codepage = 0;
  uint32_t header_length = 0, record_length = 0;
  uint64_t changes = 0;  // the entry's signs of change when the read that built them began
  bool trusted = false;  // that read overlapped no write
};

// A table some connection keeps keys for.
struct Entry {
  FileSystem* fs = nullptr;
  Text folder, table;
  ColumnNames columns;
  std::function<Text()> find_path;
  std::unique_ptr<Lock> mu;  // keys
  std::shared_ptr<const Keys> keys;
  std::atomic<uint64_t> used_at{0};
  std::atomic<uint64_t> changes{0};     // signs of a change so far
  std::atomic<uint64_t> changed_at{0};  // when the last one came
  int holders = 0;                      // the cache's lock
  // The rounds' own, under their lock:
  Text path;                 // the file found for the table
  uint64_t next_at = 0;      // not read again before
  uint32_t backoff = 0;      // the last back-off
  uint32_t roll_span = 0;    // the rolling check's next span
  bool starved = false;      // the last build did not fit the budget
  uint64_t starved_room = 0; // g_room when it did not

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
  // Whether keys describe the file as far as anything has said.
  bool Holds(const Keys* k) const { return k && k->trusted && k->changes == changes; }
  // A sign of change: keys read before it answer nothing more.
  void Doubt(uint64_t now) {
    changed_at = now;
    ++changes;
  }
  // The same, unless the keys were doubted already.
  void Doubt(const Keys& k, uint64_t now) {
    changed_at = now;
    uint64_t expected = k.changes;
    changes.compare_exchange_strong(expected, expected + 1);
  }
  // The name the folder's watch reports for the table.
  Text FileName() const {
    if (path.empty()) return table + u".dbf";
    const size_t slash = path.find_last_of(u"/\\");
    return slash == Text::npos ? path : path.substr(slash + 1);
  }
};

using EntryKey = std::tuple<const FileSystem*, Text, Text>;
using FolderKey = std::pair<FileSystem*, Text>;

struct Watched {
  std::unique_ptr<FolderWatch> watch;
  uint64_t retry_at = 0;
};

struct Cache {
  explicit Cache(Threads& t) : mu(t.NewLock()), rounds(t.NewLock()), life(t.NewLock()), wake(t.NewSignal()) {}
  std::unique_ptr<Lock> mu;  // the map only, never held while reading a file
  std::map<EntryKey, std::shared_ptr<Entry>> tables;

  // One round at a time, and what only rounds touch.
  std::unique_ptr<Lock> rounds;
  std::map<FolderKey, Watched> watches;
  uint64_t roll_credit = 0;
  uint64_t roll_at = 0;
  size_t roll_next = 0;

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
// The worker's side: signs of change, building, checking and giving back keys

// What the folders' watches report: a table named, or a watch that lost
// track, puts its keys in doubt. A watch is made for every folder with
// kept tables (again some seconds after it could not be).
void TakeNotices(Cache& c, const std::vector<std::shared_ptr<Entry>>& entries, uint64_t now) {
  std::map<FolderKey, std::vector<Entry*>> folders;
  for (const auto& e : entries) folders[FolderKey(e->fs, e->folder)].push_back(e.get());
  for (auto it = c.watches.begin(); it != c.watches.end();) {
    it = folders.count(it->first) ? std::next(it) : c.watches.erase(it);
  }
  for (auto& [folder, in_folder] : folders) {
    Watched& w = c.watches[folder];
    if (!w.watch) {
      if (now < w.retry_at) continue;
      w.watch = folder.first->Watch(folder.second);
      w.retry_at = now + kWatchRetryMs;
      if (!w.watch) continue;
    }
    std::vector<Text> names;
    const bool whole = w.watch->Changes(&names);
    for (Entry* e : in_folder) {
      const Text name = e->FileName();
      if (!whole || std::any_of(names.begin(), names.end(), [&](const Text& n) { return dbf::SameName(n, name); })) {
        e->Doubt(now);
      }
    }
    if (!whole) {
      w.watch.reset();  // made anew by the next round
      w.retry_at = now;
    }
  }
}

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
// be opened there), its header read and the file closed again.
bool OpenEntry(Entry& e, dbf::OpenedTable* t, Stamp* stamp) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (e.path.empty() || attempt > 0) e.path = e.find_path();
      *t = dbf::OpenTable(*e.fs, e.path, e.table);
      t->file.reset();
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

// A sign of the application's maintenance (the table missing or refused, its
// size changing under a read): the table is left alone for a while, longer
// each time in a row.
void BackOff(Entry& e, uint64_t now) {
  e.backoff = e.backoff ? std::min(kMaxBackOffMs, 2 * e.backoff) : kBackOffMs;
  e.next_at = now + e.backoff;
  ++g_backoffs;
}

// Reads the table whose stamp was just taken into new keys, block by block,
// each opened for its read: the read stops at once, and nothing of it is
// used, when another file or another size turns up, a sign of change
// comes, or the worker stops.
void Build(Cache& c, const std::vector<std::shared_ptr<Entry>>& entries, Entry& e, dbf::OpenedTable& t,
           const Stamp& stamp, uint64_t changes, const Clock& clock, const std::atomic<bool>& stop) {
  const uint64_t now = clock.Milliseconds();
  e.Publish(nullptr);  // in doubt, and their bytes make room
  e.starved = false;
  const int64_t began = e.fs->FileTimeNow();
  dbf::TableText text(t.header.codepage);
  Columns cols;
  if (!FindColumns(t.header, text, e.columns, &cols)) {
    e.next_at = now + kRetryMs;
    return;
  }
  t.file = std::make_unique<dbf::ReopenedFile>(*e.fs, e.path, stamp.identity, stamp.size, [&] {
    if (stop) return false;
    TakeNotices(c, entries, clock.Milliseconds());
    return e.changes == changes;
  });
  std::shared_ptr<const KeyData> data =
      BuildKeys(t, text, cols, dbf::RecordsInFile(t.header, t.file_size), stop, [&](uint64_t n) {
        e.starved = !ChargeEvicting(c, e, n);
        return !e.starved;
      });
  t.file.reset();
  if (stop) return;
  if (e.starved) {
    // Searches scan it meanwhile: it is read again once room is made, or
    // after a long while, never again and again on a clock.
    e.starved_room = g_room;
    e.next_at = now + kStarvedMs;
    return;
  }
  // A sign of change cut it short: the table is read once it is quiet again.
  if (!data && e.changes != changes) return;
  dbf::OpenedTable after;
  Stamp now_stamp;
  if (!data || !OpenEntry(e, &after, &now_stamp) || now_stamp.size != stamp.size) {
    e.Doubt(clock.Milliseconds());
    return BackOff(e, now);
  }
  if (!(now_stamp == stamp)) return e.Doubt(clock.Milliseconds());  // written meanwhile
  auto keys = std::make_shared<Keys>();
  keys->data = std::move(data);
  keys->stamp = stamp;
  keys->path = e.path;
  keys->columns = e.columns;
  keys->codepage = t.header.codepage;
  keys->header_length = t.header.header_length;
  keys->record_length = t.header.record_length;
  keys->changes = changes;
  keys->trusted = Settled(stamp.written, began);
  e.Publish(std::move(keys));
  e.backoff = 0;
  e.roll_span = 0;
  ++g_builds;
}

// What one table needs now: nothing, keys given back or built.
void Tend(Cache& c, const std::vector<std::shared_ptr<Entry>>& entries, Entry& e, const Clock& clock,
          const std::atomic<bool>& stop) {
  const uint64_t now = clock.Milliseconds();
  std::shared_ptr<const Keys> keys = e.Current();
  const uint64_t used = e.used_at;
  if (now > used && now - used > kIdleMs) {
    if (keys) {
      e.Publish(nullptr);
      ++g_room;
    }
    return;
  }
  if (e.Holds(keys.get())) return;
  if (e.starved && g_room != e.starved_room) e.next_at = 0;
  if (now < e.next_at) return;
  // A changed table is read once it has been quiet for a moment, not while
  // it is still being written (keys read meanwhile would be in doubt again
  // at once).
  if (e.changes && now < e.changed_at + kQuietMs) return;
  const uint64_t changes = e.changes;  // signs that come from here on doubt what is read
  dbf::OpenedTable t;
  Stamp stamp;
  if (!OpenEntry(e, &t, &stamp)) return BackOff(e, now);
  // A write too recent for its time to tell a later one apart: the read
  // waits until it is old enough (a file server's clock may be ahead).
  const int64_t file_now = e.fs->FileTimeNow();
  if (!Settled(stamp.written, file_now)) {
    const int64_t wait_ms = (stamp.written + kCoarseWriteTime - file_now) / 10000;
    e.next_at = now + static_cast<uint64_t>(std::clamp<int64_t>(wait_ms, kTickMs, kMostSettleMs));
    return;
  }
  Build(c, entries, e, t, stamp, changes, clock, stop);
  // A table that keeps changing is read at most a third of the time.
  const uint64_t took = clock.Milliseconds() - now;
  e.next_at = std::max(e.next_at, now + 3 * took);
}

// The rolling check, for changes that nothing reports (an edit through a
// handle the application keeps open, a share's cached attributes): the
// tables whose keys hold, one span of records a round and in turn, within
// kRollBytesPerMinute. A table changed lately is left alone: its keys are
// new, or about to be.
void Roll(Cache& c, const std::vector<std::shared_ptr<Entry>>& entries, const Clock& clock) {
  const uint64_t now = clock.Milliseconds();
  if (now > c.roll_at) {
    c.roll_credit = std::min(kRollMostCredit, c.roll_credit + (now - c.roll_at) * kRollBytesPerMinute / 60000);
  }
  c.roll_at = now;
  for (size_t tried = 0; tried < entries.size(); ++tried) {
    const size_t at = c.roll_next % entries.size();
    Entry& e = *entries[at];
    std::shared_ptr<const Keys> keys = e.Current();
    if (!e.Holds(keys.get()) || now < e.changed_at + kRollQuietMs || now < e.next_at) {
      ++c.roll_next;
      continue;
    }
    const KeyData& d = *keys->data;
    if (d.sums.empty()) {
      ++c.roll_next;
      continue;
    }
    const uint32_t span = e.roll_span < d.sums.size() ? e.roll_span : 0;
    const uint64_t first = uint64_t{span} * d.span_rows;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(d.span_rows, d.rows - first));
    const uint64_t cost = std::max<uint64_t>(dbf::kFirstHeaderRead, keys->header_length) + uint64_t{n} * keys->record_length;
    if (c.roll_credit < cost) return;  // this table's turn waits for the credit
    c.roll_credit -= cost;
    ++c.roll_next;
    dbf::OpenedTable t;
    try {
      t = dbf::OpenTable(*e.fs, keys->path, e.table);
    } catch (...) {
      return BackOff(e, now);
    }
    Stamp stamp;
    if (!StampOf(t, &stamp) || !(stamp == keys->stamp)) return e.Doubt(*keys, now);
    std::vector<uint8_t> block(n * t.header.record_length);
    const size_t got = dbf::ReadRecordBlock(*t.file, t.header, first, n, block.data());
    t.file.reset();
    if (got < n) return BackOff(e, now);
    dbf::TableText text(t.header.codepage);
    Columns cols;
    const bool same = FindColumns(t.header, text, keys->columns, &cols) &&
                      SpanSum(t.header, cols, block.data(), n) == d.sums[span];
    if (!same) return e.Doubt(*keys, now);
    e.roll_span = span + 1;
    ++g_rolled;
    return;
  }
}

void Round(const std::atomic<bool>& stop) {
  Cache* c = TheCache();
  const Clock* clock = Sys().clock;
  if (!c || !clock) return;
  Locked one(*c->rounds);
  const std::vector<std::shared_ptr<Entry>> entries = c->Entries();
  TakeNotices(*c, entries, clock->Milliseconds());
  for (const auto& e : entries) {
    if (stop) return;
    try {
      Tend(*c, entries, *e, *clock, stop);
    } catch (...) {
      e->Publish(nullptr);
    }
  }
  if (stop || entries.empty()) return;
  try {
    Roll(*c, entries, *clock);
  } catch (...) {
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
    ++g_room;
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
    {
      // No folder stays watched (its handle open) once no worker runs.
      Locked one(*c.rounds);
      c.watches.clear();
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

void SetSearchKeyBudget(uint64_t bytes) {
  g_budget = bytes;
  ++g_room;
}
uint64_t SearchKeyBudget() { return g_budget; }

SearchKeyStats SearchKeyState() {
  SearchKeyStats s;
  s.bytes = g_bytes;
  s.builds = g_builds;
  s.rolled = g_rolled;
  s.backoffs = g_backoffs;
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
    if (!entry->Holds(keys.get()) ||
        !keys->columns.Same(request.tel_column, request.contact_column, request.name_column)) {
      return scan();
    }
    // The rows come from the keys alone; the file is opened only to see
    // that they still describe it and to read those rows.
    const dbf::TableText text(keys->codepage);
    std::vector<uint64_t> rows;
    if (!FindMatches(request, q, text, *keys->data, std::max<size_t>(request.max_rows, 1), &rows)) {
      ++g_scans;
      return nullptr;
    }
    dbf::OpenedTable t = dbf::OpenTable(fs, keys->path, q.table);
    Stamp stamp;
    if (!StampOf(t, &stamp) || !(stamp == keys->stamp)) {
      entry->Doubt(*keys, now);
      return scan();
    }
    ++g_keyed;
    return ReadKeyedRows(fs, keys->path, std::move(t), q, std::move(rows), [entry, keys, c, clock] {
      entry->Doubt(*keys, clock->Milliseconds());
      c->wake->Set();
    });
  } catch (...) {
    ++g_scans;
    return nullptr;
  }
}

}  // namespace ledra
