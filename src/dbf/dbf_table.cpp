#include "dbf/dbf_table.h"

#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/text_matching.h"
#include "dbf/dbf_errors.h"

namespace ledra::dbf {

namespace {

constexpr size_t kLookupSlots = 16;

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Whether two headers describe records the same way; the record count and
// the date of the last update may differ.
bool SameLayout(const Header& a, const Header& b) {
  if (a.version != b.version || a.header_length != b.header_length || a.record_length != b.record_length ||
      a.codepage != b.codepage || a.fields.size() != b.fields.size()) {
    return false;
  }
  for (size_t i = 0; i < a.fields.size(); ++i) {
    const FieldDesc& x = a.fields[i];
    const FieldDesc& y = b.fields[i];
    if (x.name != y.name || x.type != y.type || x.offset != y.offset || x.length != y.length ||
        x.decimals != y.decimals || x.flags != y.flags) {
      return false;
    }
  }
  return true;
}

Text Number(uint64_t n) { return FromAscii(std::to_string(n)); }

}  // namespace

size_t ReadFully(DataFile& file, uint64_t offset, uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    int64_t r = file.ReadAt(offset + got, buf + got, n - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

size_t RecordsPerBlock(const Header& h, uint64_t rows) {
  const size_t per_block = std::max<size_t>(1, kBlockBytes / h.record_length);
  return static_cast<size_t>(std::clamp<uint64_t>(rows, 1, per_block));
}

std::unique_ptr<DataFile> ReopenedFile::Open() {
  if (go_on_ && !go_on_()) return nullptr;
  Text ignored;
  std::unique_ptr<DataFile> f = fs_.OpenShared(path_, &ignored);
  DataFile::Facts facts;
  if (f && (identity_ || size_ >= 0) &&
      (!f->Stat(&facts) || (identity_ && facts.identity && facts.identity != identity_) ||
       (size_ >= 0 && facts.size != size_))) {
    f.reset();
  }
  return f;
}

int64_t ReopenedFile::ReadAt(uint64_t offset, void* buf, size_t n) {
  std::unique_ptr<DataFile> f = Open();
  return f ? f->ReadAt(offset, buf, n) : -1;
}

int64_t ReopenedFile::Size() {
  std::unique_ptr<DataFile> f = Open();
  return f ? f->Size() : -1;
}

size_t ReadRecordBlock(DataFile& file, const Header& h, uint64_t first, size_t want, uint8_t* block) {
  const size_t reclen = h.record_length;
  return ReadFully(file, h.header_length + first * reclen, block, want * reclen) / reclen;
}

uint64_t ReadRecords(DataFile& file, const Header& h, uint64_t rows, const std::atomic<bool>* stop,
                     const std::function<bool(const uint8_t*, size_t)>& take) {
  const size_t per_block = RecordsPerBlock(h, rows);
  std::vector<uint8_t> block(per_block * h.record_length);
  uint64_t done = 0;
  while (done < rows && !(stop && *stop)) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(per_block, rows - done));
    const size_t got = ReadRecordBlock(file, h, done, want, block.data());
    if (got > 0 && !take(block.data(), got)) break;
    done += got;
    if (got < want) break;
  }
  return done;
}

bool SameName(const Text& a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

OpenedTable OpenTable(FileSystem& fs, const Text& path, const Text& table) {
  OpenedTable t;
  Text error;
  t.file = fs.OpenShared(path, &error);
  if (!t.file) Raise(kDbfCannotOpen, u"Cannot open table " + table + u" (" + path + u"): " + error);
  DataFile::Facts facts;
  if (!t.file->Stat(&facts)) Raise(kDbfCannotOpen, u"Cannot read the size of table " + table + u" (" + path + u")");
  t.file_size = static_cast<uint64_t>(facts.size);
  t.identity = facts.identity;
  t.written = facts.written;

  // Most headers come whole with the first request; never read past the
  // file, whatever the header claims.
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(kFirstHeaderRead, t.file_size)));
  size_t got = ReadFully(*t.file, 0, bytes.data(), bytes.size());
  const uint32_t declared = DeclaredHeaderLength(bytes.data(), got);
  size_t want = std::max<size_t>(got, std::min<uint64_t>(declared, t.file_size));
  if (want > got) {
    bytes.resize(want);
    want = got + ReadFully(*t.file, got, bytes.data() + got, want - got);
  }

  std::string why;
  if (!ParseHeader(bytes.data(), want, t.file_size, &t.header, &why)) {
    Raise(kDbfBadTable, u"Table " + table + u" cannot be read (" + path + u"): " + FromUtf8(why));
  }
  return t;
}

DbfResultSet::DbfResultSet(FileSystem& fs, const Text& path, OpenedTable table, const Text& table_name,
                           const Query& query)
    : DbfResultSet(&fs, path, std::move(table), table_name, query) {}

DbfResultSet::DbfResultSet(OpenedTable table, const Text& table_name, const Query& query)
    : DbfResultSet(nullptr, Text(), std::move(table), table_name, query) {}

DbfResultSet::DbfResultSet(FileSystem* fs, const Text& path, OpenedTable table, const Text& table_name,
                           const Query& query)
    : fs_(fs),
      path_(path),
      identity_(table.identity),
      file_(std::move(table.file)),
      header_(std::move(table.header)),
      table_name_(table_name),
      text_(header_.codepage) {
  for (size_t i = 0; i < header_.fields.size(); ++i) {
    const FieldDesc& f = header_.fields[i];
    if (f.hidden) continue;
    Column c;
    text_.Decode(reinterpret_cast<const uint8_t*>(f.name.data()), f.name.size(), &c.name);
    c.field = i;
    columns_.push_back(std::move(c));
  }

  op_ = query.op;
  if (op_ != Query::Op::All) {
    int index = Resolve(query.column);
    if (index < 0) Raise(kDbfColumnNotFound, u"Column " + query.column + u" is not in table " + table_name_);
    filter_field_ = &Desc(index);
    if (!IsText(filter_field_->type)) {
      Raise(kDbfTypeMismatch, u"Column " + query.column + u" of table " + table_name_ +
                                  u" holds no text and cannot be compared with a text");
    }
    filter_value_ = text_.Encode(query.value);
    while (!filter_value_.empty() && filter_value_.back() == ' ') filter_value_.pop_back();
  }

  rows_ = RecordsInFile(header_, table.file_size);
  // At least one record, so that rows appended later can still be read.
  block_.resize(RecordsPerBlock(header_, rows_) * header_.record_length);
  Advance();
}

DbfResultSet::~DbfResultSet() = default;

int DbfResultSet::Resolve(const Text& name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (SameName(columns_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

int DbfResultSet::ColumnIndex(const Text& name) const {
  // The scan asks for the same few names on every row: an exact compare
  // against the names seen so far saves the case-insensitive search.
  // A scan asks for its columns in the same order on every row, so the
  // name after the last one found is tried first.
  auto same = [&](const Text& a) {
    return a.size() == name.size() && std::memcmp(a.data(), name.data(), a.size() * sizeof(char16_t)) == 0;
  };
  if (expected_lookup_ < lookups_.size() && same(lookups_[expected_lookup_].name)) {
    return lookups_[expected_lookup_++].index;
  }
  for (size_t i = 0; i < lookups_.size(); ++i) {
    if (same(lookups_[i].name)) {
      expected_lookup_ = i + 1;
      return lookups_[i].index;
    }
  }
  int index = Resolve(name);
  if (lookups_.size() < kLookupSlots) {
    lookups_.push_back({name, index});
  } else {
    lookups_[next_lookup_slot_] = {name, index};
    next_lookup_slot_ = (next_lookup_slot_ + 1) % kLookupSlots;
  }
  return index;
}

Var DbfResultSet::Field(const Text& column) {
  if (!row_) Raise(kDbfNoCurrentRow, u"No current row: the result set of table " + table_name_ + u" is at its end");
  int index = ColumnIndex(column);
  if (index < 0) Raise(kDbfColumnNotFound, u"Column " + column + u" is not in table " + table_name_);
  return FieldAt(index);
}

void DbfResultSet::FieldText(const Text& column, Text& out, bool trimmed) {
  if (!row_) Raise(kDbfNoCurrentRow, u"No current row: the result set of table " + table_name_ + u" is at its end");
  int index = ColumnIndex(column);
  if (index < 0) Raise(kDbfColumnNotFound, u"Column " + column + u" is not in table " + table_name_);
  const FieldDesc& f = Desc(index);
  if (f.null_bit >= 0 && IsNull(header_, f, row_)) {
    out.clear();
  } else if (IsText(f.type)) {
    // A blank is byte 32 in every code page a table can have, and no part of
    // a multi-byte character, so the padding is cut before decoding.
    const uint8_t* p = row_ + f.offset;
    size_t n = TextLength(header_, f, row_);
    if (trimmed) {
      while (n > 0 && p[n - 1] == ' ') --n;
      while (n > 0 && *p == ' ') ++p, --n;
    }
    text_.Decode(p, n, &out);
  } else {
    out = TextForm(Value(header_, f, row_));
    if (trimmed) out = Trim(out);
  }
}

void DbfResultSet::AppendDialling(const Text& column, Text& out) {
  if (!row_) Raise(kDbfNoCurrentRow, u"No current row: the result set of table " + table_name_ + u" is at its end");
  int index = ColumnIndex(column);
  if (index < 0) Raise(kDbfColumnNotFound, u"Column " + column + u" is not in table " + table_name_);
  const FieldDesc& f = Desc(index);
  if (f.null_bit >= 0 && IsNull(header_, f, row_)) return;
  if (!IsText(f.type)) {
    ResultSet::AppendDialling(column, out);
    return;
  }
  // Digits, "*" and "#" lie below 0x40 in every code page a table can have,
  // where no byte of a multi-byte character does: the stored bytes are
  // enough, and the number scan skips decoding its column.
  const uint8_t* p = row_ + f.offset;
  const size_t n = TextLength(header_, f, row_);
  const size_t start = out.size();
  out.resize(start + n);
  char16_t* o = &out[start];
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (IsDialling(c)) *o++ = c;
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

Var DbfResultSet::FieldAt(int index) {
  if (!row_) Raise(kDbfNoCurrentRow, u"No current row: the result set of table " + table_name_ + u" is at its end");
  if (index < 0 || index >= ColumnCount()) {
    Raise(kDbfColumnNotFound, u"Column number " + FromAscii(std::to_string(index)) + u" is not in table " + table_name_);
  }
  const FieldDesc& f = Desc(index);
  if (f.null_bit >= 0 && IsNull(header_, f, row_)) return Var::Null();
  if (IsText(f.type)) {
    text_.Decode(row_ + f.offset, TextLength(header_, f, row_), &scratch_);
    return Var(scratch_);
  }
  return Value(header_, f, row_);
}

void DbfResultSet::MoveNext() {
  if (!row_) Raise(kDbfNoCurrentRow, u"No current row: the result set of table " + table_name_ + u" is at its end");
  Advance();
}

bool DbfResultSet::Matches(const uint8_t* record) const {
  const FieldDesc& f = *filter_field_;
  if (IsNull(header_, f, record)) return false;  // a null compares with nothing
  const uint8_t* p = record + f.offset;
  size_t n = TextLength(header_, f, record);
  while (n > 0 && p[n - 1] == ' ') --n;
  const auto* v = reinterpret_cast<const uint8_t*>(filter_value_.data());
  const size_t m = filter_value_.size();
  if (op_ == Query::Op::Equal) return n == m && std::memcmp(p, v, n) == 0;

  // Texts of different lengths compare as if the shorter were padded with
  // blanks, so trailing blanks never decide.
  int c = std::memcmp(p, v, std::min(n, m));
  if (c != 0) return c > 0;
  for (size_t i = m; i < n; ++i) {
    if (p[i] != ' ') return p[i] > ' ';
  }
  for (size_t i = n; i < m; ++i) {
    if (v[i] != ' ') return v[i] < ' ';
  }
  return true;  // equal
}

bool DbfResultSet::Stop(const Text& why) {
  ended_ = true;
  if (failure_.empty()) failure_ = why;
  return false;
}

bool DbfResultSet::Reopen(std::unique_ptr<DataFile>* file) {
  OpenedTable now;
  try {
    now = OpenTable(*fs_, path_, table_name_);
  } catch (const Failure& f) {
    // Gone (renamed away by a pack) or no longer a readable table.
    return Stop(f.description + u"; its scan ended after record " + Number(next_record_));
  }
  const Text ended = u"; its scan ended after record " + Number(next_record_);
  if ((identity_ && now.identity && now.identity != identity_) || !SameLayout(header_, now.header)) {
    return Stop(u"Table " + table_name_ + u" was replaced while it was read" + ended);
  }
  const uint64_t rows = RecordsInFile(now.header, now.file_size);
  // Fewer records than before, in the header or in the file: a pack moved
  // the rows not read yet.
  if (now.header.record_count < header_.record_count || rows < rows_) {
    return Stop(u"Table " + table_name_ + u" was packed while it was read" + ended);
  }
  header_.record_count = now.header.record_count;
  rows_ = rows;  // rows appended meanwhile are read too
  *file = std::move(now.file);
  return true;
}

bool DbfResultSet::NextBlock() {
  if (ended_ || block_.empty()) return false;
  // The query's own opening serves the first block; every later block opens
  // the file again, and it is closed when this returns.
  std::unique_ptr<DataFile> file = std::move(file_);
  if (!file && (!fs_ || !Reopen(&file))) return false;
  if (next_record_ >= rows_) {
    ended_ = true;
    return false;
  }
  const size_t reclen = header_.record_length;
  const size_t capacity = block_.size() / reclen;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity, rows_ - next_record_));
  block_records_ = ReadRecordBlock(*file, header_, next_record_, want, block_.data());
  in_block_ = 0;
  next_record_ += block_records_;
  if (block_records_ < want && !fs_) {
    ended_ = true;  // a caller's view: its maker knows why it read short
  } else if (block_records_ < want) {
    // The file was cut (a pack) or a read failed: the whole records read are
    // delivered, then the scan ends with the failure.
    Stop(u"Table " + table_name_ + u" could not be read past record " + Number(next_record_) +
         u" (cut by a pack, or a read error); its scan ended there");
  }
  if (!fs_) file_ = std::move(file);  // a caller's view stays open
  return block_records_ > 0;
}

void DbfResultSet::Advance() {
  row_ = nullptr;
  const size_t reclen = header_.record_length;
  for (;;) {
    if (in_block_ >= block_records_ && !NextBlock()) {
      Close();
      if (!failure_.empty()) {
        Text why;
        why.swap(failure_);  // raised once; the result set then stays at its end
        Raise(kDbfTableChanged, why);
      }
      return;
    }
    const uint8_t* record = block_.data() + in_block_ * reclen;
    ++in_block_;
    if (record[0] == '*') continue;  // deleted
    if (op_ != Query::Op::All && !Matches(record)) continue;
    row_ = record;
    return;
  }
}

void DbfResultSet::Close() {
  ended_ = true;
  file_.reset();
  block_records_ = 0;
  in_block_ = 0;
  std::vector<uint8_t>().swap(block_);
}

}  // namespace ledra::dbf
