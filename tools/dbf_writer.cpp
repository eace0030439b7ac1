#include "tools/dbf_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ledra::tool {

namespace {

void PutLE(char* at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutBE(char* at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<char>((v >> (8 * (bytes - 1 - i))) & 0xFF);
}

// The Julian day number of a civil date (proleptic Gregorian), worked out
// here on its own rather than with the engine's calendar, so that a table
// written here checks the reader's dates.
long JulianDay(int y, int m, int d) {
  const int a = (14 - m) / 12;
  const long yy = y + 4800 - a;
  const int mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

bool Binary(char type) { return type == 'I' || type == 'B' || type == 'Y' || type == 'T' || type == 'Q'; }

}  // namespace

// ---------------------------------------------------------------------------
// DbfLayout

bool DbfLayout::Vfp() const { return format_.version == 0x30 || format_.version == 0x31 || format_.version == 0x32; }

DbfLayout::DbfLayout(const std::vector<DbfField>& fields, const DbfFormat& format) : format_(format) {
  if (fields.empty()) throw std::invalid_argument("a table needs a field");
  size_t offset = 1;  // byte 0 is the delete flag
  int bits = 0;
  for (const DbfField& f : fields) {
    Laid l{f, offset};
    if (Vfp()) {
      if (f.type == 'V' || f.type == 'Q') l.varlen_bit = bits++;
      if (f.nullable) l.null_bit = bits++;
    }
    offset += static_cast<size_t>(f.length);
    laid_.push_back(l);
  }
  field_count_ = static_cast<int>(laid_.size());
  if (bits > 0) {
    laid_.push_back({{"_NullFlags", '0', (bits + 7) / 8, 0, false}, offset});
    offset += static_cast<size_t>(laid_.back().field.length);
  }
  const size_t n = laid_.size();
  header_length_ = format_.level7 ? 68 + 48 * n + 1 : 32 + 32 * n + 1 + (format_.backlink.value_or(Vfp()) ? 263 : 0);
  if (header_length_ > 0xFFFF || offset > 0xFFFF) throw std::invalid_argument("table too wide for a dBase header");

  blank_.assign(offset, ' ');
  if (bits > 0) std::memset(&blank_[laid_.back().offset], 0, static_cast<size_t>(laid_.back().field.length));
  for (int i = 0; i < field_count_; ++i) Put(blank_.data(), i, std::string_view());
}

std::string DbfLayout::Header(uint32_t records) const {
  std::string out(header_length_, '\0');
  out[0] = static_cast<char>(format_.version);
  out[1] = static_cast<char>(format_.year - 1900);
  out[2] = static_cast<char>(format_.month);
  out[3] = static_cast<char>(format_.day);
  PutLE(&out[4], records, 4);
  PutLE(&out[8], header_length_, 2);
  PutLE(&out[10], record_length(), 2);
  bool memo = false;
  for (const Laid& l : laid_) memo |= l.field.type == 'M' || l.field.type == 'G' || l.field.type == 'W';
  out[28] = static_cast<char>(Vfp() && memo ? 0x02 : 0x00);
  out[29] = static_cast<char>(format_.codepage_mark);

  size_t pos = 32;
  if (format_.level7) {
    std::memcpy(&out[pos], "DBWINUS0", 8);  // the language driver
    pos = 68;
  }
  for (const Laid& l : laid_) {
    const DbfField& f = l.field;
    if (format_.level7) {
      std::memcpy(&out[pos], f.name.data(), std::min<size_t>(f.name.size(), 31));
      out[pos + 32] = f.type;
      out[pos + 33] = static_cast<char>(f.length);
      out[pos + 34] = static_cast<char>(f.decimals);
      pos += 48;
      continue;
    }
    std::memcpy(&out[pos], f.name.data(), std::min<size_t>(f.name.size(), 10));
    out[pos + 11] = f.type;
    if (Vfp()) PutLE(&out[pos + 12], l.offset, 4);
    if (f.type == 'C' && f.length > 255) {
      // FoxPro keeps a long character field's length in the decimals byte too.
      PutLE(&out[pos + 16], static_cast<uint64_t>(f.length), 2);
    } else {
      out[pos + 16] = static_cast<char>(f.length);
      out[pos + 17] = static_cast<char>(f.decimals);
    }
    if (Vfp()) out[pos + 18] = static_cast<char>(f.type == '0' ? 0x05 : l.null_bit >= 0 ? 0x02 : 0x00);
    pos += 32;
  }
  out[pos] = 0x0D;  // the back-link after it stays zero: a free table
  return out;
}

void DbfLayout::SetBit(char* record, int bit, bool on) const {
  if (bit < 0) return;
  char& flags = record[laid_.back().offset + static_cast<size_t>(bit / 8)];
  const char mask = static_cast<char>(1 << (bit % 8));
  flags = static_cast<char>(on ? flags | mask : flags & ~mask);
}

void DbfLayout::Put(char* record, int field, std::optional<std::string_view> value) const {
  if (field < 0 || field >= field_count_) throw std::out_of_range("no such field");
  const Laid& l = laid_[static_cast<size_t>(field)];
  const DbfField& f = l.field;
  const size_t n = static_cast<size_t>(f.length);
  char* at = record + l.offset;
  SetBit(record, l.null_bit, !value);
  if (!value) {
    SetBit(record, l.varlen_bit, false);
    std::memset(at, Binary(f.type) ? '\0' : ' ', n);
    return;
  }
  // An empty view may hold no pointer, which memcpy must never get.
  const std::string_view s = value->empty() ? std::string_view("") : *value;
  auto left = [&](char pad) {
    const size_t k = std::min(s.size(), n);
    std::memcpy(at, s.data(), k);
    std::memset(at + k, pad, n - k);
  };
  // A binary value in a field too short for it is cut.
  auto binary = [&](const char* bytes, size_t k) {
    std::memset(at, '\0', n);
    std::memcpy(at, bytes, std::min(k, n));
  };
  const auto text = [&] { return std::string(s); };  // for the number parsers
  char bytes[8] = {};
  switch (f.type) {
    case 'V':
    case 'Q':
      left('\0');
      if (s.size() < n) at[n - 1] = static_cast<char>(s.size());
      SetBit(record, l.varlen_bit, s.size() < n);
      break;
    case 'N':
    case 'F':
      if (s.size() >= n) {
        std::memcpy(at, s.data(), n);
      } else {
        std::memset(at, ' ', n - s.size());
        std::memcpy(at + n - s.size(), s.data(), s.size());
      }
      break;
    case 'I':
    case '+': {
      const long x = s.empty() ? 0 : std::stol(text());
      if (format_.level7) PutBE(bytes, static_cast<uint32_t>(x) ^ 0x80000000u, 4);
      else PutLE(bytes, static_cast<uint32_t>(x), 4);
      binary(bytes, 4);
      break;
    }
    case 'B':
    case 'O': {
      const double d = s.empty() ? 0 : std::stod(text());
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      if (f.type == 'O') {
        // dBase 7 doubles sort as bytes: big-endian with the sign flipped.
        bits = (bits & 0x8000000000000000ull) ? ~bits : bits ^ 0x8000000000000000ull;
        PutBE(bytes, bits, 8);
      } else {
        PutLE(bytes, bits, 8);
      }
      binary(bytes, 8);
      break;
    }
    case 'Y': {
      const int64_t scaled = s.empty() ? 0 : std::llround(std::stod(text()) * 10000.0);
      PutLE(bytes, static_cast<uint64_t>(scaled), 8);
      binary(bytes, 8);
      break;
    }
    case 'T':
      if (!s.empty()) {
        const auto number = [&](size_t from, size_t len) { return std::stoi(std::string(s.substr(from, len))); };
        const int y = number(0, 4), mo = number(4, 2), d = number(6, 2);
        int h = 0, mi = 0, se = 0;
        if (s.size() >= 17) {
          h = number(9, 2);
          mi = number(12, 2);
          se = number(15, 2);
        }
        // The Julian day number, then milliseconds since midnight.
        PutLE(bytes, static_cast<uint32_t>(JulianDay(y, mo, d)), 4);
        PutLE(bytes + 4, static_cast<uint32_t>((h * 3600 + mi * 60 + se) * 1000), 4);
      }
      binary(bytes, 8);
      break;
    case 'M':
    case 'G':
    case 'W':
    case 'P':
      if (n == 4) {
        PutLE(bytes, s.empty() ? 0u : static_cast<uint32_t>(std::stoul(text())), 4);
        binary(bytes, 4);
      } else {
        std::memset(at, ' ', n);
        std::memcpy(at + n - std::min(n, s.size()), s.data(), std::min(n, s.size()));
      }
      break;
    default:  // C, D, L and anything else: the text, padded with blanks
      left(' ');
      break;
  }
}

// ---------------------------------------------------------------------------
// DbfWriter

std::string DbfWriter::Build() const {
  const DbfLayout layout(fields_, format_);
  std::string out = layout.Header(static_cast<uint32_t>(entries_.size()));
  std::string record;
  for (const Entry& e : entries_) {
    if (e.raw) {
      out += e.bytes;
      continue;
    }
    record = layout.BlankRecord();
    record[0] = e.deleted ? '*' : ' ';
    for (size_t i = 0; i < e.values.size(); ++i) {
      const DbfValue& v = e.values[i];
      layout.Put(record.data(), static_cast<int>(i), v ? std::optional<std::string_view>(*v) : std::nullopt);
    }
    out += record;
  }
  if (eof_marker_) out += '\x1A';
  return out;
}

void DbfWriter::SetU16(std::string* file, size_t at, uint16_t v) { PutLE(&(*file)[at], v, 2); }
void DbfWriter::SetU32(std::string* file, size_t at, uint32_t v) { PutLE(&(*file)[at], v, 4); }

// ---------------------------------------------------------------------------
// DbfStreamWriter

DbfStreamWriter::~DbfStreamWriter() {
  // An unfinished table is left as it is; Close() is what completes one.
  if (file_) std::fclose(file_);
}

void DbfStreamWriter::Fail(const std::string& what) {
  std::string why = errno ? std::string(": ") + std::strerror(errno) : std::string();
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  throw std::runtime_error(what + " " + path_ + why);
}

void DbfStreamWriter::Open(const std::string& path, const std::vector<DbfField>& fields, const DbfFormat& format,
                           size_t buffer_bytes) {
  if (file_) throw std::logic_error("DbfStreamWriter::Open on an open table");
  path_ = path;
  layout_.emplace(fields, format);
  rows_ = 0;
  buffered_ = 0;
  record_ = layout_->BlankRecord();
  const size_t per_buffer = std::max<size_t>(1, buffer_bytes / record_.size());
  buffer_.assign(per_buffer * record_.size(), '\0');

  const std::string header = layout_->Header(0);  // the count is patched by Close()
  errno = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) Fail("cannot create");
  if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) Fail("cannot write");
}

void DbfStreamWriter::BeginRow(bool deleted) {
  record_ = layout_->BlankRecord();  // same length: no allocation
  record_[0] = deleted ? '*' : ' ';
}

void DbfStreamWriter::SetText(int field, std::string_view bytes) { layout_->Put(record_.data(), field, bytes); }

void DbfStreamWriter::SetNumber(int field, double value) {
  const DbfField& f = layout_->field(field);
  char text[320];
  int n = std::snprintf(text, sizeof text, "%*.*f", f.length, f.decimals, value);
  if (n < 0 || n > f.length) {
    // Too wide: FoxPro shows the overflow as stars.
    n = f.length;
    std::memset(text, '*', static_cast<size_t>(n));
  }
  layout_->Put(record_.data(), field, std::string_view(text, static_cast<size_t>(n)));
}

void DbfStreamWriter::SetDate(int field, int year, int month, int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", year % 10000, month % 100, day % 100);
  layout_->Put(record_.data(), field, std::string_view(text, 8));
}

void DbfStreamWriter::SetLogical(int field, bool value) { layout_->Put(record_.data(), field, value ? "T" : "F"); }

void DbfStreamWriter::SetNull(int field) {
  if (!layout_->CanBeNull(field)) throw std::invalid_argument("the field cannot hold a null");
  layout_->Put(record_.data(), field, std::nullopt);
}

void DbfStreamWriter::EndRow() {
  if (!file_) throw std::logic_error("DbfStreamWriter: no open table");
  if (buffered_ + record_.size() > buffer_.size()) Flush();
  std::memcpy(buffer_.data() + buffered_, record_.data(), record_.size());
  buffered_ += record_.size();
  ++rows_;
}

void DbfStreamWriter::Flush() {
  if (buffered_ == 0) return;
  errno = 0;
  if (std::fwrite(buffer_.data(), 1, buffered_, file_) != buffered_) Fail("cannot write");
  buffered_ = 0;
}

void DbfStreamWriter::Close() {
  if (!file_) return;
  Flush();
  errno = 0;
  if (std::fputc(0x1A, file_) == EOF) Fail("cannot write");
  if (rows_ > 0xFFFFFFFFull) Fail("too many records for");
  char count[4];
  PutLE(count, rows_, 4);
  if (std::fseek(file_, 4, SEEK_SET) != 0 || std::fwrite(count, 1, 4, file_) != 4) Fail("cannot write");
  std::FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno));
  std::vector<char>().swap(buffer_);
}

}  // namespace ledra::tool
