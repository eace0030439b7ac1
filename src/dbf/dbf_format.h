// The dBase table file layout: header, field descriptors and the stored
// forms of the values, for dBase III/IV/7, FoxBASE, FoxPro 2.x and Visual
// FoxPro free tables. Pure functions over bytes: no file access, so every
// bound here is checked against the lengths the caller passes in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/variant.h"

namespace ledra::dbf {

constexpr size_t kFixedHeader = 32;      // bytes before the first descriptor
constexpr size_t kMaxHeader = 0xFFFF;    // the header length is 16 bits

// Field flags of Visual FoxPro descriptors (byte 18).
constexpr uint8_t kFlagSystem = 0x01;
constexpr uint8_t kFlagNullable = 0x02;
constexpr uint8_t kFlagBinary = 0x04;

struct FieldDesc {
  std::string name;        // as stored, up to the first NUL
  char type = 0;           // 'C', 'N', ... upper case
  uint32_t offset = 0;     // from the start of the record (the delete flag is byte 0)
  uint32_t length = 0;
  uint8_t decimals = 0;
  uint8_t flags = 0;       // Visual FoxPro only; 0 for the other formats
  int null_bit = -1;       // bit of _NullFlags that marks a null, -1 for none
  int varlen_bit = -1;     // V/Q: bit that says the length is in the last byte
  bool hidden = false;     // system columns (_NullFlags) are not columns of a row
};

struct Header {
  uint8_t version = 0;
  bool level7 = false;          // dBase 7: 48-byte descriptors, big-endian numbers
  int update_year = 0, update_month = 0, update_day = 0;
  uint32_t record_count = 0;    // what the header claims
  uint32_t header_length = 0;
  uint32_t record_length = 0;
  uint8_t table_flags = 0;
  uint8_t codepage_mark = 0;
  uint32_t codepage = 0;        // Windows code page; 0 = the machine's ANSI code page
  std::vector<FieldDesc> fields;  // every descriptor, hidden ones included
  int nullflags = -1;           // index in fields of _NullFlags, -1 when absent
};

// Whether the version byte is one this reader knows, and its description
// ("Visual FoxPro", "dBase III, with memo", ...); "" for unknown bytes.
const char* FormatName(uint8_t version);
bool IsVisualFoxPro(uint8_t version);

// The Windows code page of a code page mark (header byte 29); 0 for the
// ANSI code page, which is also the answer for an unknown mark.
uint32_t CodePageOfMark(uint8_t mark);

// The header length a file declares (bytes 8-9); 0 when n < 32.
uint32_t DeclaredHeaderLength(const uint8_t* bytes, size_t n);

// Parses a whole header: `bytes` holds its first n bytes (n is the header
// length, or less when the file is shorter) of a file of file_size bytes.
// Checks everything a reader relies on: known version, at least one field,
// fields inside the record, header and first record inside the file. On
// failure returns false with *error describing the fault.
bool ParseHeader(const uint8_t* bytes, size_t n, uint64_t file_size, Header* out, std::string* error);

// How many whole records of the table the file really holds: the header's
// count, but never more than the file's size has room for.
uint64_t RecordsInFile(const Header& h, uint64_t file_size);

// A record's _NullFlags bit; false when the table has none or it is short.
bool NullBit(const Header& h, const uint8_t* record, int bit);
bool IsNull(const Header& h, const FieldDesc& f, const uint8_t* record);

// The stored text bytes of a C or V field: C keeps its blanks, V is cut to
// the length its last byte gives when the varlength bit says so.
size_t TextLength(const Header& h, const FieldDesc& f, const uint8_t* record);

// Whether a field's value is text the caller decodes with the code page.
inline bool IsText(char type) { return type == 'C' || type == 'V'; }

// The value of a field that is not text (see IsText), nulls not considered:
// N/F Double (blank 0, unreadable Null), I Long, B Double, Y Currency,
// D Date (blank or invalid Null), T Date with time (empty Null),
// L Boolean (? or blank Null); memo, general, blob, varbinary and unknown
// types Null. A field whose length does not fit its type gives Null.
Var Value(const Header& h, const FieldDesc& f, const uint8_t* record);

// OLE date of a civil date (proleptic Gregorian).
double OleDateOf(int year, int month, int day);

}  // namespace ledra::dbf
