// The row keys: what the search tests on a row, in the bytes the cache
// keeps. The scan shares the word and initial builders, so both test the
// same keys; the Builder reads a table's records into its KeyData.
#include <algorithm>
#include <cstring>
#include <utility>

#include "base/text_matching.h"
#include "search/key_data.h"
#include "search/search_keys.h"

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

// WordsOnly over plain ASCII, upper-casing as it goes: one "," before every
// word that follows other characters.
template <typename Char, typename Out>
void AsciiWords(const Char* p, size_t n, Out& out) {
  bool previous_word = true;
  for (size_t i = 0; i < n; ++i) {
    unsigned c = static_cast<unsigned>(p[i]);
    if (c >= 'a' && c <= 'z') c -= 32;
    if (keys::IsWordChar(c)) {
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

namespace keys {

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

namespace {

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
    data_->span_rows = SpanRows(h);
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
    if (d.rows % d.span_rows != 0) {
      if (!Room(d.sums, 1)) return nullptr;
      d.sums.push_back(content_);
    }
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
    if (!IndexKeys(*data_, charge_)) return nullptr;
    return std::move(data_);
  }

 private:
  static constexpr size_t kChunkRows = 64;

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
           Room(d.initial, n) && Room(d.prefix, 2 * n) && Room(d.flags, n) && Room(d.sums, n / d.span_rows + 1);
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
    if (++d.rows % d.span_rows == 0) {
      d.sums.push_back(content_);
      content_ = kFnvStart;
    }
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

}  // namespace

std::shared_ptr<const KeyData> BuildKeys(const dbf::OpenedTable& t, const dbf::TableText& text, const Columns& c,
                                         uint64_t rows, const std::atomic<bool>& stop,
                                         std::function<bool(uint64_t)> charge) {
  Builder b(t.header, text, c, rows, std::move(charge));
  const size_t reclen = t.header.record_length;
  const uint64_t got = dbf::ReadRecords(*t.file, t.header, rows, &stop, [&](const uint8_t* block, size_t n) {
    return b.AddBlock(block, n, reclen);
  });
  if (got < rows) return nullptr;  // cut short, over the budget or stopped
  return b.Finish();
}

uint64_t SpanSum(const dbf::Header& h, const Columns& c, const uint8_t* block, size_t n) {
  const RecordHash hash(h, c);
  uint64_t sum = kFnvStart;
  for (size_t i = 0; i < n; ++i) sum = hash.Add(sum, block + i * h.record_length);
  return sum;
}

}  // namespace keys
}  // namespace ledra
