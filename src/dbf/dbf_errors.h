// The engine's failure numbers, raised as Failure (base/errors.h) by every
// part of the engine and read by its callers.
#pragma once

namespace ledra {

// Failure numbers of the engine. 40002 stays the caller's "data source not
// found"; the engine never raises it, since a folder connection always opens.
constexpr int kDbfSqlError = 40071;        // not one of the three query shapes
constexpr int kDbfTableNotFound = 40072;   // no TABLE.dbf in the folder
constexpr int kDbfColumnNotFound = 40073;  // WHERE column or Field() name missing
constexpr int kDbfBadTable = 40074;        // not a table, or a corrupt header
constexpr int kDbfCannotOpen = 40075;      // the file system refused to open or read it
constexpr int kDbfNoCurrentRow = 40076;    // Field() or MoveNext() at the end of data
constexpr int kDbfTypeMismatch = 40077;    // WHERE on a column that is not text
constexpr int kDbfTableChanged = 40078;    // packed, replaced or cut while a result set read it

}  // namespace ledra
