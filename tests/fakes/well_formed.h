// Whether an answer is a well-formed Vars record: a run of whole entries,
// typed ones "{name(Ln)=value}" whose value has exactly n characters (L one
// of N, D, S) and plain ones "{name=value}". The contact records nested under
// "Fields" and "List1", "List2"... are checked the same way.
#pragma once

#include <string>

#include "base/text.h"

namespace ledra::testing {

inline bool NestsARecord(const Text& name) {
  if (name == u"Fields") return true;
  if (name.size() < 5 || name.compare(0, 4, u"List") != 0) return false;
  for (size_t i = 4; i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
  }
  return true;
}

// Empty when well formed, else what is wrong and where. *entries counts
// the entries of the outer record.
inline std::string RecordFault(const Text& r, size_t* entries = nullptr) {
  size_t i = 0;
  if (entries) *entries = 0;
  auto at = [&](const char* what) { return std::string(what) + " at " + std::to_string(i) + " of " + ToUtf8(r); };
  while (i < r.size()) {
    if (r[i] != u'{') return at("no entry");
    size_t name_end = r.find_first_of(u"(=", i + 1);
    if (name_end == Text::npos) return at("no end of the name");
    const Text name = r.substr(i + 1, name_end - i - 1);
    if (name.empty() || name.find_first_of(u"{}") != Text::npos) return at("a bad name");
    if (entries) ++*entries;
    if (r[name_end] == u'=') {
      size_t close = r.find(u'}', name_end);
      if (close == Text::npos) return at("an unclosed plain entry");
      i = close + 1;
      continue;
    }
    size_t p = name_end + 1;
    if (p >= r.size() || (r[p] != u'N' && r[p] != u'D' && r[p] != u'S')) return at("no type letter");
    size_t length = 0, digits = 0;
    for (++p; p < r.size() && r[p] >= u'0' && r[p] <= u'9' && digits < 10; ++p, ++digits) {
      length = length * 10 + (r[p] - u'0');
    }
    if (digits == 0 || r.compare(p, 2, u")=") != 0) return at("no length");
    p += 2;
    if (p + length >= r.size() || r[p + length] != u'}') return at("a value of another length");
    if (NestsARecord(name)) {
      std::string inner = RecordFault(r.substr(p, length));
      if (!inner.empty()) return inner;
    }
    i = p + length + 1;
  }
  return "";
}

}  // namespace ledra::testing
