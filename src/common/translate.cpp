#include "common/translate.h"

#include "common/errors.h"

namespace ledra {

namespace {

// Every occurrence of what, left to right; inserted text is not scanned again.
Text ReplaceAll(const Text& s, const Text& what, const Text& with) {
  Text r;
  r.reserve(s.size());
  size_t from = 0;
  for (size_t p = s.find(what); p != Text::npos; p = s.find(what, from)) {
    r.append(s, from, p - from);
    r.append(with);
    from = p + what.size();
  }
  r.append(s, from, Text::npos);
  return r;
}

}  // namespace

Text Translate(const Text& def, const std::optional<Var>& phrase, const Text& insert1, const Text& insert2) {
  Procedure proc(u"  @  Translate");
  Text text;
  Text fallback = def;
  proc.Step([&] {
    // No catalogue is connected: without a phrase the default is the text.
    if (!phrase) {
      text = def;
      fallback.clear();
    } else {
      text = TextForm(*phrase);
    }
  });
  bool blank = false;
  // A test that fails goes on into its branch, as the error wrapper does.
  if (!proc.Step([&] { blank = Trim(text + fallback).empty(); }) || blank) return Text();
  proc.Step([&] { text = ReplaceAll(text, u"<1>", insert1); });
  proc.Step([&] { text = ReplaceAll(text, u"<2>", insert2); });
  return text;
}

}  // namespace ledra
