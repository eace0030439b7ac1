// The search key cache: per process and per table file, exactly what the
// contact search tests on each row (the dialling characters of the
// telephone, the words of contact and account name, the name's initial and
// first bytes) and whether the row is deleted, in compact bytes. A search
// by number, words or letter finds its rows here and reads only those rows
// from the file, where the caller tests them again.
//
// Keys are built only by a worker thread of the plug-in's own, which runs
// while some connection keeps keys (from Load to Unload); a search never
// builds and never waits. It uses a table's keys only when
//   - the file's stamp is the one they were built from: size, last-write
//     time, header (record count, date of last update, layout) and the
//     file's identity on its volume (a copy renamed over the table is
//     another file), checked at every search;
//   - no sign of a change came since the read that built them began: the
//     data folder's change notifications naming the table, a search that
//     found another stamp or a row the keys got wrong, a span of the
//     rolling check that no longer sums the same;
//   - that read overlapped no write: the stamp was the same after it as
//     before, and the last write lay at least 2 s before it began (a file
//     system may keep write times that coarsely);
// and otherwise it scans, as it would without keys, and wakes the worker.
//
// The worker reads a table only when it has to: to build keys nobody has
// yet, once a changed table has been quiet for kQuietMs, and for the
// rolling check, which reads the tables with keys a span at a time within
// kRollBytesPerMinute for changes nothing reports. It opens a table for
// each block it reads and closes it before using the bytes, and backs off
// at the first sign of the application's maintenance: a table missing or
// refused, or a size that changes during a read. Keys of tables not
// searched for a while, or no connection keeps, are given back.
//
// One cache serves every Session and thread of the process. Keys are
// published whole, as immutable snapshots. No file stays open between
// calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/platform.h"
#include "base/text.h"
#include "dbf/connection.h"
#include "search/key_request.h"
#include "dbf/query.h"

namespace ledra {

// The key builders the scan shares with the cache, so both test the same
// keys. Whether the regional upper case of printable ASCII is the plain
// one (then ASCII values skip the locale per row).
bool PlainAsciiUpper();
// Appends WordsOnly(value) to out; value comes trimmed.
void AppendRowWords(const Text& value, bool plain_upper, Text& out);
// The upper-cased first character of the (trimmed) value, "" for none.
void RowInitial(const Text& value, bool plain_upper, Text& out);

// A changed table is read once no sign of a change came for this long.
constexpr uint32_t kQuietMs = 2000;
// What the rolling check reads at most, every table together.
constexpr uint64_t kRollBytesPerMinute = 1 << 20;

// The total the cache may hold. Every byte is charged before it is taken;
// a build that does not fit gives back the keys of the tables searched
// least recently, and is dropped when that is not enough.
constexpr uint64_t kDefaultSearchKeyBudget = 256ull << 20;
void SetSearchKeyBudget(uint64_t bytes);
uint64_t SearchKeyBudget();

struct SearchKeyStats {
  uint64_t bytes = 0;    // charged now, every table
  uint64_t rows = 0;     // rows of the tables with keys now
  uint64_t tables = 0;   // tables with keys now
  uint64_t builds = 0;   // builds since the process started
  uint64_t rolled = 0;   // spans the rolling check found unchanged
  uint64_t backoffs = 0; // reads given up at a sign of maintenance
  uint64_t keyed = 0;    // table searches answered from keys
  uint64_t scans = 0;    // table searches that found no usable keys
};
SearchKeyStats SearchKeyState();
// Forgets every table's keys; the worker builds them again (tests,
// benchmark).
void ClearSearchKeys();

// What a dBase connection over folder asks: keys for tables, whose files
// find_path names (it may fail). nullptr when the platform runs no threads.
std::shared_ptr<void> KeepSearchKeys(FileSystem& fs, const Text& folder, const std::vector<KeyTable>& tables,
                                     std::function<Text(const Text& table)> find_path);

// The matching rows for request, whose query is q, from the keys of table
// q.table in folder. Never fails: nullptr means scan.
std::shared_ptr<KeyedRows> OpenKeyedRows(FileSystem& fs, const Text& folder, const dbf::Query& q,
                                         const KeyRequest& request);

// One round of the worker's work: the folders' change notifications taken,
// keys built, checked or given back as due. The worker runs it four times
// a second and when a search found no usable keys; tests run it in its
// place.
void RefreshSearchKeys();

// Whether a worker thread lives (the DLL stays loaded while one does).
bool SearchKeyWorkerRunning();

}  // namespace ledra
