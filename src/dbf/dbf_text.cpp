#include "dbf/dbf_text.h"

#include "base/platform.h"

namespace ledra::dbf {

TableText::TableText(uint32_t codepage) : codepage_(codepage) {
  const Locale* locale = Sys().locale;
  if (!locale) {
    // No platform (a bare tool run): Latin-1, which is at least lossless.
    single_byte_ = true;
    for (int b = 0; b < 256; ++b) to_text_[b] = static_cast<char16_t>(b);
  } else {
    char all[256];
    for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
    Text t = locale->Decode(codepage, all, sizeof all);
    // Multi-byte code pages (UTF-8, the East Asian ones) join some bytes
    // into one character: the whole range, or one of these pairs (UTF-8
    // "é", a Shift-JIS/GBK/UHC pair, a Big5 pair), gives fewer characters
    // than bytes. Only a one-to-one answer makes a table.
    bool one_to_one = t.size() == 256;
    for (const char* pair : {"\xC3\xA9", "\x81\x41", "\xA4\x40"}) {
      if (one_to_one) one_to_one = locale->Decode(codepage, pair, 2).size() == 2;
    }
    if (one_to_one) {
      single_byte_ = true;
      for (int b = 0; b < 256; ++b) to_text_[b] = t[b];
    }
  }
}

void TableText::Decode(const uint8_t* bytes, size_t n, Text* out) const {
  if (single_byte_) {
    out->resize(n);
    char16_t* o = out->data();
    for (size_t i = 0; i < n; ++i) o[i] = to_text_[bytes[i]];
    return;
  }
  *out = Sys().locale->Decode(codepage_, reinterpret_cast<const char*>(bytes), n);
}

std::string TableText::Encode(const Text& s) const {
  std::string out;
  out.reserve(s.size());
  if (single_byte_) {
    // Query values are a few characters: a search of the table costs less
    // than building its inverse for every result set. The lowest byte wins
    // for a character two bytes decode to.
    for (char16_t c : s) {
      char byte = '?';
      for (int b = 0; b < 256 && c != 0xFFFD; ++b) {
        if (to_text_[b] == c) {
          byte = static_cast<char>(b);
          break;
        }
      }
      out += byte;
    }
    return out;
  }
  if (codepage_ == 0) return Sys().locale->ToAnsi(s);
  // Other multi-byte code pages: ASCII is the same in all of them.
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace ledra::dbf
