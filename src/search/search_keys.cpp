#include "search/search_keys.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <list>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/text_matching.h"
#include "dbf/dbf_format.h"
#include "dbf/dbf_table.h"
#include "dbf/dbf_text.h"
#include "dbf/query.h"

namespace ledra {

bool PlainAsciiUpper() {
  Text lower;
  Text upper;
  for (char16_t c = 32; c < 127; ++c) {
    lower += c;
    upper += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  }
  return UCase(lower) == upper;
}

namespace {

bool IsAscii(const Text& s) {
  for (char16_t c : s) {
    if (c >= 128) return false;
  }
  return true;
}

bool IsWordChar(unsigned c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// WordsOnly over plain ASCII, upper-casing as it goes: one "," before every
// word that follows other characters.
template <typename Char, typename Out>
void AsciiWords(const Char* p, size_t n, Out& out) {
  bool previous_word = true;
  for (size_t i = 0; i < n; ++i) {
    unsigned c = static_cast<unsigned>(p[i]);
    if (c >= 'a' && c <= 'z') c -= 32;
    if (IsWordChar(c)) {
      if (!previous_word) out += ',';
      out += static_cast<typename Out::value_type>(c);
      previous_word = true;
    } else {
      previous_word = false;
    }
  }
}

}  // namespace

void AppendRowWords(const Text& value, bool plain_upper, Text& out) {
  if (!plain_upper || !IsAscii(value)) {
    out += WordsOnly(value);
    return;
  }
  AsciiWords(value.data(), value.size(), out);
}

void RowInitial(const Text& value, bool plain_upper, Text& out) {
  if (value.empty()) {
    out.clear();
    return;
  }
  char16_t c = value[0];
  if (plain_upper && c < 128) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    out.assign(1, c);
  } else {
    out = UCase(Text(1, c));
  }
}

namespace {

constexpr uint32_t kWindowRows = 1024;  // rows a letter listing takes at a time

constexpr uint32_t kRecheckMs = 20000;         // keys in use are read again at this age
constexpr uint32_t kTickMs = 1000;             // how often the worker looks at the stamps
constexpr uint32_t kRetryMs = 10000;           // after keys did not fit the budget
constexpr uint64_t kIdleMs = 10 * 60 * 1000;  // keys of a table not searched this long are given back
constexpr int64_t kCoarseWriteTime = 2 * 10000000;  // 2 s of file time: the coarsest write times kept
constexpr uint32_t kStopWaitMs = 2000;         // the most that stopping the worker waits for it

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
uint32_t RunCode(char c) { return c >= '0' && c <= '9' ? static_cast<uint32_t>(c - '0') : c == '*' ? 10 : 11; }
uint32_t RunBucket(const char* s) {
  uint32_t b = 0;
  for (size_t i = 0; i < kRun; ++i) b = b * 12 + RunCode(s[i]);
  return b;
}
// The bucket of a word's first kWordStart characters: A-Z, 0-9, or none
// past its end (and any other byte, which no word holds, with none).
uint32_t WordBucket(const char* w, size_t n) {
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

std::atomic<uint64_t> g_bytes{0};
std::atomic<uint64_t> g_budget{kDefaultSearchKeyBudget};
std::atomic<uint64_t> g_builds{0};
std::atomic<uint64_t> g_checks{0};
std::atomic<uint64_t> g_keyed{0};
std::atomic<uint64_t> g_scans{0};

// Takes n bytes of the budget, or nothing when they do not fit.
bool Charge(uint64_t n) {
  uint64_t held = g_bytes.load();
  for (;;) {
    const uint64_t budget = g_budget.load();
    if (n > budget || held > budget - n) return false;
    if (g_bytes.compare_exchange_weak(held, held + n)) return true;
  }
}

void Refund(uint64_t n) { g_bytes -= n; }

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
  uint64_t content = 0;           // hash of every record's bytes that the keys come from
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

struct ColumnNames {
  Text tel, contact, name;
  bool Same(const Text& t, const Text& c, const Text& n) const {
    return dbf::SameName(tel, t) && dbf::SameName(contact, c) && dbf::SameName(name, n);
  }
};

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

uint64_t Fnv(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}
constexpr uint64_t kFnvStart = 14695981039346656037ull;

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

struct Columns {
  const dbf::FieldDesc* tel = nullptr;
  const dbf::FieldDesc* contact = nullptr;
  const dbf::FieldDesc* name = nullptr;
};

// The three columns by name, as the scan finds them; all must hold text.
bool FindColumns(const dbf::Header& h, const dbf::TableText& text, const ColumnNames& names, Columns* out) {
  for (const dbf::FieldDesc& f : h.fields) {
    if (f.hidden) continue;
    Text name;
    text.Decode(reinterpret_cast<const uint8_t*>(f.name.data()), f.name.size(), &name);
    if (!out->tel && dbf::SameName(name, names.tel)) out->tel = &f;
    if (!out->contact && dbf::SameName(name, names.contact)) out->contact = &f;
    if (!out->name && dbf::SameName(name, names.name)) out->name = &f;
  }
  return out->tel && out->contact && out->name && dbf::IsText(out->tel->type) && dbf::IsText(out->contact->type) &&
         dbf::IsText(out->name->type);
}

// A hash of the bytes of a record the keys come from: the delete flag, the
// three columns and the null flags. Any one changed 8-byte word changes it.
class RecordHash {
 public:
  RecordHash(const dbf::Header& h, const Columns& c) {
    ranges_.push_back({0, 1});
    for (const dbf::FieldDesc* f : {c.tel, c.contact, c.name}) ranges_.push_back({f->offset, f->length});
    if (h.nullflags >= 0) {
      const dbf::FieldDesc& n = h.fields[static_cast<size_t>(h.nullflags)];
      ranges_.push_back({n.offset, n.length});
    }
  }

  uint64_t Add(uint64_t h, const uint8_t* rec) const {
    for (const auto& r : ranges_) {
      const uint8_t* p = rec + r.first;
      size_t n = r.second;
      for (; n >= 8; p += 8, n -= 8) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        h = (h ^ v) * kMul;
      }
      uint64_t v = n;
      for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i + 8);
      h = (h ^ v) * kMul;
    }
    return h;
  }

 private:
  static constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;  // odd: each step is one-to-one
  std::vector<std::pair<uint32_t, uint32_t>> ranges_;
};

// Builds the keys of records one after another, straight from their bytes;
// a value that is not plain ASCII goes the scan's own way through the code
// page and the regional upper case. Every byte it takes is charged first.
class Builder {
 public:
  Builder(const dbf::Header& h, const dbf::TableText& text, const Columns& c, uint64_t rows,
          std::function<bool(uint64_t)> charge)
      : h_(h), text_(text), c_(c), hash_(h, c), rows_(rows), charge_(std::move(charge)) {
    plain_upper_ = PlainAsciiUpper();
    ascii_same_ = AsciiDecodesToItself(text);
    data_ = std::make_shared<KeyData>();
    content_ = kFnvStart;
  }

  // n records; false when their keys cannot be held.
  bool AddBlock(const uint8_t* block, size_t n, size_t reclen) {
    for (size_t at = 0; at < n; at += kChunkRows) {
      const size_t rows = std::min<size_t>(kChunkRows, n - at);
      if (!Room(rows)) return false;
      for (size_t i = 0; i < rows; ++i) Add(block + (at + i) * reclen);
    }
    return true;
  }

  std::shared_ptr<const KeyData> Finish() {
    KeyData& d = *data_;
    d.tel_at.push_back(static_cast<uint32_t>(d.tel.size()));
    d.words_at.push_back(static_cast<uint32_t>(d.words.size()));
    d.content = content_;
    // Copied down only when much room is spare.
    auto fit = [&](auto& v) {
      const uint64_t before = v.capacity();
      if (before - v.size() <= v.size() / 8) return;
      v.shrink_to_fit();
      const uint64_t gone = (before - v.capacity()) * sizeof(v[0]);
      Refund(gone);
      d.charged -= gone;
    };
    fit(d.tel);
    fit(d.words);
    if (!IndexRows()) return nullptr;
    return std::move(data_);
  }

 private:
  static constexpr size_t kChunkRows = 64;

  // The three indexes over the keys made, in two passes each: count, then
  // fill.
  bool IndexRows() {
    const KeyData& d = *data_;
    auto runs = [&](uint32_t r, auto&& emit) {
      const char* s = d.tel.data() + d.tel_at[r];
      const size_t n = d.tel_at[r + 1] - d.tel_at[r] - 1;  // without the end mark
      for (size_t i = 0; i < n; ++i) {
        if (s[i] == '*') emit(kStarBucket);
        if (s[i] == '#') emit(kHashBucket);
      }
      if (n < kRun) return;
      uint32_t b = RunBucket(s);
      emit(b);
      for (size_t i = kRun; i < n; ++i) {
        b = b % (kRunBuckets / 12) * 12 + RunCode(s[i]);
        emit(b);
      }
    };
    auto word_starts = [&](uint32_t r, auto&& emit) {
      const char* s = d.words.data() + d.words_at[r];
      const char* const e = d.words.data() + d.words_at[r + 1] - 1;  // at the end mark
      while (s < e) {
        const char* w = s;
        while (s < e && *s != ',') ++s;
        if (s > w) emit(WordBucket(w, static_cast<size_t>(s - w)));
        ++s;
      }
    };
    auto initials = [&](uint32_t r, auto&& emit) { emit(d.initial[r] & 0xFF); };
    return Index(kRunBuckets + 2, runs, &data_->runs) && Index(kWordBuckets, word_starts, &data_->word_starts) &&
           Index(kInitialBuckets, initials, &data_->initials);
  }

  // Postings of every row's keys, each row once per bucket; their bytes are
  // charged before they are taken.
  template <typename EachKey>
  bool Index(uint32_t buckets, EachKey each_key, Postings* p) {
    const uint32_t rows = data_->rows;
    std::vector<uint32_t> seen(buckets, UINT32_MAX);
    std::vector<uint64_t> count(buckets + 1, 0);
    for (uint32_t r = 0; r < rows; ++r) {
      each_key(r, [&](uint32_t b) {
        if (seen[b] != r) {
          seen[b] = r;
          ++count[b + 1];
        }
      });
    }
    for (uint32_t b = 0; b < buckets; ++b) count[b + 1] += count[b];
    if (count[buckets] > UINT32_MAX) return false;  // positions are 32 bits
    const uint64_t bytes = (count[buckets] + buckets + 1) * sizeof(uint32_t);
    if (!charge_(bytes)) return false;
    data_->charged += bytes;
    p->at.assign(count.begin(), count.end());
    p->rows.resize(static_cast<size_t>(count[buckets]));
    std::vector<uint32_t> next(p->at.begin(), p->at.end() - 1);
    std::fill(seen.begin(), seen.end(), UINT32_MAX);
    for (uint32_t r = 0; r < rows; ++r) {
      each_key(r, [&](uint32_t b) {
        if (seen[b] != r) {
          seen[b] = r;
          p->rows[next[b]++] = r;
        }
      });
    }
    return true;
  }

  // Room for n more records, each value byte at most one key byte; after
  // the first chunk, room for every row at the rate seen so far.
  bool Room(uint64_t n) {
    KeyData& d = *data_;
    const uint64_t tel = n * (uint64_t{c_.tel->length} + 1);
    const uint64_t words = n * (uint64_t{c_.contact->length} + c_.name->length + 2);
    if (d.tel.size() + tel > UINT32_MAX || d.words.size() + words > UINT32_MAX) return false;  // offsets are 32 bits
    if (done_ > 0 && !expected_) {
      expected_ = true;
      const uint64_t left = rows_ > done_ ? rows_ - done_ : 0;
      auto at_rate = [&](size_t so_far) { return static_cast<uint64_t>(double(so_far) / done_ * left * 1.125); };
      if (!Room(d.tel, at_rate(d.tel.size()) + tel) || !Room(d.words, at_rate(d.words.size()) + words) ||
          !Room(d.tel_at, left + 1) || !Room(d.words_at, left + 1) || !Room(d.initial, left) ||
          !Room(d.prefix, 2 * left) || !Room(d.flags, left)) {
        return false;
      }
    }
    return Room(d.tel, tel) && Room(d.words, words) && Room(d.tel_at, n + 1) && Room(d.words_at, n + 1) &&
           Room(d.initial, n) && Room(d.prefix, 2 * n) && Room(d.flags, n);
  }

  // Room for extra more elements, charged before it is taken.
  template <typename V>
  bool Room(V& v, uint64_t extra) {
    const uint64_t need = v.size() + extra;
    if (need <= v.capacity()) return true;
    const uint64_t cap = std::max<uint64_t>(need, v.capacity() + v.capacity() / 8);
    const uint64_t bytes = (cap - v.capacity()) * sizeof(v[0]);
    if (!charge_(bytes)) return false;
    data_->charged += bytes;
    v.reserve(static_cast<size_t>(cap));
    // A string may take more than it was asked for: that is charged too.
    if (v.capacity() > cap) {
      const uint64_t more = (v.capacity() - cap) * sizeof(v[0]);
      if (!charge_(more)) return false;
      data_->charged += more;
    }
    return true;
  }

  static bool AsciiDecodesToItself(const dbf::TableText& text) {
    uint8_t bytes[128];
    for (int i = 0; i < 128; ++i) bytes[i] = static_cast<uint8_t>(i);
    Text out;
    text.Decode(bytes, sizeof bytes, &out);
    if (out.size() != 128) return false;
    for (int i = 0; i < 128; ++i) {
      if (out[static_cast<size_t>(i)] != i) return false;
    }
    return true;
  }

  void Add(const uint8_t* rec) {
    KeyData& d = *data_;
    content_ = hash_.Add(content_, rec);
    ++done_;
    ++d.rows;
    d.tel_at.push_back(static_cast<uint32_t>(d.tel.size()));
    d.words_at.push_back(static_cast<uint32_t>(d.words.size()));
    if (rec[0] == '*') {
      d.tel += kTelEnd;
      d.words += kWordsEnd;
      d.initial.push_back(0);
      d.prefix.push_back(' ');
      d.prefix.push_back(' ');
      d.flags.push_back(kDeleted | kNameNull | kNoInitial);
      return;
    }
    uint8_t flags = 0;

    // Telephone: the dialling characters lie below 0x40 in every code
    // page, where no byte of a multi-byte character does.
    const size_t tel_n = dbf::IsNull(h_, *c_.tel, rec) ? 0 : dbf::TextLength(h_, *c_.tel, rec);
    const uint8_t* t = rec + c_.tel->offset;
    for (size_t i = 0; i < tel_n; ++i) {
      if (IsDialling(t[i])) d.tel += static_cast<char>(t[i]);
    }
    d.tel += kTelEnd;

    // Name: what the ">=" filter compares (the stored bytes, trailing blanks
    // being the padding either side gets), and the initial.
    const uint8_t* name = nullptr;
    size_t name_n = 0;
    if (dbf::IsNull(h_, *c_.name, rec)) {
      flags |= kNameNull;
    } else {
      name = rec + c_.name->offset;
      name_n = dbf::TextLength(h_, *c_.name, rec);
    }
    d.prefix.push_back(name_n > 0 ? name[0] : ' ');
    d.prefix.push_back(name_n > 1 ? name[1] : ' ');
    for (size_t i = 2; i < name_n; ++i) {
      if (name[i] != ' ') {
        if (name[i] < ' ') flags |= kTailBelowBlank;
        break;
      }
    }
    size_t lead = 0;
    while (lead < name_n && name[lead] == ' ') ++lead;
    if (lead == name_n) {
      flags |= kNoInitial;
      d.initial.push_back(0);
    } else if (name[lead] < 0x80 && ascii_same_ && plain_upper_) {
      uint8_t b = name[lead];
      if (b >= 'a' && b <= 'z') b -= 32;
      d.initial.push_back(b);
    } else {
      size_t end = name_n;
      while (end > lead && name[end - 1] == ' ') --end;
      text_.Decode(name + lead, end - lead, &value_);
      RowInitial(value_, plain_upper_, initial_);
      if (initial_.empty()) {
        flags |= kNoInitial;
        d.initial.push_back(0);
      } else {
        d.initial.push_back(initial_[0]);
      }
    }
    d.flags.push_back(flags);

    AppendWords(*c_.contact, rec);
    d.words += ',';
    AppendWords(*c_.name, rec);
    d.words += kWordsEnd;
  }

  void AppendWords(const dbf::FieldDesc& f, const uint8_t* rec) {
    if (dbf::IsNull(h_, f, rec)) return;
    const uint8_t* v = rec + f.offset;
    size_t n = dbf::TextLength(h_, f, rec);
    while (n > 0 && v[n - 1] == ' ') --n;
    while (n > 0 && *v == ' ') ++v, --n;
    bool ascii = ascii_same_ && plain_upper_;
    for (size_t i = 0; ascii && i < n; ++i) ascii = v[i] < 0x80;
    if (ascii) {
      AsciiWords(v, n, data_->words);
      return;
    }
    text_.Decode(v, n, &value_);
    words_.clear();
    AppendRowWords(value_, plain_upper_, words_);
    for (char16_t c : words_) data_->words += static_cast<char>(c);  // A-Z, 0-9 and "," only
  }

  const dbf::Header& h_;
  const dbf::TableText& text_;
  Columns c_;
  RecordHash hash_;
  uint64_t rows_;
  std::function<bool(uint64_t)> charge_;
  bool plain_upper_ = false;
  bool ascii_same_ = false;
  bool expected_ = false;
  uint64_t done_ = 0;
  uint64_t content_ = 0;
  std::shared_ptr<KeyData> data_;
  Text value_;
  Text initial_;
  Text words_;
};

// ---------------------------------------------------------------------------
// Finding rows in the keys

// First position in [from, end) of hay where needle (not empty) occurs
// whole inside that range.
size_t FindBytes(const std::string& hay, size_t from, size_t end, const std::string& needle) {
  const size_t n = std::min(end, hay.size());
  const size_t m = needle.size();
  if (m == 0 || from + m > n) return std::string::npos;
  const char* s = hay.data();
  if (m == 1) {
    const void* hit = std::memchr(s + from, needle[0], n - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - s) : std::string::npos;
  }
  size_t i = from;
#if defined(__SSE2__)
  // Sixteen positions at a time whose first and last bytes both match.
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  for (; i + m - 1 + 16 <= n; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + m - 1));
    unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask) {
      unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      if (std::memcmp(s + i + bit + 1, needle.data() + 1, m - 2) == 0) return i + bit;
      mask &= mask - 1;
    }
  }
#endif
  for (; i + m <= n; ++i) {
    const void* hit = std::memchr(s + i, needle[0], n - m + 1 - i);
    if (!hit) return std::string::npos;
    i = static_cast<size_t>(static_cast<const char*>(hit) - s);
    if (std::memcmp(s + i + 1, needle.data() + 1, m - 1) == 0) return i;
  }
  return std::string::npos;
}

constexpr uint64_t kNone = UINT64_MAX;

// How the request's three tests read on the keys.
struct Plan {
  enum class Mode { None, All, Find };
  Mode tel = Mode::None;
  std::string tel_needle;
  Mode text = Mode::None;            // without a filter: on the words
  std::vector<std::string> words;    // the non-empty words, longest first
  bool filtered = false;             // a letter request: name >= the query's value
  std::string filter;                // that value in the table's bytes, without trailing blanks
  bool text_on_initial = false;      // with a filter the words are the initial:
  bool text_initial_comma = false;   //   true where the initial is ","
  bool begin_empty = false;          // begin "" matches an empty name
  bool begin_char = false;
  char16_t begin = 0;
};

// False when the keys cannot answer the request (the caller scans). The
// filter comes from the query the scan would run, so the keys answer
// nothing the scan's query would not.
bool MakePlan(const KeyRequest& r, const dbf::Query& q, const dbf::TableText& text, Plan* p) {
  if (q.op == dbf::Query::Op::All) {
    if (r.has_begin) return false;
  } else if (q.op != dbf::Query::Op::AtLeast || !r.has_begin || !dbf::SameName(q.column, r.name_column)) {
    return false;
  }
  if (r.tel.empty()) {
    p->tel = Plan::Mode::All;
  } else if (r.tel.find(u',') != Text::npos) {
    return false;
  } else {
    p->tel = Plan::Mode::Find;
    for (char16_t c : r.tel) {
      if (!IsDialling(c)) {
        p->tel = Plan::Mode::None;  // a key holds dialling characters only
        break;
      }
      p->tel_needle += static_cast<char>(c);
    }
  }

  // The words of Text as WordsMatch takes them: up to each ",".
  std::vector<Text> words;
  for (size_t start = 0; start < r.text.size();) {
    size_t comma = r.text.find(u',', start);
    size_t len = (comma == Text::npos ? r.text.size() : comma) - start;
    words.push_back(r.text.substr(start, len));
    start += len + 1;
  }
  if (r.has_begin) {
    p->filtered = true;
    p->filter = text.Encode(q.value);
    while (!p->filter.empty() && p->filter.back() == ' ') p->filter.pop_back();
    if (p->filter.size() > 2) return false;
    p->begin_empty = r.begin.empty();
    p->begin_char = r.begin.size() == 1;
    if (p->begin_char) p->begin = r.begin[0];
    if (r.has_text) {
      // The scan's word list is then the initial: "," + w occurs in it only
      // for an empty w, where the initial is ",".
      bool all_empty = std::all_of(words.begin(), words.end(), [](const Text& w) { return w.empty(); });
      if (words.empty()) {
        p->text_on_initial = true;
      } else if (all_empty) {
        p->text_initial_comma = true;
      }
    }
    return true;
  }
  if (!r.has_text) return true;
  // Every word list begins with ",", so an empty word is always found.
  p->text = Plan::Mode::All;
  for (const Text& w : words) {
    if (w.empty()) continue;
    if (!std::all_of(w.begin(), w.end(), [](char16_t c) { return IsWordChar(c); })) {
      p->text = Plan::Mode::None;  // no word of a row holds such a character
      return true;
    }
    p->words.emplace_back(w.begin(), w.end());
  }
  if (!p->words.empty()) {
    p->text = Plan::Mode::Find;
    std::stable_sort(p->words.begin(), p->words.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  }
  return true;
}

bool WordStart(const std::string& buf, size_t at) { return at == 0 || buf[at - 1] == ',' || buf[at - 1] == kWordsEnd; }

// Whether word w begins a word of the segment [b, e).
bool HasWord(const std::string& buf, size_t b, size_t e, const std::string& w) {
  for (size_t at = b;;) {
    at = FindBytes(buf, at, e, w);
    if (at == std::string::npos) return false;
    if (at == b || buf[at - 1] == ',') return true;
    ++at;
  }
}

// The rows of the keys that one test accepts, in order.
class Hits {
 public:
  Hits(const KeyData& k, const Plan& plan, bool tel) : k_(k), plan_(plan), tel_(tel) {
    mode_ = tel ? plan.tel : plan.text;
  }

  // The next accepted row after the last one returned.
  uint64_t Next() {
    if (mode_ == Plan::Mode::All) {
      while (row_ < k_.rows) {
        uint32_t r = row_++;
        if (!(k_.flags[r] & kDeleted)) return r;
      }
      return kNone;
    }
    if (mode_ != Plan::Mode::Find) return kNone;
    const std::string& buf = tel_ ? k_.tel : k_.words;
    const std::vector<uint32_t>& at = tel_ ? k_.tel_at : k_.words_at;
    const std::string& needle = tel_ ? plan_.tel_needle : plan_.words[0];
    for (;;) {
      size_t hit = FindBytes(buf, pos_, buf.size(), needle);
      if (hit == std::string::npos) return kNone;
      if (!tel_ && !WordStart(buf, hit)) {
        pos_ = hit + 1;
        continue;
      }
      const uint32_t r = k_.RowAt(at, hit);
      pos_ = at[r + 1];
      bool ok = true;
      for (size_t i = 1; ok && !tel_ && i < plan_.words.size(); ++i) ok = HasWord(buf, at[r], at[r + 1] - 1, plan_.words[i]);
      if (ok && !(k_.flags[r] & kDeleted)) return r;
    }
  }

 private:
  const KeyData& k_;
  const Plan& plan_;
  bool tel_;
  Plan::Mode mode_;
  size_t pos_ = 0;
  uint32_t row_ = 0;
};

// The ">=" filter on the stored name, as the engine compares it: bytes in
// order, the shorter side padded with blanks; a null name passes nothing.
bool PassesFilter(const KeyData& k, uint32_t i, const std::string& v) {
  const uint8_t f = k.flags[i];
  if (f & kNameNull) return false;
  for (size_t j = 0; j < 2; ++j) {
    uint8_t a = k.prefix[2 * i + j];
    uint8_t b = j < v.size() ? static_cast<uint8_t>(v[j]) : ' ';
    if (a != b) return a > b;
  }
  return !(f & kTailBelowBlank);
}

bool BeginMatches(const KeyData& k, uint32_t i, const Plan& plan) {
  const bool none = k.flags[i] & kNoInitial;
  if (plan.begin_empty && none) return true;
  if (plan.begin_char && !none && k.initial[i] == plan.begin) return true;
  if (plan.text_on_initial) return true;
  if (plan.text_initial_comma && !none && k.initial[i] == u',') return true;
  return false;
}

// The record numbers of the first max_rows rows that match, in order, from
// every row's keys in turn: for what the indexes cannot narrow (a number
// shorter than a run, words shorter than a word start), where matches are
// usually many and the walk ends early.
std::vector<uint64_t> Walk(const KeyData& k, const Plan& plan, size_t max_rows) {
  std::vector<uint64_t> out;
  if (plan.filtered) {
    // Row by row, since a letter listing usually ends after a few hundred
    // rows; the telephones are searched a window of rows at a time.
    std::vector<uint32_t> tel_rows;
    for (uint32_t ws = 0; ws < k.rows && out.size() < max_rows; ws += kWindowRows) {
      const uint32_t we = std::min<uint32_t>(ws + kWindowRows, k.rows);
      tel_rows.clear();
      if (plan.tel == Plan::Mode::Find) {
        size_t from = k.tel_at[ws];
        for (size_t hit; (hit = FindBytes(k.tel, from, k.tel_at[we], plan.tel_needle)) != std::string::npos;) {
          const uint32_t r = k.RowAt(k.tel_at, hit);
          tel_rows.push_back(r);
          from = k.tel_at[r + 1];
        }
      }
      size_t next = 0;
      for (uint32_t i = ws; i < we && out.size() < max_rows; ++i) {
        if (k.flags[i] & kDeleted) continue;
        while (next < tel_rows.size() && tel_rows[next] < i) ++next;
        const bool tel_hit = plan.tel == Plan::Mode::All || (next < tel_rows.size() && tel_rows[next] == i);
        if ((tel_hit || BeginMatches(k, i, plan)) && PassesFilter(k, i, plan.filter)) out.push_back(i);
      }
    }
    return out;
  }
  Hits tel(k, plan, true);
  uint64_t next_tel = tel.Next();
  Hits text(k, plan, false);
  uint64_t next_text = text.Next();
  while (out.size() < max_rows) {
    uint64_t r = std::min(next_tel, next_text);
    if (r == kNone) break;
    out.push_back(r);
    if (next_tel == r) next_tel = tel.Next();
    if (next_text == r) next_text = text.Next();
  }
  return out;
}

// The rows that can match a request, ascending: a union of posting lists
// and of intersections of two.
class Candidates {
 public:
  void Add(const uint32_t* b, const uint32_t* e) {
    if (b != e) ranges_.push_back({b, e});
  }
  // The rows in every one of the buckets, from the two smallest.
  void AddAll(const Postings& p, std::vector<uint32_t> buckets) {
    std::sort(buckets.begin(), buckets.end());
    buckets.erase(std::unique(buckets.begin(), buckets.end()), buckets.end());
    std::partial_sort(buckets.begin(), buckets.begin() + std::min<size_t>(2, buckets.size()), buckets.end(),
                      [&](uint32_t a, uint32_t b) { return p.size(a) < p.size(b); });
    if (buckets.size() == 1) return Add(p.begin(buckets[0]), p.end(buckets[0]));
    owned_.emplace_back();
    std::set_intersection(p.begin(buckets[0]), p.end(buckets[0]), p.begin(buckets[1]), p.end(buckets[1]),
                          std::back_inserter(owned_.back()));
    Add(owned_.back().data(), owned_.back().data() + owned_.back().size());
  }
  // The next row of the union, each once; false at its end.
  bool Next(uint32_t* row) {
    uint64_t least = UINT64_MAX;
    for (const auto& r : ranges_) {
      if (r.first != r.second) least = std::min<uint64_t>(least, *r.first);
    }
    if (least == UINT64_MAX) return false;
    for (auto& r : ranges_) {
      if (r.first != r.second && *r.first == least) ++r.first;
    }
    *row = static_cast<uint32_t>(least);
    return true;
  }

 private:
  std::vector<std::pair<const uint32_t*, const uint32_t*>> ranges_;
  std::list<std::vector<uint32_t>> owned_;  // intersections; a list keeps them where they are
};

// Adds the rows that can pass the telephone test; false when the index
// cannot narrow it.
bool TelCandidates(const KeyData& k, const Plan& plan, Candidates* c) {
  if (plan.tel == Plan::Mode::None) return true;
  if (plan.tel == Plan::Mode::All) return false;
  const std::string& n = plan.tel_needle;
  if (n.size() >= kRun) {
    std::vector<uint32_t> buckets;
    for (size_t i = 0; i + kRun <= n.size(); ++i) buckets.push_back(RunBucket(n.data() + i));
    c->AddAll(k.runs, buckets);
  } else if (n.find('#') != std::string::npos) {
    c->Add(k.runs.begin(kHashBucket), k.runs.end(kHashBucket));
  } else if (n.find('*') != std::string::npos) {
    c->Add(k.runs.begin(kStarBucket), k.runs.end(kStarBucket));
  } else {
    return false;
  }
  return true;
}

bool TextCandidates(const KeyData& k, const Plan& plan, Candidates* c) {
  if (plan.text == Plan::Mode::None) return true;
  if (plan.text == Plan::Mode::All) return false;
  std::vector<uint32_t> buckets;
  for (const std::string& w : plan.words) {
    if (w.size() >= kWordStart) buckets.push_back(WordBucket(w.data(), w.size()));
  }
  if (buckets.empty()) return false;
  c->AddAll(k.word_starts, buckets);
  return true;
}

bool InitialCandidates(const KeyData& k, const Plan& plan, Candidates* c) {
  if (plan.text_on_initial) return false;
  auto add = [&](char16_t initial) { c->Add(k.initials.begin(initial & 0xFF), k.initials.end(initial & 0xFF)); };
  if (plan.begin_char) add(plan.begin);
  if (plan.begin_empty) add(0);
  if (plan.text_initial_comma) add(u',');
  return true;
}

bool TelHit(const KeyData& k, const Plan& plan, uint32_t r) {
  if (plan.tel != Plan::Mode::Find) return plan.tel == Plan::Mode::All;
  return FindBytes(k.tel, k.tel_at[r], k.tel_at[r + 1] - 1, plan.tel_needle) != std::string::npos;
}

bool TextHit(const KeyData& k, const Plan& plan, uint32_t r) {
  if (plan.text != Plan::Mode::Find) return plan.text == Plan::Mode::All;
  for (const std::string& w : plan.words) {
    if (!HasWord(k.words, k.words_at[r], k.words_at[r + 1] - 1, w)) return false;
  }
  return true;
}

// The first max_rows rows that match, in order: only the rows the indexes
// name are tested, as the walk tests every row.
std::vector<uint64_t> Matches(const KeyData& k, const Plan& plan, size_t max_rows) {
  Candidates c;
  const bool indexed =
      TelCandidates(k, plan, &c) && (plan.filtered ? InitialCandidates(k, plan, &c) : TextCandidates(k, plan, &c));
  if (!indexed) return Walk(k, plan, max_rows);
  std::vector<uint64_t> out;
  for (uint32_t r; out.size() < max_rows && c.Next(&r);) {
    if (k.flags[r] & kDeleted) continue;
    const bool hit = plan.filtered ? (TelHit(k, plan, r) || BeginMatches(k, r, plan)) && PassesFilter(k, r, plan.filter)
                                   : TelHit(k, plan, r) || TextHit(k, plan, r);
    if (hit) out.push_back(r);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Reading the matching rows again

// The chosen records of a table, presented as a table of just those
// records, so that the engine's own result set reads and decodes them.
// Records close together are read in one request.
class PickedRecords : public DataFile {
 public:
  static constexpr uint64_t kGapBytes = 32 * 1024;

  PickedRecords(std::unique_ptr<DataFile> file, const dbf::Header& h, std::vector<uint64_t> records,
                std::shared_ptr<bool> changed)
      : file_(std::move(file)),
        header_length_(h.header_length),
        reclen_(h.record_length),
        records_(std::move(records)),
        changed_(std::move(changed)) {}

  int64_t ReadAt(uint64_t offset, void* buf, size_t n) override {
    if (offset < header_length_ || (offset - header_length_) % reclen_ != 0) return -1;
    size_t k = static_cast<size_t>((offset - header_length_) / reclen_);
    size_t want = std::min(n / reclen_, records_.size() - std::min(k, records_.size()));
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < want) {
      // A run of records that lie close together.
      size_t end = k + done + 1;
      while (end < k + want && (records_[end] - records_[end - 1]) * reclen_ <= kGapBytes) ++end;
      const uint64_t first = records_[k + done];
      const size_t span = static_cast<size_t>((records_[end - 1] - first + 1) * reclen_);
      scratch_.resize(span);
      size_t got = dbf::ReadFully(*file_, header_length_ + first * reclen_, scratch_.data(), span);
      for (size_t i = k + done; i < end; ++i) {
        const size_t at = static_cast<size_t>((records_[i] - first) * reclen_);
        if (at + reclen_ > got) {
          *changed_ = true;  // the file ended before the row
          return static_cast<int64_t>(done * reclen_);
        }
        std::memcpy(out + done * reclen_, scratch_.data() + at, reclen_);
        if (scratch_[at] == '*') *changed_ = true;  // deleted since
        ++done;
      }
    }
    return static_cast<int64_t>(done * reclen_);
  }

  int64_t Size() override { return static_cast<int64_t>(header_length_ + records_.size() * reclen_); }

 private:
  std::unique_ptr<DataFile> file_;
  uint64_t header_length_;
  size_t reclen_;
  std::vector<uint64_t> records_;
  std::shared_ptr<bool> changed_;
  std::vector<uint8_t> scratch_;
};

class KeyedDbfRows : public KeyedRows {
 public:
  KeyedDbfRows(dbf::OpenedTable t, const dbf::Query& q, std::vector<uint64_t> records, std::shared_ptr<const Keys> keys)
      : keys_(std::move(keys)), expected_(records.size()) {
    changed_ = std::make_shared<bool>(false);
    dbf::OpenedTable view;
    view.header = t.header;
    view.header.record_count = static_cast<uint32_t>(records.size());
    view.file_size = t.header.header_length + records.size() * uint64_t{t.header.record_length};
    view.file = std::make_unique<PickedRecords>(std::move(t.file), t.header, std::move(records), changed_);
    rs_ = std::make_unique<dbf::DbfResultSet>(std::move(view), q.table, q);
    if (!rs_->Eof()) ++delivered_;
  }

  bool Eof() override { return rs_->Eof(); }
  Var Field(const Text& column) override { return rs_->Field(column); }
  void FieldText(const Text& column, Text& out, bool trimmed) override { rs_->FieldText(column, out, trimmed); }
  void AppendDialling(const Text& column, Text& out) override { rs_->AppendDialling(column, out); }
  void MoveNext() override {
    rs_->MoveNext();
    if (!rs_->Eof()) ++delivered_;
  }

  bool Complete() override { return !*changed_ && (!rs_->Eof() || delivered_ == expected_); }

  void Stale() override { keys_->stale = true; }

 private:
  std::shared_ptr<const Keys> keys_;
  std::shared_ptr<bool> changed_;
  std::unique_ptr<dbf::DbfResultSet> rs_;
  size_t expected_;
  size_t delivered_ = 0;
};

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
  const uint64_t rows = dbf::RecordsInFile(t.header, t.file_size);
  Builder b(t.header, text, cols, rows, [&](uint64_t n) {
    e.starved = !ChargeEvicting(c, e, n);
    return !e.starved;
  });
  const size_t reclen = t.header.record_length;
  const uint64_t got = dbf::ReadRecords(*t.file, t.header, rows, &stop, [&](const uint8_t* block, size_t n) {
    return b.AddBlock(block, n, reclen);
  });
  if (got < rows) return;  // cut short, over the budget or stopped
  if (PublishRead(e, b.Finish(), stamp, began_ms, began)) ++g_builds;
}

// Reads the file again and compares what the keys were made of; keys found
// right are published anew with the time of this read, wrong ones built anew.
void Check(Cache& c, Entry& e, dbf::OpenedTable& t, const Stamp& stamp, const Keys& keys, uint64_t began_ms,
           const std::atomic<bool>& stop) {
  const int64_t began = e.fs->FileTimeNow();
  dbf::TableText text(t.header.codepage);
  Columns cols;
  if (!FindColumns(t.header, text, e.columns, &cols)) return e.Publish(nullptr);
  const RecordHash hash(t.header, cols);
  const size_t reclen = t.header.record_length;
  uint64_t content = kFnvStart;
  const uint64_t got = dbf::ReadRecords(*t.file, t.header, keys.data->rows, &stop, [&](const uint8_t* block, size_t n) {
    for (size_t i = 0; i < n; ++i) content = hash.Add(content, block + i * reclen);
    return true;
  });
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
    Plan plan;
    if (!MakePlan(request, q, text, &plan)) {
      ++g_scans;
      return nullptr;
    }
    std::vector<uint64_t> rows = Matches(*keys->data, plan, std::max<size_t>(request.max_rows, 1));
    ++g_keyed;
    return std::make_shared<KeyedDbfRows>(std::move(t), q, std::move(rows), std::move(keys));
  } catch (...) {
    ++g_scans;
    return nullptr;
  }
}

}  // namespace ledra
