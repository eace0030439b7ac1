// Vars records: GetVar and AddVar on any record, and a value written is the
// value read back unless an earlier entry of the same name hides it.
//
// Input: a name line, a value line, then the record (UTF-8).
#include <algorithm>

#include "base/errors.h"
#include "base/variant.h"
#include "base/vars.h"
#include "fuzz_support.h"

namespace ledra::fuzz {
namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Where "{name(" first stands in the record, ASCII letters folded; npos for
// nowhere. Exact for names of printable ASCII, which the locale folds alike.
size_t FirstTyped(const Text& vars, const Text& name) {
  const size_t n = name.size();
  for (size_t i = vars.find(u'{'); i != Text::npos && i + n + 1 < vars.size(); i = vars.find(u'{', i + 1)) {
    size_t k = 0;
    while (k < n && FoldAscii(vars[i + 1 + k]) == FoldAscii(name[k])) ++k;
    if (k == n && vars[i + 1 + n] == u'(') return i;
  }
  return Text::npos;
}

// Names whose entries the reader can tell apart from their value.
bool PlainName(const Text& name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char16_t c) {
    return c >= 0x20 && c < 0x7F && c != u'{' && c != u'}' && c != u'(' && c != u')' && c != u'=';
  });
}

}  // namespace
}  // namespace ledra::fuzz

LEDRA_FUZZ_TARGET {
  const Text input = TextOf(data, size);
  const size_t a = input.find(u'\n');
  const size_t b = a == Text::npos ? Text::npos : input.find(u'\n', a + 1);
  if (b == Text::npos) return;
  const Text name = input.substr(0, a);
  const Text value = input.substr(a + 1, b - a - 1);
  Text record = input.substr(b + 1);

  // Reading never fails past the wrapper, whatever the record holds.
  GetVar(record, name);
  GetVar(record, name, Var::Integer(50));
  GetVar(record, value);

  // A text value written is read back.
  Text written = record;
  AddVar(written, name, value);
  if (PlainName(name) && !value.empty()) {
    const Text entry = u"{" + name + u"(S" + FromAscii(std::to_string(value.size())) + u")=" + value + u"}";
    if (written.size() < entry.size() || written.compare(written.size() - entry.size(), entry.size(), entry) != 0) {
      Broken("AddVar did not append the entry", written);
    }
    const size_t at = written.size() - entry.size();
    if (FirstTyped(written, name) == at && CStr(GetVar(written, name)) != value) {
      Broken("a text written is not read back", written);
    }
  }

  // A 16-bit whole number keeps its value; an empty value removes one entry.
  if (PlainName(name)) {
    const int16_t number = static_cast<int16_t>(size * 31 + (size ? data[0] : 0));
    Text numbered = record;
    AddVar(numbered, name, Var::Integer(number));
    const size_t at = numbered.rfind(u'{');
    if (FirstTyped(numbered, name) == at) {
      Var back = GetVar(numbered, name);
      if (back.kind() != VarKind::Double || back.number() != number) {
        Broken("a number written is not read back", numbered);
      }
      AddVar(numbered, name, Text());
      if (numbered.size() > record.size()) {
        Broken("an empty value did not remove the entry", numbered);
      }
    }
  }
}
