// A connection over a folder of dBase free tables, read by the embedded
// engine. Opening it touches no file: each result set opens its table for
// every block it reads and closes it again at once.
//
// The engine answers three query shapes only, the ones the plug-in writes:
//   select * from TABLE
//   select * from TABLE where COLUMN = 'value'    (trailing blanks ignored)
//   select * from TABLE where COLUMN >= 'value'   (byte order of the stored text)
// Keywords, table and column names are matched without regard to case;
// TABLE is the file TABLE.dbf in the folder. Deleted records are left out,
// null flags give nulls, comparisons are case-sensitive in the byte order of
// the table's code page (the machine collating sequence).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/text.h"
#include "dbf/connection.h"
#include "dbf/dbf_errors.h"

namespace ledra {

std::shared_ptr<Connection> OpenDbfFolder(const Text& folder);

// The path of TABLE.dbf in folder, the file name matched without regard to
// case; fails (kDbfTableNotFound) when there is none.
Text FindTableFile(FileSystem& fs, const Text& folder, const Text& table);

// What a `check` command shows of one table.
struct DbfFieldInfo {
  Text name;
  char type = 0;
  uint32_t offset = 0;  // in the record; byte 0 is the delete flag
  uint32_t length = 0;
  uint8_t decimals = 0;
  bool nullable = false;
  bool hidden = false;  // system field such as _NullFlags
};

struct TableInfo {
  Text path;                     // the file found for the table name
  uint8_t version = 0;
  Text format;                   // description of the version byte
  int update_year = 0, update_month = 0, update_day = 0;
  uint8_t codepage_mark = 0;
  uint32_t codepage = 0;         // 0: the machine's ANSI code page
  uint32_t header_length = 0;
  uint32_t record_length = 0;
  uint32_t header_records = 0;   // the record count the header claims
  uint64_t file_size = 0;
  uint64_t file_records = 0;     // whole records the file has room for
  uint64_t rows = 0;             // records read (header count bounded by the file)
  uint64_t deleted = 0;          // of those, marked deleted
  std::vector<DbfFieldInfo> fields;
};

// Reads the header and every record of TABLE.dbf in folder (TABLE with or
// without ".dbf", matched without regard to case). Fails with the numbers
// above when the table is missing or its header is unusable.
TableInfo InspectTable(const Text& folder, const Text& table);

}  // namespace ledra
