// The dBase reader: the input is a table file, read through the same file
// interface as the plug-in's, every row and column as text, then through
// the two filters. Nothing is set up per input beyond the result sets.
#include <algorithm>
#include <cstring>
#include <memory>

#include "base/errors.h"
#include "dbf/dbf_connection.h"
#include "dbf/dbf_table.h"
#include "dbf/query.h"
#include "fuzz_support.h"

namespace ledra::fuzz {
namespace {

// One file, the current input, without copying it.
class InputFile : public DataFile {
 public:
  InputFile(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int64_t ReadAt(uint64_t offset, void* buf, size_t n) override {
    if (offset >= size_) return 0;
    size_t take = std::min<uint64_t>(n, size_ - offset);
    std::memcpy(buf, data_ + offset, take);
    return static_cast<int64_t>(take);
  }
  int64_t Size() override { return static_cast<int64_t>(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
};

class InputFiles : public FileSystem {
 public:
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::unique_ptr<DataFile> OpenShared(const Text&, Text*) override { return std::make_unique<InputFile>(data, size); }
  std::vector<Text> List(const Text&) override { return {u"t.dbf"}; }
  bool FolderExists(const Text&) override { return true; }
  Text Join(const Text&, const Text& name) const override { return name; }
};

// Reads every row and column; the first column's name, "" for none.
Text ReadAll(InputFiles& files, const dbf::Query& query) {
  dbf::DbfResultSet rs(files, u"t.dbf", dbf::OpenTable(files, u"t.dbf", u"t"), u"t", query);
  Text first = rs.ColumnCount() > 0 ? rs.ColumnName(0) : Text();
  Text value;
  for (int rows = 0; !rs.Eof() && rows < 100000; ++rows) {
    for (int i = 0; i < rs.ColumnCount(); ++i) {
      const Text& name = rs.ColumnName(i);
      try {
        rs.FieldText(name, value, true);
        value.clear();
        rs.AppendDialling(name, value);
        rs.FieldAt(i);
      } catch (const Failure&) {
        // A column whose name repeats an earlier one, or an unreadable value.
      }
    }
    rs.MoveNext();
  }
  return first;
}

}  // namespace
}  // namespace ledra::fuzz

LEDRA_FUZZ_TARGET {
  static InputFiles files;
  UsePlatform().files = &files;
  files.data = data;
  files.size = size;
  try {
    const Text first = ReadAll(files, dbf::Query{u"t"});
    // The filters compare stored bytes: on the first column, with a value
    // taken from the end of the input.
    if (!first.empty()) {
      Text value = TextOf(data + size - std::min<size_t>(size, 3), std::min<size_t>(size, 3));
      for (auto op : {dbf::Query::Op::Equal, dbf::Query::Op::AtLeast}) {
        try {
          ReadAll(files, dbf::Query{u"t", op, first, value});
        } catch (const Failure&) {
          // The first column holds no text.
        }
      }
    }
  } catch (const Failure&) {
    // Not a table: a clean failure is the answer.
  }
}
