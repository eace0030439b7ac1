#include "dbf/dbf_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/calendar.h"

namespace ledra::dbf {

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t U64(const uint8_t* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }
uint32_t BigU32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) | (static_cast<uint32_t>(p[2]) << 8) |
         static_cast<uint32_t>(p[3]);
}
uint64_t BigU64(const uint8_t* p) { return (static_cast<uint64_t>(BigU32(p)) << 32) | BigU32(p + 4); }

double DoubleOfBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool KnownType(uint8_t t) {
  switch (t) {
    case 'C': case 'N': case 'F': case 'D': case 'L': case 'M': case 'I': case 'B': case 'Y': case 'T':
    case 'V': case 'Q': case 'G': case 'W': case 'P': case '0': case '+': case 'O': case '@':
      return true;
    default:
      return false;
  }
}

std::string Printable(const std::string& s) {
  std::string r;
  for (unsigned char c : s) r += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
  return r;
}

// Days in a month of the proleptic Gregorian calendar.
int MonthDays(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// N and F fields: ASCII, right-aligned, blank padded. from_chars keeps the
// reading independent of the C library's locale.
Var Numeric(const uint8_t* p, size_t n) {
  size_t b = 0, e = n;
  while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
  while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
  // A blank number reads as 0, as the FoxPro driver gives it; a null is
  // only ever a null flag.
  if (b == e) return Var::Double(0);
  const char* first = reinterpret_cast<const char*>(p + b);
  const char* last = reinterpret_cast<const char*>(p + e);
  if (*first == '+') ++first;
  if (first == last) return Var::Null();
  double v = 0;
  auto r = std::from_chars(first, last, v);
  if (r.ec != std::errc() || r.ptr != last) return Var::Null();  // overflow stars, junk
  return Var::Double(v);
}

Var DateValue(const uint8_t* p, size_t n) {
  if (n != 8) return Var::Null();
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (p[i] < '0' || p[i] > '9') return Var::Null();  // blank (empty date) or junk
    v[i] = p[i] - '0';
  }
  int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int m = v[4] * 10 + v[5];
  int d = v[6] * 10 + v[7];
  if (y < 100 || m < 1 || m > 12 || d < 1 || d > MonthDays(y, m)) return Var::Null();
  return Var::Date(OleDateOf(y, m, d));
}

// Visual FoxPro DateTime: Julian day number and milliseconds after midnight.
Var DateTimeValue(const uint8_t* p, size_t n) {
  if (n != 8) return Var::Null();
  int32_t jdn = static_cast<int32_t>(U32(p));
  int32_t ms = static_cast<int32_t>(U32(p + 4));
  if (jdn == 0 && ms == 0) return Var::Null();  // empty datetime
  constexpr int32_t kJdnOfOleZero = 2415019;     // 30 Dec 1899
  // The range OLE dates can hold: 1 Jan 100 to 31 Dec 9999.
  if (jdn < 1757583 || jdn > 5373484 || ms < 0 || ms >= 86400000) return Var::Null();
  double day = jdn - kJdnOfOleZero;
  double frac = ms / 86400000.0;
  return Var::Date(day < 0 ? day - frac : day + frac);
}

Var Logical(uint8_t c) {
  switch (c) {
    case 'T': case 't': case 'Y': case 'y': return Var::Boolean(true);
    case 'F': case 'f': case 'N': case 'n': return Var::Boolean(false);
    default: return Var::Null();  // '?' and blank: not initialised
  }
}

}  // namespace

const char* FormatName(uint8_t version) {
  switch (version) {
    case 0x03: return "dBase III / FoxBASE+ / FoxPro, no memo";
    case 0x83: return "dBase III / FoxBASE+, with memo";
    case 0x04: return "dBase IV / dBase 7, no memo";
    case 0x8B: return "dBase IV, with memo";
    case 0x8C: return "dBase 7, with memo";
    case 0x43: return "dBase IV SQL table, no memo";
    case 0x63: return "dBase IV SQL system table, no memo";
    case 0xCB: return "dBase IV SQL table, with memo";
    case 0xF5: return "FoxPro 2.x, with memo";
    case 0xFB: return "FoxBASE, with memo";
    case 0x30: return "Visual FoxPro";
    case 0x31: return "Visual FoxPro, autoincrement";
    case 0x32: return "Visual FoxPro, varchar/varbinary";
    default: return "";
  }
}

bool IsVisualFoxPro(uint8_t version) { return version == 0x30 || version == 0x31 || version == 0x32; }

uint32_t CodePageOfMark(uint8_t mark) {
  switch (mark) {
    case 0x01: return 437;
    case 0x02: return 850;
    case 0x03: return 1252;
    case 0x04: return 10000;
    case 0x08: return 865;
    case 0x09: case 0x0B: case 0x0D: case 0x0F: case 0x11: case 0x15: case 0x18: case 0x19: case 0x1B: return 437;
    case 0x0A: case 0x0E: case 0x10: case 0x12: case 0x14: case 0x16: case 0x1A: case 0x1D: case 0x25: case 0x37:
      return 850;
    case 0x13: return 932;
    case 0x17: return 865;
    case 0x1C: return 863;
    case 0x1F: case 0x22: case 0x23: case 0x40: case 0x64: case 0x87: return 852;
    case 0x24: return 860;
    case 0x26: case 0x65: return 866;
    case 0x4D: case 0x7A: return 936;
    case 0x4E: case 0x79: return 949;
    case 0x4F: case 0x78: return 950;
    case 0x50: case 0x7C: return 874;
    case 0x57: case 0x58: case 0x59: return 1252;
    case 0x66: return 865;
    case 0x67: return 861;
    case 0x68: return 895;  // Kamenicky
    case 0x69: return 620;  // Mazovia
    case 0x6A: case 0x86: return 737;
    case 0x6B: case 0x88: return 857;
    case 0x6C: return 863;
    case 0x7B: return 932;
    case 0x7D: return 1255;
    case 0x7E: return 1256;
    case 0x96: return 10007;
    case 0x97: return 10029;
    case 0x98: return 10006;
    case 0xC8: return 1250;
    case 0xC9: return 1251;
    case 0xCA: return 1254;
    case 0xCB: return 1253;
    case 0xCC: return 1257;
    default: return 0;  // 0 and unknown marks: the ANSI code page
  }
}

uint32_t DeclaredHeaderLength(const uint8_t* bytes, size_t n) { return n < kFixedHeader ? 0 : U16(bytes + 8); }

bool ParseHeader(const uint8_t* bytes, size_t n, uint64_t file_size, Header* out, std::string* error) {
  auto fail = [&](const std::string& why) {
    *error = why;
    return false;
  };
  if (n < kFixedHeader || file_size < kFixedHeader) return fail("the file is too short to be a table");
  Header h;
  h.version = bytes[0];
  if (!*FormatName(h.version)) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "not a dBase table (unknown version byte 0x%02X)", h.version);
    return fail(buf);
  }
  h.update_year = bytes[1] < 80 ? 2000 + bytes[1] : 1900 + bytes[1];
  h.update_month = bytes[2];
  h.update_day = bytes[3];
  h.record_count = U32(bytes + 4);
  h.header_length = U16(bytes + 8);
  h.record_length = U16(bytes + 10);
  h.table_flags = bytes[28];
  h.codepage_mark = bytes[29];
  h.codepage = CodePageOfMark(h.codepage_mark);

  if (h.header_length > file_size) {
    return fail("the header length (" + std::to_string(h.header_length) + ") goes beyond the end of the file (" +
                std::to_string(file_size) + " bytes)");
  }
  if (h.header_length < kFixedHeader + 1) {
    return fail("the header length (" + std::to_string(h.header_length) + ") is too small for any field");
  }
  if (h.record_length == 0) return fail("the record length is 0");
  const size_t limit = std::min<size_t>(n, h.header_length);

  // dBase 7 shares version 0x04/0x8C with dBase IV but puts 48-byte
  // descriptors after a language driver name; its first 32-byte "descriptor"
  // then has no valid type byte.
  size_t pos = kFixedHeader, size = 32, name_len = 11, type_at = 11, length_at = 16;
  if ((h.version == 0x04 || h.version == 0x8C) && limit >= 68 + 48 + 1 && limit >= 44 && !KnownType(bytes[43]) &&
      KnownType(bytes[68 + 32])) {
    h.level7 = true;
    pos = 68;
    size = 48;
    name_len = 32;
    type_at = 32;
    length_at = 33;
  }
  const bool vfp = IsVisualFoxPro(h.version);
  uint32_t offset = 1;  // byte 0 is the delete flag
  while (pos < limit && bytes[pos] != 0x0D && bytes[pos] != 0) {
    if (pos + size > limit) return fail("the field descriptors run past the header length");
    const uint8_t* d = bytes + pos;
    FieldDesc f;
    size_t len = 0;
    while (len < name_len && d[len] != 0) ++len;
    f.name.assign(reinterpret_cast<const char*>(d), len);
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    uint8_t t = d[type_at];
    if (t >= 'a' && t <= 'z') t = static_cast<uint8_t>(t - 32);
    f.type = static_cast<char>(t);
    f.length = d[length_at];
    f.decimals = d[length_at + 1];
    // Clipper and FoxPro character fields longer than 255 keep the high
    // byte of the length where numbers keep their decimals.
    if (f.type == 'C' && !h.level7) {
      f.length += static_cast<uint32_t>(f.decimals) << 8;
      f.decimals = 0;
    }
    if (vfp) f.flags = d[18];
    f.hidden = f.type == '0' || (f.flags & kFlagSystem) != 0;
    if (f.length == 0) return fail("the field " + Printable(f.name) + " has length 0");
    f.offset = offset;
    offset += f.length;
    if (offset > h.record_length) {
      return fail("the field " + Printable(f.name) + " ends at byte " + std::to_string(offset) +
                  ", beyond the record length (" + std::to_string(h.record_length) + ")");
    }
    if (f.type == '0' && h.nullflags < 0) h.nullflags = static_cast<int>(h.fields.size());
    h.fields.push_back(std::move(f));
    pos += size;
  }
  size_t visible = 0;
  for (const auto& f : h.fields) visible += !f.hidden;
  if (visible == 0) return fail("the table has no fields");

  // Visual FoxPro hands out _NullFlags bits in field order: a varchar or
  // varbinary field first gets its varlength bit, a nullable field its null
  // bit after that.
  if (vfp && h.nullflags >= 0) {
    int bit = 0;
    for (auto& f : h.fields) {
      if (f.hidden) continue;
      if (f.type == 'V' || f.type == 'Q') f.varlen_bit = bit++;
      if (f.flags & kFlagNullable) f.null_bit = bit++;
    }
  }
  *out = std::move(h);
  return true;
}

uint64_t RecordsInFile(const Header& h, uint64_t file_size) {
  if (h.record_length == 0 || file_size <= h.header_length) return 0;
  uint64_t room = (file_size - h.header_length) / h.record_length;
  return std::min<uint64_t>(room, h.record_count);
}

bool NullBit(const Header& h, const uint8_t* record, int bit) {
  if (bit < 0 || h.nullflags < 0) return false;
  const FieldDesc& nf = h.fields[static_cast<size_t>(h.nullflags)];
  size_t byte = static_cast<size_t>(bit) / 8;
  if (byte >= nf.length) return false;
  return (record[nf.offset + byte] >> (bit % 8)) & 1;
}

bool IsNull(const Header& h, const FieldDesc& f, const uint8_t* record) { return NullBit(h, record, f.null_bit); }

size_t TextLength(const Header& h, const FieldDesc& f, const uint8_t* record) {
  if (f.type == 'V' && NullBit(h, record, f.varlen_bit)) {
    size_t n = record[f.offset + f.length - 1];
    return n < f.length ? n : f.length - 1;
  }
  return f.length;
}

Var Value(const Header& h, const FieldDesc& f, const uint8_t* record) {
  const uint8_t* p = record + f.offset;
  const size_t n = f.length;
  switch (f.type) {
    case 'N':
    case 'F':
      return Numeric(p, n);
    case 'D':
      return DateValue(p, n);
    case 'T':
      return DateTimeValue(p, n);
    case 'L':
      return n == 1 ? Logical(p[0]) : Var::Null();
    case 'I':
    case '+':
      if (n != 4) return Var::Null();
      // dBase 7 stores integers big-endian with the sign bit flipped, so
      // that they sort as bytes.
      if (h.level7) return Var::Long(static_cast<int32_t>(BigU32(p) ^ 0x80000000u));
      return Var::Long(static_cast<int32_t>(U32(p)));
    case 'B':
      if (n != 8 || h.level7) return Var::Null();  // dBase 7 'B' is a binary memo
      return Var::Double(DoubleOfBits(U64(p)));
    case 'O': {
      if (n != 8) return Var::Null();
      uint64_t bits = BigU64(p);
      bits = (bits & 0x8000000000000000ull) ? bits ^ 0x8000000000000000ull : ~bits;
      return Var::Double(DoubleOfBits(bits));
    }
    case 'Y':
      if (n != 8) return Var::Null();
      return Var::Currency(static_cast<int64_t>(U64(p)));
    default:
      // Memo, general, blob, picture, varbinary, dBase 7 timestamps: the
      // plug-in never reads them, and they never break a row.
      return Var::Null();
  }
}

double OleDateOf(int y, int m, int d) { return static_cast<double>(OleDayFromCivil(y, m, d)); }

}  // namespace ledra::dbf
