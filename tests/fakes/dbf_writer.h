// Builds .dbf files for the table tests: any version byte, field list, code
// page mark and rows, with the Visual FoxPro extras (_NullFlags, back-link)
// done the way FoxPro writes them, plus helpers to damage a header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ledra::testing {

struct DbfFieldSpec {
  std::string name;
  char type = 'C';
  int length = 10;
  int decimals = 0;
  bool nullable = false;
};

// A value as a test writes it; std::nullopt is a null (Visual FoxPro only).
//   C, V, Q, D, L, N, F: the stored text (C padded with blanks, N/F
//     right-aligned, V/Q shorter values get the varlength mark);
//   I, B, Y: a number in decimal ("-12", "2.5", "12.3456");
//   T: "YYYYMMDD HH:MM:SS" or "" for an empty datetime;
//   M, G, W, P: a block number in decimal (blank for none).
using DbfValue = std::optional<std::string>;

class DbfWriter {
 public:
  explicit DbfWriter(uint8_t version = 0x03) : version_(version) {}

  DbfWriter& CodePage(uint8_t mark) { codepage_ = mark; return *this; }
  DbfWriter& Field(const std::string& name, char type, int length, int decimals = 0, bool nullable = false) {
    fields_.push_back({name, type, length, decimals, nullable});
    return *this;
  }
  DbfWriter& Row(std::vector<DbfValue> values, bool deleted = false) {
    entries_.push_back({false, {}, std::move(values), deleted});
    return *this;
  }
  DbfWriter& DeletedRow(std::vector<DbfValue> values) { return Row(std::move(values), true); }
  // A record exactly as given, delete flag included; its length is the
  // test's business.
  DbfWriter& RawRecord(std::string bytes) {
    entries_.push_back({true, std::move(bytes), {}, false});
    return *this;
  }
  // Visual FoxPro tables carry the 263-byte back-link unless told not to.
  DbfWriter& Backlink(bool on) { backlink_ = on; return *this; }
  DbfWriter& EofMarker(bool on) { eof_marker_ = on; return *this; }
  // dBase 7 layout (version 0x04/0x8C): 48-byte descriptors.
  DbfWriter& Level7(bool on) { level7_ = on; return *this; }

  std::string Build() const;

  size_t HeaderLength() const;
  size_t RecordLength() const;
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
  struct Laid {
    DbfFieldSpec field;
    size_t offset;
    uint8_t flags;
    int varlen_bit = -1;
    int null_bit = -1;
  };
  std::vector<Laid> Layout() const;
  bool Vfp() const { return version_ == 0x30 || version_ == 0x31 || version_ == 0x32; }
  bool HasBacklink() const { return backlink_.value_or(Vfp()); }

  uint8_t version_;
  uint8_t codepage_ = 0;
  std::vector<DbfFieldSpec> fields_;
  struct Entry {
    bool raw;
    std::string bytes;
    std::vector<DbfValue> values;
    bool deleted;
  };
  std::string Encode(const std::vector<Laid>& laid, const Entry& e) const;
  std::vector<Entry> entries_;
  std::optional<bool> backlink_;
  bool eof_marker_ = true;
  bool level7_ = false;
};

}  // namespace ledra::testing
