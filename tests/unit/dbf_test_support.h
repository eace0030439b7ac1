// Shared by the table engine tests: a fake platform with an in-memory data
// folder, and a readable form of values for table-driven expectations.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/calendar.h"
#include "base/errors.h"
#include "dbf/dbf_connection.h"
#include "fakes/fake_platform.h"
#include "fakes/memory_files.h"

namespace ledra::testing {

// "null", "'text'", "D2.5", "I-7", "Y123456" (scaled), "T2024-01-02 03:04:05",
// "true"/"false".
inline std::string Show(const Var& v) {
  char buf[96];
  switch (v.kind()) {
    case VarKind::Null: return "null";
    case VarKind::Empty: return "empty";
    case VarKind::String: return "'" + ToUtf8(v.text()) + "'";
    case VarKind::Double: std::snprintf(buf, sizeof buf, "D%.15g", v.number()); return buf;
    case VarKind::Long: std::snprintf(buf, sizeof buf, "I%.0f", v.number()); return buf;
    case VarKind::Currency: return "Y" + std::to_string(v.currency());
    case VarKind::Boolean: return v.number() != 0 ? "true" : "false";
    case VarKind::Date: {
      double d = v.number();
      // OLE dates before 1900 count the time backwards from their day.
      long day = static_cast<long>(std::trunc(d));
      long secs = std::lround(std::fabs(d - day) * 86400.0);
      int yy, mm, dd;
      CivilFromOleDay(day, &yy, &mm, &dd);
      std::snprintf(buf, sizeof buf, "T%04d-%02d-%02d %02ld:%02ld:%02ld", yy, mm, dd, secs / 3600, secs / 60 % 60,
                    secs % 60);
      return buf;
    }
    default: return "other";
  }
}

class DbfFolderTest : public PlatformTest {
 protected:
  DbfFolderTest() {
    sys.platform.files = &files;
    files.MakeFolder(u"/data");
    conn = OpenDbfFolder(u"/data");
  }

  MemoryFiles::Bytes Put(const std::string& name, const std::string& bytes) {
    return files.Put(u"/data/" + FromUtf8(name), bytes);
  }
  std::shared_ptr<ResultSet> Open(const std::string& sql) { return conn->OpenResultset(FromUtf8(sql)); }

  // Every row's value of a column, shown.
  std::vector<std::string> Column(const std::string& sql, const std::string& column) {
    std::vector<std::string> out;
    auto rs = Open(sql);
    for (; !rs->Eof(); rs->MoveNext()) out.push_back(Show(rs->Field(FromUtf8(column))));
    return out;
  }

  // The failure of a query: number and description, or {0, ""} for none.
  std::pair<int, std::string> FailureOf(const std::string& sql) {
    try {
      Open(sql);
    } catch (const Failure& f) {
      return {f.number, ToUtf8(f.description)};
    }
    return {0, ""};
  }

  MemoryFiles files;
  std::shared_ptr<Connection> conn;
};

}  // namespace ledra::testing
