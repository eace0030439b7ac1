#include "fakes/dbf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ledra::testing {

namespace {

void PutLE(std::string* s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) (*s)[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutBE(std::string* s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) (*s)[at + i] = static_cast<char>((v >> (8 * (bytes - 1 - i))) & 0xFF);
}

long JulianDay(int y, int m, int d) {
  int a = (14 - m) / 12;
  long yy = y + 4800 - a;
  int mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

std::string RightAligned(const std::string& v, size_t n) {
  if (v.size() >= n) return v.substr(0, n);
  return std::string(n - v.size(), ' ') + v;
}

std::string LeftAligned(const std::string& v, size_t n, char pad) {
  if (v.size() >= n) return v.substr(0, n);
  return v + std::string(n - v.size(), pad);
}

}  // namespace

std::vector<DbfWriter::Laid> DbfWriter::Layout() const {
  std::vector<Laid> laid;
  size_t offset = 1;
  int bits = 0;
  for (const DbfFieldSpec& f : fields_) {
    Laid l{f, offset, 0};
    if (Vfp()) {
      if (f.type == 'V' || f.type == 'Q') l.varlen_bit = bits++;
      if (f.nullable) {
        l.null_bit = bits++;
        l.flags |= 0x02;
      }
    }
    offset += static_cast<size_t>(f.length);
    laid.push_back(l);
  }
  if (Vfp() && bits > 0) {
    Laid nf{{"_NullFlags", '0', (bits + 7) / 8, 0, false}, offset, 0x05};
    laid.push_back(nf);
  }
  return laid;
}

size_t DbfWriter::HeaderLength() const {
  size_t n = Layout().size();
  if (level7_) return 68 + 48 * n + 1;
  return 32 + 32 * n + 1 + (HasBacklink() ? 263 : 0);
}

size_t DbfWriter::RecordLength() const {
  size_t len = 1;
  for (const Laid& l : Layout()) len += static_cast<size_t>(l.field.length);
  return len;
}

std::string DbfWriter::Encode(const std::vector<Laid>& laid, const Entry& e) const {
  std::string rec(RecordLength(), ' ');
  rec[0] = e.deleted ? '*' : ' ';
  std::vector<int> set_bits;
  for (size_t i = 0; i < laid.size(); ++i) {
    const Laid& l = laid[i];
    const DbfFieldSpec& f = l.field;
    const size_t n = static_cast<size_t>(f.length);
    if (f.type == '0') continue;
    const DbfValue& v = i < e.values.size() ? e.values[i] : DbfValue(std::string());
    std::string bytes;
    if (!v) {
      if (l.null_bit >= 0) set_bits.push_back(l.null_bit);
      bool binary = f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' || f.type == 'Q';
      bytes.assign(n, binary ? '\0' : ' ');
    } else {
      const std::string& s = *v;
      switch (f.type) {
        case 'C': bytes = LeftAligned(s, n, ' '); break;
        case 'V':
        case 'Q':
          if (s.size() < n) {
            bytes = LeftAligned(s, n, '\0');
            bytes[n - 1] = static_cast<char>(s.size());
            set_bits.push_back(l.varlen_bit);
          } else {
            bytes = s.substr(0, n);
          }
          break;
        case 'N': case 'F': bytes = RightAligned(s, n); break;
        case 'D': case 'L': bytes = LeftAligned(s, n, ' '); break;
        case 'I': case '+': {
          bytes.assign(std::max<size_t>(n, 8), '\0');
          long x = s.empty() ? 0 : std::stol(s);
          if (level7_) PutBE(&bytes, 0, static_cast<uint32_t>(x) ^ 0x80000000u, 4);
          else PutLE(&bytes, 0, static_cast<uint32_t>(x), 4);
          break;
        }
        case 'B': case 'O': {
          bytes.assign(std::max<size_t>(n, 8), '\0');
          double d = s.empty() ? 0 : std::stod(s);
          uint64_t bits;
          std::memcpy(&bits, &d, 8);
          if (f.type == 'O') {
            bits = (bits & 0x8000000000000000ull) ? ~bits : bits ^ 0x8000000000000000ull;
            PutBE(&bytes, 0, bits, 8);
          } else {
            PutLE(&bytes, 0, bits, 8);
          }
          break;
        }
        case 'Y': {
          bytes.assign(std::max<size_t>(n, 8), '\0');
          int64_t scaled = s.empty() ? 0 : std::llround(std::stod(s) * 10000.0);
          PutLE(&bytes, 0, static_cast<uint64_t>(scaled), 8);
          break;
        }
        case 'T': {
          bytes.assign(std::max<size_t>(n, 8), '\0');
          if (!s.empty()) {
            int y = std::stoi(s.substr(0, 4)), mo = std::stoi(s.substr(4, 2)), d = std::stoi(s.substr(6, 2));
            int h = 0, mi = 0, se = 0;
            if (s.size() >= 17) {
              h = std::stoi(s.substr(9, 2));
              mi = std::stoi(s.substr(12, 2));
              se = std::stoi(s.substr(15, 2));
            }
            PutLE(&bytes, 0, static_cast<uint32_t>(JulianDay(y, mo, d)), 4);
            PutLE(&bytes, 4, static_cast<uint32_t>((h * 3600 + mi * 60 + se) * 1000), 4);
          }
          break;
        }
        case 'M': case 'G': case 'W': case 'P':
          if (n == 4) {
            bytes.assign(4, '\0');
            PutLE(&bytes, 0, s.empty() ? 0u : static_cast<uint32_t>(std::stoul(s)), 4);
          } else {
            bytes = RightAligned(s, n);
          }
          break;
        default: bytes = LeftAligned(s, n, ' '); break;
      }
    }
    bytes.resize(n, ' ');  // a binary value in a field too short for it is cut
    rec.replace(l.offset, n, bytes);
  }
  for (const Laid& l : laid) {
    if (l.field.type != '0') continue;
    std::string flags(static_cast<size_t>(l.field.length), '\0');
    for (int b : set_bits) flags[static_cast<size_t>(b / 8)] |= static_cast<char>(1 << (b % 8));
    rec.replace(l.offset, flags.size(), flags);
  }
  return rec;
}

std::string DbfWriter::Build() const {
  const std::vector<Laid> laid = Layout();
  const size_t hlen = HeaderLength();
  const size_t reclen = RecordLength();
  if (hlen > 0xFFFF || reclen > 0xFFFF) throw std::invalid_argument("table too wide for a dBase header");
  std::string out(hlen, '\0');
  out[0] = static_cast<char>(version_);
  out[1] = static_cast<char>(124);  // 2024-01-02
  out[2] = 1;
  out[3] = 2;
  PutLE(&out, 4, entries_.size(), 4);
  PutLE(&out, 8, hlen, 2);
  PutLE(&out, 10, reclen, 2);
  bool memo = false;
  for (const Laid& l : laid) memo |= l.field.type == 'M' || l.field.type == 'G' || l.field.type == 'W';
  out[28] = static_cast<char>(Vfp() && memo ? 0x02 : 0x00);
  out[29] = static_cast<char>(codepage_);

  size_t pos = level7_ ? 68 : 32;
  if (level7_) std::memcpy(&out[32], "DBWINUS0", 8);
  for (const Laid& l : laid) {
    const DbfFieldSpec& f = l.field;
    if (level7_) {
      std::memcpy(&out[pos], f.name.data(), std::min<size_t>(f.name.size(), 31));
      out[pos + 32] = f.type;
      out[pos + 33] = static_cast<char>(f.length);
      out[pos + 34] = static_cast<char>(f.decimals);
      pos += 48;
      continue;
    }
    std::memcpy(&out[pos], f.name.data(), std::min<size_t>(f.name.size(), 10));
    out[pos + 11] = f.type;
    if (Vfp()) PutLE(&out, pos + 12, l.offset, 4);
    if (f.type == 'C' && f.length > 255) {
      out[pos + 16] = static_cast<char>(f.length & 0xFF);
      out[pos + 17] = static_cast<char>(f.length >> 8);
    } else {
      out[pos + 16] = static_cast<char>(f.length);
      out[pos + 17] = static_cast<char>(f.decimals);
    }
    if (Vfp()) out[pos + 18] = static_cast<char>(l.flags);
    pos += 32;
  }
  out[pos] = 0x0D;  // the back-link after it stays zero: no database

  for (const Entry& e : entries_) out += e.raw ? e.bytes : Encode(laid, e);
  if (eof_marker_) out += '\x1A';
  return out;
}

void DbfWriter::SetU16(std::string* file, size_t at, uint16_t v) { PutLE(file, at, v, 2); }
void DbfWriter::SetU32(std::string* file, size_t at, uint32_t v) { PutLE(file, at, v, 4); }

}  // namespace ledra::testing
