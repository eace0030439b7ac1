// Matching: how a request reads on a table's keys (Plan), the rows its
// indexes name or a walk over every row finds, and those rows read again
// from the file as a result set of the engine's.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <list>
#include <string>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/text_matching.h"
#include "search/key_data.h"

namespace ledra::keys {

namespace {

constexpr uint32_t kWindowRows = 1024;  // rows a letter listing takes at a time

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

// False when the keys cannot answer the request.
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
// Records close together are read in one request. The file the stamp was
// taken from serves the first read (the engine's first block: every row
// of an ordinary answer) and is closed after it; a later read opens the
// file again, as the scan does.
class PickedRecords : public DataFile {
 public:
  static constexpr uint64_t kGapBytes = 32 * 1024;

  PickedRecords(FileSystem& fs, const Text& path, dbf::OpenedTable t, std::vector<uint64_t> records,
                std::shared_ptr<bool> changed)
      : first_(std::move(t.file)),
        later_(fs, path, t.identity),
        header_length_(t.header.header_length),
        reclen_(t.header.record_length),
        records_(std::move(records)),
        changed_(std::move(changed)) {}

  int64_t ReadAt(uint64_t offset, void* buf, size_t n) override {
    std::unique_ptr<DataFile> first = std::move(first_);
    DataFile& file = first ? *first : later_;
    if (offset < header_length_ || (offset - header_length_) % reclen_ != 0) return -1;
    size_t k = static_cast<size_t>((offset - header_length_) / reclen_);
    size_t want = std::min(n / reclen_, records_.size() - std::min(k, records_.size()));
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < want) {
      // A run of records that lie close together.
      size_t end = k + done + 1;
      while (end < k + want && (records_[end] - records_[end - 1]) * reclen_ <= kGapBytes) ++end;
      const uint64_t from = records_[k + done];
      const size_t span = static_cast<size_t>((records_[end - 1] - from + 1) * reclen_);
      scratch_.resize(span);
      size_t got = dbf::ReadFully(file, header_length_ + from * reclen_, scratch_.data(), span);
      for (size_t i = k + done; i < end; ++i) {
        const size_t at = static_cast<size_t>((records_[i] - from) * reclen_);
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
  std::unique_ptr<DataFile> first_;
  dbf::ReopenedFile later_;
  uint64_t header_length_;
  size_t reclen_;
  std::vector<uint64_t> records_;
  std::shared_ptr<bool> changed_;
  std::vector<uint8_t> scratch_;
};

class KeyedDbfRows : public KeyedRows {
 public:
  KeyedDbfRows(FileSystem& fs, const Text& path, dbf::OpenedTable t, const dbf::Query& q,
               std::vector<uint64_t> records, std::function<void()> stale)
      : stale_(std::move(stale)), expected_(records.size()) {
    changed_ = std::make_shared<bool>(false);
    dbf::OpenedTable view;
    view.header = t.header;
    view.header.record_count = static_cast<uint32_t>(records.size());
    view.file_size = t.header.header_length + records.size() * uint64_t{t.header.record_length};
    // The result set reads its first block here, or with no rows closes
    // the file at once: either way the table is not held past this.
    view.file = std::make_unique<PickedRecords>(fs, path, std::move(t), std::move(records), changed_);
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

  void Stale() override { stale_(); }

 private:
  std::function<void()> stale_;
  std::shared_ptr<bool> changed_;
  std::unique_ptr<dbf::DbfResultSet> rs_;
  size_t expected_;
  size_t delivered_ = 0;
};

}  // namespace

bool FindMatches(const KeyRequest& request, const dbf::Query& q, const dbf::TableText& text, const KeyData& k,
                 size_t max_rows, std::vector<uint64_t>* records) {
  Plan plan;
  if (!MakePlan(request, q, text, &plan)) return false;
  *records = Matches(k, plan, max_rows);
  return true;
}

std::shared_ptr<KeyedRows> ReadKeyedRows(FileSystem& fs, const Text& path, dbf::OpenedTable t, const dbf::Query& q,
                                         std::vector<uint64_t> records, std::function<void()> stale) {
  return std::make_shared<KeyedDbfRows>(fs, path, std::move(t), q, std::move(records), std::move(stale));
}

}  // namespace ledra::keys
