// Writes dBase tables: the sample company's tables, streamed to disk, and
// small tables built whole in memory (any version byte, field type, code
// page mark and row, the Visual FoxPro extras done the way FoxPro writes
// them, and helpers to damage a header) for the engine's tests.
// Portable: standard C++ and std::FILE only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ledra::tool {

struct DbfField {
  std::string name;       // up to 10 characters (31 in the dBase 7 layout)
  char type = 'C';
  int length = 10;
  int decimals = 0;
  bool nullable = false;  // Visual FoxPro only
};

// A value as it is written; std::nullopt is a null (Visual FoxPro only).
//   C, V, Q, D, L, N, F: the stored text (C padded with blanks, N/F
//     right-aligned, V/Q shorter values get the varlength mark);
//   I, +, B, O, Y: a number in decimal ("-12", "2.5", "12.3456");
//   T: "YYYYMMDD HH:MM:SS" or "" for an empty datetime;
//   M, G, W, P: a block number in decimal (blank for none).
using DbfValue = std::optional<std::string>;

struct DbfFormat {
  uint8_t version = 0x03;        // 0x03 FoxPro 2.x / dBase III, 0x30 Visual FoxPro, ...
  uint8_t codepage_mark = 0;     // 0x03: Windows ANSI 1252
  int year = 2024, month = 1, day = 2;  // "last updated" in the header
  std::optional<bool> backlink;  // the 263-byte back-link; Visual FoxPro tables have it
  bool level7 = false;           // dBase 7 layout (version 0x04/0x8C): 48-byte descriptors
};

// Where each field lies in a record, and how the header and the values are
// written. Fields keep their order; a Visual FoxPro table with nullable or
// variable-length fields gets the hidden _NullFlags field after them.
class DbfLayout {
 public:
  // Throws std::invalid_argument for a table without fields or too wide for
  // a dBase header.
  DbfLayout(const std::vector<DbfField>& fields, const DbfFormat& format);

  size_t header_length() const { return header_length_; }
  size_t record_length() const { return blank_.size(); }
  int field_count() const { return field_count_; }
  const DbfField& field(int i) const { return laid_.at(static_cast<size_t>(i)).field; }

  // The header of a table of `records` records.
  std::string Header(uint32_t records) const;
  // A record whose fields all hold the empty value, not deleted.
  const std::string& BlankRecord() const { return blank_; }
  // Writes value into field (from 0) of record, which is record_length()
  // bytes long; sets or clears the field's null and varlength bits.
  void Put(char* record, int field, std::optional<std::string_view> value) const;
  bool CanBeNull(int field) const { return laid_.at(static_cast<size_t>(field)).null_bit >= 0; }

 private:
  struct Laid {
    DbfField field;
    size_t offset = 0;
    int varlen_bit = -1;
    int null_bit = -1;
  };
  bool Vfp() const;
  void SetBit(char* record, int bit, bool on) const;

  DbfFormat format_;
  std::vector<Laid> laid_;  // the fields, then _NullFlags when there is one
  int field_count_ = 0;
  size_t header_length_ = 0;
  std::string blank_;
};

// A table built whole in memory, for tests: Field and Row calls, then Build.
class DbfWriter {
 public:
  explicit DbfWriter(uint8_t version = 0x03) { format_.version = version; }

  DbfWriter& CodePage(uint8_t mark) { format_.codepage_mark = mark; return *this; }
  DbfWriter& Field(const std::string& name, char type, int length, int decimals = 0, bool nullable = false) {
    fields_.push_back({name, type, length, decimals, nullable});
    return *this;
  }
  // Fields without a value hold the empty one.
  DbfWriter& Row(std::vector<DbfValue> values, bool deleted = false) {
    entries_.push_back({false, {}, std::move(values), deleted});
    return *this;
  }
  DbfWriter& DeletedRow(std::vector<DbfValue> values) { return Row(std::move(values), true); }
  // A record exactly as given, delete flag included; its length is the
  // caller's business.
  DbfWriter& RawRecord(std::string bytes) {
    entries_.push_back({true, std::move(bytes), {}, false});
    return *this;
  }
  DbfWriter& Backlink(bool on) { format_.backlink = on; return *this; }
  DbfWriter& EofMarker(bool on) { eof_marker_ = on; return *this; }
  DbfWriter& Level7(bool on) { format_.level7 = on; return *this; }

  std::string Build() const;

  size_t HeaderLength() const { return DbfLayout(fields_, format_).header_length(); }
  size_t RecordLength() const { return DbfLayout(fields_, format_).record_length(); }
  int rows() const { return static_cast<int>(entries_.size()); }

  // Header damage.
  static void SetU16(std::string* file, size_t at, uint16_t v);
  static void SetU32(std::string* file, size_t at, uint32_t v);
  static constexpr size_t kRecordCountAt = 4;
  static constexpr size_t kHeaderLengthAt = 8;
  static constexpr size_t kRecordLengthAt = 10;
  static constexpr size_t kCodePageAt = 29;
  // Where the nth descriptor (from 0) starts, and its length byte.
  static size_t DescriptorAt(int n) { return 32 + 32 * static_cast<size_t>(n); }
  static size_t FieldLengthAt(int n) { return DescriptorAt(n) + 16; }

 private:
  struct Entry {
    bool raw;
    std::string bytes;
    std::vector<DbfValue> values;
    bool deleted;
  };
  DbfFormat format_;
  std::vector<DbfField> fields_;
  std::vector<Entry> entries_;
  bool eof_marker_ = true;
};

// Writes one table to a file front to back: header, then rows, then the
// record count and the end-of-file mark when it is closed. Values go straight
// into a reused record and rows to disk in large blocks: a table of any size
// needs the same small amount of memory and nothing is allocated per row.
class DbfStreamWriter {
 public:
  DbfStreamWriter() = default;
  ~DbfStreamWriter();
  DbfStreamWriter(const DbfStreamWriter&) = delete;
  DbfStreamWriter& operator=(const DbfStreamWriter&) = delete;

  // Creates (replaces) the file and writes the header; throws
  // std::runtime_error when the file cannot be written, std::invalid_argument
  // when the layout is impossible.
  void Open(const std::string& path, const std::vector<DbfField>& fields, const DbfFormat& format,
            size_t buffer_bytes = 1 << 20);

  // One row: BeginRow, any Set calls (fields not set stay blank), EndRow.
  void BeginRow(bool deleted = false);
  void SetText(int field, std::string_view bytes);  // stored bytes, cut to the width
  void SetNumber(int field, double value);          // right-aligned with the field's decimals
  void SetDate(int field, int year, int month, int day);
  void SetLogical(int field, bool value);
  void SetNull(int field);                          // nullable fields only
  void EndRow();

  // Patches the record count, adds the end mark and closes; throws on a
  // write failure.
  void Close();

  size_t header_length() const { return layout_ ? layout_->header_length() : 0; }
  size_t record_length() const { return record_.size(); }
  uint64_t rows() const { return rows_; }

 private:
  void Flush();
  [[noreturn]] void Fail(const std::string& what);

  std::FILE* file_ = nullptr;
  std::string path_;
  std::optional<DbfLayout> layout_;
  std::string record_;  // the row being built
  std::vector<char> buffer_;
  size_t buffered_ = 0;
  uint64_t rows_ = 0;
};

}  // namespace ledra::tool
