#include "base/text.h"

namespace ledra {

Text FromAscii(const std::string& s) {
  return Text(s.begin(), s.end());
}

std::string ToUtf8(const Text& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A byte that starts no valid sequence (overlong forms, surrogates and
// truncated sequences included) becomes U+FFFD.
Text FromUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  Text out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    unsigned char b = p[i];
    if (b < 0x80) { out += static_cast<char16_t>(b); ++i; continue; }
    size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    uint32_t c = len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    size_t k = 1;
    while (len && k < len && i + k < n && (p[i + k] & 0xC0) == 0x80) c = (c << 6) | (p[i + k++] & 0x3F);
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!len || k < len || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      out += u'\uFFFD';
      i += k > 1 ? k : 1;
      continue;
    }
    i += len;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

namespace {
char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
}  // namespace

bool EqualsAsciiNoCase(const Text& a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool ContainsAsciiNoCase(const Text& hay, const Text& needle) {
  if (needle.size() > hay.size()) return false;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && FoldAscii(hay[i + k]) == FoldAscii(needle[k])) ++k;
    if (k == needle.size()) return true;
  }
  return false;
}

Text RTrim(const Text& s) {
  size_t e = s.size();
  while (e > 0 && s[e - 1] == u' ') --e;
  return s.substr(0, e);
}

Text Trim(const Text& s) {
  size_t b = 0;
  while (b < s.size() && s[b] == u' ') ++b;
  return RTrim(s.substr(b));
}

}  // namespace ledra
