// What the parts of the search key cache share: the compact keys of one
// table's rows and their indexes (key_data.cpp), built from the rows by
// row_keys.cpp, searched by key_matching.cpp, and kept, checked and charged
// against the budget by search_keys.cpp.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "dbf/connection.h"
#include "dbf/dbf_format.h"
#include "dbf/dbf_table.h"
#include "dbf/dbf_text.h"
#include "dbf/query.h"
#include "search/key_request.h"

namespace ledra::keys {

// Row flags.
constexpr uint8_t kDeleted = 1;
constexpr uint8_t kNameNull = 2;       // a null name passes no filter
constexpr uint8_t kNoInitial = 4;      // empty name
constexpr uint8_t kTailBelowBlank = 8; // the name's first non-blank byte after two is below a blank

constexpr char kTelEnd = ',';    // ends each row's dialling characters
constexpr char kWordsEnd = '\n'; // ends each row's words

// The indexes: a search visits only the rows that share the request's
// rarest runs of dialling characters, or word starts, or its initial.
constexpr size_t kRun = 4;                                // dialling characters in an indexed run
constexpr uint32_t kRunBuckets = 12 * 12 * 12 * 12;       // every run of the 12 dialling characters
constexpr uint32_t kStarBucket = kRunBuckets;             // rows whose telephone holds "*"
constexpr uint32_t kHashBucket = kRunBuckets + 1;         // ... and "#"
constexpr size_t kWordStart = 3;                          // characters of a word start
constexpr uint32_t kWordBuckets = 37 * 37 * 37;           // A-Z, 0-9 or none, three times
constexpr uint32_t kInitialBuckets = 256;                 // by the initial's low byte

// Keys and requests hold dialling characters only.
inline uint32_t RunCode(char c) { return c >= '0' && c <= '9' ? static_cast<uint32_t>(c - '0') : c == '*' ? 10 : 11; }
inline uint32_t RunBucket(const char* s) {
  uint32_t b = 0;
  for (size_t i = 0; i < kRun; ++i) b = b * 12 + RunCode(s[i]);
  return b;
}
// The bucket of a word's first kWordStart characters: A-Z, 0-9, or none
// past its end (and any other byte, which no word holds, with none).
inline uint32_t WordBucket(const char* w, size_t n) {
  uint32_t b = 0;
  for (size_t i = 0; i < kWordStart; ++i) {
    const char c = i < n ? w[i] : 0;
    const uint32_t code = c >= 'A' && c <= 'Z'   ? static_cast<uint32_t>(c - 'A' + 1)
                          : c >= '0' && c <= '9' ? static_cast<uint32_t>(c - '0' + 27)
                                                 : 0;
    b = b * 37 + code;
  }
  return b;
}

inline bool IsWordChar(unsigned c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// FNV-1a, for what describes a table's layout.
inline uint64_t Fnv(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}
constexpr uint64_t kFnvStart = 14695981039346656037ull;

// The budget: takes n bytes of it, or nothing when they do not fit; gives
// n bytes back.
bool Charge(uint64_t n);
void Refund(uint64_t n);

// Row numbers by bucket, ascending within each.
struct Postings {
  std::vector<uint32_t> at;    // buckets + 1: where each bucket's rows begin
  std::vector<uint32_t> rows;
  const uint32_t* begin(uint32_t b) const { return rows.data() + at[b]; }
  const uint32_t* end(uint32_t b) const { return rows.data() + at[b + 1]; }
  size_t size(uint32_t b) const { return at[b + 1] - at[b]; }
};

// The keys of the records of one table, in order. Immutable once published;
// its bytes count against the budget while it lives.
struct KeyData {
  uint32_t rows = 0;
  std::string tel;                // per row: dialling characters, kTelEnd
  std::vector<uint32_t> tel_at;   // rows + 1: where each row begins in tel
  std::string words;              // per row: WordsOnly(contact) "," WordsOnly(name) kWordsEnd
  std::vector<uint32_t> words_at; // rows + 1
  std::vector<char16_t> initial;  // upper-cased first character of the trimmed name
  std::vector<uint8_t> prefix;    // two per row: the name's first bytes, blank-padded
  std::vector<uint8_t> flags;
  uint32_t span_rows = 1;         // records per span (SpanRows)
  std::vector<uint64_t> sums;     // per span of records: the hash of the bytes its keys come from
  Postings runs;                  // by each run of kRun dialling characters, and by "*" and "#"
  Postings word_starts;           // by the start of each word
  Postings initials;              // by the initial's low byte
  uint64_t charged = 0;

  KeyData() = default;
  KeyData(const KeyData&) = delete;
  KeyData& operator=(const KeyData&) = delete;
  ~KeyData() { Refund(charged); }

  uint32_t RowAt(const std::vector<uint32_t>& at, size_t pos) const {
    return static_cast<uint32_t>(std::upper_bound(at.begin(), at.end(), static_cast<uint32_t>(pos)) - at.begin()) - 1;
  }
};

// The indexes over the keys of d's rows, in two passes each: count, then
// fill. Their bytes are charged first; false when they do not fit.
bool IndexKeys(KeyData& d, const std::function<bool(uint64_t)>& charge);

// The names of the three columns a search tests.
struct ColumnNames {
  Text tel, contact, name;
  bool Same(const Text& t, const Text& c, const Text& n) const {
    return dbf::SameName(tel, t) && dbf::SameName(contact, c) && dbf::SameName(name, n);
  }
};

// Those columns in a table's header.
struct Columns {
  const dbf::FieldDesc* tel = nullptr;
  const dbf::FieldDesc* contact = nullptr;
  const dbf::FieldDesc* name = nullptr;
};

// The three columns by name, as the scan finds them; all must hold text.
bool FindColumns(const dbf::Header& h, const dbf::TableText& text, const ColumnNames& names, Columns* out);

// What the keys come from is summed in spans of records of about this many
// bytes, so that a check can read a table a span at a time.
constexpr size_t kSpanBytes = 64 * 1024;
inline uint32_t SpanRows(const dbf::Header& h) {
  return static_cast<uint32_t>(std::max<size_t>(1, kSpanBytes / std::max<size_t>(1, h.record_length)));
}

// The keys of the first `rows` records of t, reading them in blocks; every
// byte is charged first. nullptr when the read was cut short, the keys did
// not fit or stop was set.
std::shared_ptr<const KeyData> BuildKeys(const dbf::OpenedTable& t, const dbf::TableText& text, const Columns& c,
                                         uint64_t rows, const std::atomic<bool>& stop,
                                         std::function<bool(uint64_t)> charge);

// The sum of a span: the hash of the bytes of n records (one after another
// in block) that the keys come from (KeyData::sums).
uint64_t SpanSum(const dbf::Header& h, const Columns& c, const uint8_t* block, size_t n);

// The record numbers of the first max_rows rows of k that can match
// request, whose query is q, in order; false when the keys cannot answer
// the request (the caller scans). The filter comes from the query the scan
// would run, so the keys answer nothing the scan's query would not.
bool FindMatches(const KeyRequest& request, const dbf::Query& q, const dbf::TableText& text, const KeyData& k,
                 size_t max_rows, std::vector<uint64_t>* records);

// The records of the table t, opened at path, read again for the caller to
// test as the engine's result set for q; t's file is closed once the first
// block is read. stale marks the keys they came from as not to be used
// again.
std::shared_ptr<KeyedRows> ReadKeyedRows(FileSystem& fs, const Text& path, dbf::OpenedTable t, const dbf::Query& q,
                                         std::vector<uint64_t> records, std::function<void()> stale);

}  // namespace ledra::keys
