#include "base/text_matching.h"

#include "base/errors.h"
#include "base/platform.h"

namespace ledra {

namespace {

// Exact membership tests; no case folding and no other alphabets, so an
// accented letter is never a word character.
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsNumberPunctuation(char16_t c) { return c == u'.' || c == u'(' || c == u')' || c == u'+'; }
bool IsWordChar(char16_t c) { return (c >= u'A' && c <= u'Z') || IsDigit(c); }

// The first non-blank character among the up to ten characters after
// position i, or 'x' when they are all blanks or there are none.
char16_t NextNonBlank(const Text& s, size_t i) {
  size_t end = s.size() - i - 1 < 10 ? s.size() : i + 11;
  for (size_t k = i + 1; k < end; ++k) {
    if (s[k] != u' ') return s[k];
  }
  return u'x';
}

// Position of the first "," + word in target, or npos. The word is a range of
// another text, so nothing is built per call.
size_t FindCommaWord(const Text& target, const Text& words, size_t from, size_t len) {
  if (target.size() < len + 1) return Text::npos;
  for (size_t p = 0; p + len < target.size(); ++p) {
    if (target[p] == u',' && target.compare(p + 1, len, words, from, len) == 0) return p;
  }
  return Text::npos;
}

}  // namespace

Text DigitsOnly(const Text& source, bool keep_format) {
  Procedure proc(u"  @  basGlobal.DigitsOnly");
  Text r;
  proc.Step([&] {
    r.reserve(source.size());
    for (size_t i = 0; i < source.size(); ++i) {
      char16_t c = source[i];
      if (IsDialling(c)) r += c;
      // Punctuation only means something when a digit comes next.
      if (keep_format && IsNumberPunctuation(c) && IsDigit(NextNonBlank(source, i))) r += c;
      if (keep_format && c == u' ' && !r.empty() && r.back() != u' ') r += c;
    }
  });
  return r;
}

Text LastDigits(const Text& dialling, int n) {
  if (n <= 0) return dialling;
  Text digits;
  for (char16_t c : dialling) {
    if (IsDigit(c)) digits += c;
  }
  if (digits.size() <= static_cast<size_t>(n)) return dialling;
  return digits.substr(digits.size() - n);
}

Text WordsOnly(const Text& source) {
  Procedure proc(u" @ basGlobal.WordsOnly");
  Text r;
  proc.Step([&] {
    Text upper = UCase(source);
    r.reserve(upper.size() + 1);
    bool previous_word = true;  // so a word at the very start gets no comma
    for (char16_t c : upper) {
      if (IsWordChar(c)) {
        if (!previous_word) r += u',';
        r += c;
        previous_word = true;
      } else {
        previous_word = false;
      }
    }
  });
  return r;
}

bool WordsMatch(const Text& target, const Text& words) {
  Procedure proc(u"  @  Plugin.WordsMatch");
  bool result = true;
  proc.Step([&] {
    size_t start = 0;
    while (start < words.size()) {
      size_t comma = words.find(u',', start);
      size_t len = (comma == Text::npos ? words.size() : comma) - start;
      if (FindCommaWord(target, words, start, len) == Text::npos) {
        result = false;
        return;
      }
      start += len + 1;
    }
  });
  return result;
}

Text RidStr(const Text& source, const Text& sub) {
  Procedure proc(u" @ basGlobal.RidStr");
  Text r = source;
  proc.Step([&] {
    // An empty sub would be found forever; callers never pass one.
    if (sub.empty()) return;
    size_t from = 0;
    for (size_t p = r.find(sub); p != Text::npos; p = r.find(sub, from)) {
      r.erase(p, sub.size());
      // Cutting can join a new occurrence, but only across the cut.
      from = p >= sub.size() - 1 ? p - (sub.size() - 1) : 0;
    }
  });
  return r;
}

Text ZTrim(const Text& source) {
  Procedure proc(u" @ basGlobal.ZTrim");
  Text r;
  proc.Step([&] {
    size_t n = 0;
    while (n < source.size() && source[n] >= 32) ++n;
    r = source.substr(0, n);
  });
  return r;
}

int16_t ListSearch(const ListControl& list, const Var& value) {
  Procedure proc(u" @ basGlobal.ListSearch");
  int16_t result = -1;
  // A number (a saved setting reads as a double) goes by the item data,
  // anything else by text.
  bool by_number = value.kind() == VarKind::Double;
  double number = 0;
  Text wanted;
  bool have_value = proc.Step([&] {
    if (by_number) number = Val(CStr(value));
    else wanted = UCase(CStr(value));
  });
  if (!have_value) return result;
  int count = 0;
  proc.Step([&] { count = list.ListCount(); });
  for (int i = 0; i < count && i <= 32767; ++i) {
    bool hit = false;
    proc.Step([&] { hit = by_number ? list.ItemData(i) == number : UCase(list.List(i)) == wanted; });
    if (hit) {
      result = static_cast<int16_t>(i);
      break;
    }
  }
  return result;
}

}  // namespace ledra
