#include "search/search_keys.h"

#include <algorithm>
#include <atomic>
#include <cstring>
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

constexpr uint32_t kBlockRows = 64;  // rows between two stored segment offsets
constexpr uint32_t kWindowRows = 16 * kBlockRows;  // rows a letter listing takes at a time

// Row flags.
constexpr uint8_t kDeleted = 1;
constexpr uint8_t kNameNull = 2;       // a null name passes no filter
constexpr uint8_t kNoInitial = 4;      // empty name
constexpr uint8_t kTailBelowBlank = 8; // the name's first non-blank byte after two is below a blank

constexpr char kTelEnd = ',';    // ends each row's dialling characters
constexpr char kWordsEnd = '\n'; // ends each row's words

std::atomic<uint64_t> g_bytes{0};
std::atomic<uint64_t> g_budget{kDefaultSearchKeyBudget};
std::atomic<uint64_t> g_builds{0};
std::atomic<uint64_t> g_appends{0};
std::atomic<uint64_t> g_scans{0};

// Keys of consecutive records of one table. Immutable once published; its
// bytes count against the budget while it lives.
// The few short critical sections here need no more than a flag: the
// Windows builds' runtime has no std::mutex. A table's own lock is only
// ever tried: a search that finds another thread checking or building the
// same table scans instead of waiting.
class SpinLock {
 public:
  void lock() {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  bool try_lock() { return !flag_.test_and_set(std::memory_order_acquire); }
  void unlock() { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class Locked {
 public:
  explicit Locked(SpinLock& l) : l_(l) { l_.lock(); }
  Locked(SpinLock& l, bool /*already held*/) : l_(l) {}
  ~Locked() { l_.unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SpinLock& l_;
};

struct KeyPart {
  uint64_t first = 0;  // record number of its first row
  uint32_t rows = 0;
  std::string tel;                 // per row: dialling characters, kTelEnd
  std::vector<uint32_t> tel_at;    // where row k * kBlockRows starts in tel
  bool has_words = false;
  std::string words;               // per row: WordsOnly(contact) "," WordsOnly(name) kWordsEnd
  std::vector<uint32_t> words_at;
  std::vector<char16_t> initial;   // upper-cased first character of the trimmed name
  std::vector<uint8_t> prefix;     // two per row: the name's first bytes, blank-padded
  std::vector<uint8_t> flags;
  uint64_t counted = 0;

  KeyPart() = default;
  KeyPart(const KeyPart&) = delete;
  KeyPart& operator=(const KeyPart&) = delete;
  ~KeyPart() { g_bytes -= counted; }

  void Seal() {
    // Copied down only when much room is spare.
    auto fit = [](auto& v) {
      if (v.capacity() - v.size() > v.size() / 8) v.shrink_to_fit();
    };
    fit(tel);
    fit(tel_at);
    fit(words);
    fit(words_at);
    fit(initial);
    fit(prefix);
    fit(flags);
    counted = sizeof(*this) + tel.capacity() + words.capacity() + 4 * (tel_at.capacity() + words_at.capacity()) +
              2 * initial.capacity() + prefix.capacity() + flags.capacity();
    g_bytes += counted;
  }
};

// What decides whether keys still describe the file.
struct Stamp {
  int64_t size = -1;
  int64_t written = -1;
  uint32_t count = 0;
  int year = 0, month = 0, day = 0;
  uint64_t layout = 0;  // version, lengths, code page and fields of the header
  bool operator==(const Stamp& o) const {
    return size == o.size && written == o.written && count == o.count && year == o.year && month == o.month &&
           day == o.day && layout == o.layout;
  }
};

struct Keys {
  Stamp stamp;
  uint64_t rows = 0;          // records covered, from 0
  bool has_words = false;
  uint64_t last_record = 0;   // hash of the last record's bytes
  std::vector<std::shared_ptr<const KeyPart>> parts;
  mutable std::atomic<bool> stale{false};  // a search found a row they got wrong

  Keys() = default;
  Keys(const Keys& o)
      : stamp(o.stamp), rows(o.rows), has_words(o.has_words), last_record(o.last_record), parts(o.parts) {}
  uint64_t Bytes() const {
    uint64_t b = 0;
    for (const auto& p : parts) b += p->counted;
    return b;
  }
};

struct TableEntry {
  SpinLock mu;  // held while checking and building this table's keys
  std::shared_ptr<const Keys> keys;
};

struct Cache {
  SpinLock mu;  // the maps only, never held while reading a file
  std::map<std::pair<const FileSystem*, Text>, std::shared_ptr<TableEntry>> tables;
  std::map<std::tuple<const FileSystem*, Text, Text>, Text> paths;
};

Cache& TheCache() {
  static Cache* cache = new Cache;  // lives until the process ends, whatever order statics go in
  return *cache;
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

Stamp StampOf(const dbf::OpenedTable& t, int64_t written) {
  Stamp s;
  s.size = static_cast<int64_t>(t.file_size);
  s.written = written;
  s.count = t.header.record_count;
  s.year = t.header.update_year;
  s.month = t.header.update_month;
  s.day = t.header.update_day;
  s.layout = LayoutOf(t.header);
  return s;
}

struct Columns {
  const dbf::FieldDesc* tel = nullptr;
  const dbf::FieldDesc* contact = nullptr;
  const dbf::FieldDesc* name = nullptr;
};

// The three columns by name, as the scan finds them; all must hold text.
bool FindColumns(const dbf::Header& h, const dbf::TableText& text, const KeyRequest& r, Columns* out) {
  for (const dbf::FieldDesc& f : h.fields) {
    if (f.hidden) continue;
    Text name;
    text.Decode(reinterpret_cast<const uint8_t*>(f.name.data()), f.name.size(), &name);
    if (!out->tel && dbf::SameName(name, r.tel_column)) out->tel = &f;
    if (!out->contact && dbf::SameName(name, r.contact_column)) out->contact = &f;
    if (!out->name && dbf::SameName(name, r.name_column)) out->name = &f;
  }
  return out->tel && out->contact && out->name && dbf::IsText(out->tel->type) && dbf::IsText(out->contact->type) &&
         dbf::IsText(out->name->type);
}

// Builds the keys of records one after another, straight from their bytes;
// a value that is not plain ASCII goes the scan's own way through the code
// page and the regional upper case.
class PartBuilder {
 public:
  PartBuilder(const dbf::Header& h, const dbf::TableText& text, const Columns& c, bool words, bool plain_upper,
              uint64_t first)
      : h_(h), text_(text), c_(c), plain_upper_(plain_upper) {
    part_ = std::make_shared<KeyPart>();
    part_->first = first;
    part_->has_words = words;
    ascii_same_ = AsciiDecodesToItself(text);
    for (int c = 0; c < 256; ++c) dialling_[c] = (c >= '0' && c <= '9') || c == '*' || c == '#';
  }

  void Reserve(uint64_t rows) {
    size_t n = static_cast<size_t>(rows);
    part_->tel.reserve(n * 14);
    part_->initial.reserve(n);
    part_->prefix.reserve(2 * n);
    part_->flags.reserve(n);
    if (part_->has_words) part_->words.reserve(n * 20);
  }

  void Add(const uint8_t* rec) {
    KeyPart& p = *part_;
    if (p.rows % kBlockRows == 0) {
      p.tel_at.push_back(static_cast<uint32_t>(p.tel.size()));
      if (p.has_words) p.words_at.push_back(static_cast<uint32_t>(p.words.size()));
    }
    ++p.rows;
    if (rec[0] == '*') {
      p.tel += kTelEnd;
      if (p.has_words) p.words += kWordsEnd;
      p.initial.push_back(0);
      p.prefix.push_back(' ');
      p.prefix.push_back(' ');
      p.flags.push_back(kDeleted | kNameNull | kNoInitial);
      return;
    }
    uint8_t flags = 0;

    // Telephone: the dialling characters lie below 0x40 in every code
    // page, where no byte of a multi-byte character does.
    const size_t tel_n = dbf::IsNull(h_, *c_.tel, rec) ? 0 : dbf::TextLength(h_, *c_.tel, rec);
    const size_t tel_at = p.tel.size();
    p.tel.resize(tel_at + tel_n + 1);
    char* o = &p.tel[tel_at];
    const uint8_t* t = rec + c_.tel->offset;
    for (size_t i = 0; i < tel_n; ++i) {
      *o = static_cast<char>(t[i]);
      o += dialling_[t[i]];
    }
    *o++ = kTelEnd;
    p.tel.resize(static_cast<size_t>(o - p.tel.data()));

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
    p.prefix.push_back(name_n > 0 ? name[0] : ' ');
    p.prefix.push_back(name_n > 1 ? name[1] : ' ');
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
      p.initial.push_back(0);
    } else if (name[lead] < 0x80 && ascii_same_ && plain_upper_) {
      uint8_t b = name[lead];
      if (b >= 'a' && b <= 'z') b -= 32;
      p.initial.push_back(b);
    } else {
      size_t end = name_n;
      while (end > lead && name[end - 1] == ' ') --end;
      text_.Decode(name + lead, end - lead, &value_);
      RowInitial(value_, plain_upper_, initial_);
      if (initial_.empty()) {
        flags |= kNoInitial;
        p.initial.push_back(0);
      } else {
        p.initial.push_back(initial_[0]);
      }
    }
    p.flags.push_back(flags);

    if (p.has_words) {
      AppendWords(*c_.contact, rec);
      p.words += ',';
      AppendWords(*c_.name, rec);
      p.words += kWordsEnd;
    }
  }

  std::shared_ptr<KeyPart> Finish() {
    part_->Seal();
    return std::move(part_);
  }

 private:
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

  void AppendWords(const dbf::FieldDesc& f, const uint8_t* rec) {
    if (dbf::IsNull(h_, f, rec)) return;
    const uint8_t* v = rec + f.offset;
    size_t n = dbf::TextLength(h_, f, rec);
    while (n > 0 && v[n - 1] == ' ') --n;
    while (n > 0 && *v == ' ') ++v, --n;
    bool ascii = ascii_same_ && plain_upper_;
    for (size_t i = 0; ascii && i < n; ++i) ascii = v[i] < 0x80;
    if (ascii) {
      AsciiWords(v, n, part_->words);
      return;
    }
    text_.Decode(v, n, &value_);
    words_.clear();
    AppendRowWords(value_, plain_upper_, words_);
    for (char16_t c : words_) part_->words += static_cast<char>(c);  // A-Z, 0-9 and "," only
  }

  const dbf::Header& h_;
  const dbf::TableText& text_;
  Columns c_;
  bool plain_upper_;
  bool ascii_same_ = false;
  uint8_t dialling_[256];
  std::shared_ptr<KeyPart> part_;
  Text value_;
  Text initial_;
  Text words_;
};

// Reads records [from, to) in large blocks into the builder; the number of
// records read (fewer when the file ended early or failed) and the hash of
// the last one.
uint64_t ReadInto(DataFile& file, const dbf::Header& h, uint64_t from, uint64_t to, PartBuilder& b,
                  uint64_t* last_hash, const std::function<void()>& yield) {
  const size_t reclen = h.record_length;
  const size_t per_block = std::max<size_t>(1, dbf::DbfResultSet::kBlockBytes / reclen);
  std::vector<uint8_t> block(std::min<uint64_t>(per_block, std::max<uint64_t>(to - from, 1)) * reclen);
  uint64_t done = from;
  while (done < to) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(block.size() / reclen, to - done));
    size_t got = dbf::ReadFully(file, h.header_length + done * reclen, block.data(), want * reclen) / reclen;
    for (size_t i = 0; i < got; ++i) b.Add(block.data() + i * reclen);
    if (got > 0) *last_hash = Fnv(kFnvStart, block.data() + (got - 1) * reclen, reclen);
    done += got;
    if (got < want) break;
    if (yield) yield();
  }
  return done - from;
}

// Estimated bytes of keys for rows: what a row can hold at most, with its
// words when asked.
uint64_t Estimate(const Columns& c, uint64_t rows, bool words) {
  uint64_t per_row = 6 + std::min<uint32_t>(c.tel->length, 24);
  if (words) per_row += (c.contact->length + c.name->length) / 2 + 2;
  return rows * per_row;
}

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

// The row (within the part) whose segment holds position pos, and where
// the segment begins and ends (at its end mark).
struct Segment {
  uint32_t row;
  size_t begin;
  size_t end;
};
Segment SegmentAt(const std::string& buf, const std::vector<uint32_t>& at, char end_mark, size_t pos) {
  size_t block = static_cast<size_t>(std::upper_bound(at.begin(), at.end(), static_cast<uint32_t>(pos)) - at.begin()) - 1;
  Segment s{static_cast<uint32_t>(block * kBlockRows), at[block], 0};
  for (;;) {
    const void* hit = std::memchr(buf.data() + s.begin, end_mark, buf.size() - s.begin);
    s.end = static_cast<size_t>(static_cast<const char*>(hit) - buf.data());
    if (s.end >= pos) return s;
    s.begin = s.end + 1;
    ++s.row;
  }
}

constexpr uint64_t kNone = UINT64_MAX;

// How the request's three tests read on the keys.
struct Plan {
  enum class Mode { None, All, Find };
  Mode tel = Mode::None;
  std::string tel_needle;
  Mode text = Mode::None;            // without a filter: on the words
  std::vector<std::string> words;    // the non-empty words, longest first
  bool filtered = false;             // a letter request: name >= begin
  std::string filter;                // begin in the table's bytes, without trailing blanks
  bool text_on_initial = false;      // with a filter the words are the initial:
  bool text_initial_comma = false;   //   true where the initial is ","
  bool begin_empty = false;          // begin "" matches an empty name
  bool begin_char = false;
  char16_t begin = 0;
  bool needs_words() const { return text == Mode::Find; }
};

// False when the keys cannot answer the request (the caller scans).
bool MakePlan(const KeyRequest& r, const dbf::TableText& text, Plan* p) {
  if (r.tel.empty()) {
    p->tel = Plan::Mode::All;
  } else if (r.tel.find(u',') != Text::npos) {
    return false;
  } else {
    p->tel = Plan::Mode::Find;
    for (char16_t c : r.tel) {
      if (!((c >= u'0' && c <= u'9') || c == u'*' || c == u'#')) {
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
    p->filter = text.Encode(r.begin);
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

// The rows of the keys that one test accepts, in order.
class Hits {
 public:
  Hits(const Keys& k, const Plan& plan, bool tel) : k_(k), plan_(plan), tel_(tel) {
    mode_ = tel ? plan.tel : plan.text;
  }

  // The next accepted record number at or after the last one returned.
  uint64_t Next() {
    while (part_ < k_.parts.size()) {
      const KeyPart& p = *k_.parts[part_];
      uint64_t r = mode_ == Plan::Mode::All ? NextLive(p) : mode_ == Plan::Mode::Find ? NextFound(p) : kNone;
      if (r != kNone) return r;
      ++part_;
      pos_ = 0;
      row_ = 0;
    }
    return kNone;
  }

 private:
  uint64_t NextLive(const KeyPart& p) {
    while (row_ < p.rows) {
      uint32_t r = row_++;
      if (!(p.flags[r] & kDeleted)) return p.first + r;
    }
    return kNone;
  }

  static bool WordStart(const std::string& buf, size_t at) {
    return at == 0 || buf[at - 1] == ',' || buf[at - 1] == kWordsEnd;
  }

  // Whether word w begins a word of the segment [b, e).
  static bool HasWord(const std::string& buf, size_t b, size_t e, const std::string& w) {
    for (size_t at = b;;) {
      at = FindBytes(buf, at, e, w);
      if (at == std::string::npos) return false;
      if (at == b || buf[at - 1] == ',') return true;
      ++at;
    }
  }

  uint64_t NextFound(const KeyPart& p) {
    const std::string& buf = tel_ ? p.tel : p.words;
    const std::vector<uint32_t>& at = tel_ ? p.tel_at : p.words_at;
    const std::string& needle = tel_ ? plan_.tel_needle : plan_.words[0];
    const char end_mark = tel_ ? kTelEnd : kWordsEnd;
    for (;;) {
      size_t hit = FindBytes(buf, pos_, buf.size(), needle);
      if (hit == std::string::npos) return kNone;
      if (!tel_ && !WordStart(buf, hit)) {
        pos_ = hit + 1;
        continue;
      }
      Segment s = SegmentAt(buf, at, end_mark, hit);
      pos_ = s.end + 1;
      bool ok = true;
      for (size_t i = 1; ok && !tel_ && i < plan_.words.size(); ++i) ok = HasWord(buf, s.begin, s.end, plan_.words[i]);
      if (ok && !(p.flags[s.row] & kDeleted)) return p.first + s.row;
    }
  }

  const Keys& k_;
  const Plan& plan_;
  bool tel_;
  Plan::Mode mode_;
  size_t part_ = 0;
  size_t pos_ = 0;
  uint32_t row_ = 0;
};

// The ">=" filter on the stored name, as the engine compares it: bytes in
// order, the shorter side padded with blanks; a null name passes nothing.
bool PassesFilter(const KeyPart& p, uint32_t i, const std::string& v) {
  const uint8_t f = p.flags[i];
  if (f & kNameNull) return false;
  for (size_t k = 0; k < 2; ++k) {
    uint8_t a = p.prefix[2 * i + k];
    uint8_t b = k < v.size() ? static_cast<uint8_t>(v[k]) : ' ';
    if (a != b) return a > b;
  }
  return !(f & kTailBelowBlank);
}

bool BeginMatches(const KeyPart& p, uint32_t i, const Plan& plan) {
  const bool none = p.flags[i] & kNoInitial;
  if (plan.begin_empty && none) return true;
  if (plan.begin_char && !none && p.initial[i] == plan.begin) return true;
  if (plan.text_on_initial) return true;
  if (plan.text_initial_comma && !none && p.initial[i] == u',') return true;
  return false;
}

// The record numbers of the first max_rows rows that match, in order.
std::vector<uint64_t> Matches(const Keys& k, const Plan& plan, size_t max_rows) {
  std::vector<uint64_t> out;
  if (plan.filtered) {
    // Row by row, since a letter listing usually ends after a few hundred
    // rows; the telephones are searched a window of rows at a time.
    std::vector<uint32_t> tel_rows;
    for (const auto& part : k.parts) {
      const KeyPart& p = *part;
      for (uint32_t ws = 0; ws < p.rows && out.size() < max_rows; ws += kWindowRows) {
        const uint32_t we = std::min<uint32_t>(ws + kWindowRows, p.rows);
        tel_rows.clear();
        if (plan.tel == Plan::Mode::Find) {
          size_t from = p.tel_at[ws / kBlockRows];
          const size_t to = we < p.rows ? p.tel_at[we / kBlockRows] : p.tel.size();
          for (size_t hit; (hit = FindBytes(p.tel, from, to, plan.tel_needle)) != std::string::npos;) {
            Segment seg = SegmentAt(p.tel, p.tel_at, kTelEnd, hit);
            tel_rows.push_back(seg.row);
            from = seg.end + 1;
          }
        }
        size_t next = 0;
        for (uint32_t i = ws; i < we && out.size() < max_rows; ++i) {
          if (p.flags[i] & kDeleted) continue;
          while (next < tel_rows.size() && tel_rows[next] < i) ++next;
          const bool tel_hit = plan.tel == Plan::Mode::All || (next < tel_rows.size() && tel_rows[next] == i);
          if ((tel_hit || BeginMatches(p, i, plan)) && PassesFilter(p, i, plan.filter)) out.push_back(p.first + i);
        }
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
  KeyedDbfRows(dbf::OpenedTable t, const Text& table, const KeyRequest& r, std::vector<uint64_t> records,
               std::shared_ptr<const Keys> keys)
      : keys_(std::move(keys)), expected_(records.size()) {
    changed_ = std::make_shared<bool>(false);
    dbf::Query q;
    if (r.has_begin) {
      q.op = dbf::Query::Op::AtLeast;
      q.column = r.name_column;
      q.value = r.begin;
    }
    dbf::OpenedTable view;
    view.header = t.header;
    view.header.record_count = static_cast<uint32_t>(records.size());
    view.file_size = t.header.header_length + records.size() * uint64_t{t.header.record_length};
    view.file = std::make_unique<PickedRecords>(std::move(t.file), t.header, std::move(records), changed_);
    rs_ = std::make_unique<dbf::DbfResultSet>(std::move(view), table, q);
    if (!rs_->Eof()) ++delivered_;
  }

  bool StillExecuting() override { return false; }
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
// Keeping the keys fresh

constexpr size_t kMaxParts = 16;  // appended parts before they are joined

// One part of the rows of parts, in order.
std::shared_ptr<const KeyPart> Join(const std::vector<std::shared_ptr<const KeyPart>>& parts) {
  auto j = std::make_shared<KeyPart>();
  j->first = parts.front()->first;
  j->has_words = parts.front()->has_words;
  for (const auto& p : parts) {
    j->tel += p->tel;
    j->words += p->words;
    j->initial.insert(j->initial.end(), p->initial.begin(), p->initial.end());
    j->prefix.insert(j->prefix.end(), p->prefix.begin(), p->prefix.end());
    j->flags.insert(j->flags.end(), p->flags.begin(), p->flags.end());
    j->rows += p->rows;
  }
  size_t tel_at = 0;
  size_t words_at = 0;
  for (uint32_t r = 0; r < j->rows; ++r) {
    if (r % kBlockRows == 0) {
      j->tel_at.push_back(static_cast<uint32_t>(tel_at));
      if (j->has_words) j->words_at.push_back(static_cast<uint32_t>(words_at));
    }
    tel_at = j->tel.find(kTelEnd, tel_at) + 1;
    if (j->has_words) words_at = j->words.find(kWordsEnd, words_at) + 1;
  }
  j->Seal();
  return j;
}

std::shared_ptr<TableEntry> EntryFor(const FileSystem& fs, const Text& path) {
  Cache& c = TheCache();
  Locked lock(c.mu);
  auto& e = c.tables[{&fs, path}];
  if (!e) e = std::make_shared<TableEntry>();
  return e;
}

// The keys as they stand for the opened file, built or extended as needed;
// none when they may not be built (a letter request, over the budget) or
// another thread is at them.
std::shared_ptr<const Keys> KeysFor(TableEntry& e, dbf::OpenedTable& t, const dbf::TableText& text,
                                    const Columns& cols, const Stamp& stamp, bool want_words, bool may_build,
                                    const std::function<void()>& yield) {
  if (!e.mu.try_lock()) return nullptr;
  Locked lock(e.mu, true);
  std::shared_ptr<const Keys> old = e.keys;
  if (old && old->stale) old.reset();
  const uint64_t rows = dbf::RecordsInFile(t.header, t.file_size);
  if (old && old->stamp == stamp && (old->has_words || !want_words)) return old;

  // Rows only appended: the layout is the same and the old last row still
  // stands where it stood.
  if (old && (old->has_words || !want_words) && old->stamp.layout == stamp.layout && rows > old->rows) {
    bool same_end = old->rows == 0;
    if (!same_end) {
      std::vector<uint8_t> rec(t.header.record_length);
      size_t got = dbf::ReadFully(*t.file, t.header.header_length + (old->rows - 1) * rec.size(), rec.data(), rec.size());
      same_end = got == rec.size() && Fnv(kFnvStart, rec.data(), rec.size()) == old->last_record;
    }
    if (same_end) {
      PartBuilder b(t.header, text, cols, old->has_words, PlainAsciiUpper(), old->rows);
      auto keys = std::make_shared<Keys>(*old);
      uint64_t got = ReadInto(*t.file, t.header, old->rows, rows, b, &keys->last_record, yield);
      keys->parts.push_back(b.Finish());
      keys->rows += got;
      keys->stamp = stamp;
      g_appends += got;
      if (keys->parts.size() > kMaxParts) {
        std::vector<std::shared_ptr<const KeyPart>> tail(keys->parts.begin() + 1, keys->parts.end());
        keys->parts.resize(1);
        keys->parts.push_back(Join(tail));
      }
      if (got == rows - old->rows) e.keys = keys;  // a short read is answered, not kept
      return keys;
    }
  }

  if (!may_build) return nullptr;
  const bool words = want_words || (old && old->has_words);
  e.keys.reset();
  old.reset();
  if (g_bytes + Estimate(cols, rows, words) > g_budget) return nullptr;
  auto keys = std::make_shared<Keys>();
  keys->stamp = stamp;
  keys->has_words = words;
  PartBuilder b(t.header, text, cols, words, PlainAsciiUpper(), 0);
  b.Reserve(rows);
  keys->rows = ReadInto(*t.file, t.header, 0, rows, b, &keys->last_record, yield);
  keys->parts.push_back(b.Finish());
  ++g_builds;
  if (keys->rows == rows) e.keys = keys;
  return keys;
}

Text PathFor(FileSystem& fs, const Text& folder, const Text& table, const std::function<Text()>& find_path,
             bool fresh) {
  Cache& c = TheCache();
  auto key = std::make_tuple(static_cast<const FileSystem*>(&fs), folder, table);
  if (!fresh) {
    Locked lock(c.mu);
    auto it = c.paths.find(key);
    if (it != c.paths.end()) return it->second;
  }
  Text path = find_path();
  Locked lock(c.mu);
  c.paths[key] = path;
  return path;
}

}  // namespace

void SetSearchKeyBudget(uint64_t bytes) { g_budget = bytes; }
uint64_t SearchKeyBudget() { return g_budget; }

SearchKeyStats SearchKeyState() {
  SearchKeyStats s;
  s.bytes = g_bytes;
  s.builds = g_builds;
  s.appends = g_appends;
  s.scans = g_scans;
  std::vector<std::shared_ptr<TableEntry>> entries;
  {
    Cache& c = TheCache();
    Locked lock(c.mu);
    for (const auto& entry : c.tables) entries.push_back(entry.second);
  }
  for (const auto& e : entries) {
    if (!e->mu.try_lock()) continue;  // being built: not counted
    Locked table_lock(e->mu, true);
    if (!e->keys) continue;
    ++s.tables;
    s.rows += e->keys->rows;
  }
  return s;
}

void ClearSearchKeys() {
  Cache& c = TheCache();
  std::map<std::pair<const FileSystem*, Text>, std::shared_ptr<TableEntry>> gone;
  {
    Locked lock(c.mu);
    gone.swap(c.tables);
    c.paths.clear();
  }
  gone.clear();
}

std::shared_ptr<KeyedRows> OpenKeyedRows(FileSystem& fs, const Text& folder, const Text& table,
                                         const KeyRequest& request, const std::function<Text()>& find_path) {
  try {
    if (g_budget == 0) {
      ++g_scans;
      return nullptr;
    }
    // The folder is listed once; the file's path is kept while it opens.
    Text path = PathFor(fs, folder, table, find_path, false);
    dbf::OpenedTable t;
    try {
      t = dbf::OpenTable(fs, path, table);
    } catch (...) {
      path = PathFor(fs, folder, table, find_path, true);
      t = dbf::OpenTable(fs, path, table);
    }
    const int64_t written = t.file->LastWriteTime();
    dbf::TableText text(t.header.codepage);
    Columns cols;
    Plan plan;
    if (written < 0 || !FindColumns(t.header, text, request, &cols) || !MakePlan(request, text, &plan)) {
      ++g_scans;
      return nullptr;
    }
    auto entry = EntryFor(fs, path);
    auto keys = KeysFor(*entry, t, text, cols, StampOf(t, written), plan.needs_words(), !request.has_begin,
                        request.yield);
    if (!keys) {
      ++g_scans;
      return nullptr;
    }
    std::vector<uint64_t> rows = Matches(*keys, plan, std::max<size_t>(request.max_rows, 1));
    return std::make_shared<KeyedDbfRows>(std::move(t), table, request, std::move(rows), std::move(keys));
  } catch (...) {
    ++g_scans;
    return nullptr;
  }
}

}  // namespace ledra
