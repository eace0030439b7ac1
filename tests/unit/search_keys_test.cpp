// The search key cache answers exactly as the scan does, over tables that
// change between searches, and from several threads at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/vars.h"
#include "contacts/data_source.h"
#include "search/search_keys.h"
#include "fakes/dbf_writer.h"
#include "fakes/fake_platform.h"
#include "fakes/memory_files.h"
#include "platform/native/native_files.h"
#include "session/session.h"

namespace ledra {
namespace {

using testing::DbfValue;
using testing::DbfWriter;
using testing::MemoryFiles;

struct Row {
  std::string account, name;
  DbfValue contact;
  DbfValue tel;
  bool deleted = false;
};

// Rows of every kind the keys must get right: plain, lower-case, leading
// blanks, nulls, accented letters, "#" in the telephone, empty names.
std::vector<Row> Company(const std::string& code, int n) {
  static const char* const kNames[] = {"Acme Ltd", "mason & sons", " Moss Bros", "Caf\xe9 M\xfcller", "", "O'Brien",
                                       "Mill Lane Garage", "Smithson Ltd", "M", "Zeta"};
  static const char* const kPeople[] = {"J Smith", "Ann Brown", "Dave Pennington", "\xc9mile Marsh", "Smi th"};
  std::vector<Row> rows;
  for (int i = 0; i < n; ++i) {
    Row r;
    r.account = code + std::to_string(i);
    r.name = kNames[i % 10];
    r.contact = i % 7 == 3 ? DbfValue() : DbfValue(kPeople[i % 5]);
    char tel[32];
    std::snprintf(tel, sizeof tel, "0161 %03d %04d", i % 13, i * 7 % 10000);
    r.tel = i % 11 == 5 ? DbfValue() : i % 29 == 4 ? DbfValue("*31#") : DbfValue(tel);
    r.deleted = i % 17 == 9;
    rows.push_back(r);
  }
  return rows;
}

std::string Table(const std::string& code, const std::vector<Row>& rows) {
  DbfWriter w(0x30);
  w.CodePage(0x03);
  w.Field(code + "_ACCOUNT", 'C', 10).Field(code + "_NAME", 'C', 40).Field(code + "_CONTACT", 'C', 30, 0, true);
  w.Field(code + "_TELENO", 'C', 20, 0, true).Field(code + "_FAXNO", 'C', 20).Field(code + "_ADDR1", 'C', 30);
  w.Field(code + "_ADDR2", 'C', 30).Field(code + "_ADDR3", 'C', 30).Field(code + "_PSTCODE", 'C', 10);
  for (const Row& r : rows) {
    w.Row({r.account, r.name, r.contact, r.tel, "", "1 High St", "", "Leeds", "LS1"}, r.deleted);
  }
  return w.Build();
}

const char* const kRequests[][2] = {
    {"FindContact", "{Tel=0161 006 0042}"},        // one row a table
    {"FindContact", "{Tel=0161 00}"},               // many rows
    {"FindContact", "{Tel=09876 543210}"},          // none
    {"FindContact", "{Text=smith}"},
    {"FindList", "{Text=dave pennington}"},
    {"FindList", "{Text=m}{MaxFind=7}"},
    {"FindList", "{Text=caf}"},
    {"FindList", "{Begin=m}"},
    {"FindList", "{Begin=z}{MaxFind=3}"},
    {"FindList", "{Begin=a}{Text=acme}"},
    {"FindList", "{Number=31}{MaxFind=4}"},
    {"FindList", "{Tel=#}"},
};

class SearchKeysTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    ClearSearchKeys();
    SetSearchKeyBudget(kDefaultSearchKeyBudget);
    sys.platform.files = &files;
    files.MakeFolder(u"C:\\Acc");
    suppliers = Company("P", 150);
    customers = Company("S", 300);
    Write();
    s.Initialize(u"{DBFile=C:\\Acc\\a_sname.dbf}", u"", nullptr);
    ASSERT_EQ(ToUtf8(s.Load(u"")), "{Result=Success}");
  }
  void TearDown() override {
    SetSearchKeyBudget(kDefaultSearchKeyBudget);
    ClearSearchKeys();
  }

  void Write() {
    Replace(u"C:\\Acc/a_pname.dbf", Table("pn", suppliers));
    Replace(u"C:\\Acc/a_sname.dbf", Table("sn", customers));
  }
  // Changes the file's bytes in place, as a writer does.
  void Replace(const Text& path, std::string bytes) {
    if (auto b = files.Get(path)) {
      *b = std::move(bytes);
    } else {
      files.Put(path, std::move(bytes));
    }
  }

  Text Ask(int i) {
    Text rd = FromUtf8(kRequests[i][1]);
    return std::string(kRequests[i][0]) == "FindList" ? s.FindList(rd) : s.FindContact(rd);
  }
  Text Scanned(int i) {
    const uint64_t budget = SearchKeyBudget();
    SetSearchKeyBudget(0);
    Text answer = Ask(i);
    SetSearchKeyBudget(budget);
    return answer;
  }

  MemoryFiles files;
  std::vector<Row> suppliers;
  std::vector<Row> customers;
  Session s;
};

TEST_F(SearchKeysTest, AnswersAsTheScanAfterEveryKindOfChange) {
  const Text kCustomers = u"C:\\Acc/a_sname.dbf";
  struct Change {
    const char* name;
    std::function<void()> apply;
    int builds;  // whole builds the change costs, at most
  };
  const std::vector<Change> changes = {
      {"unchanged", [] {}, 0},
      {"appended rows",
       [&] {
         customers.push_back({"NEW1", "Mars Ltd", DbfValue("Dave Smith"), DbfValue("0161 006 0042")});
         customers.push_back({"NEW2", "Moon", DbfValue(), DbfValue("#")});
         Write();
       },
       0},
      {"twenty appends, one row each",
       [&] {
         for (int i = 0; i < 20; ++i) {
           customers.push_back({"A" + std::to_string(i), i % 2 ? "Mint" : "Acme", DbfValue("Smith"),
                                DbfValue("0161 006 00" + std::to_string(40 + i))});
           Write();
           Ask(i % 2 ? 5 : 1);
         }
       },
       0},
      {"edit in place",
       [&] {
         customers[3].tel = "0161 006 0042";
         customers[4].name = "Acme Moss";
         Write();
       },
       2},
      {"deletion",
       [&] {
         customers[0].deleted = true;
         suppliers[4].deleted = true;
         Write();
       },
       2},
      {"pack",
       [&] {
         customers.erase(customers.begin() + 1, customers.begin() + 40);
         Write();
       },
       2},
      {"replaced file",
       [&] { files.Put(kCustomers, Table("sn", Company("R", 90))); },
       2},
      {"edit the time stamp misses",
       [&] {
         // Same size, same header, same last-write time: only the test of
         // each answered row can tell.
         files.pinned_write_time[kCustomers] = 7;
         Write();
         for (int i = 0; i < static_cast<int>(std::size(kRequests)); ++i) Ask(i);
         for (Row& r : customers) {
           if (r.tel && r.tel->find("004") != std::string::npos) r.tel = "0161 999 9999";
           if (r.name == "Zeta") r.name = "Yeta";
           if (r.name == "mason & sons") r.name = "nason & sons";  // the first customer listed for "m"
         }
         Write();
       },
       6},
      {"shrinks while being read",
       [&] {
         bool armed = true;
         files.before_read = [&, armed](const Text& path, uint64_t offset) mutable {
           if (!armed || path != kCustomers || offset < 2000) return;
           armed = false;
           customers.resize(120);
           Replace(kCustomers, Table("sn", customers));
         };
       },
       4},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < static_cast<int>(std::size(kRequests)); ++i) Ask(i);  // keys built and fresh
    const uint64_t builds = SearchKeyState().builds;
    c.apply();
    for (int i = 0; i < static_cast<int>(std::size(kRequests)); ++i) {
      SCOPED_TRACE(kRequests[i][1]);
      Text cached = Ask(i);
      EXPECT_EQ(ToUtf8(cached), ToUtf8(Scanned(i)));
    }
    EXPECT_LE(SearchKeyState().builds - builds, static_cast<uint64_t>(c.builds));
    files.before_read = nullptr;
    files.pinned_write_time.clear();
  }
  EXPECT_GT(SearchKeyState().appends, 0u);
  EXPECT_EQ(SearchKeyState().tables, 2u);
  EXPECT_EQ(files.open_handles(), 0);
  EXPECT_TRUE(sys.Failures().empty()) << ::testing::PrintToString(sys.Failures());
}

TEST_F(SearchKeysTest, AWarmSearchReadsOnlyTheHeadersAndTheAnsweredRows) {
  Ask(0);
  int reads = 0;
  files.before_read = [&](const Text&, uint64_t) { ++reads; };
  Text warm = Ask(0);
  files.before_read = nullptr;
  EXPECT_EQ(ToUtf8(warm), ToUtf8(Scanned(0)));
  // Per table: the header (its fixed part, then the rest) and the row
  // answered.
  EXPECT_EQ(reads, 6);
}

TEST_F(SearchKeysTest, OverTheBudgetTheSearchScans) {
  SetSearchKeyBudget(1000);
  for (int i = 0; i < static_cast<int>(std::size(kRequests)); ++i) {
    SCOPED_TRACE(kRequests[i][1]);
    EXPECT_EQ(ToUtf8(Ask(i)), ToUtf8(Scanned(i)));
  }
  EXPECT_EQ(SearchKeyState().tables, 0u);
  EXPECT_EQ(SearchKeyState().bytes, 0u);
}

// Sessions on several threads share the keys of the same files and of
// files of their own, built and extended while the others search.
TEST(SearchKeysThreads, SessionsOnSeveralThreadsGetTheScansAnswers) {
  testing::FakePlatform sys;
  sys.platform.pump = nullptr;  // the fake pump counts without a lock
  NativeFiles native;
  sys.platform.files = &native;
  ClearSearchKeys();
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/ledra-keys-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  auto write = [&](const std::string& folder, int rows) {
    fs::create_directories(dir + "/" + folder);
    std::ofstream(dir + "/" + folder + "/a_pname.dbf", std::ios::binary) << Table("pn", Company("P", rows));
    std::ofstream(dir + "/" + folder + "/a_sname.dbf", std::ios::binary) << Table("sn", Company("S", rows * 2));
  };
  write("one", 400);
  write("two", 700);

  constexpr int kThreads = 4;
  std::vector<std::unique_ptr<Session>> sessions;
  std::vector<std::vector<std::string>> expected(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    sessions.push_back(std::make_unique<Session>());
    const Text folder = FromUtf8(dir + (t % 2 ? "/two" : "/one"));
    Text windows_path = folder + u"/a_sname.dbf";
    for (char16_t& c : windows_path) {
      if (c == u'/') c = u'\\';
    }
    Text settings;
    AddVar(settings, u"DBFile", windows_path);
    sessions[t]->Initialize(settings, u"", nullptr);
    ASSERT_EQ(ToUtf8(sessions[t]->Load(u"")), "{Result=Success}");
  }
  auto ask = [&](Session& s, int i) {
    Text rd = FromUtf8(kRequests[i][1]);
    Text answer = std::string(kRequests[i][0]) == "FindList" ? s.FindList(rd) : s.FindContact(rd);
    return ToUtf8(answer);
  };
  SetSearchKeyBudget(0);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < static_cast<int>(std::size(kRequests)); ++i) expected[t].push_back(ask(*sessions[t], i));
  }
  SetSearchKeyBudget(kDefaultSearchKeyBudget);

  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < static_cast<int>(std::size(kRequests)); ++i) {
          int k = (i + t * 5 + round) % static_cast<int>(std::size(kRequests));
          wrong[t] += ask(*sessions[t], k) != expected[t][k];
        }
        if (t == 0 && round == 2) ClearSearchKeys();  // everything built anew under the others
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  EXPECT_GT(SearchKeyState().builds, 0u);  // the answers came from keys, not only from scans
  EXPECT_TRUE(sys.Failures().empty());
  sessions.clear();
  ClearSearchKeys();
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace ledra
