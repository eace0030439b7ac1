// The search key cache: per process and per table file, exactly what the
// contact search tests on each row (the dialling characters of the
// telephone, the words of contact and account name, the name's initial and
// first bytes) and whether the row is deleted, in compact bytes. A search
// by number, words or letter finds its rows here and reads only those rows
// from the file, where the caller tests them again.
//
// Keys are built and checked only by a worker thread of the plug-in's own,
// which runs while some connection keeps keys (from Load to Unload); a
// search never builds and never waits. It uses a table's keys only when
//   - the file's stamp is the one they were built from: size, last-write
//     time, header (record count, date of last update, layout) and the
//     file's identity on its volume (a copy renamed over the table is
//     another file), checked at every search;
//   - the read that built or last checked them began at most
//     kKeysTrustedMs ago: a change that moves none of the stamp (a write
//     whose time the file system does not show yet, an edit whose time was
//     put back) is seen by every search that starts that long after it;
//   - that read did not overlap a write: the stamp was the same after it as
//     before, and the last write lay at least 2 s before it began (a file
//     system may keep write times that coarsely), else they wait for the
//     worker to read the file again;
// and otherwise it scans, as it would without keys, and wakes the worker.
// The worker looks at the stamps every second, builds anew whatever
// changed, and reads the files of keys in use again before they get too
// old to answer, comparing what the keys were made of; keys of tables not
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

// How long keys answer after the read that built or checked them began.
constexpr uint32_t kKeysTrustedMs = 30000;

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
  uint64_t checks = 0;   // reads that found the keys still right
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

// One round of the worker's work: every table's stamp looked at, keys built,
// checked or given back as due. The worker runs it every second and when a
// search found no usable keys; tests run it in its place.
void RefreshSearchKeys();

// Whether a worker thread lives (the DLL stays loaded while one does).
bool SearchKeyWorkerRunning();

}  // namespace ledra
