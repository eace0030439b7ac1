// Sample accounting data: a company's customer and supplier tables (prefix +
// "sname.dbf", prefix + "pname.dbf") with realistic UK names, numbers and
// addresses, streamed to disk by the dBase writer. Used by the demo, the
// tests and the benchmark. Portable: standard C++ and std::FILE only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ledra::sample {

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

}  // namespace ledra::sample
