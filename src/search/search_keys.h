// The search key cache: per process and per table file, exactly what the
// contact search tests on each row (the dialling characters of the
// telephone, the words of contact and account name, the name's initial and
// first bytes) and whether the row is deleted, in compact bytes. A search
// by number, words or letter finds its rows here and reads only those rows
// from the file, where the caller tests them again.
//
// Freshness is checked before every search from the file's size, its
// last-write time and its header (record count, date of last update,
// layout): unchanged keys are used as they are; rows only appended are read
// alone; anything else builds the keys anew from one pass over the file. A
// letter listing never builds (its scan usually ends early): it uses keys a
// number or word search left fresh, and scans otherwise.
//
// One cache serves every Session and thread of the process. Keys are
// published whole, as immutable snapshots, and each table has its own lock,
// so a search never sees half-built keys nor waits on another table's
// build; one that finds its own table's keys being checked or built by
// another thread scans instead of waiting. No file stays open between
// calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/platform.h"
#include "base/text.h"
#include "dbf/connection.h"

namespace ledra {

// The key builders the scan shares with the cache, so both test the same
// keys. Whether the regional upper case of printable ASCII is the plain
// one (then ASCII values skip the locale per row).
bool PlainAsciiUpper();
// Appends WordsOnly(value) to out; value comes trimmed.
void AppendRowWords(const Text& value, bool plain_upper, Text& out);
// The upper-cased first character of the (trimmed) value, "" for none.
void RowInitial(const Text& value, bool plain_upper, Text& out);

// The total the cache may hold; over it a search scans instead of building.
constexpr uint64_t kDefaultSearchKeyBudget = 256ull << 20;
void SetSearchKeyBudget(uint64_t bytes);
uint64_t SearchKeyBudget();

struct SearchKeyStats {
  uint64_t bytes = 0;    // held now, every table
  uint64_t rows = 0;     // rows of the tables held now
  uint64_t tables = 0;   // tables with keys now
  uint64_t builds = 0;   // whole builds since the process started
  uint64_t appends = 0;  // appended rows read on their own
  uint64_t scans = 0;    // searches that found no usable keys and scanned
};
SearchKeyStats SearchKeyState();
// Forgets every table's keys (tests, benchmark).
void ClearSearchKeys();

// The dBase connection's answer to OpenMatches: table in folder, whose file
// find_path names (it may fail). Never fails: nullptr means scan.
std::shared_ptr<KeyedRows> OpenKeyedRows(FileSystem& fs, const Text& folder, const Text& table,
                                         const KeyRequest& request, const std::function<Text()>& find_path);

}  // namespace ledra
