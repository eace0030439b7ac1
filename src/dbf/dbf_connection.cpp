#include "dbf/dbf_connection.h"

#include <algorithm>

#include "base/errors.h"
#include "base/platform.h"
#include "dbf/dbf_table.h"
#include "dbf/query.h"

namespace ledra {

namespace {

FileSystem& Files() {
  FileSystem* fs = Sys().files;
  if (!fs) Raise(kDbfCannotOpen, u"No file system to read tables from");
  return *fs;
}

bool EndsWithDbf(const Text& s) {
  return s.size() >= 4 && dbf::SameName(s.substr(s.size() - 4), u".dbf");
}

}  // namespace

// The accounting application's files may be named in any case while the
// file system may match case exactly, so the folder's listing decides; an
// exact spelling wins over the others.
Text FindTableFile(FileSystem& fs, const Text& folder, const Text& table) {
  const Text wanted = table + u".dbf";
  std::vector<Text> names = fs.List(folder);
  std::sort(names.begin(), names.end());
  const Text* found = nullptr;
  for (const Text& n : names) {
    if (n == wanted) return fs.Join(folder, n);
    if (!found && dbf::SameName(n, wanted)) found = &n;
  }
  if (found) return fs.Join(folder, *found);
  if (names.empty()) {
    // A folder that cannot be listed may still be readable.
    Text path = fs.Join(folder, wanted);
    Text ignored;
    if (fs.OpenShared(path, &ignored)) return path;
  }
  Raise(kDbfTableNotFound, u"File '" + wanted + u"' does not exist in " + folder);
}

namespace {

class DbfConnection : public Connection {
 public:
  explicit DbfConnection(Text folder) : folder_(std::move(folder)) {}

  std::shared_ptr<ResultSet> OpenResultset(const Text& sql) override {
    dbf::Query q = dbf::ParseQuery(sql);
    FileSystem& fs = Files();
    Text path = FindTableFile(fs, folder_, q.table);
    return std::make_shared<dbf::DbfResultSet>(fs, path, dbf::OpenTable(fs, path, q.table), q.table, q);
  }

 private:
  Text folder_;
};

}  // namespace

std::shared_ptr<Connection> OpenDbfFolder(const Text& folder) {
  // A data source whose folder is gone is unusable, so that it gets
  // registered anew with the folder the settings name now.
  if (!Files().FolderExists(folder)) {
    Raise(kDbfCannotOpen, u"The data folder " + folder + u" does not exist or cannot be read");
  }
  return std::make_shared<DbfConnection>(folder);
}

TableInfo InspectTable(const Text& folder, const Text& table) {
  Text name = EndsWithDbf(table) ? table.substr(0, table.size() - 4) : table;
  FileSystem& fs = Files();
  TableInfo info;
  info.path = FindTableFile(fs, folder, name);
  dbf::OpenedTable t = dbf::OpenTable(fs, info.path, name);
  const dbf::Header& h = t.header;
  info.version = h.version;
  info.format = FromAscii(dbf::FormatName(h.version));
  info.update_year = h.update_year;
  info.update_month = h.update_month;
  info.update_day = h.update_day;
  info.codepage_mark = h.codepage_mark;
  info.codepage = h.codepage;
  info.header_length = h.header_length;
  info.record_length = h.record_length;
  info.header_records = h.record_count;
  info.file_size = t.file_size;
  info.file_records = t.file_size > h.header_length ? (t.file_size - h.header_length) / h.record_length : 0;
  dbf::TableText text(h.codepage);
  for (const dbf::FieldDesc& f : h.fields) {
    DbfFieldInfo fi;
    text.Decode(reinterpret_cast<const uint8_t*>(f.name.data()), f.name.size(), &fi.name);
    fi.type = f.type;
    fi.offset = f.offset;
    fi.length = f.length;
    fi.decimals = f.decimals;
    fi.nullable = f.null_bit >= 0;
    fi.hidden = f.hidden;
    info.fields.push_back(std::move(fi));
  }

  // Count the records by their delete flags, in the same blocks a query reads.
  const size_t reclen = h.record_length;
  info.rows = dbf::ReadRecords(*t.file, h, dbf::RecordsInFile(h, t.file_size), nullptr,
                               [&](const uint8_t* block, size_t n) {
                                 for (size_t i = 0; i < n; ++i) info.deleted += block[i * reclen] == '*';
                                 return true;
                               });
  return info;
}

}  // namespace ledra
