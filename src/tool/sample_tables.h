// Sample accounting data: a streaming writer of dBase tables and a generator
// of a company's customer and supplier tables (prefix + "sname.dbf",
// prefix + "pname.dbf") with realistic UK names, numbers and addresses.
// Used by the demo, the tests and the benchmark; rows go to disk in large
// blocks, so a table of any size needs the same small amount of memory.
// Portable: standard C++ and std::FILE only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace ledra::sample {

struct FieldSpec {
  std::string name;   // up to 10 characters
  char type = 'C';    // C, N, D or L
  int length = 10;
  int decimals = 0;
  bool nullable = false;  // Visual FoxPro only
};

// Writes one table front to back: header, then rows, then the record count
// and the end-of-file mark when it is closed. Values are placed straight
// into a reused record buffer; nothing is allocated per row.
class DbfStreamWriter {
 public:
  struct Options {
    uint8_t version = 0x03;        // 0x03 FoxPro 2.x / dBase III, 0x30 Visual FoxPro
    uint8_t codepage_mark = 0x03;  // 0x03: Windows ANSI 1252
    int year = 2024, month = 1, day = 2;  // "last updated" in the header
    size_t buffer_bytes = 1 << 20;
  };

  DbfStreamWriter() = default;
  ~DbfStreamWriter();
  DbfStreamWriter(const DbfStreamWriter&) = delete;
  DbfStreamWriter& operator=(const DbfStreamWriter&) = delete;

  // Creates (replaces) the file and writes the header; throws
  // std::runtime_error when the file cannot be written or the layout is
  // impossible.
  void Open(const std::string& path, const std::vector<FieldSpec>& fields, const Options& options);

  // One row: BeginRow, any Set calls (fields not set stay blank), EndRow.
  void BeginRow(bool deleted = false);
  void SetText(int field, std::string_view bytes);  // stored bytes, cut to the width
  void SetNumber(int field, double value);          // right-aligned with the field's decimals
  void SetDate(int field, int year, int month, int day);
  void SetLogical(int field, bool value);
  void SetNull(int field);                          // VFP nullable fields only
  void EndRow();

  // Patches the record count, adds the end mark and closes; throws on a
  // write failure.
  void Close();

  size_t header_length() const { return header_length_; }
  size_t record_length() const { return record_.size(); }
  uint64_t rows() const { return rows_; }
  int field_count() const { return static_cast<int>(fields_.size()); }

 private:
  struct Laid {
    FieldSpec field;
    size_t offset = 0;
    int null_bit = -1;
  };
  void Flush();
  void Fail(const std::string& what);

  std::FILE* file_ = nullptr;
  std::string path_;
  std::vector<Laid> fields_;
  size_t nullflags_offset_ = 0;
  size_t nullflags_length_ = 0;
  size_t header_length_ = 0;
  std::string blank_;   // a record with every field blank
  std::string record_;  // the row being built
  std::vector<char> buffer_;
  size_t buffered_ = 0;
  uint64_t rows_ = 0;
  bool vfp_ = false;
};

// Contacts the generator writes at fixed places, so the demo and the tests
// can look them up. No other row carries their telephone digits.
struct KnownContact {
  const char* table;     // "pn" supplier table, "sn" customer table
  int position;          // record number in the table, from 0
  const char* account;
  const char* contact;
  const char* name;
  const char* teleno;
  const char* faxno;
  const char* addr1;
  const char* addr2;
  const char* addr3;
  const char* pstcode;
  const char* dialled;   // the digits a caller's line shows ("" for none)
};
const std::vector<KnownContact>& KnownContacts();

// A well-formed number that no generated row contains: a search for it
// reads both tables to the end.
constexpr const char* kAbsentNumber = "09876 543210";

// The digits 0-9 of s.
std::string DigitsOf(std::string_view s);

struct CompanyOptions {
  bool visual_foxpro = false;   // version 0x30 with nullable columns; else 0x03
  bool known_contacts = true;   // the KnownContacts() rows at their positions
  int deleted_percent = 2;      // of the random rows, marked deleted
};

struct TableSummary {
  std::string path;
  uint64_t records = 0;  // written, deleted ones included
  uint64_t deleted = 0;
  uint32_t record_length = 0;
  uint64_t file_bytes = 0;
};

struct CompanySummary {
  TableSummary customers;  // prefix + "sname.dbf"
  TableSummary suppliers;  // prefix + "pname.dbf"
};

// Writes both tables into folder (which must exist), rows_per_table records
// each (known contacts and deleted ones included). The same arguments give
// the same bytes. Throws std::runtime_error on a write failure.
CompanySummary GenerateCompany(const std::string& folder, const std::string& prefix, uint64_t rows_per_table,
                               uint64_t seed, const CompanyOptions& options = CompanyOptions());

// The column layout of one table ("sn" or "pn"), in file order.
std::vector<FieldSpec> CompanyFields(const std::string& code, bool visual_foxpro);

}  // namespace ledra::sample
