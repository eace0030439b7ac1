#include "dialogs/translate.h"

namespace ledra {

Text Translate(const Text& text, const Text& insert1) {
  Text r;
  size_t from = 0;
  for (size_t p = text.find(u"<1>"); p != Text::npos; p = text.find(u"<1>", from)) {
    r.append(text, from, p - from);
    r.append(insert1);
    from = p + 3;
  }
  r.append(text, from, Text::npos);
  return r;
}

}  // namespace ledra
