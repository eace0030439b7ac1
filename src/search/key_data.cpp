// The indexes over a table's keys: for each bucket, the rows whose keys
// fall in it.
#include "search/key_data.h"

namespace ledra::keys {

namespace {

// Postings of every row's keys, each row once per bucket; their bytes are
// charged before they are taken.
template <typename EachKey>
bool Index(KeyData& d, const std::function<bool(uint64_t)>& charge, uint32_t buckets, EachKey each_key,
           Postings* p) {
  const uint32_t rows = d.rows;
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
  if (!charge(bytes)) return false;
  d.charged += bytes;
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

}  // namespace

bool IndexKeys(KeyData& d, const std::function<bool(uint64_t)>& charge) {
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
  return Index(d, charge, kRunBuckets + 2, runs, &d.runs) &&
         Index(d, charge, kWordBuckets, word_starts, &d.word_starts) &&
         Index(d, charge, kInitialBuckets, initials, &d.initials);
}

}  // namespace ledra::keys
