// A result set over one .dbf file, read forwards in large blocks. The file
// is opened with full sharing for each block and closed again at once, so
// nothing is held between calls: the result set keeps only its record
// number. Each reopening checks that the table is still the one the query
// opened; a table packed or replaced meanwhile ends the scan with one
// failure, one that grew goes on to its new rows. Records marked deleted
// and rows the filter refuses are skipped with byte checks; values are
// decoded only when a column is asked for.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"
#include "dbf/connection.h"
#include "dbf/dbf_format.h"
#include "dbf/dbf_text.h"
#include "dbf/query.h"

namespace ledra::dbf {

// The header of a table file as it is now, and the file held open.
struct OpenedTable {
  std::unique_ptr<DataFile> file;
  Header header;
  uint64_t file_size = 0;
  uint64_t identity = 0;  // DataFile::Identity
  int64_t written = -1;   // DataFile::LastWriteTime
};

// What opening a table reads first: most headers come whole with it.
constexpr size_t kFirstHeaderRead = 4096;

// Opens the file at path and reads its header; throws Failure
// (kDbfCannotOpen, kDbfBadTable) with the table name in the description.
OpenedTable OpenTable(FileSystem& fs, const Text& path, const Text& table);

// Field names match ASCII letters without regard to case.
bool SameName(const Text& a, const Text& b);

// Reads until n bytes, the end of the file or an error; the count read.
size_t ReadFully(DataFile& file, uint64_t offset, uint8_t* buf, size_t n);

// Records are read in blocks of this many bytes: whole records, at least one.
constexpr size_t kBlockBytes = 256 * 1024;

// The records a block holds for reading `rows` records: all of them when
// they are few, else a block's worth; at least one.
size_t RecordsPerBlock(const Header& h, uint64_t rows);

// Reads up to `want` records from record `first` into block; the whole
// records read, fewer when the file ended or a read failed.
size_t ReadRecordBlock(DataFile& file, const Header& h, uint64_t first, size_t want, uint8_t* block);

// A table file opened for each read and closed after it, for a reader that
// takes long (the search keys' builds) and must not hold the file between
// blocks: Windows renames nothing over an open file, and the application
// packs a table into a copy it renames over the table. A read fails when
// it finds another file than `identity` at the path, a size other than
// `size` (unless -1), or when go_on (if given) says to stop.
class ReopenedFile : public DataFile {
 public:
  ReopenedFile(FileSystem& fs, Text path, uint64_t identity, int64_t size = -1,
               std::function<bool()> go_on = nullptr)
      : fs_(fs), path_(std::move(path)), identity_(identity), size_(size), go_on_(std::move(go_on)) {}
  int64_t ReadAt(uint64_t offset, void* buf, size_t n) override;
  int64_t Size() override;

 private:
  std::unique_ptr<DataFile> Open();
  FileSystem& fs_;
  Text path_;
  uint64_t identity_;
  int64_t size_;
  std::function<bool()> go_on_;
};

// Reads the first `rows` records in blocks, handing each block to take
// (which may refuse, ending the read); the records read, fewer when the
// file ended early, a read failed, take refused or *stop was set between
// two blocks (stop may be nullptr).
uint64_t ReadRecords(DataFile& file, const Header& h, uint64_t rows, const std::atomic<bool>* stop,
                     const std::function<bool(const uint8_t* block, size_t records)>& take);

class DbfResultSet : public ResultSet {
 public:
  // Runs the query on the opened table (at path in fs, where later blocks
  // are read from): resolves the filter column, encodes the value, reads the
  // first block, closes the file and stands on the first row. Throws Failure
  // for a missing filter column (kDbfColumnNotFound) or one that holds no
  // text (kDbfTypeMismatch). A table that changes under the scan makes
  // MoveNext fail once (kDbfTableChanged) and leaves it at the end.
  DbfResultSet(FileSystem& fs, const Text& path, OpenedTable table, const Text& table_name, const Query& query);
  // Over a file the caller made for this result set alone (a view of some
  // records, not a table on disk): it is read from for the result set's
  // life, never opened again.
  DbfResultSet(OpenedTable table, const Text& table_name, const Query& query);
  ~DbfResultSet() override;

  bool Eof() override { return row_ == nullptr; }
  Var Field(const Text& column) override;
  void FieldText(const Text& column, Text& out, bool trimmed) override;
  void AppendDialling(const Text& column, Text& out) override;
  void MoveNext() override;

  // Direct access for callers that read many rows: resolve names once.
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  const Text& ColumnName(int index) const { return columns_[static_cast<size_t>(index)].name; }
  int ColumnIndex(const Text& name) const;  // -1 when missing
  Var FieldAt(int index);                   // index from ColumnIndex; fails at Eof
  const Header& header() const { return header_; }

 private:
  struct Column {
    Text name;
    size_t field;  // index in header_.fields
  };
  const FieldDesc& Desc(int index) const { return header_.fields[columns_[static_cast<size_t>(index)].field]; }
  int Resolve(const Text& name) const;
  bool Matches(const uint8_t* record) const;
  void Advance();    // to the next live row the filter accepts, or to the end
  bool NextBlock();  // false at the end of data
  bool Reopen(std::unique_ptr<DataFile>* file);  // false when the table changed
  bool Stop(const Text& why);                    // ends the scan with a failure; false
  void Close();

  DbfResultSet(FileSystem* fs, const Text& path, OpenedTable table, const Text& table_name, const Query& query);

  FileSystem* fs_;  // nullptr: file_ is kept for the result set's life
  Text path_;
  uint64_t identity_ = 0;
  std::unique_ptr<DataFile> file_;  // the query's own opening, for the first block only
  Header header_;
  Text table_name_;
  TableText text_;
  std::vector<Column> columns_;

  // The filter on raw stored bytes.
  Query::Op op_ = Query::Op::All;
  const FieldDesc* filter_field_ = nullptr;
  std::string filter_value_;  // encoded, trailing blanks removed

  // Reading.
  std::vector<uint8_t> block_;
  uint64_t rows_ = 0;          // records to read, from the header bounded by the file
  bool ended_ = false;         // no block is read any more
  Text failure_;               // why the scan ended early; raised once
  uint64_t next_record_ = 0;   // first record not yet read into the block
  size_t block_records_ = 0;   // whole records in the block
  size_t in_block_ = 0;        // current record's index in the block
  const uint8_t* row_ = nullptr;

  // Names the caller looked up, exactly as written, and their columns.
  struct Lookup {
    Text name;
    int index;
  };
  mutable std::vector<Lookup> lookups_;
  mutable size_t next_lookup_slot_ = 0;
  mutable size_t expected_lookup_ = 0;
  Text scratch_;
};

}  // namespace ledra::dbf
