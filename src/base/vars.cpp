#include "base/vars.h"

#include <cstring>
#include <algorithm>
#include <string>

#include "base/errors.h"

// Positions below are 1-based, the way the record layout is counted; the
// helpers translate them to std::u16string indices.

namespace ledra {

namespace {

constexpr size_t kNone = Text::npos;

// Mid$(s, start, length): start is 1-based; a negative length is the
// runtime's "Invalid procedure call"; past the end gives what exists.
Text Mid(const Text& s, size_t start, long length) {
  if (length < 0) Raise(Err::InvalidCall);
  if (start > s.size()) return Text();
  return s.substr(start - 1, static_cast<size_t>(length));
}

// Mid$(s, start) without a length: the rest of the text.
Text Tail(const Text& s, size_t start) {
  return start > s.size() ? Text() : s.substr(start - 1);
}

// InStr(start, s, what): 1-based position, 0 when absent.
size_t InStr(size_t start, const Text& s, char16_t what) {
  size_t i = s.find(what, start - 1);
  return i == kNone ? 0 : i + 1;
}

struct Entry {
  enum Form { kAbsent, kTyped, kPlain } form = kAbsent;
  size_t p = 0;  // position of the entry's "{"
};

// One character upper-cased as the regional settings do it; ASCII without
// asking the locale, since every record is mostly ASCII.
char16_t UpperChar(char16_t c, const Locale& locale) {
  if (c < 128) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  const Text u = locale.Upper(Text(1, c));
  return u.size() == 1 ? u[0] : c;
}

// The first "{" at or after i, else size. A list answer grows by a key a
// row and each key scans it whole, so four characters are tested at once:
// a lane of v that is zero after the XOR held a "{".
size_t NextBrace(const char16_t* d, size_t i, size_t size) {
  constexpr uint64_t kOnes = 0x0001000100010001ull, kHigh = 0x8000800080008000ull;
  constexpr uint64_t kBraces = 0x007B007B007B007Bull;
  for (; i + 4 <= size; i += 4) {
    uint64_t v;
    std::memcpy(&v, d + i, sizeof v);
    v ^= kBraces;
    if ((v - kOnes) & ~v & kHigh) break;
  }
  while (i < size && d[i] != u'{') ++i;
  return i;
}

// The first "{NAME(" anywhere in the record, else the first "{NAME=", names
// compared without regard to case. The search is plain text, so it reaches
// into nested records too. One pass over the "{" of the record: every answer
// is built with AddVar, so this runs for each key of each answer.
Entry FindEntry(const Text& vars, const Text& name) {
  if (vars.empty()) return {};
  const Locale& locale = *Sys().locale;
  const Text upper = locale.Upper(name);
  const size_t n = upper.size();
  const char16_t* const d = vars.data();
  const size_t size = vars.size();
  Entry plain;
  for (size_t i = NextBrace(d, 0, size); i + n + 1 < size; i = NextBrace(d, i + 1, size)) {
    size_t k = 0;
    while (k < n && UpperChar(d[i + 1 + k], locale) == upper[k]) ++k;
    if (k < n) continue;
    const char16_t next = vars[i + 1 + n];
    if (next == u'(') return {Entry::kTyped, i + 1};
    if (next == u'=' && plain.form == Entry::kAbsent) plain = {Entry::kPlain, i + 1};
  }
  return plain;
}

// The ten characters after "(" of a typed entry: they hold the type letter,
// the length and the "=".
Text TypedHead(const Text& vars, const Entry& e, size_t name_length) {
  return Mid(vars, e.p + name_length + 2, 10);
}

char16_t LetterOf(const Var& v) {
  switch (v.kind()) {
    case VarKind::Byte: case VarKind::Integer: case VarKind::Long:
    case VarKind::Single: case VarKind::Double: case VarKind::Currency:
      return u'N';
    case VarKind::Date:
      return u'D';
    default:
      return u'S';
  }
}

// Cuts the first entry named name out of vars. A stretch that would run past
// the end of the record (length too long, no ")" or no "}") is cut up to the
// end. A typed entry without a type letter ({Key(3)=abc}) is measured the
// way GetVar reads it, so the whole entry goes and nothing of its value is
// left behind. A negative length fails as reading it would, and the record
// stays as it was.
void RemoveEntry(Text& vars, const Text& name) {
  const Entry e = FindEntry(vars, name);
  if (e.form == Entry::kAbsent) return;
  const size_t p = e.p;
  const size_t n = name.size();
  size_t last;  // position of the last character cut
  if (e.form == Entry::kTyped) {
    const double lead = Val(TypedHead(vars, e, n));
    const long length = RoundToLong(lead != 0 ? lead : Val(Tail(vars, p + n + 3)));
    if (length < 0) Raise(Err::InvalidCall);
    const size_t q = InStr(p + n + 3, vars, u')');
    last = q ? q + static_cast<size_t>(length) + 2 : vars.size();
  } else {
    const size_t close = InStr(p + n + 2, vars, u'}');
    last = close ? close : vars.size();
  }
  last = std::min(last, vars.size());
  vars.erase(p - 1, last - p + 1);
}

Var Read(const Text& vars, const Text& key, const Var* def) {
  Procedure proc(u" @ basGlobal.GetVar");
  Var result;
  Entry e{};
  proc.Step([&] { e = FindEntry(vars, key); });
  if (e.form == Entry::kAbsent) {
    if (def) result = *def;
    return result;
  }
  const size_t n = key.size();
  const size_t p = e.p;  // position of the entry's "{"

  if (e.form == Entry::kPlain) {
    proc.Step([&] {
      const size_t from = p + n + 2;
      const size_t close = InStr(from, vars, u'}');
      result = Var(close ? Mid(vars, from, static_cast<long>(close - from)) : Tail(vars, from));
    });
    return result;
  }

  Text head;
  proc.Step([&] { head = TypedHead(vars, e, n); });
  // A number straight after "(" means there is no type letter. When the test
  // itself fails the "no letter" branch runs, as the runtime resumes into
  // the body of a failed condition.
  bool no_letter = true;
  proc.Step([&] { no_letter = Val(head) != 0; });
  char16_t letter = 0;
  long length = 0;
  if (no_letter) {
    letter = u'S';
    proc.Step([&] { length = RoundToLong(Val(head)); });
  } else {
    letter = head.empty() ? 0 : head[0];
    proc.Step([&] { length = RoundToLong(Val(Tail(head, 2))); });
  }
  const size_t eq = head.find(u'=');
  const size_t at = eq == kNone ? head.size() + 1 : eq + 1;

  Text value;
  proc.Step([&] { value = Mid(vars, p + n + at + 2, length); });
  proc.Step([&] {
    if (letter == u'N') {
      result = Var::Double(Val(value));
    } else if (letter == u'D') {
      auto d = Sys().locale->ParseDate(value);
      if (!d) Raise(Err::TypeMismatch);
      result = Var::Date(*d);
    } else {
      result = Var(value);
    }
  });
  return result;
}

}  // namespace

Var GetVar(const Text& vars, const Text& key) { return Read(vars, key, nullptr); }

Var GetVar(const Text& vars, const Text& key, const Var& def) { return Read(vars, key, &def); }

namespace {

// {key(<letter><length>)=text}, written straight onto the end of vars: one
// resize and plain copies, since every answer is built this way.
void AppendEntry(Text& vars, const Text& key, char16_t letter, const Text& text) {
  char16_t digits[24];
  char16_t* d = digits + 24;
  size_t length = text.size();
  do {
    *--d = static_cast<char16_t>(u'0' + length % 10);
    length /= 10;
  } while (length);
  const size_t n = static_cast<size_t>(digits + 24 - d);
  const size_t at = vars.size();
  const size_t need = at + key.size() + n + text.size() + 6;
  // Grown geometrically: answers are built by many appends in a row.
  if (vars.capacity() < need) vars.reserve(std::max(need, 2 * vars.capacity()));
  vars.resize(need);
  char16_t* o = &vars[at];
  auto put = [&o](const char16_t* from, size_t count) {
    std::copy(from, from + count, o);
    o += count;
  };
  *o++ = u'{';
  put(key.data(), key.size());
  *o++ = u'(';
  *o++ = letter;
  put(d, n);
  *o++ = u')';
  *o++ = u'=';
  put(text.data(), text.size());
  *o = u'}';
}

void Append(Procedure& proc, Text& vars, const Text& key, char16_t letter, const Text& text, bool force) {
  proc.Step([&] { RemoveEntry(vars, key); });
  if (text.empty() && !force) return;
  proc.Step([&] { AppendEntry(vars, key, letter, text); });
}

}  // namespace

void AddVar(Text& vars, const Text& key, const Var& value, bool force) {
  Procedure proc(u" @ basGlobal.AddVar");
  Text text;
  proc.Step([&] { text = TextForm(value); });
  Append(proc, vars, key, LetterOf(value), text, force);
}

void AddVar(Text& vars, const Text& key, const Text& value, bool force) {
  Procedure proc(u" @ basGlobal.AddVar");
  Append(proc, vars, key, u'S', value, force);
}

void AppendTyped(Text& vars, const Text& key, const Text& value) {
  Procedure proc(u" @ basGlobal.AddVar");
  proc.Step([&] { AppendEntry(vars, key, u'S', value); });
}

}  // namespace ledra
